// Orders: filtered by processing state, paged, each with its goods lines,
// state in words, delivery text, and the reset ("重新发货"), delete and
// delivery-log actions.
(function (V) {
  'use strict';

  var group = 'all';
  var pager = V.pager('order', load);
  var newest = V.latest();
  var emptyText = {
    all: '还没有订单。登录淘宝后，程序会自动读取已付款的订单。',
    new: '没有新订单。', waiting: '没有等待发货的订单。', delivering: '没有正在发货的订单。',
    delivered: '没有已发货的订单。', failed: '没有发货失败的订单。',
  };
  var words = { 0: '新订单', 1: '待发货', 2: '已发货', 3: '发货中' };

  // The program's words for the state; these stand in for an answer without them.
  function statusText(o) {
    if (o.status_text) return o.status_text;
    if (words[o.status]) return words[o.status];
    return o.status >= 1000 ? '发货失败（原因 ' + (o.status - 1000) + '）' : '状态 ' + o.status;
  }

  function load() {
    var current = newest();
    return V.act('order', 'lst', { group: group, page: pager.page, page_num: 20 }).then(function (data) {
      if (!current()) return;
      pager.shown(data);
      var body = V.clear(V.$('#order-list tbody'));
      var list = data.LIST || [];
      list.forEach(function (o) { body.appendChild(orderRow(o)); });
      V.empty('#order-empty', list.length === 0, emptyText[group]);
    }).catch(V.fail);
  }

  function orderRow(o) {
    var lines = (o.goods || []).map(function (g) { return V.el('div', {}, g.name + ' × ' + g.num); });
    var failed = o.status >= 1000;
    var state = V.el('span', { className: 'state s' + (failed ? 'failed' : o.status) }, statusText(o));
    var reset = V.el('button', { type: 'button', className: 'small', onclick: function () {
      V.confirmRun('订单 ' + o.order_id + ' 重新发货？程序会在下次查单时再发一次。', '重新发货', reset,
        function () { return V.act('order', 'reset', { id: o.id }); }, '订单已重新排队发货').then(after);
    } }, '重新发货');
    var remove = V.el('button', { type: 'button', className: 'small danger', onclick: function () {
      V.confirmRun('删除订单 ' + o.order_id + '（买家 ' + o.buyer + '）？', '删除', remove,
        function () { return V.act('order', 'del', { id: o.id }); }, '订单已删除').then(after);
    } }, '删除');
    var log = V.el('button', { type: 'button', className: 'small', onclick: function () { showLog(o, log); } }, '日志');
    return V.row([V.dateTime(o.time), o.order_id, o.buyer, V.el('div', {}, lines), state,
      V.el('div', { className: 'text' }, o.text_msg), V.el('span', { className: 'nowrap' }, [reset, remove, log])],
      { dataset: { id: o.id, order: o.order_id } });
  }

  function after(answer) { if (answer) load(); }

  function showLog(o, button) {
    V.run(button, function () { return V.act('order', 'log', { id: o.id }); }).then(function (data) {
      if (!data) return;
      V.$('#order-log-box').hidden = false;
      V.$('#order-log-id').textContent = '订单 ' + (data.ORDER_ID || o.order_id);
      var body = V.clear(V.$('#order-log tbody'));
      (data.LIST || []).forEach(function (row) {
        body.appendChild(V.row([V.dateTime(row.time), row.step, V.el('div', { className: 'text' }, row.text)]));
      });
      V.empty('#order-log-empty', !(data.LIST || []).length);
      V.$('#order-log-box').scrollIntoView({ block: 'nearest' });
    });
  }
  V.$('#order-log-close').addEventListener('click', function () { V.$('#order-log-box').hidden = true; });

  V.$('#order-groups').querySelectorAll('button').forEach(function (b) {
    b.addEventListener('click', function () {
      group = b.dataset.group;
      V.$('#order-groups').querySelectorAll('button').forEach(function (x) { x.classList.toggle('active', x === b); });
      pager.reset();
      load();
    });
  });
  V.$('#order-reload').addEventListener('click', function () {
    var button = this;
    V.run(button, load);
  });

  V.views.orders = { show: load };
})(window.V);
