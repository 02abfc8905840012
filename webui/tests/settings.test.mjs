// Settings in the web UI: a save sends only what the seller changed, a
// refused save shows the program's message and changes nothing, nothing can
// be saved before the settings were read, and the test buttons answer.
//
//   VENDARA_BUILD_DIR=/path/to/build node --test settings.test.mjs
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { shot, showView, startShop, toast } from './shop.mjs';

let stack;
let page;

before(async () => {
  // Left logged out (no login by itself on load): the IM test is refused then.
  stack = await startShop({ settings: { comment_msg: '好评！', notice_paid_order: '1', taobao_autologin: '0' } });
  page = await stack.open();
});

after(async () => {
  if (stack) await stack.stop();
});

async function settings() {
  return (await stack.call('getConfig')).LIST;
}

async function loaded() {
  await page.waitForFunction(() => !document.querySelector('#settings-save').disabled);
}

test('saving sends only the changed setting', async () => {
  await showView(page, 'settings');
  await loaded();
  const before = await settings();
  assert.equal(await page.inputValue('#settings-form [name=check_msg_timeout]'), '1');
  assert.ok(await page.isChecked('#settings-form [name=notice_paid_order]'));
  assert.equal(await page.getAttribute('#settings-form [name=check_order_timeout]', 'min'), '1');

  await page.fill('#settings-form [name=check_msg_timeout]', '7');
  await page.click('#settings-save');
  await toast(page, { includes: '已保存 1 项设置' });
  assert.deepEqual(await settings(), { ...before, check_msg_timeout: '7' });

  await page.uncheck('#settings-form [name=notice_paid_order]');
  await page.click('#settings-save');
  await toast(page, { includes: '已保存 1 项设置' });
  assert.deepEqual(await settings(), { ...before, check_msg_timeout: '7', notice_paid_order: '0' });
  await shot(page, 'settings');
});

test('a refused save shows the program\'s message and stores nothing', async () => {
  const before = await settings();
  await page.fill('#settings-form [name=maker_base]', 'ftp://example.com');
  await page.fill('#settings-form [name=comment_msg]', '新的评价');
  await page.click('#settings-save');
  const shown = await toast(page, { error: true });
  const refused = await stack.call('setConfig', null, { maker_base: 'ftp://example.com' });
  assert.equal(refused.SUCCESS, 0);
  assert.equal(shown, refused.MSG);
  assert.equal(await page.textContent('#settings-note'), refused.MSG);
  // In Chinese, naming the setting as the form labels it.
  const label = await page.$eval('#settings-form [name=maker_base]', (input) => input.previousElementSibling.textContent);
  assert.ok(refused.MSG.includes(`“${label}”（maker_base）`), refused.MSG);
  assert.match(refused.MSG, /必须是 http:\/\/ 或 https:\/\/.*未保存任何设置/);
  await shot(page, 'settings-refused');
  assert.deepEqual(await settings(), before);

  await page.fill('#settings-form [name=maker_base]', before.maker_base);
  await page.fill('#settings-form [name=check_order_timeout]', '0');
  await page.click('#settings-save');
  assert.equal(await toast(page, { error: true }),
    '“查单间隔”（check_order_timeout）必须是 1 到 86400 之间的整数（秒）；留空则用默认值。未保存任何设置。');
  await page.fill('#settings-form [name=check_order_timeout]', before.check_order_timeout);
  await page.fill('#settings-form [name=comment_msg]', before.comment_msg);
});

