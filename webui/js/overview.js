// Overview: the daemon's state, today's orders, stock per category with the
// low ones marked, and two charts (deliveries per day over 30 days, unsent
// stock per category). Figures come from getOverview, the state from
// getStatus.
(function (V) {
  'use strict';

  var charts = {};
  var newest = V.latest();

  V.onStatus(function (s) {
    V.$('#ov-running').textContent = s.RUNNING ? '运行中' : '已停止';
    V.$('#ov-running').className = 'big ' + (s.RUNNING ? 'good' : 'bad');
    V.$('#ov-account').textContent = s.ACCOUNT ? '帐号 ' + s.ACCOUNT : '未登录淘宝，点右上角“登录淘宝”';
    V.$('#ov-check').textContent = V.dateTime(s.CHECK_TIME);
    V.$('#ov-send').textContent = V.dateTime(s.SEND_MSG_TIME);
    var login = s.LOGIN_MSG;
    V.$('#ov-login').textContent = !login ? '本次运行还没有登录'
      : (login.SUCCESS === 1 ? '成功' : '失败：' + login.MSG) + '（' + V.dateTime(login.TIME) + '）';
  });

  // One chart per canvas, drawn again with new figures.
  function draw(id, config) {
    if (!window.Chart) {
      var canvas = V.$('#' + id);
      if (canvas) canvas.replaceWith(V.el('p', { className: 'empty' }, '图表库没有加载（maker-service 的 /lib/chart.umd.min.js）。'));
      return;
    }
    if (charts[id]) charts[id].destroy();
    config.options = Object.assign({ animation: false, responsive: true, maintainAspectRatio: false,
      plugins: { legend: { position: 'bottom' } } }, config.options || {});
    charts[id] = new window.Chart(V.$('#' + id), config);
  }

  function show(data) {
    V.$('#ov-delivered').textContent = data.TODAY.DELIVERED;
    V.$('#ov-failed').textContent = data.TODAY.FAILED;
    V.$('#ov-waiting').textContent = data.TODAY.WAITING;
    V.$('#ov-failed').className = 'big' + (data.TODAY.FAILED ? ' bad' : '');
    V.$('#ov-threshold').textContent = data.LOW_STOCK ? '（低于 ' + data.LOW_STOCK + ' 张标红）' : '（未设置库存下限）';

    var stock = data.STOCK || [];
    var body = V.clear(V.$('#stock-list tbody'));
    stock.forEach(function (c) {
      body.appendChild(V.row([c.name, c.store_num, c.store_total_num, c.low ? '库存不足' : '正常'], { className: c.low ? 'low' : '' }));
    });
    V.empty('#stock-empty', stock.length === 0);

    var days = data.DAYS || [];
    draw('chart-days', {
      type: 'bar',
      data: {
        labels: days.map(function (d) { return d.DAY.slice(5); }),
        datasets: [
          { label: '已发货', data: days.map(function (d) { return d.DELIVERED; }), backgroundColor: '#2e8b57' },
          { label: '发货失败', data: days.map(function (d) { return d.FAILED; }), backgroundColor: '#c0392b' },
        ],
      },
      options: { scales: { x: { stacked: true }, y: { stacked: true, beginAtZero: true, ticks: { precision: 0 } } } },
    });
    draw('chart-stock', {
      type: 'bar',
      data: {
        labels: stock.map(function (c) { return c.name; }),
        datasets: [{ label: '未发卡密', data: stock.map(function (c) { return c.store_num; }),
          backgroundColor: stock.map(function (c) { return c.low ? '#c0392b' : '#ff6a00'; }) }],
      },
      options: { indexAxis: 'y', scales: { x: { beginAtZero: true, ticks: { precision: 0 } } } },
    });
  }

  function load() {
    var current = newest();
    return V.act('getOverview').then(function (data) { if (current()) show(data); }).catch(V.fail);
  }

  V.views.overview = { show: function () { load(); if (V.status) V.refreshStatus(); } };
})(window.V);
