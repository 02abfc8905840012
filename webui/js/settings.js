// Settings, in groups: flags as checkboxes, numbers with their ranges and
// defaults (getConfig "RULES", asked for with rules=1). Saving sends only the keys the seller
// changed, and cannot happen before the settings were read: a form that
// never loaded would otherwise overwrite every setting with blanks.
(function (V) {
  'use strict';

  // [key, label, kind]: kind 'flag', 'number', 'password', 'text', 'area', 'mailRoute'.
  var groups = [
    ['淘宝帐号', [['taobao_user', '淘宝帐号'], ['taobao_pwd', '淘宝密码', 'password'], ['taobao_autologin', '打开登录页时自动登录', 'flag']]],
    ['自动发货与间隔', [['check_order_timeout', '查单间隔', 'number'], ['check_msg_timeout', '发送消息间隔', 'number'],
      ['comment_enable', '自动评价买家', 'flag'], ['comment_timeout', '评价间隔', 'number'], ['comment_msg', '评价内容']]],
    ['提醒', [['notice_service_stop', '淘宝登录失效、停止发货时提醒', 'flag'], ['notice_paid_order', '新付款订单提醒', 'flag'],
      ['notice_success_order', '发货成功提醒', 'flag'], ['notice_failed_order', '发货失败提醒', 'flag'],
      ['notice_store_enable', '库存不足提醒', 'flag'], ['notice_store_num', '库存下限', 'number'],
      ['notice_type_email', '用邮件提醒', 'flag'], ['notice_mailto', '提醒邮箱']]],
    ['邮件', [['email_send_type', '发送方式', 'mailRoute'], ['email_sender', '发件人（名称 <地址>）'],
      ['email_dns_server', 'DNS 服务器（直接投递时查 MX）'], ['smtp_host', 'SMTP 服务器'], ['smtp_port', 'SMTP 端口', 'number'],
      ['smtp_user', 'SMTP 用户名'], ['smtp_pwd', 'SMTP 密码', 'password']]],
    ['旺旺', [['wangwang_initiative_enable', '等买家打开聊天窗口后发送', 'flag'], ['wangwang_retry_timeout', '等待中的消息过期', 'number']]],
    ['黑名单', [['black_list', '不发货的买家（每行一个）', 'area']]],
    ['程序', [['autostart', '登录桌面时自动启动本程序', 'flag']]],
  ];
  var endpointLabels = {
    maker_base: '服务地址', local_host: '本地主机名', market_base: '淘宝地址（替换下面全部）',
    market_login_host: '淘宝登录', market_seller_host: '卖家中心', market_trade_host: '交易', market_trade_archive_host: '交易（历史订单）',
    market_item_host: '宝贝页', market_logistics_host: '发货页', market_rate_host: '评价', market_webim_host: '网页旺旺',
  };
  var units = { seconds: '秒', minutes: '分钟', cards: '张', days: '天', 'TCP port': '' };
  var routes = [['', '不发送（未设置）'], ['0', '不发送'], ['1', '通过服务网站'], ['2', '直接投递到收件人邮箱服务器'], ['3', 'SMTP 中继']];

  var form = V.$('#settings-form');
  var saveButton = V.$('#settings-save');
  var loaded = null;   // key -> stored text, once read
  var inputs = {};     // key -> {input, kind}

  function field(key, label, kind, rule) {
    var input;
    if (kind === 'flag') {
      input = V.el('input', { type: 'checkbox', name: key });
      return { node: V.el('label', { className: 'flag' }, [input, V.el('span', {}, ' ' + label)]), input: input };
    }
    if (kind === 'area') input = V.el('textarea', { name: key, rows: 4 });
    else if (kind === 'mailRoute') {
      input = V.el('select', { name: key }, routes.map(function (r) { return V.el('option', { value: r[0] }, r[1]); }));
    } else {
      input = V.el('input', { name: key, type: kind === 'password' ? 'password' : kind === 'number' ? 'number' : 'text' });
    }
    var hint = '';
    if (kind === 'mailRoute') rule = null;  // the choices say it all
    if (rule && rule.min !== undefined) {
      input.min = rule.min;
      input.max = rule.max;
      var unit = units[rule.unit] !== undefined ? units[rule.unit] : rule.unit;
      hint = rule.min + ' – ' + rule.max + (unit ? ' ' + unit : '') + (rule.default !== undefined && rule.default !== '' ? '，默认 ' + rule.default : '');
      if (rule.default !== undefined && rule.default !== '') input.placeholder = '默认 ' + rule.default;
    } else if (rule && rule.default !== undefined) {
      input.placeholder = rule.default ? '默认 ' + rule.default : '空 = 不使用';
    }
    var refusal = V.el('small', { className: 'field-error', hidden: true });
    return { node: V.el('label', {}, [V.el('span', {}, label), input, V.el('small', {}, hint), refusal]), input: input,
      refusal: refusal };
  }

  function build(rules) {
    V.clear(form);
    inputs = {};
    var all = groups.slice();
    var endpoints = Object.keys(endpointLabels);
    Object.keys(rules).forEach(function (key) {
      if (rules[key].min === undefined && endpoints.indexOf(key) < 0) endpoints.push(key);
    });
    all.push(['服务地址', endpoints.map(function (k) { return [k, endpointLabels[k] || k]; })]);
    all.forEach(function (group) {
      var set = V.el('fieldset', {}, [V.el('legend', {}, group[0])]);
      group[1].forEach(function (entry) {
        var kind = entry[2] || 'text';
        var made = field(entry[0], entry[1], kind, rules[entry[0]]);
        inputs[entry[0]] = { input: made.input, kind: kind, refusal: made.refusal };
        set.appendChild(made.node);
      });
      form.appendChild(set);
    });
  }

  function valueOf(entry) { return entry.kind === 'flag' ? (entry.input.checked ? '1' : '0') : entry.input.value; }
  function fill(list) {
    Object.keys(inputs).forEach(function (key) {
      var entry = inputs[key];
      var stored = list[key] === undefined || list[key] === null ? '' : String(list[key]);
      if (entry.kind === 'flag') entry.input.checked = stored === '1';
      else entry.input.value = stored;
      if (entry.kind === 'mailRoute' && entry.input.value !== stored) {
        entry.input.appendChild(V.el('option', { value: stored }, stored));
        entry.input.value = stored;
      }
    });
  }

  // Keys whose shown value differs from the stored one. A flag left off that
  // was never stored is no change.
  function changes() {
    var changed = {};
    Object.keys(inputs).forEach(function (key) {
      var entry = inputs[key];
      var stored = loaded[key] === undefined || loaded[key] === null ? '' : String(loaded[key]);
      var now = valueOf(entry);
      if (entry.kind === 'flag' ? (now === '1') !== (stored === '1') : now !== stored) changed[key] = now;
    });
    return changed;
  }

  function load() {
    loaded = null;
    saveButton.disabled = true;
    form.hidden = true;
    V.$('#settings-state').textContent = '正在读取设置…';
    V.$('#settings-state').className = 'sub';
    return V.act('getConfig', null, { rules: '1' }).then(function (data) {
      build(data.RULES || {});
      loaded = data.LIST || {};
      fill(loaded);
      form.hidden = false;
      saveButton.disabled = false;
      V.$('#settings-state').textContent = '只会保存改过的项目。';
    }, function (error) {
      V.$('#settings-state').textContent = '读取设置失败：' + error.message + '。设置读出之前不能保存，请点“重新读取”。';
      V.$('#settings-state').className = 'note error';
    });
  }

  saveButton.addEventListener('click', function () {
    if (!loaded) return;
    var changed = changes();
    var keys = Object.keys(changed);
    if (!keys.length) { V.toast('没有需要保存的修改'); return; }
    showRefusals({});
    V.run(saveButton, function () {
      return V.act('setConfig', null, changed).catch(function (error) {
        if (error.answer && error.answer.ERRORS) showRefusals(error.answer.ERRORS);
        throw error;
      });
    }, '已保存 ' + keys.length + ' 项设置', V.$('#settings-note')).then(function (answer) {
      if (answer) keys.forEach(function (k) { loaded[k] = changed[k]; });
    });
  });
  V.$('#settings-reload').addEventListener('click', function () { V.run(this, load); });

  // Each refused value's reason beside its field, all at once.
  function showRefusals(errors) {
    Object.keys(inputs).forEach(function (key) {
      var entry = inputs[key];
      if (!entry.refusal) return;
      var text = errors[key] || '';
      entry.refusal.textContent = text;
      entry.refusal.hidden = !text;
      entry.input.classList.toggle('refused', !!text);
    });
  }

  V.$('#mail-test').addEventListener('click', function () {
    V.run(this, function () { return V.act('mailTest'); }, function (data) { return data.MSG || '测试邮件已加入发送队列'; },
      V.$('#mail-test-note'));
  });
  V.$('#ww-form').addEventListener('submit', function (event) {
    event.preventDefault();
    var to = event.target.elements.to.value.trim();
    if (!to) { V.fail(new Error('请填写接收测试消息的旺旺名')); return; }
    V.run(V.$('#ww-test'), function () { return V.act('wwTest', null, { to: to }); }, '旺旺测试消息已加入发送队列',
      V.$('#ww-test-note'));
  });

  V.views.settings = { show: function () { if (!loaded || !Object.keys(changes()).length) load(); } };
})(window.V);
