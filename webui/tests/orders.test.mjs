// Orders in the web UI: orders appear as the daemon reads them, the groups
// filter them, a failed order shows its reason, "重新发货" after
// confirmation delivers it again, and delete asks first. The search finds an
// order by its card, buyer or number within a date range, downloads as CSV,
// and a delivered card in the cards view leads to its order.
//
//   VENDARA_BUILD_DIR=/path/to/build node --test orders.test.mjs
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { confirm, shot, showView, startShop, toast } from './shop.mjs';

const itemId = '16800000003';
let stack;
let page;
let category;
let delivered;  // the order number the first test delivers with card VIP-1

before(async () => {
  stack = await startShop();
  category = await stack.addCategory('会员月卡', { tpl: { cardTpl: '激活码 {数据1}', goodsTpl: '{卡密内容}' } });
  assert.equal((await stack.call('category', 'bind', { cg_id: category.id, item_id: itemId })).SUCCESS, 1);
  page = await stack.open();
  await stack.login(page);
  await showView(page, 'orders');
});

after(async () => {
  if (stack) await stack.stop();
});

async function showGroup(group) {
  await page.click(`#order-groups button[data-group="${group}"]`);
}

// Waits until the list, reloaded each second, holds the order in a state
// whose words include `words`.
async function waitForOrder(orderId, words) {
  await page.waitForFunction(({ orderId, words }) => {
    document.querySelector('#order-reload').click();
    const row = document.querySelector(`#order-list tr[data-order="${orderId}"]`);
    return row && row.querySelector('.state').textContent.includes(words);
  }, { orderId, words }, { timeout: 30000, polling: 1000 });
}

async function storedRow(id) {
  return ((await stack.call('order', 'lst', { page_num: 100 })).LIST || []).find((o) => o.id === id);
}

async function stored(orderId) {
  return ((await stack.call('order', 'lst', { page_num: 100 })).LIST || []).find((o) => o.order_id === orderId);
}

test('a paid order appears; without stock it fails with its reason, and a reset delivers it', async () => {
  const placed = await stack.simPost('orders', { buyer: '买家丙', email: 'c@example.com', lines: [{ item_id: itemId, num: 1 }] });
  const orderId = placed.order.order_id;
  await showGroup('failed');
  await waitForOrder(orderId, '库存不足');
  const row = `#order-list tr[data-order="${orderId}"]`;
  assert.match(await page.textContent(row), /买家丙/);
  assert.match(await page.textContent(row), /网络电视会员月卡 激活码 × 1/);
  await shot(page, 'orders');

  // Stock arrives; the seller sends the order again.
  assert.equal((await stack.call('item', 'add', { cg_id: category.id, data1: 'VIP-1', data2: '', data3: '',
    send_order_id: '' })).SUCCESS, 1);
  await page.click(`${row} button:text("重新发货")`);
  await page.click('#confirm-cancel');
  assert.equal((await stored(orderId)).status, 1001, 'cancel changes nothing');
  await page.click(`${row} button:text("重新发货")`);
  assert.match(await confirm(page), new RegExp(orderId));
  await toast(page, { includes: '订单已重新排队发货' });
  await showGroup('delivered');
  await waitForOrder(orderId, '已发货');
  delivered = orderId;
  assert.equal(await page.textContent(`#order-list tr[data-order="${orderId}"] .text`),
    '【网络电视会员月卡 激活码】的发货信息：激活码 VIP-1\r\n');

  // Its delivery log.
  await page.click(`#order-list tr[data-order="${orderId}"] button:text("日志")`);
  await page.waitForSelector('#order-log-box:not([hidden])');
  assert.ok(await page.$$eval('#order-log tbody tr', (rows) => rows.length) > 0);
});

test('an unbound order says it was not delivered, and a deleted one stays deleted', async () => {
  // The daemon reads the shop's own unbound paid order at one of its ticks;
  // wait for it rather than expect it at once.
  let victim;
  for (const end = Date.now() + 30000; !victim && Date.now() < end;) {
    const list = (await stack.call('order', 'lst', { page_num: 100 })).LIST || [];
    victim = list.find((o) => o.status === 1008);
    if (!victim) await new Promise((resolve) => setTimeout(resolve, 200));
  }
  assert.ok(victim, 'the shop\'s own paid order is unbound');
  assert.notEqual(victim.text_msg, '忽略');
  const deliveredList = (await stack.call('order', 'lst', { group: 'delivered', page_num: 100 })).LIST || [];
  assert.ok(!deliveredList.some((o) => o.id === victim.id), 'never listed as delivered');
  await showGroup('failed');
  const row = `#order-list tr[data-id="${victim.id}"]`;
  await page.waitForSelector(row);
  assert.match(await page.textContent(`${row} .state`), /^未绑定，未发货/);
  assert.match(await page.textContent(`${row} .unbound-warn`), /这个订单没有发货/);
  await shot(page, 'orders-unbound');
  await showGroup('all');
  await page.waitForSelector(row);
  await page.click(`${row} button:text("删除")`);
  await page.click('#confirm-cancel');
  assert.ok(await storedRow(victim.id));
  await page.click(`${row} button:text("删除")`);
  assert.match(await confirm(page), new RegExp(victim.order_id));
  await toast(page, { includes: '订单已删除' });
  await page.waitForSelector(row, { state: 'detached' });
  assert.equal(await storedRow(victim.id), undefined);
  // The marketplace still lists it as paid; ticks come every second, and
  // the order stays away. The heartbeat tells that ticks went by.
  const ticked = async () => (await stack.call('getStatus')).CHECK_TIME;
  const before = await ticked();
  for (const end = Date.now() + 20000; (await ticked()) === before && Date.now() < end;) {
    await new Promise((resolve) => setTimeout(resolve, 300));
  }
  const firstTick = await ticked();
  for (const end = Date.now() + 20000; (await ticked()) === firstTick && Date.now() < end;) {
    await new Promise((resolve) => setTimeout(resolve, 300));
  }
  assert.equal(await stored(victim.order_id), undefined, 'a deleted order does not come back');
  await page.click('#order-deleted-show');
  await page.waitForSelector('#order-deleted-box:not([hidden])');
  const deletedRow = await page.$$eval('#order-deleted tbody tr', (rows) => rows.map((r) => r.children[0].textContent));
  assert.deepEqual(deletedRow, [victim.order_id]);
  await shot(page, 'orders-deleted');
  await page.click('#order-deleted tbody tr button:text("恢复")');
  await toast(page, { includes: `订单 ${victim.order_id} 已恢复` });
  for (const end = Date.now() + 30000; !(await stored(victim.order_id)) && Date.now() < end;) {
    await new Promise((resolve) => setTimeout(resolve, 300));
  }
  assert.ok(await stored(victim.order_id), 'the next tick reads it again');
  await page.click('#order-deleted-close');

  await showGroup('delivering');
  await page.waitForSelector('#order-empty:not([hidden])');
  assert.equal(await page.textContent('#order-empty'), '没有正在发货的订单。');
  assert.deepEqual(page.errors, []);
});

