// The 维护 view: the database's copies in backup/ (backup lst), a copy now
// (backup now), a restore after confirmation (backup restore), and the
// banners of safe mode (the database was found damaged at start: restore the
// newest good copy) and of a disk that refuses writes, from getStatus.
(function (V) {
  'use strict';

  var newest = V.latest();
  var latestName = '';

  function size(bytes) {
    if (bytes >= 1048576) return (bytes / 1048576).toFixed(1) + ' MB';
    return Math.max(1, Math.round(bytes / 1024)) + ' KB';
  }

  function load() {
    var current = newest();
    return V.act('backup', 'lst', {}, 60000).then(function (data) {
      if (!current()) return;
      var body = V.clear(V.$('#backup-list tbody'));
      var list = data.LIST || [];
      latestName = list.length ? list[0].NAME : '';
      list.forEach(function (copy) {
        var restore = V.el('button', { type: 'button', className: 'small danger', onclick: function () {
          restoreCopy(copy.NAME, restore);
        } }, '恢复');
        body.appendChild(V.row([V.dateTime(copy.TIME), copy.NAME, size(copy.SIZE),
          copy.UNSENT + ' / ' + copy.CARDS, copy.ORDERS, restore], { dataset: { name: copy.NAME } }));
      });
      V.empty('#backup-empty', !list.length);
      V.$('#backup-where').textContent = '备份文件夹：' + data.FOLDER + ' · 保留最新 ' + data.KEEP + ' 个 · ' +
        (data.INTERVAL_HOURS > 0 ? '每 ' + data.INTERVAL_HOURS + ' 小时自动备份一次' : '运行中不自动备份');
    }).catch(V.fail);
  }

  function restoreCopy(name, button) {
    return V.confirmRun('用备份“' + name + '”恢复数据库？当前的数据库会先另存为一个新备份。', '恢复', button,
      function () { return V.act('backup', 'restore', { name: name }, 120000); },
      function (answer) { return answer.MSG; }).then(function (answer) {
      if (!answer) return;
      load();
      V.refreshStatus();
      V.loadCategories();
    });
  }

  V.$('#backup-now').addEventListener('click', function () {
    V.run(this, function () { return V.act('backup', 'now', {}, 120000); },
      function (answer) { return answer.MSG; }, V.$('#backup-note')).then(function (answer) { if (answer) load(); });
  });
  V.$('#backup-reload').addEventListener('click', load);
  V.$('#safe-restore').addEventListener('click', function () {
    var button = this;
    V.act('backup', 'lst', {}, 60000).then(function (data) {
      var list = data.LIST || [];
      if (!list.length) throw new Error('没有找到完好的备份。');
      return restoreCopy(list[0].NAME, button);
    }).catch(V.fail);
  });

  V.statusListeners.push(function (s) {
    V.$('#safe-banner').hidden = !s.DB_DAMAGED;
    if (s.DB_DAMAGED) V.$('#safe-text').textContent = s.SAFE_MSG || '数据库文件已损坏，程序在安全模式下运行。';
    var storage = V.$('#storage-banner');
    storage.hidden = !s.STORAGE_MSG;
    storage.textContent = s.STORAGE_MSG || '';
    // No delivery happens while the daemon is stopped: said on every view.
    var stopped = V.$('#stopped-banner');
    stopped.hidden = !!s.RUNNING || !!s.DB_DAMAGED;
    stopped.textContent = '自动发货已停止：' + (s.ACCOUNT ? '淘宝登录已失效，' : '还没有登录淘宝，') +
      '新订单不会自动发货。请点右上角的“登录淘宝”。';
  });

  V.views.maintenance = { show: load };
})(window.V);
