// Categories: the list, and the editor of one category's type, switch,
// channels, purchase limit and delivery templates, with a preview that the
// program renders exactly as the delivery will. Also keeps the category list
// every other view reads (V.categories, V.onCategories).
(function (V) {
  'use strict';

  var form = V.$('#category-form');
  var listeners = [];
  var selected = null;        // the category being edited, or null for a new one
  var sampleCards = null;     // its next unsent cards, as [data1, data2, data3]
  var newestPreview = V.latest();
  var previewTimer = 0;
  var kept = { tpl: {}, ext: {} };  // members of tpl/ext this editor does not show

  var onlyImText = '这台电脑上不能运行旺旺客户端：只选了旺旺的分类，买家收不到发货内容。请同时选择邮件或站内信。';

  // Whether the IM client can run here, as getStatus said; true until it has.
  V.imAvailable = function () { return !V.status || V.status.IM_AVAILABLE !== false; };

  // A category that only sends by IM, where IM cannot leave this computer.
  function onlyIm(c) {
    var ext = parseObject(c.ext);
    return !V.imAvailable() && !!ext && Number(ext.ww) === 1 && Number(ext.email) !== 1 && Number(ext.web) !== 1;
  }

  V.categories = [];
  V.onCategories = function (listener) { listeners.push(listener); };
  V.categoryById = function (id) {
    return V.categories.find(function (c) { return String(c.id) === String(id); }) || null;
  };
  V.typeText = function (type) { return type === 1 ? '卡密' : type === 2 ? '纯文本' : '未知类型 ' + type; };

  V.loadCategories = function () {
    return V.act('category', 'lst').then(function (data) {
      V.categories = data.LIST || [];
      showList();
      listeners.forEach(function (listener) { listener(V.categories); });
      return V.categories;
    }).catch(V.fail);
  };

  function showList() {
    var body = V.clear(V.$('#category-list tbody'));
    V.categories.forEach(function (c) {
      var remove = V.el('button', { type: 'button', className: 'danger small', onclick: function (event) {
        event.stopPropagation();
        removeCategory(c, remove);
      } }, '删除');
      var name = onlyIm(c) ? V.el('span', {}, [V.el('span', {}, c.name),
        V.el('span', { className: 'warn-mark', title: onlyImText }, ' 只发旺旺，发不出去')]) : c.name;
      var row = V.row([name, V.typeText(c.type), c.flg ? '启用' : '停用', c.store_num + ' / ' + c.store_total_num, remove],
        { className: selected && selected.id === c.id ? 'selected clickable' : 'clickable' });
      row.dataset.id = c.id;
      row.addEventListener('click', function () { edit(c); });
      body.appendChild(row);
    });
    V.empty('#category-empty', V.categories.length === 0);
  }

  function removeCategory(c, button) {
    var text = '删除分类“' + c.name + '”？它有 ' + c.store_total_num + ' 张卡密（未发 ' + c.store_num +
      ' 张），已发的卡密和宝贝绑定会一起删除。';
    V.confirmRun(text, '删除', button, function () { return V.act('category', 'del', { id: c.id }); }, '分类已删除')
      .then(function (answer) {
        if (!answer) return;
        if (selected && selected.id === c.id) edit(null);
        V.loadCategories();
      });
  }

  function parseObject(text) {
    try {
      var value = JSON.parse(text || '{}');
      return value && typeof value === 'object' && !Array.isArray(value) ? value : null;
    } catch (e) {
      return null;
    }
  }

  // Fills the editor from a category, or with the defaults of a new one.
  function edit(c) {
    selected = c;
    sampleCards = null;
    var tpl = c ? parseObject(c.tpl) : { cardTpl: '卡号：{数据1} 密码：{数据2}\n', goodsTpl: '{卡密内容}' };
    // Where the IM client cannot run, a new category sends by e-mail instead.
    var ext = c ? parseObject(c.ext)
      : V.imAvailable() ? { ww: 1, email: 0, web: 1, limit_number: 0 } : { ww: 0, email: 1, web: 1, limit_number: 0 };
    var broken = c && (!tpl || !ext);
    var oddType = c && c.type !== 1 && c.type !== 2;
    tpl = tpl || {};
    ext = ext || {};
    form.elements.id.value = c ? c.id : '';
    form.elements.name.value = c ? c.name : '';
    form.elements.type.value = c && c.type === 2 ? '2' : '1';
    form.elements.flg.checked = c ? c.flg !== 0 : true;
    ['ww', 'email', 'web'].forEach(function (k) { form.elements[k].checked = Number(ext[k]) === 1; });
    form.elements.limit_number.value = Number(ext.limit_number) || 0;
    form.elements.cardTpl.value = typeof tpl.cardTpl === 'string' ? tpl.cardTpl : '';
    form.elements.goodsTpl.value = typeof tpl.goodsTpl === 'string' ? tpl.goodsTpl : '';
    form.elements.mailSubject.value = typeof tpl.mailSubject === 'string' ? tpl.mailSubject : '';
    kept.tpl = tpl;
    kept.ext = ext;
    V.$('#category-title').textContent = c ? '编辑分类：' + c.name : '新建分类';
    var notes = [];
    if (broken) notes.push('这个分类保存的模板或开关不是有效的 JSON，保存时会按下面的内容重写。');
    if (oddType) notes.push('这个分类的类型（' + c.type + '）不会发货，保存时改为上面选中的类型。');
    V.$('#category-note').textContent = notes.join(' ');
    V.$('#category-note').className = notes.length ? 'note error' : 'note';
    showList();
    showBindings();
    if (c && c.type === 1) loadSampleCards(c);
    changed();
  }

  function loadSampleCards(c) {
    V.act('item', 'lst', { cg_id: c.id, page_num: 100, page: 1 }).then(function (data) {
      if (selected !== c) return;
      sampleCards = (data.LIST || []).filter(function (card) { return card.send_order_id === ''; }).slice(0, 2)
        .map(function (card) { return [card.data1, card.data2, card.data3]; });
      if (!sampleCards.length) sampleCards = null;
      changed();
    }).catch(function () {});
  }

  function fields() {
    var type = form.elements.type.value === '2' ? 2 : 1;
    var tpl = Object.assign({}, kept.tpl, { cardTpl: form.elements.cardTpl.value, goodsTpl: form.elements.goodsTpl.value });
    var subject = form.elements.mailSubject.value.replace(/[\r\n]+/g, ' ').trim();
    if (subject) tpl.mailSubject = subject; else delete tpl.mailSubject;
    // A negative limit goes to the program as typed, which refuses it.
    var ext = Object.assign({}, kept.ext, { limit_number: parseInt(form.elements.limit_number.value, 10) || 0 });
    ['ww', 'email', 'web'].forEach(function (k) { ext[k] = form.elements[k].checked ? 1 : 0; });
    return {
      name: form.elements.name.value.trim(),
      type: String(type),
      flg: form.elements.flg.checked ? '1' : '0',
      tpl: JSON.stringify(tpl),
      ext: JSON.stringify(ext),
    };
  }

  // Why a category as edited would not deliver, or would deliver nothing useful.
  function warnings(f) {
    var list = [];
    var ext = JSON.parse(f.ext);
    if (f.flg !== '1') list.push('已停用：绑定到这个分类的宝贝不会自动发货。');
    if (!ext.ww && !ext.email && !ext.web) list.push('没有选择发送渠道：发货内容只写在发货备注里，不会发给买家。');
    if (ext.ww && !ext.email && !ext.web && !V.imAvailable()) list.push(onlyImText);
    if (f.type === '1' && !/\{数据[123]\}/.test(form.elements.cardTpl.value)) {
      list.push('卡密文字里没有 {数据1}、{数据2} 或 {数据3}：买家看不到卡密。');
    }
    if (f.type === '2' && form.elements.goodsTpl.value.indexOf('{卡密内容}') >= 0) {
      list.push('纯文本分类不取卡密：{卡密内容} 会原样发给买家。');
    }
    return list;
  }

  function changed() {
    var f = fields();
    V.$('#card-tpl-box').hidden = f.type === '2';
    var warn = warnings(f);
    V.$('#category-warn').textContent = warn.join(' ');
    V.$('#category-warn').hidden = warn.length === 0;
    clearTimeout(previewTimer);
    previewTimer = setTimeout(preview, 250);
  }

  // The bound goods' title, when the goods list knows it.
  function sampleTitle() {
    if (!selected || !V.goodsOfCategory) return '';
    var goods = V.goodsOfCategory(selected.id);
    return goods.length ? goods[0].name : '';
  }

  function preview() {
    var f = fields();
    var request = { tpl: f.tpl, type: f.type };
    if (f.type === '1' && sampleCards) request.cards = JSON.stringify(sampleCards);
    var title = sampleTitle();
    if (title) request.goods_name = title;
    V.$('#preview-source').textContent = f.type === '1'
      ? (sampleCards ? '（用这个分类接下来要发的 ' + sampleCards.length + ' 张卡密）' : '（用两张示例卡密）') : '';
    var current = newestPreview();
    V.act('category', 'preview', request).then(function (data) {
      if (!current()) return;
      V.$('#category-preview').textContent = data.TEXT;
      V.$('#category-preview').classList.remove('error');
    }, function (error) {
      if (!current()) return;
      V.$('#category-preview').textContent = error.message;
      V.$('#category-preview').classList.add('error');
    });
  }

  form.addEventListener('input', changed);
  form.addEventListener('change', changed);
  form.querySelectorAll('button.insert').forEach(function (b) {
    b.addEventListener('click', function () {
      var area = form.elements[b.dataset.target];
      var start = area.selectionStart;
      var end = area.selectionEnd;
      area.setRangeText(b.dataset.text, start, end, 'end');
      area.focus();
      changed();
    });
  });

  form.addEventListener('submit', function (event) {
    event.preventDefault();
    var f = fields();
    if (!f.name) { V.fail(new Error('请填写分类名称')); form.elements.name.focus(); return; }
    var id = form.elements.id.value;
    if (id) f.id = id;
    var before = V.categories.map(function (c) { return c.id; });
    V.run(V.$('#category-save'), function () { return V.act('category', id ? 'update' : 'add', f); }, '分类已保存',
      V.$('#category-note')).then(function (answer) {
      if (!answer) return;
      V.loadCategories().then(function () {
        var saved = id ? V.categoryById(id) : V.categories.find(function (c) { return before.indexOf(c.id) < 0; });
        if (saved) edit(saved);
      });
    });
  });
  V.$('#category-new').addEventListener('click', function () { edit(null); form.elements.name.focus(); });

  function showBindings() {
    var list = V.clear(V.$('#bind-list'));
    V.$('#bind-empty').hidden = true;
    if (!selected) return;
    var c = selected;
    V.act('category', 'bindLst', { cg_id: c.id }).then(function (data) {
      if (selected !== c) return;
      var items = data.ITEM_LIST || [];
      items.forEach(function (itemId) {
        var goods = V.goodsById ? V.goodsById(itemId) : null;
        var unbind = V.el('button', { type: 'button', className: 'small', onclick: function () {
          V.run(unbind, function () { return V.act('category', 'unbind', { cg_id: c.id, item_id: itemId }); }, '已解除绑定')
            .then(function (answer) { if (answer) showBindings(); });
        } }, '解除绑定');
        list.appendChild(V.el('li', {}, [V.el('span', {}, (goods ? goods.name + ' ' : '') + '（' + itemId + '） '), unbind]));
      });
      V.$('#bind-empty').hidden = items.length > 0;
    }).catch(V.fail);
  }

  // The list's warnings depend on whether IM can leave this computer, which
  // the first status answer tells.
  var imKnown = null;
  V.statusListeners.push(function (s) {
    if (imKnown === s.IM_AVAILABLE) return;
    imKnown = s.IM_AVAILABLE;
    showList();
    if (form.elements.name.value || selected) changed();
  });

  V.views.categories = { show: function () { V.loadCategories(); if (!selected) edit(null); } };
})(window.V);
