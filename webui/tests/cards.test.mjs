// Cards in the web UI: a bulk import of 1,000 lines with 10 duplicates (5
// repeated in the batch, 5 already in another category's stock) reports
// what it skipped and leaves the counters right; then search, edit, delete
// with confirmation, and the CSV export of the unsent cards.
//
//   VENDARA_BUILD_DIR=/path/to/build node --test cards.test.mjs
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { confirm, shot, showView, startShop, toast } from './shop.mjs';

let stack;
let page;
let target;
let splitTarget;

const pad = (n) => String(n).padStart(4, '0');

const category = (name) => stack.addCategory(name,
  { tpl: { cardTpl: '{数据1} {数据2}', goodsTpl: '{卡密内容}' }, ext: { ww: 1 } });

before(async () => {
  stack = await startShop();
  const other = await category('旧库存');
  for (let n = 1; n <= 5; n++) {
    // Cards 0101..0105 are already in stock elsewhere.
    assert.equal((await stack.call('item', 'add', { cg_id: other.id, data1: `CARD-${pad(100 + n)}`,
      data2: `PW-${pad(100 + n)}`, data3: '', send_order_id: '' })).SUCCESS, 1);
  }
  target = await category('游戏点卡');
  splitTarget = await category('拆分');
  page = await stack.open();
});

after(async () => {
  if (stack) await stack.stop();
});

test('a bulk import skips the duplicates and reports them by line', async () => {
  const lines = [];
  for (let n = 1; n <= 995; n++) lines.push(`CARD-${pad(n)}----PW-${pad(n)}----备注${n}----尾`);
  for (let n = 1; n <= 5; n++) lines.push(`CARD-${pad(n * 7)}----PW-${pad(n * 7)}`);
  lines.splice(500, 0, '');  // an empty line is no card and keeps its number
  await showView(page, 'cards');
  await page.selectOption('#card-category', String(target.id));
  await page.selectOption('#import-sep', 'dash4');
  await page.fill('#import-text', lines.join('\n'));
  assert.match(await page.textContent('#import-summary'), /共 1000 行卡密/);
  const first = await page.$$eval('#import-preview tbody tr:first-child td', (cells) => cells.map((c) => c.textContent));
  assert.deepEqual(first, ['1', 'CARD-0001', 'PW-0001', '备注1----尾']);

  await page.click('#import-go');
  await page.waitForSelector('#import-report:not([hidden])', { timeout: 60000 });
  assert.match(await page.textContent('#import-result'), /^已导入 990 张，跳过 10 张（批次 \d+）。$/);
  const skipped = await page.$$eval('#import-skipped tbody tr', (rows) =>
    rows.map((r) => [0, 1, 3].map((i) => r.children[i].textContent)));
  const expected = [];
  for (let n = 101; n <= 105; n++) expected.push([String(n), `CARD-${pad(n)}`, '库存中已有相同的卡密']);
  // The paste goes in two parts; a repeat of the first part's line still
  // names that line.
  for (let n = 1; n <= 5; n++) expected.push([String(996 + n), `CARD-${pad(n * 7)}`, `与第 ${n * 7} 行重复`]);
  assert.deepEqual(skipped.sort((a, b) => a[0] - b[0]), expected);

  const stored = (await stack.call('category', 'lst')).LIST.find((c) => c.id === target.id);
  assert.equal(stored.store_num, 990);
  assert.equal(stored.store_total_num, 990);
  await page.waitForFunction((id) => document.querySelector(`#card-category option[value="${id}"]`)
    .textContent.includes('未发 990 / 共 990'), target.id);
  await shot(page, 'cards');
});

test('the search also finds a card by its password or extra text', async () => {
  for (const [q, number] of [['PW-0321', 'CARD-0321'], ['备注654----尾', 'CARD-0654'], ['没有这段文字', null]]) {
    await page.fill('#card-search', q);
    await page.click('#card-search-go');
    if (number) {
      await page.waitForFunction((number) => {
        const rows = document.querySelectorAll('#card-list tbody tr');
        return rows.length === 1 && rows[0].textContent.includes(number);
      }, number);
    } else {
      const found = (await stack.call('item', 'search', { q, cg_id: target.id })).LIST;
      assert.equal(found, null, 'a text no field holds finds nothing');
    }
  }
});

