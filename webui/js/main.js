// Starts the page: the tabs, the status line (read every 5 s) and the first
// view. Views register in V.views and are shown through V.show.
(function (V) {
  'use strict';

  V.onOutOfDate = function (text) {
    var line = V.$('#status');
    line.textContent = text;
    line.classList.add('error');
    V.outOfDate = true;
  };

  V.refreshStatus = function () {
    return V.call('getStatus').then(function (s) {
      V.status = s;
      if (!V.outOfDate) {
        V.$('#status').textContent = (s.RUNNING ? '自动发货运行中' : '自动发货已停止') +
          (s.ACCOUNT ? ' · 帐号 ' + s.ACCOUNT : ' · 未登录淘宝') +
          ' · 上次查单 ' + V.dateTime(s.CHECK_TIME) + ' · 上次发消息 ' + V.dateTime(s.SEND_MSG_TIME);
        V.$('#status').classList.remove('error');
      }
      V.statusListeners.forEach(function (listener) { listener(s); });
      return s;
    }).catch(function (e) {
      if (!V.outOfDate) {
        V.$('#status').textContent = e.message;
        V.$('#status').classList.add('error');
      }
    });
  };

  V.current = 'overview';
  V.show = function (name) {
    V.current = name;
    document.querySelectorAll('nav button').forEach(function (b) {
      b.classList.toggle('active', b.dataset.tab === name);
    });
    document.querySelectorAll('main > section').forEach(function (s) { s.hidden = s.id !== 'tab-' + name; });
    if (V.views[name] && V.views[name].show) V.views[name].show();
  };
  document.querySelectorAll('nav button').forEach(function (tab) {
    tab.addEventListener('click', function () { V.show(tab.dataset.tab); });
  });

  V.refreshStatus();
  setInterval(V.refreshStatus, 5000);
  V.loadCategories();
  V.show('overview');
})(window.V);
