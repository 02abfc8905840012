// The 消息队列 view: the messages waiting to be sent (msgQueue lst) with
// their channel, addressee, failed tries and last error, and for each a
// retry (its count starts again) and a delete after confirmation. Where the
// IM client cannot run on this computer, IM messages can never leave, and
// the view says so above the list.
(function (V) {
  'use strict';

  var newest = V.latest();

  function load() {
    var current = newest();
    return V.act('msgQueue', 'lst').then(function (data) {
      if (!current()) return;
      var list = data.LIST || [];
      var body = V.clear(V.$('#queue-list tbody'));
      var stuckChats = 0;
      list.forEach(function (m) {
        if (m.type === 2 || m.type === 3) stuckChats++;
        var retry = V.el('button', { type: 'button', className: 'small', disabled: m.sending, onclick: function () {
          V.run(retry, function () { return V.act('msgQueue', 'retry', { id: m.id }); },
            function (answer) { return answer.MSG; }, V.$('#queue-note')).then(function (answer) { if (answer) load(); });
        } }, '重试');
        var remove = V.el('button', { type: 'button', className: 'small danger', disabled: m.sending, onclick: function () {
          V.confirmRun('删除这条发给“' + m.to + '”的' + m.type_text + '消息？删除后不会再发送。', '删除', remove,
            function () { return V.act('msgQueue', 'del', { id: m.id }); },
            function (answer) { return answer.MSG; }).then(function (answer) { if (answer) load(); });
        } }, '删除');
        var error = m.sending ? '正在发送…' : (m.last_error || (m.tries ? '' : '还没有试过'));
        body.appendChild(V.row([V.dateTime(m.create_time), m.type_text, m.to, m.order_id || '—', String(m.tries),
          error, V.el('span', { className: 'row-buttons' }, [retry, remove])], { dataset: { id: String(m.id) } }));
      });
      V.empty('#queue-empty', !list.length);
      V.$('#queue-total').textContent = list.length < data.TOTAL
        ? '共 ' + data.TOTAL + ' 条，这里列出最早的 ' + list.length + ' 条。' : '共 ' + data.TOTAL + ' 条。';
      var warn = V.$('#queue-im-warn');
      warn.hidden = data.IM_AVAILABLE || !stuckChats;
      warn.textContent = '这台电脑上不能运行旺旺客户端：这 ' + stuckChats +
        ' 条旺旺消息发不出去。请删除它们，并给分类选择邮件或站内信。';
    }).catch(V.fail);
  }

  V.$('#queue-reload').addEventListener('click', load);
  V.views.queue = { show: load };
})(window.V);