test('a card is found, edited and deleted after confirmation', async () => {
  await page.fill('#card-search', 'CARD-0500');
  await page.click('#card-search-go');
  await page.waitForFunction(() => document.querySelectorAll('#card-list tbody tr').length === 1);
  const row = '#card-list tbody tr';
  assert.match(await page.textContent(row), /CARD-0500PW-0500备注500----尾/);

  await page.click(`${row} button:text("修改")`);
  await page.fill('#card-form [name=data2]', 'PW-NEW');
  await page.click('#card-save');
  await toast(page, { includes: '卡密已修改' });
  const found = (await stack.call('item', 'search', { q: 'CARD-0500', cg_id: target.id })).LIST;
  assert.deepEqual(found.map((c) => [c.data1, c.data2, c.data3, c.send_order_id]),
    [['CARD-0500', 'PW-NEW', '备注500----尾', '']]);

  await page.waitForFunction(() => document.querySelector('#card-list tbody tr').textContent.includes('PW-NEW'));
  await page.click(`${row} button:text("删除")`);
  await page.click('#confirm-cancel');
  await page.click(`${row} button:text("删除")`);
  assert.match(await confirm(page), /CARD-0500/);
  await toast(page, { includes: '卡密已删除' });
  assert.equal((await stack.call('item', 'search', { q: 'CARD-0500', cg_id: target.id })).LIST, null);
  assert.equal((await stack.call('category', 'lst')).LIST.find((c) => c.id === target.id).store_num, 989);
});

test('the unsent cards download as CSV', async () => {
  const [download] = await Promise.all([page.waitForEvent('download'), page.click('#card-export')]);
  const csv = fs.readFileSync(await download.path(), 'utf8').replace(/^\ufeff/, '');
  const rows = csv.split(/\r\n/).filter((line) => line !== '');
  assert.equal(rows[0], 'data1,data2,data3');
  assert.equal(rows.length, 1 + 989);
  assert.ok(rows.includes('CARD-0001,PW-0001,备注1----尾'));
  assert.ok(!csv.includes('CARD-0500'));
  assert.deepEqual(page.errors, []);
});

test('the import preview splits each line exactly as the program stores it', async () => {
  const split = splitTarget;
  await page.selectOption('#card-category', String(split.id));
  await page.selectOption('#import-sep', 'comma');
  const lines = ['SPLIT-1,,PW-1, 附加 ,尾', ' SPLIT-2 ,\tPW-2', 'SPLIT-3'];
  // The file picker is a button of our own words over the browser's input.
  assert.equal(await page.textContent('label.file-pick .file-button'), '选择文件…');
  assert.equal(await page.$eval('#import-file', (input) => getComputedStyle(input).opacity), '0');
  await page.setInputFiles('#import-file', { name: '卡密.txt', mimeType: 'text/plain', buffer: Buffer.from('A B\n') });
  await page.waitForFunction(() => document.querySelector('#import-text').value === 'A B\n');
  assert.equal(await page.textContent('#import-file-name'), '卡密.txt');
  await page.fill('#import-text', lines.join('\n'));
  const preview = await page.$$eval('#import-preview tbody tr', (rows) =>
    rows.map((r) => Array.from(r.children).slice(1, 4).map((c) => c.textContent)));
  await page.click('#import-go');
  await page.waitForFunction(() => /已导入 3 张/.test(document.querySelector('#import-result').textContent));
  const stored = (await stack.call('item', 'search', { q: 'SPLIT-', cg_id: split.id, page_num: '10' })).LIST;
  assert.deepEqual(preview, stored.map((c) => [c.data1, c.data2, c.data3]));
  // The comma keeps the empty field in its place.
  assert.deepEqual(preview[0], ['SPLIT-1', '', 'PW-1, 附加 ,尾']);
});

// Shows the cards view on a category made after the page loaded.
async function chooseCategory(c) {
  await showView(page, 'cards');
  await page.evaluate(() => window.V.loadCategories());
  await page.waitForSelector(`#card-category option[value="${c.id}"]`, { state: 'attached' });
  await page.selectOption('#card-category', String(c.id));
}