test('every refused value is shown beside its field at once', async () => {
  const before = await settings();
  await page.fill('#settings-form [name=maker_base]', 'ftp://example.com');
  await page.fill('#settings-form [name=check_order_timeout]', '0');
  await page.fill('#settings-form [name=comment_msg]', '新的评价');
  await page.click('#settings-save');
  assert.match(await toast(page, { error: true }), /^2 项设置有误，原因写在各项旁边/);
  const beside = async (name) => page.$eval(`#settings-form [name=${name}]`, (input) => {
    const note = input.parentElement.querySelector('.field-error');
    return note && !note.hidden ? note.textContent : '';
  });
  assert.match(await beside('maker_base'), /必须是 http:\/\/ 或 https:\/\//);
  assert.match(await beside('check_order_timeout'), /必须是 1 到 86400 之间的整数/);
  assert.equal(await beside('comment_msg'), '');
  await shot(page, 'settings-refusals');
  assert.deepEqual(await settings(), before);
  // A save that passes clears the notes.
  await page.fill('#settings-form [name=maker_base]', before.maker_base);
  await page.fill('#settings-form [name=check_order_timeout]', before.check_order_timeout);
  await page.fill('#settings-form [name=comment_msg]', before.comment_msg);
  await page.fill('#settings-form [name=check_msg_timeout]', '8');
  await page.click('#settings-save');
  await toast(page, { includes: '已保存 1 项设置' });
  assert.equal(await beside('maker_base'), '');
  assert.equal(await beside('check_order_timeout'), '');
});

test('nothing can be saved while the settings have not been read', async () => {
  await page.route(/do=getConfig/, (route) => route.abort());
  await page.click('#settings-reload');
  await page.waitForFunction(() => document.querySelector('#settings-state').textContent.includes('读取设置失败'));
  assert.ok(await page.$eval('#settings-save', (b) => b.disabled));
  assert.ok(await page.$eval('#settings-form', (f) => f.hidden));
  await page.unroute(/do=getConfig/);
  await page.click('#settings-reload');
  await loaded();
  assert.equal(await page.inputValue('#settings-form [name=comment_msg]'), '好评！', 'the form shows what is stored');
});

test('the test buttons show what the program answered', async () => {
  // No notice address yet: the program refuses.
  await page.click('#mail-test');
  await toast(page, { error: true });
  await page.fill('#settings-form [name=notice_mailto]', 'seller@example.com');
  await page.selectOption('#settings-form [name=email_send_type]', '1');
  await page.click('#settings-save');
  await toast(page, { includes: '已保存 2 项设置' });
  await page.click('#mail-test');
  assert.match(await toast(page), /测试邮件已加入发送队列/);
  assert.match(stack.sql("select count(*) from msg_queue where type = 1 and \"to\" = 'seller@example.com';"), /^1\s*$/);

  // No IM client can run on this system: the IM test says so, queues nothing.
  await page.fill('#ww-form [name=to]', '买家甲');
  await page.click('#ww-test');
  assert.equal(await toast(page, { error: true }), '这台电脑上不能运行旺旺客户端，旺旺消息发不出去：请给分类选择邮件或站内信。');
  assert.match(stack.sql('select count(*) from msg_queue where type = 2;'), /^0\s*$/);
  assert.deepEqual(page.errors, []);
});

test('an answer that comes after the page gave up is dropped without an error', async () => {
  // The status answer is held back until the page's wait of 50 ms is over,
  // then delivered as the program gave it, with a mark that says it ran
  // (set also when the answer's callback throws).
  let gaveUp;
  const pageGaveUp = new Promise((resolve) => { gaveUp = resolve; });
  await page.route(/do=getStatus/, async (route) => {
    await pageGaveUp;
    const answer = await route.fetch();
    // Bytes, not text: the answer is GBK.
    await route.fulfill({ response: answer, body: Buffer.concat([Buffer.from('try { '), await answer.body(),
      Buffer.from(' } finally { window.lateAnswerRan = true; }')]) });
  });
  const outcome = await page.evaluate(() => window.V.call('getStatus', null, null, 50).then(() => 'answered', (e) => e.message));
  assert.equal(outcome, '本地程序没有响应');
  gaveUp();
  await page.waitForFunction(() => window.lateAnswerRan === true);
  await page.unroute(/do=getStatus/);
  assert.deepEqual(page.errors, []);
});
