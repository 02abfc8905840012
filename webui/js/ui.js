// What every view shares: building elements from server text (always as
// text, never as markup), the toast, the busy state of a button while its
// action runs, the confirmation dialog, paging and times.
(function (V) {
  'use strict';

  // el('td', {className: 'num'}, 'text' or [children]): server text goes in
  // through textContent only.
  V.el = function (tag, props, content) {
    var node = document.createElement(tag);
    Object.keys(props || {}).forEach(function (name) {
      if (name === 'dataset') Object.assign(node.dataset, props.dataset);
      else if (name.slice(0, 2) === 'on') node.addEventListener(name.slice(2), props[name]);
      else node[name] = props[name];
    });
    if (Array.isArray(content)) content.forEach(function (child) { if (child) node.appendChild(child); });
    else if (content !== undefined && content !== null) node.textContent = String(content);
    return node;
  };
  V.$ = function (selector, root) { return (root || document).querySelector(selector); };

  V.clear = function (node) { while (node.firstChild) node.removeChild(node.firstChild); return node; };

  // A row of cells; a cell given as a Node is placed as it is.
  V.row = function (cells, props) {
    return V.el('tr', props, cells.map(function (c) {
      return V.el('td', {}, c instanceof Node ? [c] : c);
    }));
  };

  V.toast = function (text, isError) {
    var box = V.$('#toast');
    box.textContent = text;
    box.className = isError ? 'error' : 'ok';
    box.hidden = false;
    clearTimeout(V.toast.timer);
    V.toast.timer = setTimeout(function () { box.hidden = true; }, isError ? 8000 : 4000);
  };
  V.fail = function (error) { V.toast(error && error.message ? error.message : String(error), true); };

  // Runs `work` (a function giving a promise) with `button` busy meanwhile;
  // then shows `success` (text, or a function of the answer giving text) or
  // the program's message. `note` (optional) keeps the last result beside
  // the button. Resolves with the answer, or undefined after a failure.
  V.run = function (button, work, success, note) {
    if (button && button.classList.contains('busy')) return Promise.resolve();
    if (button) { button.classList.add('busy'); button.disabled = true; }
    function idle() { if (button) { button.classList.remove('busy'); button.disabled = false; } }
    var promise;
    try { promise = Promise.resolve(work()); } catch (e) { promise = Promise.reject(e); }
    return promise.then(function (answer) {
      idle();
      var text = typeof success === 'function' ? success(answer) : success;
      if (text) V.toast(text);
      if (note) { note.textContent = text || ''; note.className = 'note ok'; }
      return answer;
    }, function (error) {
      idle();
      V.fail(error);
      if (note) { note.textContent = error.message; note.className = 'note error'; }
    });
  };

  // The page's own confirmation: resolves true when the seller agrees.
  V.confirm = function (text, okLabel) {
    var dialog = V.$('#confirm');
    V.$('#confirm-text').textContent = text;
    V.$('#confirm-ok').textContent = okLabel || '确定';
    dialog.hidden = false;
    V.$('#confirm-cancel').focus();
    return new Promise(function (resolve) {
      function close(answer) {
        dialog.hidden = true;
        V.$('#confirm-ok').onclick = V.$('#confirm-cancel').onclick = null;
        resolve(answer);
      }
      V.$('#confirm-ok').onclick = function () { close(true); };
      V.$('#confirm-cancel').onclick = function () { close(false); };
    });
  };

  // Asks first; when the seller agrees, V.run(button, work, success).
  // Resolves with the answer, or undefined when declined or failed.
  V.confirmRun = function (question, okLabel, button, work, success) {
    return V.confirm(question, okLabel).then(function (yes) {
      return yes ? V.run(button, work, success) : undefined;
    });
  };

  // Only the newest of overlapping loads may show its answer: each load
  // takes `var current = newest();` from `var newest = V.latest();`, and
  // current() stays true until a later load begins.
  V.latest = function () {
    var sequence = 0;
    return function () {
      var mine = ++sequence;
      return function () { return mine === sequence; };
    };
  };

  // The paging state of one list: its prev/next buttons and "page / max"
  // text (ids `<name>-prev`, `<name>-next`, `<name>-page`).
  V.pager = function (name, load) {
    var state = { page: 1, max: 0 };
    state.reset = function () { state.page = 1; };
    state.shown = function (data) {
      state.max = data.PAGE_MAX || 0;
      state.page = Math.max(1, data.PAGE || 1);
      V.$('#' + name + '-page').textContent = '第 ' + (data.PAGE || 0) + ' / ' + state.max + ' 页';
      V.$('#' + name + '-prev').disabled = state.page <= 1;
      V.$('#' + name + '-next').disabled = state.page >= state.max;
    };
    V.$('#' + name + '-prev').addEventListener('click', function () {
      if (state.page > 1) { state.page--; load(); }
    });
    V.$('#' + name + '-next').addEventListener('click', function () {
      if (state.page < state.max) { state.page++; load(); }
    });
    return state;
  };

  // Says what to do next where a list is empty (hidden when it is not).
  V.empty = function (selector, isEmpty, text) {
    var node = V.$(selector);
    node.hidden = !isEmpty;
    if (text) node.textContent = text;
  };

  function two(n) { return (n < 10 ? '0' : '') + n; }
  V.dateTime = function (seconds) {
    if (!seconds) return '从未';
    var d = new Date(seconds * 1000);
    return d.getFullYear() + '-' + two(d.getMonth() + 1) + '-' + two(d.getDate()) + ' ' +
      two(d.getHours()) + ':' + two(d.getMinutes()) + ':' + two(d.getSeconds());
  };

  // Saves `text` as a UTF-8 file (with a byte-order mark, so that a
  // spreadsheet reads the Chinese right) named `name`.
  V.download = function (text, name) {
    var blob = new Blob(['\ufeff' + text], { type: 'text/csv;charset=utf-8' });
    var link = V.el('a', { href: URL.createObjectURL(blob), download: name });
    document.body.appendChild(link);
    link.click();
    link.remove();
    setTimeout(function () { URL.revokeObjectURL(link.href); }, 1000);
  };

  // Only http(s) addresses from the program become links.
  V.safeLink = function (address) { return /^https?:\/\//i.test(address || '') ? address : ''; };

  // Views that follow the program's state (getStatus, read every 5 s).
  V.status = null;
  V.statusListeners = [];
  V.onStatus = function (listener) { V.statusListeners.push(listener); };

  // The views, each registered as V.views[name] = {show: fn}.
  V.views = {};
})(window.V);
