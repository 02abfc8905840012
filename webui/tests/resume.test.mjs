// A shop that resumes by itself: with taobao_autologin "1" the page opens
// the login view when it loads and the stored account logs in without a
// click; while the daemon is stopped a red banner says so on every view; and
// a tab left open from before the program restarted says it is out of date.
//
//   VENDARA_BUILD_DIR=/path/to/build node --test resume.test.mjs
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { startProgram, stop } from './harness.mjs';
import { shot, showView, startShop } from './shop.mjs';

let stack;
let page;

before(async () => {
  stack = await startShop();
});

after(async () => {
  if (stack) await stack.stop();
});

test('the page logs in by itself when it loads, without a click', async () => {
  let clicked = false;
  page = await stack.open({ settle: false });
  await page.exposeFunction('noteLoginClick', () => { clicked = true; });
  await page.evaluate(() => document.querySelector('#login-open').addEventListener('click', () => window.noteLoginClick()));
  await page.waitForFunction(() => window.V.autoLogin === 'closed', null, { timeout: 30000 });
  await page.waitForFunction(() => document.querySelector('#status').textContent.includes('自动发货运行中'), null,
    { timeout: 30000 });
  assert.equal(clicked, false);
  const status = await stack.call('getStatus');
  assert.equal(status.RUNNING, true);
  assert.equal(status.LOGIN_MSG.SUCCESS, 1);
  assert.equal((await stack.simGet('state')).sessions, 1);
  assert.ok(await page.$eval('#stopped-banner', (banner) => banner.hidden), 'no banner while it runs');
});

test('a stopped daemon shows a red banner on every view', async () => {
  // The marketplace ends the session: the next tick sees the login box and
  // stops the daemon.
  await stack.simPost('logout', {});
  await page.waitForFunction(() => !document.querySelector('#stopped-banner').hidden, null, { timeout: 30000 });
  for (const view of ['overview', 'cards', 'orders', 'settings']) {
    await showView(page, view);
    assert.equal(await page.isVisible('#stopped-banner'), true, view);
  }
  assert.match(await page.textContent('#stopped-banner'), /^自动发货已停止：淘宝登录已失效，新订单不会自动发货/);
  assert.equal(await page.$eval('#stopped-banner', (b) => getComputedStyle(b).backgroundColor), 'rgb(192, 57, 43)');
  await shot(page, 'stopped-banner');
});

test('a tab from before a restart says the page is out of date', async () => {
  await showView(page, 'overview');
  await stop(stack.program);
  stack.run = await startProgram(stack.work);
  stack.program = stack.run.child;
  await page.waitForFunction(() => document.querySelector('#status').textContent.includes('页面已过期'), null,
    { timeout: 30000 });
  const text = await page.textContent('#status');
  assert.match(text, /请从 Vendara 程序重新打开本页面/);
  assert.ok(!text.includes('无法连接本地程序'), text);
  await shot(page, 'out-of-date');
  // The page opened anew from the program works, and logs in by itself.
  const fresh = await stack.open();
  assert.equal((await stack.call('getStatus')).RUNNING, true);
  await fresh.close();
  await page.close();
});
