// Goods in the web UI: the refresh shows the pages it has read while the
// marketplace is slow, and each row shows and changes its bound category by
// name.
//
//   VENDARA_BUILD_DIR=/path/to/build node --test goods.test.mjs
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { shot, showView, startShop, toast } from './shop.mjs';

let stack;
let page;
let first;
let second;

before(async () => {
  stack = await startShop();
  first = await stack.addCategory('点卡');
  second = await stack.addCategory('激活码');
  page = await stack.open();
  await stack.login(page);
});

after(async () => {
  if (stack) await stack.stop();
});

test('the refresh shows its progress and ends with the list', async () => {
  await showView(page, 'goods');
  await page.waitForFunction(() => document.querySelectorAll('#goods-list tbody tr').length === 6, null, { timeout: 30000 });

  // Each page of the shop now takes a while: the progress shows pages read.
  await stack.simPost('faults', { slow_ms: 700 });
  await page.click('#goods-refresh');
  await page.waitForFunction(() => /已读 [1-9]\d* 页/.test(document.querySelector('#goods-progress').textContent), null,
    { timeout: 30000 });
  assert.ok(await page.$eval('#goods-refresh', (b) => b.disabled), 'busy while the refresh runs');
  const status = await stack.call('getStatus');
  assert.equal(status.REFRESH.RUNNING, true);
  await toast(page, { includes: '已刷新，共 6 件宝贝' });
  await stack.simPost('faults', { slow_ms: 0 });
  assert.equal(await page.$$eval('#goods-list tbody tr', (rows) => rows.length), 6);
});

test('a goods row is bound, moved and unbound by category name', async () => {
  const item = '16800000002';
  const select = `#goods-list tr[data-item="${item}"] select`;
  const names = await page.$$eval(`${select} option`, (options) => options.map((o) => o.textContent));
  assert.deepEqual(names, ['未绑定', '点卡', '激活码']);

  await page.selectOption(select, String(first.id));
  await toast(page, { includes: '已绑定到“点卡”' });
  assert.equal((await stack.call('category', 'bindAll')).BINDS[item], first.id);

  await page.selectOption(select, String(second.id));
  await toast(page, { includes: '已绑定到“激活码”' });
  assert.deepEqual((await stack.call('category', 'bindLst', { cg_id: second.id })).ITEM_LIST, [item]);
  assert.equal((await stack.call('category', 'bindLst', { cg_id: first.id })).ITEM_LIST, null);

  // A fresh page shows the binding by name.
  const again = await stack.open();
  await showView(again, 'goods');
  await again.waitForSelector(select, { timeout: 30000 });
  assert.equal(await again.$eval(select, (s) => s.selectedOptions[0].textContent), '激活码');
  await shot(again, 'goods');
  await again.close();

  await page.selectOption(select, '');
  await toast(page, { includes: '已解除绑定' });
  assert.equal((await stack.call('category', 'bindAll')).BINDS[item], undefined);
  assert.deepEqual(page.errors, []);
});
