// Cards of one category: paging, search by card number, add and edit one
// card, delete with confirmation, CSV export of the unsent cards, and the
// bulk import with a preview of how the lines split.
(function (V) {
  'use strict';

  var select = V.$('#card-category');
  var form = V.$('#card-form');
  var pager = V.pager('card', load);
  var searching = '';
  var newest = V.latest();
  var separators = { space: ' ', tab: '\t', comma: ',', dash4: '----' };

  function categoryId() { return select.value; }

  V.onCategories(function (categories) {
    var chosen = select.value;
    V.clear(select);
    categories.forEach(function (c) {
      select.appendChild(V.el('option', { value: c.id }, c.name + '（未发 ' + c.store_num + ' / 共 ' + c.store_total_num + '）'));
    });
    if (V.categoryById(chosen)) select.value = chosen;
  });
  select.addEventListener('change', function () { pager.reset(); searching = ''; V.$('#card-search').value = ''; load(); });

  function load() {
    var body = V.$('#card-list tbody');
    if (!categoryId()) {
      V.clear(body);
      V.empty('#card-empty', true, '还没有分类。先到“分类”页新建一个分类。');
      return;
    }
    var current = newest();
    var request = searching
      ? V.act('item', 'search', { q: searching, cg_id: categoryId(), page: pager.page, page_num: 20 })
      : V.act('item', 'lst', { cg_id: categoryId(), page: pager.page, page_num: 20 });
    request.then(function (data) {
      if (!current()) return;
      pager.shown(data);
      V.clear(body);
      V.$('#card-all').checked = false;
      (data.LIST || []).forEach(function (card) { body.appendChild(cardRow(card)); });
      V.empty('#card-empty', !(data.LIST || []).length, searching
        ? '没有卡号包含“' + searching + '”的卡密。'
        : '这个分类还没有卡密。在下面添加一张，或用“批量导入”粘贴多行。');
    }).catch(V.fail);
  }

  // A card reserved for an order in flight or already sent is the record of
  // a delivery: the program refuses to change or delete it, so the row is
  // greyed and its buttons are off.
  function cardRow(card) {
    var taken = !!card.send_order_id;
    var why = taken ? (card.send_order_id.indexOf('发货中') === 0 ? '正在发货中，不能修改或删除' : '已发出，不能修改或删除') : '';
    var check = V.el('input', { type: 'checkbox', value: card.id, disabled: taken, title: why });
    var edit = V.el('button', { type: 'button', className: 'small', disabled: taken, title: why,
      onclick: function () { startEdit(card); } }, '修改');
    var remove = V.el('button', { type: 'button', className: 'small danger', disabled: taken, title: why, onclick: function () {
      V.confirmRun('删除卡密“' + card.data1 + '”？', '删除', remove,
        function () { return V.act('item', 'del', { id: card.id }); }, '卡密已删除').then(refreshAfter);
    } }, '删除');
    return V.row([check, card.id, card.data1, card.data2, card.data3, sentCell(card),
      V.el('span', { className: 'nowrap' }, [edit, remove])], taken ? { className: 'taken', title: why } : {});
  }

  // The card's mark; a delivery's mark links to the order it went to.
  var marks = /^(?:已发货|发货中)：订单号：(.+)$/;
  function sentCell(card) {
    if (!card.send_order_id) return '未发';
    var found = marks.exec(card.send_order_id);
    if (!found) return card.send_order_id;
    return V.el('button', { type: 'button', className: 'order-link', title: '查看这个订单', onclick: function () {
      V.showOrder(found[1]);
    } }, card.send_order_id);
  }

  function refreshAfter(answer) { if (answer) { load(); V.loadCategories(); } }

  function startEdit(card) {
    ['id', 'data1', 'data2', 'data3', 'send_order_id'].forEach(function (k) { form.elements[k].value = card[k]; });
    V.$('#card-form-title').textContent = '修改卡密 ' + card.id;
    V.$('#card-save').textContent = '保存修改';
    V.$('#card-edit-cancel').hidden = false;
    form.elements.data1.focus();
  }
  function endEdit() {
    form.reset();
    form.elements.id.value = '';
    form.elements.send_order_id.value = '';
    V.$('#card-form-title').textContent = '添加一张卡密';
    V.$('#card-save').textContent = '添加';
    V.$('#card-edit-cancel').hidden = true;
  }
  V.$('#card-edit-cancel').addEventListener('click', endEdit);

  form.addEventListener('submit', function (event) {
    event.preventDefault();
    if (!categoryId()) { V.fail(new Error('请先新建并选择分类')); return; }
    var f = {};
    ['data1', 'data2', 'data3', 'send_order_id'].forEach(function (k) { f[k] = form.elements[k].value; });
    if (!f.data1.trim()) { V.fail(new Error('请填写卡号')); return; }
    f.cg_id = categoryId();
    var id = form.elements.id.value;
    if (id) f.id = id;
    V.run(V.$('#card-save'), function () { return V.act('item', id ? 'update' : 'add', f); }, id ? '卡密已修改' : '卡密已添加')
      .then(function (answer) { if (answer) { endEdit(); refreshAfter(answer); } });
  });

  V.$('#card-all').addEventListener('change', function (event) {
    document.querySelectorAll('#card-list tbody input[type=checkbox]:not(:disabled)').forEach(function (c) { c.checked = event.target.checked; });
  });
  V.$('#card-del-more').addEventListener('click', function () {
    var button = this;
    var ids = Array.from(document.querySelectorAll('#card-list tbody input:checked')).map(function (c) { return c.value; });
    if (!ids.length) { V.fail(new Error('请先勾选要删除的卡密')); return; }
    V.confirmRun('删除所选的 ' + ids.length + ' 张卡密？', '删除', button,
      function () { return V.act('item', 'del_more', { id_str: ids.join(',') }); }, '已删除 ' + ids.length + ' 张卡密')
      .then(refreshAfter);
  });

  function search() { searching = V.$('#card-search').value.trim(); pager.reset(); load(); }
  V.$('#card-search-go').addEventListener('click', search);
  V.$('#card-search').addEventListener('keydown', function (event) { if (event.key === 'Enter') search(); });

  V.$('#card-export').addEventListener('click', function () {
    var id = categoryId();
    if (!id) { V.fail(new Error('请先选择分类')); return; }
    V.run(this, function () { return V.act('item', 'export', { cg_id: id }); }, function (data) {
      return '已导出 ' + data.COUNT + ' 张未发卡密';
    }).then(function (data) {
      if (data) V.download(data.CSV, 'cards-' + id + '.csv');
    });
  });

  // Bulk import. A line splits at the first two separators into up to three
  // fields, the rest of the line staying in the third; empty lines are left
  // out (the program splits the same way).
  function lines() { return V.$('#import-text').value.split(/\r\n|\r|\n/); }
  // A run of spaces counts as one separator; a comma or a tab ends exactly
  // one field, so "A,,C" keeps its empty second field. Each field loses the
  // spaces (and tabs, unless the tab is the separator) around it.
  function trimmed(text, tabs) { return tabs === false ? text.replace(/^ +| +$/g, '') : text.replace(/^[ \t]+|[ \t]+$/g, ''); }
  function split(line, sep) {
    var tabs = sep !== '\t';
    var parts = [];
    var rest = trimmed(line, tabs);
    while (parts.length < 2) {
      var at = rest.indexOf(sep);
      if (at < 0) break;
      parts.push(trimmed(rest.slice(0, at), tabs));
      var next = at + sep.length;
      if (sep === ' ') while (rest.charAt(next) === ' ') next++;
      rest = trimmed(rest.slice(next), tabs);
    }
    parts.push(trimmed(rest, tabs));
    return parts;
  }
  V.splitCardLine = split;

  var maxLines = 100000;
  function filledCount(all) {
    var count = 0;
    all.forEach(function (line) { if (trimmed(line) !== '') count++; });
    return count;
  }

  function showImportPreview() {
    var sep = separators[V.$('#import-sep').value];
    var body = V.clear(V.$('#import-preview tbody'));
    var all = lines();
    var count = 0;
    var shown = 0;
    all.forEach(function (line, index) {
      if (trimmed(line) === '') return;
      count++;
      if (shown >= 10) return;
      shown++;
      var f = split(line, sep);
      body.appendChild(V.row([index + 1, f[0], f[1], f[2]]));
    });
    V.$('#import-preview').hidden = count === 0;
    var summary = V.$('#import-summary');
    summary.textContent = count ? '共 ' + count + ' 行卡密' + (count > shown ? '，下表是前 ' + shown + ' 行的拆分结果' : '') : '';
    if (count > maxLines) summary.textContent += '。一次最多导入 ' + maxLines + ' 行，请分批导入。';
    summary.className = count > maxLines ? 'sub error' : 'sub';
  }
  V.$('#import-text').addEventListener('input', showImportPreview);
  V.$('#import-sep').addEventListener('change', showImportPreview);
  V.$('#import-file').addEventListener('change', function (event) {
    var file = event.target.files[0];
    V.$('#import-file-name').textContent = file ? file.name : '未选择文件';
    if (!file) return;
    if (file.size > 16 * 1024 * 1024) { V.fail(new Error('文件太大（最多 16 MB）')); return; }
    file.text().then(function (text) { V.$('#import-text').value = text; showImportPreview(); }, V.fail);
  });

  // A line as the program receives it: its UTF-8 bytes in URL-alphabet
  // base64, which no form encoding changes, so a line GBK cannot store
  // reaches the program alone and is skipped there with its number.
  var encoder = new TextEncoder();
  function encodeLine(line) {
    var bytes = encoder.encode(line);
    var text = '';
    for (var i = 0; i < bytes.length; i += 0x4000) text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x4000));
    return btoa(text).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
  }

  // The lines go in parts that each fit one call's address; line numbers in
  // the report are those of the whole text.
  function parts(all, fixed) {
    var list = [];
    var current = { first: 1, lines: [], encoded: [], size: 0 };
    all.forEach(function (line, index) {
      var encoded = encodeLine(line);
      var size = encoded.length + 1;
      if (current.lines.length && current.size + size > V.maxAddress - fixed) {
        list.push(current);
        current = { first: index + 1, lines: [], encoded: [], size: 0 };
      }
      current.lines.push(line);
      current.encoded.push(encoded);
      current.size += size;
    });
    if (current.lines.length) list.push(current);
    return list;
  }

  var cancelled = false;
  V.$('#import-cancel').addEventListener('click', function () {
    cancelled = true;
    this.disabled = true;
    this.textContent = '正在取消…';
  });

  function progress(done, total, imported) {
    V.$('#import-progress').hidden = false;
    V.$('#import-bar').max = total;
    V.$('#import-bar').value = done;
    V.$('#import-progress-text').textContent = '已发送 ' + done + ' / ' + total + ' 部分，已导入 ' + imported + ' 张';
  }

  V.$('#import-go').addEventListener('click', function () {
    var button = this;
    var id = categoryId();
    if (!id) { V.fail(new Error('请先选择分类')); return; }
    var all = lines();
    var filled = filledCount(all);
    if (!filled) { V.fail(new Error('请先粘贴卡密，每行一张')); return; }
    if (filled > maxLines) {
      V.fail(new Error('一次最多导入 ' + maxLines + ' 行卡密，这次有 ' + filled + ' 行；请分批导入，未导入任何卡密。'));
      return;
    }
    var sep = V.$('#import-sep').value;
    var fixed = V.address('item', 'import', { cg_id: id, sep: sep, lines_b64: '', batch: '9999999999' }).length + 64;
    var report = { imported: 0, skipped: [], batch: 0, cancelled: false, failed: '' };
    var chunks = parts(all, fixed);
    // Card number and password of the lines of the parts already sent, to
    // their first line: the program sees one part at a time, so a repeat of
    // an earlier part's line reads to it as a card already in stock.
    var earlier = {};
    function key(data1, data2) { return data1 + '\n' + (data2 || ''); }
    var done = 0;
    cancelled = false;
    var cancel = V.$('#import-cancel');
    cancel.hidden = false;
    cancel.disabled = false;
    cancel.textContent = '取消导入';
    V.$('#import-report').hidden = true;
    progress(0, chunks.length, 0);
    V.run(button, function () {
      return chunks.reduce(function (previous, chunk) {
        return previous.then(function () {
          if (cancelled) { report.cancelled = true; return; }
          var fields = { cg_id: id, sep: sep, lines_b64: chunk.encoded.join(',') };
          if (report.batch) fields.batch = report.batch;
          return V.act('item', 'import', fields, 120000).then(function (data) {
            report.imported += data.IMPORTED;
            if (data.BATCH) report.batch = data.BATCH;
            (data.SKIPPED || []).forEach(function (s) {
              var first = earlier[key(s.DATA1, s.DATA2)];
              report.skipped.push(Object.assign({}, s, { LINE: s.LINE + chunk.first - 1 },
                first && s.DATA1 ? { REASON: '与第 ' + first + ' 行重复' } : {}));
            });
            chunk.lines.forEach(function (line, k) {
              if (trimmed(line) === '') return;
              var f = split(line, separators[sep]);
              if (!(key(f[0], f[1]) in earlier)) earlier[key(f[0], f[1])] = chunk.first + k;
            });
            done++;
            progress(done, chunks.length, report.imported);
          });
        });
      }, Promise.resolve()).then(function () { return report; }, function (error) {
        // The parts already imported stay, and the report says so.
        report.failed = error.message;
        if (!done) throw error;
        return report;
      });
    }, function (r) {
      if (r.failed) return '';
      return (r.cancelled ? '已取消，' : '') + '导入 ' + r.imported + ' 张，跳过 ' + r.skipped.length + ' 张';
    }).then(function (r) {
      cancel.hidden = true;
      if (done) { load(); V.loadCategories(); }
      if (!r) { V.$('#import-progress').hidden = true; return; }
      if (r.failed) V.fail(new Error(r.failed + '（此前已导入 ' + r.imported + ' 张，可以用“删除这批卡密”撤销）'));
      showReport(r, chunks.length, done);
    });
  });

  var lastBatch = 0;
  function showReport(r, total, done) {
    lastBatch = r.batch;
    V.$('#import-report').hidden = false;
    var text = '已导入 ' + r.imported + ' 张，跳过 ' + r.skipped.length + ' 张（批次 ' + r.batch + '）。';
    if (r.cancelled || r.failed) text = (r.cancelled ? '导入已取消：' : '导入中断：') + '共 ' + total + ' 部分，已发送 ' + done + ' 部分，其余未导入。' + text;
    V.$('#import-result').textContent = text;
    V.$('#import-undo').hidden = !r.batch || !r.imported;
    var body = V.clear(V.$('#import-skipped tbody'));
    r.skipped.slice(0, 500).forEach(function (s) { body.appendChild(V.row([s.LINE, s.DATA1, s.DATA2, s.REASON])); });
    V.$('#import-skipped').hidden = r.skipped.length === 0;
  }

  V.$('#import-undo').addEventListener('click', function () {
    var button = this;
    var batch = lastBatch;
    if (!batch) return;
    V.confirmRun('删除批次 ' + batch + ' 导入的全部未发货卡密？', '删除这批卡密', button, function () {
      return V.act('item', 'del_batch', { batch: batch });
    }, function (data) {
      return '已删除这批的 ' + data.DELETED + ' 张卡密' + (data.KEPT ? '，' + data.KEPT + ' 张已发货或发货中，保留' : '');
    }).then(function (data) {
      if (!data) return;
      button.hidden = true;
      V.$('#import-result').textContent += ' 这批已删除 ' + data.DELETED + ' 张。';
      load();
      V.loadCategories();
    });
  });

  V.views.cards = { show: function () { if (!categoryId()) V.loadCategories().then(load); else load(); } };
})(window.V);