// The rows the list shows, by order number.
async function listed() {
  return page.$$eval('#order-list tbody tr', (rows) => rows.map((r) => r.dataset.order));
}

async function searchFor(q, { from = '', to = '' } = {}) {
  await page.fill('#order-search', q);
  await page.fill('#order-from', from);
  await page.fill('#order-to', to);
  await page.click('#order-search-go');
  await page.waitForFunction(() => !document.querySelector('#order-search-go').disabled);
}

test('the search finds an order by card, buyer or number within dates, and downloads as CSV', async () => {
  assert.ok(delivered, 'the first test delivered an order');
  await showGroup('all');
  const today = await page.evaluate(() => {
    const d = new Date();
    return d.getFullYear() + '-' + String(d.getMonth() + 1).padStart(2, '0') + '-' + String(d.getDate()).padStart(2, '0');
  });
  const tomorrow = await page.evaluate(() => {
    const d = new Date(Date.now() + 86400000);
    return d.getFullYear() + '-' + String(d.getMonth() + 1).padStart(2, '0') + '-' + String(d.getDate()).padStart(2, '0');
  });

  await searchFor('VIP-1');
  assert.deepEqual(await listed(), [delivered], 'found by the card it received');
  await page.click(`#order-list tr[data-order="${delivered}"] button:text("卡密")`);
  await page.waitForSelector('#order-cards-box:not([hidden])');
  assert.deepEqual(await page.$$eval('#order-cards tbody tr td:nth-child(2)', (cells) => cells.map((c) => c.textContent)),
    ['VIP-1']);
  assert.match(await page.textContent('#order-cards tbody'), new RegExp(`已发货：订单号：${delivered}`));
  await shot(page, 'orders-search');

  await searchFor('买家丙', { from: tomorrow });
  assert.deepEqual(await listed(), []);
  assert.equal(await page.textContent('#order-empty'), '没有符合搜索条件的订单。');
  await searchFor('买家丙', { from: today, to: today });
  assert.deepEqual(await listed(), [delivered]);
  await searchFor(delivered.slice(0, 6));
  assert.ok((await listed()).includes(delivered), 'found by the first digits of its number');
  await searchFor('VIP');
  assert.deepEqual(await listed(), [delivered]);
  await page.click(`#order-groups button[data-group="failed"]`);
  await page.waitForSelector('#order-empty:not([hidden])');
  await showGroup('all');
  await page.waitForSelector(`#order-list tr[data-order="${delivered}"]`);

  // The export is the search the list shows.
  await page.fill('#order-search', '买家丙');
  const [download] = await Promise.all([page.waitForEvent('download'), page.click('#order-export')]);
  assert.match(await toast(page), /已导出 1 个订单/);
  const csv = fs.readFileSync(await download.path(), 'utf8').replace(/^\ufeff/, '');
  const lines = csv.split('\r\n');
  assert.equal(lines[0], '时间,订单号,买家,买家邮箱,宝贝,状态,发货卡密');
  assert.equal(lines.length, 3, 'the header, one order and the last line end');
  assert.match(lines[1], new RegExp(`^${today} \\d\\d:\\d\\d:\\d\\d,${delivered},买家丙,c@example.com,网络电视会员月卡 激活码 × 1,已发货,VIP-1$`));
  assert.deepEqual(page.errors, []);
});

test('a delivered card in the cards view leads to its order', async () => {
  await showView(page, 'cards');
  await page.selectOption('#card-category', String(category.id));
  const link = `#card-list button.order-link:text("已发货：订单号：${delivered}")`;
  await page.waitForSelector(link);
  await shot(page, 'cards-order-link');
  await page.click(link);
  await page.waitForSelector('#tab-orders:not([hidden])');
  assert.equal(await page.inputValue('#order-search'), delivered);
  await page.waitForFunction((id) => {
    const rows = document.querySelectorAll('#order-list tbody tr');
    return rows.length === 1 && rows[0].dataset.order === id;
  }, delivered);
  assert.equal(await page.$eval('#order-groups button.active', (b) => b.dataset.group), 'all');
  assert.deepEqual(page.errors, []);
});
