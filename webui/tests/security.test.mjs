// The running program against a hostile page, in Debian's Chromium.
//
// Starts maker-service (the web UI) and vendara in a temporary folder with a
// seeded database, and a hostile site on another loopback address. The
// hostile page tries every way a page of another origin has to read or
// change the program's data; afterwards it must have learned nothing and the
// database must be unchanged (read with sqlite3). In the same run the real
// UI, opened with the address the program printed, still lists categories,
// and a UI holding an old key tells the seller to reopen it.
//
//   VENDARA_BUILD_DIR=/path/to/build node --test security.test.mjs
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { freshWork, launchChromium, startMakerService, startProgram, stop } from './harness.mjs';

const secrets = ['secret-taobao-pw', 'secret-smtp-pw', 'CARD-0001-SECRET', 'PIN-9999-SECRET'];

let work;
let db;
let maker;
let program;
let hostile;
let hostilePort;
let context;
let uiAddress;
let localPort;
let key;

function sql(statement) {
  return execFileSync('sqlite3', [db, statement], { encoding: 'utf8' });
}

function dump() {
  return execFileSync('sqlite3', [db, '.dump'], { encoding: 'utf8' });
}

// The hostile site: another origin (127.0.0.2) on a port of its own.
function hostilePage(target) {
  return `<!DOCTYPE html><html><body><script>
window.learned = [];
window.steal = function (data) { window.learned.push(data); };
const target = ${JSON.stringify(target)};
const post = (form) => encodeURIComponent(form);
function script(src) {
  return new Promise((resolve) => {
    const s = document.createElement('script');
    s.src = src;
    s.onload = () => resolve('load');
    s.onerror = () => resolve('error');
    document.head.appendChild(s);
  });
}
async function tryFetch(url, init) {
  try {
    const response = await fetch(url, init);
    let text = '';
    try { text = await response.text(); } catch (e) { text = 'unreadable'; }
    return { type: response.type, status: response.status, text };
  } catch (e) {
    return { error: String(e) };
  }
}
function formPost(fields) {
  return new Promise((resolve) => {
    const frame = document.createElement('iframe');
    frame.name = 'sink';
    document.body.appendChild(frame);
    const form = document.createElement('form');
    form.method = 'POST';
    form.action = target + '?do=setConfig&callback=steal';
    form.target = 'sink';
    for (const [name, value] of Object.entries(fields)) {
      const input = document.createElement('input');
      input.name = name;
      input.value = value;
      form.appendChild(input);
    }
    document.body.appendChild(form);
    frame.onload = () => {
      let text;
      try { text = frame.contentDocument.body.innerText; } catch (e) { text = 'cross-origin'; }
      resolve(text);
    };
    setTimeout(() => resolve('no load'), 5000);
    form.submit();
  });
}
async function attack() {
  const results = {};
  results.getConfig = await script(target + '?do=getConfig&callback=steal');
  results.itemList = await script(target + '?do=item&action=lst&callback=steal&_postData=' + post('cg_id=1&page_num=100&page=1'));
  results.categories = await script(target + '?do=category&action=lst&callback=steal');
  results.localhostName = await script(target.replace('127.0.0.1', 'localhost') + '?do=getConfig&callback=steal');
  results.setConfigScript = await script(target + '?do=setConfig&callback=steal&_postData=' + post('taobao_pwd=owned&maker_base=http://evil.example'));
  results.addCardScript = await script(target + '?do=item&action=add&callback=steal&_postData=' + post('cg_id=1&data1=planted'));
  results.fetchRead = await tryFetch(target + '?do=getConfig&callback=steal');
  results.fetchReadNoCors = await tryFetch(target + '?do=getConfig&callback=steal', { mode: 'no-cors' });
  results.fetchWrite = await tryFetch(target + '?do=setConfig&_postData=' + post('smtp_pwd=owned'));
  results.fetchWriteNoCors = await tryFetch(target + '?do=setConfig&_postData=' + post('smtp_pwd=owned'), { mode: 'no-cors' });
  results.fetchPostNoCors = await tryFetch(target + '?do=category&action=del', {
    method: 'POST', mode: 'no-cors', body: 'id=1', headers: { 'Content-Type': 'application/x-www-form-urlencoded' },
  });
  results.fetchPostNoCorsSetConfig = await tryFetch(target + '?do=setConfig', {
    method: 'POST', mode: 'no-cors', body: 'taobao_pwd=owned', headers: { 'Content-Type': 'text/plain' },
  });
  results.formPost = await formPost({ taobao_pwd: 'owned', maker_base: 'http://evil.example' });
  window.results = results;
  window.done = true;
}
if (location.pathname === '/navigate') {
  location.href = target + '?do=setConfig&callback=steal&_postData=' + post('taobao_pwd=navigated');
} else {
  attack();
}
</script></body></html>`;
}

