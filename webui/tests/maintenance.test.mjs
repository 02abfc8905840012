// The 维护 view: a backup made from the page and restored from it after
// confirmation; reserved and sent cards greyed in the cards view; a second
// program in the same folder refused; and a database damaged while the
// program was closed giving safe mode, whose banner restores the newest
// good copy.
//
//   VENDARA_BUILD_DIR=/path/to/build node --test maintenance.test.mjs
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { build, startProgram, stop } from './harness.mjs';
import { confirm, shot, showView, startShop, toast } from './shop.mjs';

let stack;
let page;
let category;

const cardCount = async () => Number(stack.sql('select count(*) from items;').trim());

before(async () => {
  stack = await startShop();
  category = await stack.addCategory('维护测试');
  for (const [data1, sent] of [['KEEP-1', ''], ['KEEP-2', ''], ['SENT-1', '已发货：订单号：1001'], ['HELD-1', '']]) {
    assert.equal((await stack.call('item', 'add', { cg_id: category.id, data1, data2: 'pw', data3: '',
      send_order_id: sent })).SUCCESS, 1);
  }
  // A card reserved by a delivery in flight: only the delivery writes that mark.
  stack.sql(`update items set send_order_id='发货中：订单号：1002' where data1='HELD-1';`);
  page = await stack.open();
});

after(async () => {
  if (stack) await stack.stop();
});

test('reserved and sent cards are greyed and cannot be edited', async () => {
  await showView(page, 'cards');
  await page.selectOption('#card-category', String(category.id));
  await page.waitForFunction(() => document.querySelectorAll('#card-list tbody tr').length === 4);
  const rows = await page.$$eval('#card-list tbody tr', (trs) => trs.map((tr) => ({
    text: tr.children[2].textContent,
    taken: tr.classList.contains('taken'),
    // The edit and delete buttons; a sent card's mark is a link to its order.
    buttons: Array.from(tr.querySelectorAll('.nowrap button')).map((b) => b.disabled),
    linked: tr.querySelector('button.order-link') !== null,
  })));
  assert.deepEqual(rows, [
    { text: 'KEEP-1', taken: false, buttons: [false, false], linked: false },
    { text: 'KEEP-2', taken: false, buttons: [false, false], linked: false },
    { text: 'SENT-1', taken: true, buttons: [true, true], linked: true },
    { text: 'HELD-1', taken: true, buttons: [true, true], linked: true },
  ]);
});

test('a backup made in the 维护 view is restored from it after confirmation', async () => {
  await showView(page, 'maintenance');
  await page.waitForSelector('#backup-empty:not([hidden])');
  await page.click('#backup-now');
  assert.match(await toast(page), /已备份为 vendara2012-\d{8}-\d{6}\.db/);
  await page.waitForFunction(() => document.querySelectorAll('#backup-list tbody tr').length === 1);
  assert.match(await page.textContent('#backup-list tbody tr'), /2 \/ 4/);
  assert.match(await page.textContent('#backup-where'), /backup/);
  await shot(page, 'maintenance');

  assert.equal((await stack.call('item', 'add', { cg_id: category.id, data1: 'LATER', data2: '', data3: '',
    send_order_id: '' })).SUCCESS, 1);
  assert.equal(await cardCount(), 5);

  await page.click('#backup-list tbody tr button:text("恢复")');
  assert.match(await confirm(page), /当前的数据库会先另存为一个新备份/);
  assert.match(await toast(page), /已从备份 .* 恢复；恢复前的数据库已备份为/);
  await page.waitForFunction(() => document.querySelectorAll('#backup-list tbody tr').length === 2);
  assert.equal(await cardCount(), 4);
  assert.deepEqual(page.errors, []);
});

test('a second program in the same folder is refused and changes nothing', () => {
  const before = fs.readdirSync(stack.work).sort();
  const second = spawnSync(path.join(build, 'app', 'vendara'), [], { cwd: stack.work, timeout: 20000, encoding: 'utf8',
    env: { ...process.env, PATH: path.join(stack.work, 'bin') } });
  assert.equal(second.status, 4, second.stdout + second.stderr);
  assert.match(second.stdout, new RegExp(`已经有一个 Vendara 在运行（pid \\d+, local server 127\\.0\\.0\\.1:${stack.run.port}）`));
  assert.deepEqual(fs.readdirSync(stack.work).sort(), before);
});

test('a database damaged while the program was closed gives safe mode, and the banner restores it', async () => {
  // Enough cards for pages in the middle of the file, all in the main file.
  stack.sql(`with recursive n(k) as (select 1 union all select k + 1 from n where k < 3000)
    insert into items (cg_id, data1, data2, data3, send_order_id) select ${category.id}, 'BULK-' || k, 'pw', '', '' from n;`);
  await showView(page, 'maintenance');
  await page.click('#backup-now');
  const made = (await toast(page)).match(/vendara2012-\S+\.db/)[0];
  await page.close();
  await stop(stack.program);
  stack.sql('pragma wal_checkpoint(TRUNCATE);');
  const file = path.join(stack.work, 'vendara2012.db');
  const fd = fs.openSync(file, 'r+');
  fs.writeSync(fd, Buffer.alloc(16384, 0x5a), 0, 16384, Math.floor(fs.statSync(file).size / 2));
  fs.closeSync(fd);

  stack.run = await startProgram(stack.work);
  stack.program = stack.run.child;
  const kept = fs.readdirSync(stack.work).filter((name) => /^vendara2012\.db\.damaged-\d{8}-\d{6}$/.test(name));
  assert.equal(kept.length, 1, 'the damaged file is kept');
  page = await stack.open();
  await page.waitForSelector('#safe-banner:not([hidden])');
  const banner = await page.textContent('#safe-text');
  assert.match(banner, /数据库文件已损坏/);
  assert.ok(banner.includes(kept[0]) && banner.includes(made), banner);
  const status = await stack.call('getStatus');
  assert.equal(status.DB_DAMAGED, true);
  assert.equal(status.RUNNING, false);
  await shot(page, 'safe-mode');

  await page.click('#safe-restore');
  assert.match(await confirm(page), new RegExp(made.replace(/\./g, '\\.')));
  assert.match(await toast(page), /已从备份/);
  await page.waitForSelector('#safe-banner', { state: 'hidden' });
  assert.equal((await stack.call('getStatus')).DB_DAMAGED, false);
  assert.equal(await cardCount(), 3004);
  assert.deepEqual(page.errors, []);
});
