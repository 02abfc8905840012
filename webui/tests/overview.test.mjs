// The overview in the web UI: today's figures, the stock with the low
// categories marked, and both charts drawn.
//
//   VENDARA_BUILD_DIR=/path/to/build node --test overview.test.mjs
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { shot, startShop } from './shop.mjs';

let stack;
let page;

before(async () => {
  stack = await startShop({ settings: { notice_store_num: '5' } });
  for (const [name, cards] of [['少量卡', 2], ['充足卡', 8]]) {
    const { id } = await stack.addCategory(name);
    const lines = Array.from({ length: cards }, (_, n) => `${name}-${n} pw${n}`).join('\n');
    assert.equal((await stack.call('item', 'import', { cg_id: id, sep: 'space', lines })).IMPORTED, cards);
  }
  page = await stack.open();
  await stack.login(page);
});

after(async () => {
  if (stack) await stack.stop();
});

// Pixels a chart drew on its canvas.
function drawn(id) {
  return page.evaluate((id) => {
    const canvas = document.getElementById(id);
    if (!window.Chart || !window.Chart.getChart(canvas)) return 0;
    const pixels = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    let count = 0;
    for (let i = 3; i < pixels.length; i += 4) if (pixels[i] !== 0) count++;
    return count;
  }, id);
}

test('the overview shows today, the low stock and both charts', async () => {
  // The shop's paid order is bound to no category: once logged in it ends
  // as not delivered, and counts as failed, never as delivered.
  await page.waitForFunction(() => {
    window.V.views.overview.show();
    return Number(document.querySelector('#ov-failed').textContent) >= 1;
  }, null, { timeout: 30000, polling: 1000 });
  const figures = await stack.call('getOverview');
  assert.equal(figures.TODAY.DELIVERED, 0);
  assert.equal(await page.textContent('#ov-delivered'), String(figures.TODAY.DELIVERED));
  assert.equal(await page.textContent('#ov-failed'), String(figures.TODAY.FAILED));
  assert.equal(await page.textContent('#ov-running'), '运行中');

  const rows = await page.$$eval('#stock-list tbody tr', (list) => list.map((r) => [r.children[0].textContent, r.className]));
  assert.deepEqual(rows.sort(), [['充足卡', ''], ['少量卡', 'low']]);

  assert.ok(await drawn('chart-days') > 1000, 'the deliveries chart is drawn');
  assert.ok(await drawn('chart-stock') > 1000, 'the stock chart is drawn');
  const bars = await page.evaluate(() => window.Chart.getChart(document.getElementById('chart-days')).data.labels.length);
  assert.equal(bars, 30);
  await shot(page, 'overview');
  assert.deepEqual(page.errors, []);
});
