// Categories in the web UI: a category made with the template editor (its
// insert buttons, channels and switch) delivers exactly the text its preview
// showed, and a refused write shows the program's own message.
//
//   VENDARA_BUILD_DIR=/path/to/build node --test categories.test.mjs
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { confirm, shot, showView, startShop, toast } from './shop.mjs';

const itemId = '16800000001';
let stack;
let page;

before(async () => {
  stack = await startShop();
  page = await stack.open();
  await stack.login(page);
});

after(async () => {
  if (stack) await stack.stop();
});

test('the preview shows the text the delivery sends', async () => {
  await showView(page, 'categories');
  await page.click('#category-new');
  await page.fill('#category-form [name=name]', '话费卡');
  // The card text built with the insert buttons at the cursor.
  await page.fill('#category-form [name=cardTpl]', '');
  await page.click('#category-form [name=cardTpl]');
  await page.keyboard.type('卡号 ');
  await page.click('button.insert[data-text="{数据1}"]');
  await page.keyboard.type(' 密码 ');
  await page.click('button.insert[data-text="{数据2}"]');
  await page.keyboard.press('Enter');
  await page.fill('#category-form [name=goodsTpl]', '您的卡密：');
  await page.click('#category-form [name=goodsTpl]');
  await page.keyboard.press('End');
  await page.click('button.insert[data-text="{卡密内容}"]');
  await page.keyboard.type('感谢惠顾');
  // Text only: no card part, the goods text alone.
  await page.check('#category-form [name=type][value="2"]');
  await page.waitForFunction(() => document.querySelector('#category-preview').textContent
    .endsWith('】的发货信息：您的卡密：{卡密内容}感谢惠顾'), null, { timeout: 10000 });
  assert.ok(await page.$eval('#card-tpl-box', (box) => box.hidden));
  assert.match(await page.textContent('#category-warn'), /\{卡密内容\} 会原样发给买家/);
  await page.check('#category-form [name=type][value="1"]');
  await page.check('#category-form [name=email]');
  await page.uncheck('#category-form [name=web]');
  // The buyer mail's own subject, with the order number put in.
  assert.equal(await page.getAttribute('#category-form [name=mailSubject]', 'placeholder'),
    '【软件自动发货】请查收订单：{订单号}的发货信息');
  await page.fill('#category-form [name=mailSubject]', '您的话费卡 {订单号} 已发货');
  await page.click('#category-save');
  await toast(page, { includes: '分类已保存' });

  const saved = await stack.categoryNamed('话费卡');
  assert.ok(saved, 'the category is stored');
  assert.equal(saved.type, 1, '卡密 is type 1, as the delivery reads it');
  assert.equal(saved.flg, 1);
  assert.deepEqual(JSON.parse(saved.tpl), { cardTpl: '卡号 {数据1} 密码 {数据2}\n', goodsTpl: '您的卡密：{卡密内容}感谢惠顾',
    mailSubject: '您的话费卡 {订单号} 已发货' });
  // No IM client can run on this system: a new category starts without 旺旺.
  assert.deepEqual(JSON.parse(saved.ext), { ww: 0, email: 1, web: 0, limit_number: 0 });

  // Three cards and the binding, through the page.
  await showView(page, 'cards');
  await page.selectOption('#card-category', String(saved.id));
  for (const [number, secret] of [['CARD-A', 'PW-A'], ['CARD-B', 'PW-B'], ['CARD-C', 'PW-C']]) {
    await page.fill('#card-form [name=data1]', number);
    await page.fill('#card-form [name=data2]', secret);
    await page.click('#card-save');
    await toast(page, { includes: '卡密已添加' });
  }
  await showView(page, 'goods');
  const select = `#goods-list tr[data-item="${itemId}"] select`;
  await page.waitForSelector(select, { timeout: 30000 });
  await page.selectOption(select, String(saved.id));
  await toast(page, { includes: '已绑定' });

  // The preview of the stored category uses its next two cards and the
  // bound goods' title.
  await showView(page, 'categories');
  await page.click(`#category-list tr[data-id="${saved.id}"]`);
  await page.waitForFunction(() => document.querySelector('#category-preview').textContent.includes('CARD-B'), null,
    { timeout: 10000 });
  const preview = await page.textContent('#category-preview');
  assert.ok(preview.startsWith('【移动话费充值卡100元 卡密自动发货【淺東】】的发货信息：'), preview);
  await shot(page, 'categories');

  // A buyer orders two: the delivery text is the preview.
  const placed = await stack.simPost('orders', { buyer: '买家乙', email: 'b@example.com', lines: [{ item_id: itemId, num: 2 }] });
  const orderId = placed.order.order_id;
  await showView(page, 'orders');
  const row = `#order-list tr[data-order="${orderId}"]`;
  await page.waitForFunction((row) => {
    document.querySelector('#order-reload').click();
    const found = document.querySelector(row);
    return found && found.textContent.includes('已发货');
  }, row, { timeout: 30000, polling: 1000 });
  const order = ((await stack.call('order', 'lst', { group: 'delivered', page_num: 50 })).LIST || [])
    .find((o) => o.order_id === orderId);
  assert.equal(order.text_msg, preview + '\r\n');
  assert.equal(await page.textContent(`${row} .text`), order.text_msg);
  // The buyer's mail waits with the category's subject.
  assert.equal(stack.sql(`select subject from msg_queue where type=1 and order_id='${orderId}';`).trim(),
    `您的话费卡 ${orderId} 已发货`);
});

