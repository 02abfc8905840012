// The local program's API as the page calls it: JSONP requests on 127.0.0.1
// at the port given in this page's address (?ver=1105&port=N), each carrying
// the program's launch key, which the address hands over in its fragment
// (#token=KEY): a browser never sends a fragment to the server that served
// the page, so only this page and the program know the key.
//
// Every view reaches the program through V.call / V.act only.
window.V = window.V || {};
(function (V) {
  'use strict';

  var params = new URLSearchParams(location.search);
  var port = params.get('port');
  var key = new URLSearchParams(location.hash.slice(1)).get('token') || '';
  var base = 'http://127.0.0.1:' + port + '/';
  var sequence = 0;
  var outOfDate = '页面已过期：Vendara 程序已重新启动或已关闭，请从 Vendara 程序重新打开本页面（程序启动时显示的地址，或托盘菜单）。';

  V.port = port;
  V.key = key;
  // The program reads at most 64 KiB of request head; the query carries the
  // form, so a call's address stays below this.
  V.maxAddress = 48000;
  V.onOutOfDate = function () {};

  // A failed script load does not say why. The program lets this page read
  // its refusal (403: the key is not the running program's, e.g. after a
  // restart), so a plain status request tells "out of date" from "not running".
  // A page that reached the program before and finds nothing at its port
  // now belongs to a program that has ended: a restarted one listens on a
  // port and with a key of its own, so this page can only be opened again.
  var reached = false;
  function failure() {
    return fetch(base + '?do=getStatus&token=' + encodeURIComponent(key)).then(function (response) {
      return response.status === 403;
    }, function () { return reached; }).then(function (stale) {
      if (stale) {
        V.onOutOfDate(outOfDate);
        return new Error(outOfDate);
      }
      return new Error('无法连接本地程序（端口 ' + port + '），或程序不认识这个操作');
    });
  }

  // The address of one call: `fields` travel as the UTF-8 `_postData` form.
  V.address = function (action, sub, fields) {
    var form = new URLSearchParams(fields || {}).toString();
    var url = base + '?do=' + encodeURIComponent(action) + '&token=' + encodeURIComponent(key);
    if (sub) url += '&action=' + encodeURIComponent(sub);
    if (form) url += '&_postData=' + encodeURIComponent(form);
    return url;
  };

  // One JSONP call; resolves with the answer. `waitMs` bounds the wait (a
  // goods refresh answers only when it ends). An answer that comes after the
  // wait ended lands in a callback that does nothing, never in a missing one.
  V.call = function (action, sub, fields, waitMs) {
    return new Promise(function (resolve, reject) {
      var name = 'vendaraCb' + (++sequence);
      var script = document.createElement('script');
      var timer = setTimeout(function () { done(); reject(new Error('本地程序没有响应')); }, waitMs || 15000);
      function done() {
        clearTimeout(timer);
        window[name] = function () {};
        script.remove();
      }
      window[name] = function (data) { done(); reached = true; resolve(data); };
      script.onerror = function () { done(); failure().then(reject); };
      script.src = V.address(action, sub, fields) + '&callback=' + name;
      document.body.appendChild(script);
    });
  };

  // A call whose envelope carries SUCCESS: rejects with the program's MSG
  // when it is 0, so no caller can take a refusal for a success.
  V.act = function (action, sub, fields, waitMs) {
    return V.call(action, sub, fields, waitMs).then(function (data) {
      if (!data || typeof data !== 'object') throw new Error('本地程序的回答无法识别');
      if (data.SUCCESS !== 1) {
        var error = new Error(data.MSG || '操作失败');
        error.answer = data;  // a refusal may say more (e.g. ERRORS per setting)
        throw error;
      }
      return data;
    });
  };
})(window.V);