before(async () => {
  work = freshWork();
  db = path.join(work, 'vendara2012.db');
  fs.chmodSync(db, 0o644);  // as an older version left it

  const service = await startMakerService();
  maker = service.child;
  const makerPort = service.port;

  sql(`insert into sys_config (key, value) values ('maker_base', 'http://127.0.0.1:${makerPort}'),
         ('taobao_user', 'seller'), ('taobao_pwd', '${secrets[0]}'), ('smtp_pwd', '${secrets[1]}');
       insert into category (name, tpl, ext) values ('BrowserTest cards', '{}', '{}');
       insert into items (cg_id, data1, data2) values (1, '${secrets[2]}', '${secrets[3]}');
       update category set store_num = 1, store_total_num = 1 where id = 1;`);

  // The program's browser launcher finds only a stand-in, which notes the
  // address it was given.
  const run = await startProgram(work);
  program = run.child;
  uiAddress = run.uiAddress;
  localPort = run.port;
  key = run.key;

  hostile = http.createServer((request, response) => {
    response.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
    response.end(hostilePage(`http://127.0.0.1:${localPort}/`));
  });
  await new Promise((resolve) => hostile.listen(0, '127.0.0.2', resolve));
  hostilePort = hostile.address().port;

  // A name of the attacker's that resolves to the loopback address: DNS rebinding.
  context = await launchChromium(['--host-resolver-rules=MAP rebind.example 127.0.0.1']);
});

after(async () => {
  if (context) await context.close();
  if (hostile) hostile.close();
  await stop(program);
  await stop(maker);
  if (work) fs.rmSync(work, { recursive: true, force: true });
});

test('the program prints its address with a fresh key, and opens it through a private page', async () => {
  assert.match(uiAddress, /^http:\/\/127\.0\.0\.1:\d+\/\?ver=1105&port=\d+#token=[0-9a-f]{64}$/);
  assert.equal(fs.statSync(db).mode & 0o777, 0o600, 'the database was narrowed to its owner');
  // The browser's command line, readable by every user, holds no key: only
  // the address of a page that the seller alone can read.
  const opened = fs.readFileSync(path.join(work, 'opened.txt'), 'utf8').trim();
  const launchPage = path.join(work, 'launch', 'open-ui.html');
  assert.equal(opened, `file://${launchPage}`);
  assert.ok(!opened.includes(key));
  assert.equal(fs.statSync(path.join(work, 'launch')).mode & 0o777, 0o700);
  assert.equal(fs.statSync(launchPage).mode & 0o777, 0o600);
  // A real browser on that page lands on the keyed address.
  const page = await context.newPage();
  await page.goto(opened);
  await page.waitForURL((url) => url.href === uiAddress, { timeout: 30000 });
  await page.close();
});

test('a hostile page on another origin learns nothing and changes nothing', async () => {
  const before = dump();
  const page = await context.newPage();
  await page.goto(`http://127.0.0.2:${hostilePort}/`);
  await page.waitForFunction(() => window.done === true, null, { timeout: 60000 });
  const learned = await page.evaluate(() => window.learned);
  const results = await page.evaluate(() => window.results);
  assert.deepEqual(learned, [], 'no JSONP callback ran');
  for (const name of ['getConfig', 'itemList', 'categories', 'localhostName', 'setConfigScript', 'addCardScript']) {
    assert.equal(results[name], 'error', `${name}: the script did not load`);
  }
  assert.ok(results.fetchRead.error, 'a readable fetch was refused by the browser');
  assert.ok(results.fetchWrite.error);
  assert.equal(results.fetchReadNoCors.type, 'opaque');
  const told = JSON.stringify(results);
  for (const secret of secrets) assert.ok(!told.includes(secret), `the page saw ${secret}`);

  // A top-level navigation: the seller would see the refusal, nothing runs.
  const navigation = await context.newPage();
  const [response] = await Promise.all([
    navigation.waitForResponse((answer) => new URL(answer.url()).port === String(localPort), { timeout: 30000 }),
    navigation.goto(`http://127.0.0.2:${hostilePort}/navigate`),
  ]);
  assert.equal(response.status(), 403);

  // DNS rebinding: our own address under the attacker's name, key and all.
  const rebound = await context.newPage();
  const reboundAnswer = await rebound.goto(`http://rebind.example:${localPort}/?do=getConfig&token=${key}`);
  assert.equal(reboundAnswer.status(), 403);
  assert.ok(!(await rebound.content()).includes(secrets[0]));

  assert.equal(dump(), before, 'the database is unchanged');
  assert.equal(sql("select value from sys_config where key = 'taobao_pwd'").trim(), secrets[0]);
  await Promise.all([page.close(), navigation.close(), rebound.close()]);
});

test('the real UI opened with the printed address lists the categories', async () => {
  const page = await context.newPage();
  await page.goto(uiAddress);
  await page.waitForFunction(() => document.querySelector('#category-list tbody').textContent.includes('BrowserTest cards'),
    null, { timeout: 30000 });
  const status = await page.textContent('#status');
  assert.ok(!status.includes('过期'), status);
  await page.close();
});

test('a UI holding an old key tells the seller to reopen it', async () => {
  const page = await context.newPage();
  await page.goto(uiAddress.replace(/#token=.*/, '#token=' + '0'.repeat(64)));
  await page.waitForFunction(() => document.querySelector('#status').textContent.includes('页面已过期'), null,
    { timeout: 30000 });
  assert.equal(await page.$eval('#category-list tbody', (body) => body.textContent), '');
  await page.close();
});
