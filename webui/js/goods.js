// Goods on sale: the list the program read from the marketplace, each row
// with its bound category (chosen by name), and the refresh, whose progress
// (pages read) is read from getStatus while the refresh runs.
(function (V) {
  'use strict';

  var goods = [];
  var binds = {};
  var loading = false;
  var newest = V.latest();

  V.goodsById = function (itemId) {
    return goods.find(function (g) { return String(g.item_id) === String(itemId); }) || null;
  };
  V.goodsOfCategory = function (cgId) {
    return goods.filter(function (g) { return String(binds[g.item_id]) === String(cgId); });
  };

  function progress(text) { V.$('#goods-progress').textContent = text; }

  // Polls getStatus while the refresh runs, to show the pages read so far.
  function watch() {
    var timer = setInterval(function () {
      V.call('getStatus').then(function (s) {
        var r = s.REFRESH;
        if (r && r.RUNNING && loading) progress('正在从淘宝读取：已读 ' + r.PAGES + ' 页，' + r.ITEMS + ' 件宝贝…');
      }).catch(function () {});
    }, 500);
    return function () { clearInterval(timer); };
  }

  // flush: read the marketplace again (the program also reads it on the
  // first request of a run). The answer comes when the refresh ends.
  function load(flush) {
    if (loading) return Promise.resolve();
    loading = true;
    var button = V.$('#goods-refresh');
    progress(flush ? '正在从淘宝读取…' : '');
    var stop = watch();
    var current = newest();
    return V.run(button, function () {
      return Promise.all([
        V.call('getGoodsLst', null, { flush: flush ? '1' : '0' }, 10 * 60 * 1000),
        // Without the bindings the list still shows, every row unbound.
        V.act('category', 'bindAll').catch(function (error) { V.fail(error); return {}; }),
      ]).then(function (answers) {
        var list = answers[0];
        if (list && !Array.isArray(list) && list.SUCCESS === 0) throw new Error(list.MSG || '读取宝贝失败');
        return { goods: list || [], binds: answers[1].BINDS || {} };
      });
    }, flush ? function (r) { return '已刷新，共 ' + r.goods.length + ' 件宝贝'; } : '').then(function (r) {
      stop();
      loading = false;
      if (!current()) return;
      if (!r) { progress(''); return; }
      goods = r.goods;
      binds = r.binds;
      progress('');
      if (flush) return V.call('getStatus').then(function (s) { showLastRefresh(s.REFRESH); show(); });
      show();
    });
  }

  function showLastRefresh(r) {
    if (!r) return;
    if (r.MSG) progress('上次刷新出错：' + r.MSG);
    else if (r.FINISHED) progress('上次刷新 ' + V.dateTime(r.FINISHED) + '，读了 ' + r.PAGES + ' 页');
  }

  function show() {
    var body = V.clear(V.$('#goods-list tbody'));
    goods.forEach(function (g) {
      var address = V.safeLink(g.url);
      var title = address ? V.el('a', { href: address, target: '_blank', rel: 'noopener noreferrer' }, g.name) : V.el('span', {}, g.name);
      body.appendChild(V.row([g.item_id, title, bindSelect(g)], { dataset: { item: g.item_id } }));
    });
    V.empty('#goods-empty', goods.length === 0);
  }

  function bindSelect(g) {
    var select = V.el('select', { className: 'bind' }, [V.el('option', { value: '' }, '未绑定')]);
    V.categories.forEach(function (c) { select.appendChild(V.el('option', { value: c.id }, c.name)); });
    var bound = binds[g.item_id];
    if (bound !== undefined && !V.categoryById(bound)) {
      select.appendChild(V.el('option', { value: bound }, '已删除的分类 ' + bound));
    }
    select.value = bound === undefined ? '' : String(bound);
    select.addEventListener('change', function () {
      var target = select.value;
      var before = binds[g.item_id];
      V.run(select, function () {
        return target
          ? V.act('category', 'bind', { cg_id: target, item_id: g.item_id })
          : V.act('category', 'unbind', { cg_id: before === undefined ? '' : before, item_id: g.item_id });
      }, target ? '已绑定到“' + V.categoryById(target).name + '”' : '已解除绑定').then(function (answer) {
        if (answer) {
          if (target) binds[g.item_id] = Number(target); else delete binds[g.item_id];
        } else {
          select.value = before === undefined ? '' : String(before);
        }
      });
    });
    return select;
  }

  V.onCategories(function () { if (goods.length) show(); });
  V.$('#goods-refresh').addEventListener('click', function () { load(true); });
  V.views.goods = { show: function () { load(false); } };
})(window.V);
