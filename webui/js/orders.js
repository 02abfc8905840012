// Orders: filtered by processing state, searched by order number, buyer,
// e-mail or card (first characters) and by date, paged, each with its goods
// lines, state in words, delivery text, and the reset ("重新发货"), delete,
// cards and delivery-log actions; the search downloads as CSV.
(function (V) {
  'use strict';

  var group = 'all';
  var searched = { q: '', from: '', to: '' };  // the search the list shows
  var pager = V.pager('order', load);
  var newest = V.latest();
  var emptyText = {
    all: '还没有订单。登录淘宝后，程序会自动读取已付款的订单。',
    new: '没有新订单。', waiting: '没有等待发货的订单。', delivering: '没有正在发货的订单。',
    delivered: '没有已发货的订单。', failed: '没有发货失败的订单。',
  };
  var words = { 0: '新订单', 1: '待发货', 2: '已发货', 3: '发货中' };
  // The delivery log's steps in words.
  var steps = {
    reserved: '预留卡密', consigned: '淘宝已确认发货', consign_failed: '淘宝发货失败', consign_unanswered: '淘宝未回应发货',
    queued: '消息已排队', sent: '消息已发送', refused: '消息未发出', delivered: '发货完成', failed: '发货失败',
    released: '卡密退回库存', memo_due: '待写备注', memo_written: '备注已写入', memo_failed: '备注写入失败',
    recovered: '重启后接着处理',
  };

  // The program's words for the state; these stand in for an answer without them.
  function statusText(o) {
    if (o.status_text) return o.status_text;
    if (words[o.status]) return words[o.status];
    return o.status >= 1000 ? '发货失败（原因 ' + (o.status - 1000) + '）' : '状态 ' + o.status;
  }

  function isSearch() { return !!(searched.q || searched.from || searched.to); }
  function filter(fields) {
    var all = Object.assign({ group: group }, fields);
    ['q', 'from', 'to'].forEach(function (k) { if (searched[k]) all[k] = searched[k]; });
    return all;
  }

  function load() {
    var current = newest();
    return V.act('order', 'lst', filter({ page: pager.page, page_num: 20 })).then(function (data) {
      if (!current()) return;
      pager.shown(data);
      var body = V.clear(V.$('#order-list tbody'));
      var list = data.LIST || [];
      list.forEach(function (o) { body.appendChild(orderRow(o)); });
      V.empty('#order-empty', list.length === 0, isSearch() ? '没有符合搜索条件的订单。' : emptyText[group]);
      V.$('#order-search-note').textContent = isSearch() ? '搜索结果：' + (data.PAGE_MAX ? '共 ' + data.PAGE_MAX + ' 页' : '无') : '';
    }).catch(V.fail);
  }

  function orderRow(o) {
    var lines = (o.goods || []).map(function (g) { return V.el('div', {}, g.name + ' × ' + g.num); });
    var failed = o.status >= 1000;
    var state = V.el('span', { className: 'state s' + (failed ? 'failed' : o.status) }, statusText(o));
    if (o.status === 1008) {
      // Nothing was sent and the marketplace still waits for the shipment.
      state = V.el('div', {}, [state, V.el('div', { className: 'warn unbound-warn' },
        '⚠ 这个订单没有发货：请到“在售宝贝”把宝贝绑定到分类后点“重新发货”，或在淘宝上手动发货。')]);
    }
    var reset = V.el('button', { type: 'button', className: 'small', onclick: function () {
      V.confirmRun('订单 ' + o.order_id + ' 重新发货？程序会在下次查单时再发一次。', '重新发货', reset,
        function () { return V.act('order', 'reset', { id: o.id }); }, '订单已重新排队发货').then(after);
    } }, '重新发货');
    var remove = V.el('button', { type: 'button', className: 'small danger', onclick: function () {
      V.confirmRun('删除订单 ' + o.order_id + '（买家 ' + o.buyer + '）？', '删除', remove,
        function () { return V.act('order', 'del', { id: o.id }); }, '订单已删除').then(after);
    } }, '删除');
    var log = V.el('button', { type: 'button', className: 'small', onclick: function () { showLog(o, log); } }, '日志');
    var cards = V.el('button', { type: 'button', className: 'small', onclick: function () { showCards(o, cards); } }, '卡密');
    return V.row([V.dateTime(o.time), o.order_id, o.buyer, V.el('div', {}, lines), state,
      V.el('div', { className: 'text' }, o.text_msg), V.el('span', { className: 'nowrap' }, [reset, remove, cards, log])],
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
        body.appendChild(V.row([V.dateTime(row.time), steps[row.step] || row.step, V.el('div', { className: 'text' }, row.text)]));
      });
      V.empty('#order-log-empty', !(data.LIST || []).length);
      V.$('#order-log-box').scrollIntoView({ block: 'nearest' });
    });
  }
  V.$('#order-log-close').addEventListener('click', function () { V.$('#order-log-box').hidden = true; });

  function showCards(o, button) {
    V.run(button, function () { return V.act('order', 'cards', { id: o.id }); }).then(function (data) {
      if (!data) return;
      V.$('#order-cards-box').hidden = false;
      V.$('#order-cards-id').textContent = '订单 ' + (data.ORDER_ID || o.order_id);
      var body = V.clear(V.$('#order-cards tbody'));
      (data.LIST || []).forEach(function (c) {
        body.appendChild(V.row([c.id, c.data1, c.data2, c.data3, c.send_order_id]));
      });
      V.empty('#order-cards-empty', !(data.LIST || []).length);
      V.$('#order-cards-box').scrollIntoView({ block: 'nearest' });
    });
  }
  V.$('#order-cards-close').addEventListener('click', function () { V.$('#order-cards-box').hidden = true; });

  function readSearch() {
    searched = { q: V.$('#order-search').value.trim(), from: V.$('#order-from').value, to: V.$('#order-to').value };
  }
  V.$('#order-search-form').addEventListener('submit', function (event) {
    event.preventDefault();
    readSearch();
    pager.reset();
    V.run(V.$('#order-search-go'), load);
  });
  V.$('#order-search-clear').addEventListener('click', function () {
    V.$('#order-search').value = V.$('#order-from').value = V.$('#order-to').value = '';
    readSearch();
    pager.reset();
    load();
  });

  // The orders the list shows (all its pages) as a CSV file.
  V.$('#order-export').addEventListener('click', function () {
    readSearch();
    V.run(this, function () { return V.act('order', 'export', filter({}), 60000); }, function (data) {
      return data.COUNT < data.TOTAL ? '已导出最新的 ' + data.COUNT + ' 个订单（共 ' + data.TOTAL + ' 个）'
        : '已导出 ' + data.COUNT + ' 个订单';
    }).then(function (data) {
      if (data) V.download(data.CSV, 'orders-' + new Date().toISOString().slice(0, 10) + '.csv');
    });
  });

  // Shows the order with that marketplace number (from a card's mark).
  V.showOrder = function (orderNumber) {
    V.$('#order-search').value = orderNumber;
    V.$('#order-from').value = V.$('#order-to').value = '';
    group = 'all';
    V.$('#order-groups').querySelectorAll('button').forEach(function (x) { x.classList.toggle('active', x.dataset.group === 'all'); });
    readSearch();
    pager.reset();
    V.show('orders');
  };

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

  function loadDeleted() {
    return V.act('order', 'deleted').then(function (data) {
      V.$('#order-deleted-box').hidden = false;
      var body = V.clear(V.$('#order-deleted tbody'));
      var list = data.LIST || [];
      list.forEach(function (d) {
        var back = V.el('button', { type: 'button', className: 'small', onclick: function () {
          V.run(back, function () { return V.act('order', 'undelete', { order_id: d.order_id }); },
            '订单 ' + d.order_id + ' 已恢复，下次查单时重新读取').then(function (answer) { if (answer) loadDeleted(); });
        } }, '恢复');
        body.appendChild(V.row([d.order_id, V.dateTime(d.time), back]));
      });
      V.empty('#order-deleted-empty', list.length === 0);
    });
  }
  V.$('#order-deleted-show').addEventListener('click', function () { V.run(this, loadDeleted); });
  V.$('#order-deleted-close').addEventListener('click', function () { V.$('#order-deleted-box').hidden = true; });

  V.views.orders = { show: load };
})(window.V);