// This system cannot run the IM client: new categories send by e-mail, one
// that only sends by IM is flagged, and the queue view shows the IM
// messages that cannot leave, with retry and delete.
test('where IM cannot leave the computer, the page says so and the queue can be cleared', async () => {
  await showView(page, 'categories');
  await page.click('#category-new');
  assert.equal(await page.isChecked('#category-form [name=ww]'), false);
  assert.equal(await page.isChecked('#category-form [name=email]'), true);
  await page.fill('#category-form [name=name]', '只发旺旺');
  await page.check('#category-form [name=ww]');
  await page.uncheck('#category-form [name=email]');
  await page.uncheck('#category-form [name=web]');
  assert.match(await page.textContent('#category-warn'), /只选了旺旺的分类，买家收不到发货内容/);
  await page.click('#category-save');
  await toast(page, { includes: '分类已保存' });
  const saved = await stack.categoryNamed('只发旺旺');
  await page.waitForSelector(`#category-list tr[data-id="${saved.id}"] .warn-mark`);
  await page.waitForFunction(() => document.querySelector('#preview-source').textContent.includes('示例卡密'));
  await shot(page, 'categories-im-only');

  stack.sql("insert into msg_queue (\"to\", \"from\", msg, type, error_times, last_error, create_time, order_id) " +
    "values ('买家丙', 'shop', '卡密', 2, 4, '旺旺未能发送，稍后重试', strftime('%s','now'), '990001');");
  const id = stack.sql("select id from msg_queue where \"to\" = '买家丙';").trim();
  await showView(page, 'queue');
  const row = `#queue-list tr[data-id="${id}"]`;
  await page.waitForSelector(row);
  const cells = await page.$$eval(`${row} td`, (tds) => tds.map((td) => td.textContent));
  assert.equal(cells[1], '旺旺');
  assert.equal(cells[2], '买家丙');
  assert.equal(cells[3], '990001');
  assert.ok(Number(cells[4]) >= 4, cells[4]);
  assert.equal(cells[5], '旺旺未能发送，稍后重试');
  assert.match(await page.textContent('#queue-im-warn'), /这台电脑上不能运行旺旺客户端/);
  await shot(page, 'queue');

  await page.click(`${row} button:text("重试")`);
  await toast(page, { includes: '已重新计数' });
  // A dispatch pass may have tried it once since.
  assert.ok(Number(stack.sql(`select error_times from msg_queue where id = ${id};`)) < 4);

  await page.click(`${row} button:text("删除")`);
  assert.match(await confirm(page), /删除这条发给“买家丙”的旺旺消息/);
  await toast(page, { includes: '消息已删除' });
  await page.waitForSelector(row, { state: 'detached' });
  assert.match(stack.sql(`select count(*) from msg_queue where id = ${id};`), /^0\s*$/);
  assert.deepEqual(page.errors, []);
});

test('a negative purchase limit is refused with a message', async () => {
  await showView(page, 'categories');
  await page.click('#category-new');
  await page.fill('#category-form [name=name]', '负数限购');
  await page.fill('#category-form [name=limit_number]', '-3');
  await page.click('#category-save');
  assert.match(await toast(page, { error: true }), /限购数量不能是负数/);
  assert.equal(await stack.categoryNamed('负数限购'), undefined);
});

test('deleting asks first, names the cards, and shows why the program refused', async () => {
  const category = await stack.categoryNamed('话费卡');
  assert.equal(category.store_num, 1, 'one card is left after the order');
  await showView(page, 'categories');
  const remove = `#category-list tr[data-id="${category.id}"] button`;

  await page.click(remove);
  await page.waitForSelector('#confirm:not([hidden])');
  assert.match(await page.textContent('#confirm-text'), /话费卡.*3 张卡密（未发 1 张）/);
  await page.click('#confirm-cancel');
  assert.ok(await stack.categoryNamed('话费卡'), 'cancel deletes nothing');

  await page.click(remove);
  await confirm(page);
  const shown = await toast(page, { error: true });
  const refused = await stack.call('category', 'del', { id: category.id });
  assert.equal(refused.SUCCESS, 0);
  assert.equal(shown, refused.MSG);
  assert.ok(await stack.categoryNamed('话费卡'));
  assert.deepEqual(page.errors, []);
});
