// The marketplace login from the web UI, in Debian's Chromium.
//
// Starts maker-service, market-sim (not logged in) and vendara with the
// seller's marketplace account stored for automatic login. The web UI,
// opened with the address the program printed, opens the login view: the
// program's rewritten login page in a frame, with jQuery, jQuery UI and the
// maker's login.js loaded through the program. A wrong stored password is
// sent once, refused, and the reading of the refusal is shown beside the
// frame; with the right one login.js logs in by itself, the view closes and
// the daemon runs for that account.
//
//   VENDARA_BUILD_DIR=/path/to/build node --test login.test.mjs
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { account, password, startShop } from './shop.mjs';

let stack;

before(async () => {
  // A wrong stored password, and the daemon's own pace.
  stack = await startShop({ settings: { taobao_pwd: 'not-the-password', check_order_timeout: undefined,
    check_msg_timeout: undefined } });
});

after(async () => {
  if (stack) await stack.stop();
});

test('the login view logs in with the stored account, after showing why a wrong one failed', async () => {
  // Every login form the browser sends to the program, from the start.
  const sent = [];
  stack.context.on('request', (request) => {
    if (request.method() === 'POST' && /[?&]do=login(&|$)/.test(request.url())) sent.push(request.url());
  });
  // taobao_autologin is "1": the page opens the login view by itself.
  const page = await stack.open({ settle: false });
  await page.waitForFunction(() => document.querySelector('#status').textContent.includes('未登录淘宝'), null,
    { timeout: 30000 });
  await page.waitForFunction(() => window.V.autoLogin === 'open');

  // A wrong stored password: login.js sends it once, the marketplace refuses,
  // and the view says why; the page is not sent again and again.
  await page.waitForFunction(() => {
    const message = document.querySelector('#login-msg');
    return !message.hidden && message.textContent.includes('密码错误');
  }, null, { timeout: 30000 });
  const frame = await (await page.$('#login-frame')).contentFrame();
  assert.equal(new URL(frame.url()).port, String(stack.run.port), 'the frame shows the program\'s own page');
  const loaded = await frame.evaluate(() => ({
    jquery: window.jQuery && window.jQuery.fn.jquery,
    ui: Boolean(window.jQuery && window.jQuery.ui && window.jQuery.ui.version),
    info: window.loginInfo,
    user: document.getElementsByName('TPL_username')[0].value,
    longLogin: document.getElementsByName('longLogin')[0].checked,
    action: document.forms[0].action,
  }));
  assert.equal(loaded.jquery, '1.8.2');
  assert.ok(loaded.ui, 'jQuery UI came through the script proxy');
  assert.deepEqual(loaded.info, { auto: 1, pwd: 'not-the-password', user: account });
  assert.equal(loaded.user, account);
  assert.ok(loaded.longLogin);
  assert.match(loaded.action, new RegExp(`^http://127\\.0\\.0\\.1:${stack.run.port}/\\?do=login&token=${stack.run.key}$`));
  // login.js has run on the refused page once it has filled the stored
  // password in again; had it sent the form, the page would be gone and a
  // second form on its way.
  await frame.waitForLoadState('load');
  await frame.waitForFunction(() => document.getElementsByName('TPL_password')[0].value === 'not-the-password');
  assert.equal(await frame.evaluate(() => document.readyState), 'complete', 'the refused page stays');
  assert.equal(sent.length, 1, 'the wrong password was sent once');
  const refused = await stack.call('getStatus');
  assert.equal(refused.RUNNING, false);
  assert.equal(refused.LOGIN_MSG.MSG, '密码错误', 'still the first refusal: no code was asked for');
  assert.equal((await stack.simGet('state')).sessions, 0);

  // The right password: one click, and login.js does the rest.
  assert.equal((await stack.call('setConfig', null, { taobao_pwd: password })).SUCCESS, 1);
  await page.click('#login-close');
  await page.click('#login-open');
  await page.waitForFunction(() => document.querySelector('#login-view').hidden, null, { timeout: 30000 });
  await page.waitForFunction(() => document.querySelector('#status').textContent.includes('自动发货运行中'), null,
    { timeout: 30000 });
  assert.ok((await page.textContent('#status')).includes(`帐号 ${account}`));
  const status = await stack.call('getStatus');
  assert.equal(status.RUNNING, true);
  assert.equal(status.ACCOUNT, account);
  assert.equal(status.LOGIN_MSG.SUCCESS, 1);
  assert.equal((await stack.simGet('state')).sessions, 1);
  await page.close();
});
