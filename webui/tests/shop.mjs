// A whole shop for the browser tests of the web UI: maker-service (the page),
// market-sim (the marketplace, with its demo shop) and vendara pointed at
// both, in a fresh folder, with Chromium. `stack.login(page)` logs in
// through the page's login view; `stack.call` is the local API as the page
// calls it; `stack.addCategory` adds a category through it; `shot` saves a
// screenshot under the build folder.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { build, freshWork, launchChromium, startAndWaitFor, startMakerService, startProgram, stop } from './harness.mjs';

export const account = 'vendara_demo';
export const password = 'demo1234';
export const screenshots = path.join(build, 'screenshots');

// `settings` are stored before vendara starts; one given as undefined is
// left out.
export async function startShop({ settings = {} } = {}) {
  const stack = { work: freshWork() };
  const service = await startMakerService();
  stack.maker = service.child;
  const started = startAndWaitFor(path.join(build, 'sim', 'market-sim'),
    ['--port', '0', '--account', account, '--password', password], {}, /market-sim listening on (http:\S+)/);
  stack.sim = started.child;
  stack.simBase = (await started.found)[1];

  stack.sql = (statement) => execFileSync('sqlite3', [path.join(stack.work, 'vendara2012.db'), statement],
    { encoding: 'utf8' });
  const values = {
    maker_base: `http://127.0.0.1:${service.port}`, market_base: stack.simBase, taobao_user: account,
    taobao_pwd: password, taobao_autologin: '1', check_order_timeout: '1', check_msg_timeout: '1', ...settings,
  };
  const rows = Object.entries(values).filter(([, v]) => v !== undefined).map(([k, v]) => `('${k}', '${String(v).replace(/'/g, "''")}')`).join(',');
  stack.sql(`insert into sys_config (key, value) values ${rows};`);
  stack.run = await startProgram(stack.work);
  stack.program = stack.run.child;
  stack.context = await launchChromium(['--lang=zh-CN']);

  // A local API action as the page calls it; the JSON of its answer.
  stack.call = async (action, sub, fields) => {
    let url = `http://127.0.0.1:${stack.run.port}/?do=${action}&token=${stack.run.key}`;
    if (sub) url += `&action=${sub}`;
    if (fields) url += '&_postData=' + encodeURIComponent(new URLSearchParams(fields).toString());
    const text = await (await fetch(url)).text();
    return JSON.parse(text.slice(text.indexOf('(') + 1, text.lastIndexOf(')')));
  };
  // The category of that name as the list gives it (undefined when none).
  stack.categoryNamed = async (name) => ((await stack.call('category', 'lst')).LIST || []).find((c) => c.name === name);
  // Adds a card category (tpl and ext as objects, both empty unless given)
  // and returns it as the list gives it.
  stack.addCategory = async (name, { tpl = {}, ext = {} } = {}) => {
    const answer = await stack.call('category', 'add', { name, type: '1', flg: '1',
      tpl: JSON.stringify(tpl), ext: JSON.stringify(ext) });
    assert.equal(answer.SUCCESS, 1, answer.MSG);
    return stack.categoryNamed(name);
  };
  stack.simGet = async (what) => (await fetch(`${stack.simBase}/__sim/${what}`)).json();
  stack.simPost = async (what, body) => (await fetch(`${stack.simBase}/__sim/${what}`,
    { method: 'POST', body: JSON.stringify(body) })).json();

  // A page on the web UI with the errors it raised kept in page.errors.
  // With taobao_autologin "1" the page opens the login view by itself; unless
  // `settle` is false, the page is handed over once that login has ended.
  stack.open = async ({ settle = true } = {}) => {
    const page = await stack.context.newPage();
    page.errors = [];
    page.on('pageerror', (error) => page.errors.push(String(error)));
    await page.setViewportSize({ width: 1280, height: 900 });
    await page.goto(stack.run.uiAddress);
    await page.waitForFunction(() => window.V && window.V.status, null, { timeout: 20000 });
    if (settle) {
      await page.waitForFunction(() => window.V.autoLogin === 'none' || window.V.autoLogin === 'closed', null,
        { timeout: 30000 });
      // The login's own toast is not what the test waits for.
      await page.evaluate(() => { document.querySelector('#toast').hidden = true; });
    }
    return page;
  };

  stack.login = async (page) => {
    if ((await stack.call('getStatus')).RUNNING) {
      // Logged in already when the page opened.
      await page.waitForFunction(() => document.querySelector('#status').textContent.includes('自动发货运行中'), null,
        { timeout: 30000 });
      return;
    }
    await page.click('#login-open');
    await page.waitForFunction(() => document.querySelector('#status').textContent.includes('自动发货运行中'), null,
      { timeout: 30000 });
  };

  stack.stop = async () => {
    if (stack.context) await stack.context.close();
    await stop(stack.program);
    await stop(stack.sim);
    await stop(stack.maker);
    fs.rmSync(stack.work, { recursive: true, force: true });
  };
  return stack;
}

// Shows a view by its tab.
export async function showView(page, name) {
  await page.click(`nav button[data-tab="${name}"]`);
}

// Agrees to the page's confirmation and returns its text.
export async function confirm(page) {
  await page.waitForSelector('#confirm:not([hidden])');
  const text = await page.textContent('#confirm-text');
  await page.click('#confirm-ok');
  return text;
}

// Waits for the toast and returns { text, error }.
export async function toast(page, { error = false, includes = '' } = {}) {
  await page.waitForFunction(({ error, includes }) => {
    const box = document.querySelector('#toast');
    return !box.hidden && box.classList.contains('error') === error && box.textContent.includes(includes);
  }, { error, includes }, { timeout: 20000 });
  const text = await page.textContent('#toast');
  await page.evaluate(() => { document.querySelector('#toast').hidden = true; });
  return text;
}

export async function shot(page, name) {
  fs.mkdirSync(screenshots, { recursive: true });
  const file = path.join(screenshots, `${name}.png`);
  await page.screenshot({ path: file, fullPage: true });
  return file;
}
