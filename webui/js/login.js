// Marketplace login: the program's own login page (the marketplace's page,
// rewritten to post back to the program) in a frame. After a refused login
// the program's reading of the answer is shown beside it; an accepted login
// sends the frame to the maker's close page, which tells us by a message.
(function (V) {
  'use strict';

  var view = V.$('#login-view');
  var frame = V.$('#login-frame');
  var message = V.$('#login-msg');
  var openedAt = 0;

  // Only what happened since the view was opened belongs beside it.
  function showResult(status) {
    var result = status.LOGIN_MSG;
    if (!result || result.SUCCESS === 1 || view.hidden || result.TIME < openedAt) {
      message.hidden = true;
      return;
    }
    message.textContent = '登录失败：' + result.MSG + '（' + V.dateTime(result.TIME) + '）';
    message.hidden = false;
  }
  V.onStatus(showResult);

  function open() {
    V.run(V.$('#login-open'), function () { return V.act('getConfig'); }).then(function (data) {
      if (!data) return;
      var host = (data.LIST && data.LIST.local_host) || '127.0.0.1';
      openedAt = Math.floor(Date.now() / 1000) - 1;
      message.hidden = true;
      frame.src = 'http://' + host + ':' + V.port + '/?do=login&token=' + encodeURIComponent(V.key);
      view.hidden = false;
    });
  }
  function close() {
    view.hidden = true;
    frame.src = 'about:blank';
  }
  V.$('#login-open').addEventListener('click', open);
  V.$('#login-close').addEventListener('click', function () { close(); V.refreshStatus(); });

  // With taobao_autologin "1" the page opens the login view by itself when
  // it loads and the shop is not logged in (after a restart of the
  // program), so the stored account logs in without a click. V.autoLogin
  // says what happened: "pending", "none", "open", then "closed".
  V.autoLogin = 'pending';
  var firstStatus = true;
  V.onStatus(function (s) {
    if (!firstStatus) return;
    firstStatus = false;
    if (s.RUNNING || s.ACCOUNT || s.DB_DAMAGED) { V.autoLogin = 'none'; return; }
    V.act('getConfig').then(function (data) {
      var list = data.LIST || {};
      if (list.taobao_autologin !== '1' || !list.taobao_user || !view.hidden) { V.autoLogin = 'none'; return; }
      V.autoLogin = 'open';
      open();
    }, function () { V.autoLogin = 'none'; });
  });
  new MutationObserver(function () {
    if (view.hidden && V.autoLogin === 'open') V.autoLogin = 'closed';
  }).observe(view, { attributes: true, attributeFilter: ['hidden'] });
  // Every page the frame shows is an answer of the program: look at the result.
  frame.addEventListener('load', function () { if (!view.hidden) V.refreshStatus(); });
  window.addEventListener('message', function (event) {
    if (event.origin !== location.origin || event.source !== frame.contentWindow) return;
    if (!event.data || event.data.vendara !== 'login-done') return;
    close();
    V.refreshStatus();
    V.toast('淘宝登录成功');
  });
})(window.V);
