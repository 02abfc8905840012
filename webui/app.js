// The seller's web page: talks to the local program with JSONP requests on
// 127.0.0.1 at the port given in this page's address (?ver=1105&port=N), each
// carrying the program's launch key, which the address hands over in its
// fragment (#token=KEY): the browser never sends a fragment to the server
// that serves this page, so only this page and the program know the key.
(function () {
  'use strict';

  var params = new URLSearchParams(location.search);
  var port = params.get('port');
  var key = new URLSearchParams(location.hash.slice(1)).get('token') || '';
  var base = 'http://127.0.0.1:' + port + '/';
  var sequence = 0;
  var outOfDate = '页面已过期，请从 Vendara 程序重新打开本页面（程序启动时显示的地址，或托盘菜单）。';

  // A failed script load does not say why. The program lets this page read
  // its refusal (403: the key is not the running program's, e.g. after a
  // restart), so a plain status request tells "out of date" from "not running".
  function failure() {
    return fetch(base + '?do=getStatus&token=' + encodeURIComponent(key)).then(function (response) {
      return response.status === 403 ? outOfDate : null;
    }, function () { return null; }).then(function (text) {
      if (text) {
        var status = document.getElementById('status');
        status.textContent = text;
        status.classList.add('error');
        return new Error(text);
      }
      return new Error('无法连接本地程序 (端口 ' + port + ')');
    });
  }

  // One JSONP call: `fields` travel as the UTF-8 `_postData` form.
  function call(action, sub, fields) {
    return new Promise(function (resolve, reject) {
      var name = 'vendaraCb' + (++sequence);
      var script = document.createElement('script');
      var form = new URLSearchParams(fields || {}).toString();
      var url = base + '?do=' + encodeURIComponent(action) + '&callback=' + name + '&token=' + encodeURIComponent(key);
      if (sub) url += '&action=' + encodeURIComponent(sub);
      if (form) url += '&_postData=' + encodeURIComponent(form);
      var timer = setTimeout(function () { cleanup(); reject(new Error('本地程序没有响应')); }, 15000);
      function cleanup() { clearTimeout(timer); delete window[name]; script.remove(); }
      window[name] = function (data) { cleanup(); resolve(data); };
      script.onerror = function () { cleanup(); failure().then(reject); };
      script.src = url;
      document.body.appendChild(script);
    });
  }

  // Calls an action whose envelope carries SUCCESS; rejects with its MSG.
  function act(action, sub, fields) {
    return call(action, sub, fields).then(function (data) {
      if (data && data.SUCCESS === 0) throw new Error(data.MSG || '操作失败');
      return data;
    });
  }

  function toast(text, isError) {
    var box = document.getElementById('toast');
    box.textContent = text;
    box.className = isError ? 'error' : '';
    box.hidden = false;
    clearTimeout(toast.timer);
    toast.timer = setTimeout(function () { box.hidden = true; }, 4000);
  }
  function fail(error) { toast(error.message, true); }

  function cell(row, text) {
    var td = document.createElement('td');
    td.textContent = text === undefined || text === null ? '' : String(text);
    row.appendChild(td);
    return td;
  }
  function button(row, text, onClick) {
    var td = document.createElement('td');
    var b = document.createElement('button');
    b.type = 'button';
    b.textContent = text;
    b.addEventListener('click', onClick);
    td.appendChild(b);
    row.appendChild(td);
    return b;
  }
  function formFields(form) {
    var fields = {};
    new FormData(form).forEach(function (value, key) { fields[key] = value; });
    return fields;
  }

  // The paging state of one list: its prev/next buttons and "page / max" text
  // (ids `<name>-prev`, `<name>-next`, `<name>-page`); `load` reloads the list.
  function pager(name, load) {
    var state = { page: 1, max: 0 };
    state.reset = function () { state.page = 1; };
    state.shown = function (data) {
      state.max = data.PAGE_MAX;
      state.page = Math.max(1, data.PAGE);
      document.getElementById(name + '-page').textContent = data.PAGE + ' / ' + data.PAGE_MAX;
    };
    document.getElementById(name + '-prev').addEventListener('click', function () {
      if (state.page > 1) { state.page--; load(); }
    });
    document.getElementById(name + '-next').addEventListener('click', function () {
      if (state.page < state.max) { state.page++; load(); }
    });
    return state;
  }

  // Tabs
  document.querySelectorAll('nav button').forEach(function (tab) {
    tab.addEventListener('click', function () {
      document.querySelectorAll('nav button').forEach(function (b) { b.classList.remove('active'); });
      tab.classList.add('active');
      document.querySelectorAll('main section').forEach(function (s) { s.hidden = true; });
      document.getElementById('tab-' + tab.dataset.tab).hidden = false;
      if (tab.dataset.tab === 'goods') loadGoods(false);
      if (tab.dataset.tab === 'orders') loadOrders();
      if (tab.dataset.tab === 'settings') loadSettings();
    });
  });

  // Status
  function time(seconds) { return seconds ? new Date(seconds * 1000).toLocaleTimeString() : '从未'; }
  function refreshStatus() {
    return call('getStatus').then(function (s) {
      document.getElementById('status').textContent =
        (s.RUNNING ? '自动发货运行中' : '自动发货已停止') + (s.ACCOUNT ? ' · 帐号 ' + s.ACCOUNT : ' · 未登录淘宝') +
        ' · 上次查单 ' + time(s.CHECK_TIME) + ' · 上次发消息 ' + time(s.SEND_MSG_TIME);
      showLoginResult(s.LOGIN_MSG);
    }).catch(function (e) { document.getElementById('status').textContent = e.message; });
  }

  // Marketplace login: the program's own login page (the marketplace's page,
  // rewritten to post back to the program) in a frame. After a refused login
  // the program's reading of the answer is shown beside it; an accepted login
  // sends the frame to the maker's close page, which tells us by a message.
  var loginView = document.getElementById('login-view');
  var loginFrame = document.getElementById('login-frame');
  var loginMsg = document.getElementById('login-msg');
  var loginOpenedAt = 0;

  function showLoginResult(result) {
    // Only what happened since the view was opened belongs beside it.
    if (!result || result.SUCCESS === 1 || loginView.hidden || result.TIME < loginOpenedAt) {
      loginMsg.hidden = true;
      return;
    }
    loginMsg.textContent = '登录失败：' + result.MSG + '（' + time(result.TIME) + '）';
    loginMsg.hidden = false;
  }
  function openLogin() {
    act('getConfig').then(function (data) {
      var host = (data.LIST && data.LIST.local_host) || '127.0.0.1';
      loginOpenedAt = Math.floor(Date.now() / 1000) - 1;
      loginMsg.hidden = true;
      loginFrame.src = 'http://' + host + ':' + port + '/?do=login&token=' + encodeURIComponent(key);
      loginView.hidden = false;
    }).catch(fail);
  }
  function closeLogin() {
    loginView.hidden = true;
    loginFrame.src = 'about:blank';
  }
  document.getElementById('login-open').addEventListener('click', openLogin);
  document.getElementById('login-close').addEventListener('click', function () { closeLogin(); refreshStatus(); });
  // Every page the frame shows is an answer of the program: look at the result.
  loginFrame.addEventListener('load', function () { if (!loginView.hidden) refreshStatus(); });
  window.addEventListener('message', function (event) {
    if (event.origin !== location.origin || event.source !== loginFrame.contentWindow) return;
    if (!event.data || event.data.vendara !== 'login-done') return;
    closeLogin();
    refreshStatus();
    toast('淘宝登录成功');
  });

  // Categories and cards
  var categories = [];
  var current = null;
  var cards = pager('card', function () { loadCards(); });
  var categoryForm = document.getElementById('category-form');

  function loadCategories() {
    return act('category', 'lst').then(function (data) {
      categories = data.LIST || [];
      var body = document.querySelector('#category-list tbody');
      body.innerHTML = '';
      categories.forEach(function (c) {
        var row = document.createElement('tr');
        if (current && current.id === c.id) row.className = 'selected';
        cell(row, c.id); cell(row, c.name); cell(row, c.store_num); cell(row, c.store_total_num);
        var actions = button(row, '删除', function (event) {
          event.stopPropagation();
          if (!confirm('删除分类 ' + c.name + '？')) return;
          act('category', 'del', { id: c.id }).then(loadCategories).catch(fail);
        });
        actions.parentNode.style.whiteSpace = 'nowrap';
        row.addEventListener('click', function () { selectCategory(c); });
        body.appendChild(row);
      });
      if (current) {
        current = categories.find(function (c) { return c.id === current.id; }) || null;
      }
    }).catch(fail);
  }

  function selectCategory(c) {
    current = c;
    cards.reset();
    ['id', 'name', 'type', 'flg', 'tpl', 'ext'].forEach(function (k) { categoryForm.elements[k].value = c[k]; });
    document.getElementById('card-category').textContent = '· ' + c.name;
    loadCategories();
    loadCards();
    loadBindings();
  }

  categoryForm.addEventListener('submit', function (event) {
    event.preventDefault();
    var fields = formFields(categoryForm);
    var sub = fields.id ? 'update' : 'add';
    if (!fields.id) delete fields.id;
    act('category', sub, fields).then(function () { toast('分类已保存'); return loadCategories(); }).catch(fail);
  });
  categoryForm.addEventListener('reset', function () { categoryForm.elements.id.value = ''; });

  function loadCards() {
    if (!current) return;
    act('item', 'lst', { cg_id: current.id, page_num: 20, page: cards.page }).then(function (data) {
      cards.shown(data);
      var body = document.querySelector('#card-list tbody');
      body.innerHTML = '';
      (data.LIST || []).forEach(function (card) {
        var row = document.createElement('tr');
        var check = document.createElement('input');
        check.type = 'checkbox';
        check.value = card.id;
        var td = document.createElement('td');
        td.appendChild(check);
        row.appendChild(td);
        cell(row, card.id); cell(row, card.data1); cell(row, card.data2); cell(row, card.data3);
        cell(row, card.send_order_id || '未发');
        button(row, '删除', function () { act('item', 'del', { id: card.id }).then(refreshCards).catch(fail); });
        body.appendChild(row);
      });
    }).catch(fail);
  }
  function refreshCards() { loadCards(); loadCategories(); }

  document.getElementById('card-all').addEventListener('change', function (event) {
    document.querySelectorAll('#card-list tbody input').forEach(function (c) { c.checked = event.target.checked; });
  });
  document.getElementById('card-del-more').addEventListener('click', function () {
    var ids = Array.from(document.querySelectorAll('#card-list tbody input:checked')).map(function (c) { return c.value; });
    if (!ids.length) return;
    act('item', 'del_more', { id_str: ids.join(',') }).then(refreshCards).catch(fail);
  });
  document.getElementById('card-form').addEventListener('submit', function (event) {
    event.preventDefault();
    if (!current) { toast('请先选择分类', true); return; }
    var fields = formFields(event.target);
    fields.cg_id = current.id;
    fields.send_order_id = '';
    act('item', 'add', fields).then(function () { event.target.reset(); refreshCards(); }).catch(fail);
  });

  function loadBindings() {
    if (!current) return;
    act('category', 'bindLst', { cg_id: current.id }).then(function (data) {
      var list = document.getElementById('bind-list');
      list.innerHTML = '';
      (data.ITEM_LIST || []).forEach(function (itemId) {
        var li = document.createElement('li');
        li.textContent = itemId + ' ';
        var b = document.createElement('button');
        b.textContent = '解除绑定';
        b.addEventListener('click', function () {
          act('category', 'unbind', { cg_id: current.id, item_id: itemId }).then(loadBindings).catch(fail);
        });
        li.appendChild(b);
        list.appendChild(li);
      });
    }).catch(fail);
  }

  // Goods on sale
  function loadGoods(flush) {
    call('getGoodsLst', null, { flush: flush ? '1' : '0' }).then(function (goods) {
      var body = document.querySelector('#goods-list tbody');
      body.innerHTML = '';
      (goods || []).forEach(function (g) {
        var row = document.createElement('tr');
        cell(row, g.item_id);
        var title = cell(row, '');
        var link = document.createElement('a');
        link.href = g.url; link.target = '_blank'; link.textContent = g.name;
        title.appendChild(link);
        var td = document.createElement('td');
        var select = document.createElement('select');
        select.innerHTML = '<option value="">选择分类</option>';
        categories.forEach(function (c) {
          var option = document.createElement('option');
          option.value = c.id; option.textContent = c.name;
          select.appendChild(option);
        });
        select.addEventListener('change', function () {
          if (!select.value) return;
          act('category', 'bind', { cg_id: select.value, item_id: g.item_id })
            .then(function () { toast('已绑定'); loadBindings(); }).catch(fail);
        });
        td.appendChild(select);
        row.appendChild(td);
        body.appendChild(row);
      });
    }).catch(fail);
  }
  document.getElementById('goods-refresh').addEventListener('click', function () { loadGoods(true); });

  // Orders
  var orders = pager('order', function () { loadOrders(); });
  var statusText = { 0: '新订单', 1: '待发货', 2: '已发货' };
  function loadOrders() {
    var fields = { page_num: 20, page: orders.page };
    var status = document.getElementById('order-status').value;
    if (status !== '') fields.status = status;
    act('order', 'lst', fields).then(function (data) {
      orders.shown(data);
      var body = document.querySelector('#order-list tbody');
      body.innerHTML = '';
      (data.LIST || []).forEach(function (o) {
        var row = document.createElement('tr');
        cell(row, o.id); cell(row, o.order_id); cell(row, o.time ? new Date(o.time * 1000).toLocaleString() : '');
        cell(row, o.buyer);
        cell(row, statusText[o.status] || ('失败 ' + (o.status - 1000)));
        cell(row, o.text_msg);
        var td = button(row, '重新发货', function () { act('order', 'reset', { id: o.id }).then(loadOrders).catch(fail); });
        var del = document.createElement('button');
        del.textContent = '删除';
        del.addEventListener('click', function () { act('order', 'del', { id: o.id }).then(loadOrders).catch(fail); });
        td.parentNode.appendChild(del);
        body.appendChild(row);
      });
    }).catch(fail);
  }
  document.getElementById('order-status').addEventListener('change', function () { orders.reset(); loadOrders(); });

  // Settings
  var settingKeys = [
    ['taobao_user', '淘宝帐号'], ['taobao_pwd', '淘宝密码', 'password'], ['taobao_autologin', '自动登录 (1 = 是)'],
    ['check_order_timeout', '查单间隔 (秒)'], ['check_msg_timeout', '发消息间隔 (秒)'],
    ['comment_enable', '自动评价 (1 = 是)'], ['comment_timeout', '评价间隔 (分钟)'], ['comment_msg', '评价内容'],
    ['notice_service_stop', '停止运行时提醒'], ['notice_paid_order', '新订单提醒'], ['notice_success_order', '发货成功提醒'],
    ['notice_failed_order', '发货失败提醒'], ['notice_store_enable', '库存提醒'], ['notice_store_num', '库存下限'],
    ['notice_type_email', '邮件提醒'], ['notice_mailto', '提醒邮箱'],
    ['email_send_type', '邮件方式 (1 服务 / 2 直投 / 3 SMTP)'], ['email_sender', '发件人'], ['email_dns_server', 'DNS 服务器'],
    ['smtp_host', 'SMTP 主机'], ['smtp_port', 'SMTP 端口'], ['smtp_user', 'SMTP 用户'], ['smtp_pwd', 'SMTP 密码', 'password'],
    ['wangwang_initiative_enable', '旺旺主动发送'], ['wangwang_retry_timeout', '旺旺消息过期 (天)'],
    ['black_list', '黑名单 (每行一个)', 'textarea'],
    ['maker_base', '服务地址'], ['local_host', '本地主机名'], ['market_base', '淘宝地址 (全部主机)']
  ];
  var settingsForm = document.getElementById('settings-form');
  settingKeys.forEach(function (k) {
    var label = document.createElement('label');
    label.textContent = k[1] + ' ';
    var input = document.createElement(k[2] === 'textarea' ? 'textarea' : 'input');
    if (k[2] === 'password') input.type = 'password';
    input.name = k[0];
    label.appendChild(input);
    settingsForm.appendChild(label);
  });
  var save = document.createElement('button');
  save.type = 'submit';
  save.textContent = '保存设置';
  settingsForm.appendChild(save);

  function loadSettings() {
    act('getConfig').then(function (data) {
      var list = data.LIST || {};
      settingKeys.forEach(function (k) { settingsForm.elements[k[0]].value = list[k[0]] || ''; });
    }).catch(fail);
  }
  settingsForm.addEventListener('submit', function (event) {
    event.preventDefault();
    act('setConfig', null, formFields(settingsForm)).then(function () { toast('设置已保存'); }).catch(fail);
  });
  document.getElementById('ww-form').addEventListener('submit', function (event) {
    event.preventDefault();
    act('wwTest', null, formFields(event.target)).then(function () { toast('测试消息已加入队列'); }).catch(fail);
  });

  refreshStatus();
  setInterval(refreshStatus, 5000);
  loadCategories();
})();