test('a line GBK cannot store is skipped with its number and the rest imported', async () => {
  const own = await category('表情');
  await chooseCategory(own);
  await page.selectOption('#import-sep', 'comma');
  await page.fill('#import-text', ['EMO-1,,C', 'EMO-2,密码😀', '', '𠀀,x', 'EMO-5,P,附加'].join('\n'));
  await page.click('#import-go');
  await page.waitForSelector('#import-report:not([hidden])');
  assert.match(await page.textContent('#import-result'), /^已导入 2 张，跳过 2 张/);
  const skipped = await page.$$eval('#import-skipped tbody tr', (rows) =>
    rows.map((r) => [r.children[0].textContent, r.children[1].textContent, r.children[3].textContent]));
  assert.deepEqual(skipped.map((s) => s.slice(0, 2)), [['2', 'EMO-2'], ['4', '']]);
  for (const s of skipped) assert.match(s[2], /GBK 无法保存的字符/);
  const stored = (await stack.call('item', 'search', { q: 'EMO-', cg_id: own.id, page_num: '10' })).LIST;
  assert.deepEqual(stored.map((c) => [c.data1, c.data2, c.data3]), [['EMO-1', '', 'C'], ['EMO-5', 'P', '附加']]);
  await shot(page, 'cards-import-gbk');
});

test('more lines than the cap are refused before anything is sent', async () => {
  const own = await category('上限');
  await chooseCategory(own);
  await page.selectOption('#import-sep', 'space');
  const lines = [];
  for (let n = 0; n <= 100000; n++) lines.push(`C${n} P`);
  await page.$eval('#import-text', (area, text) => { area.value = text; area.dispatchEvent(new Event('input')); },
    lines.join('\n'));
  assert.match(await page.textContent('#import-summary'), /共 100001 行卡密.*一次最多导入 100000 行/);
  let sent = 0;
  const count = (request) => { if (/do=item/.test(request.url()) && /action=import/.test(request.url())) sent++; };
  page.on('request', count);
  await page.click('#import-go');
  await toast(page, { error: true, includes: '一次最多导入 100000 行卡密，这次有 100001 行' });
  page.off('request', count);
  assert.equal(sent, 0);
  assert.equal((await stack.categoryNamed('上限')).store_total_num, 0);
});

test('an import shows its progress, can be cancelled, and its batch undone', async () => {
  const own = await category('批次');
  await chooseCategory(own);
  await page.selectOption('#import-sep', 'space');
  const lines = [];
  for (let n = 0; n < 12000; n++) lines.push(`BATCH-${String(n).padStart(6, '0')} PASSWORD-${n}-ABCDEFGHIJ`);
  await page.$eval('#import-text', (area, text) => { area.value = text; area.dispatchEvent(new Event('input')); },
    lines.join('\n'));
  // The second part waits until the seller has pressed cancel.
  let parts = 0;
  let release;
  const cancelled = new Promise((resolve) => { release = resolve; });
  await page.route(/do=item.*action=import/, async (route) => {
    parts++;
    if (parts === 2) await cancelled;
    await route.continue();
  });
  await page.click('#import-go');
  await page.waitForFunction(() => /已发送 1 \/ \d+ 部分/.test(document.querySelector('#import-progress-text').textContent));
  const total = Number((await page.textContent('#import-progress-text')).match(/\/ (\d+) 部分/)[1]);
  assert.ok(total >= 4, `the paste goes in ${total} parts`);
  assert.equal(await page.isVisible('#import-cancel'), true);
  await shot(page, 'cards-import-progress');
  await page.click('#import-cancel');
  release();
  await page.waitForSelector('#import-report:not([hidden])');
  await page.unroute(/do=item.*action=import/);
  assert.equal(parts, 2, 'no part is sent after the cancel');
  const result = await page.textContent('#import-result');
  assert.match(result, new RegExp(`^导入已取消：共 ${total} 部分，已发送 2 部分，其余未导入。已导入 (\\d+) 张`));
  const imported = Number(result.match(/已导入 (\d+) 张/)[1]);
  assert.equal((await stack.categoryNamed('批次')).store_total_num, imported);
  assert.equal(await page.isVisible('#import-cancel'), false);
  await shot(page, 'cards-import-cancelled');

  // One card of the batch is sold meanwhile: it stays, the rest goes.
  stack.sql(`update items set send_order_id='已发货：订单号：1' where data1='BATCH-000000';`);
  await page.click('#import-undo');
  assert.match(await confirm(page), /删除批次 \d+ 导入的全部未发货卡密/);
  await toast(page, { includes: `已删除这批的 ${imported - 1} 张卡密，1 张已发货或发货中，保留` });
  const left = (await stack.call('item', 'search', { q: 'BATCH-', cg_id: own.id, page_num: '10' }));
  assert.deepEqual(left.LIST.map((c) => c.data1), ['BATCH-000000']);
  assert.equal(await page.isVisible('#import-undo'), false);
  assert.deepEqual(page.errors, []);
});
