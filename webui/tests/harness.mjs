// What the browser tests share: starting the programs under test and waiting
// for the line they print when ready, stopping them, and Debian's Chromium.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const here = path.dirname(fileURLToPath(import.meta.url));
export const top = path.resolve(here, '..', '..');
export const build = path.resolve(top, process.env.VENDARA_BUILD_DIR || 'build');

// Runs `command` and returns once a line of its standard output matches
// `pattern` (the match), or fails after `ms`.
export function startAndWaitFor(command, args, options, pattern, ms = 20000) {
  const child = spawn(command, args, { ...options, stdio: ['ignore', 'pipe', 'inherit'] });
  let seen = '';
  const found = new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`${command} printed no ${pattern} within ${ms} ms:\n${seen}`)), ms);
    child.stdout.on('data', (chunk) => {
      seen += chunk.toString();
      const match = seen.match(pattern);
      if (match) {
        clearTimeout(timer);
        resolve(match);
      }
    });
    child.on('exit', (code) => {
      clearTimeout(timer);
      reject(new Error(`${command} ended (${code}) before printing ${pattern}:\n${seen}`));
    });
  });
  return { child, found };
}

export function stop(child) {
  if (!child || child.exitCode !== null) return Promise.resolve();
  return new Promise((resolve) => {
    const killer = setTimeout(() => child.kill('SIGKILL'), 5000);
    child.once('exit', () => {
      clearTimeout(killer);
      resolve();
    });
    child.kill('SIGTERM');
  });
}

// maker-service on a free port with the web UI and the jQuery packages of
// the source tree; resolves to { child, port }.
export async function startMakerService() {
  const started = startAndWaitFor(path.join(build, 'service', 'maker-service'),
    ['--port', '0', '--webui', path.join(top, 'webui'), '--vendor', path.join(top, 'service', 'vendor', 'node_modules')],
    {}, /maker-service on http:\/\/127\.0\.0\.1:(\d+)\//);
  return { child: started.child, port: (await started.found)[1] };
}

// vendara in `work` (which holds its database), with a browser launcher that
// only notes the address it was given; resolves to { child, uiAddress, port, key }.
export async function startProgram(work) {
  const bin = path.join(work, 'bin');
  fs.mkdirSync(bin, { recursive: true });
  fs.writeFileSync(path.join(bin, 'xdg-open'), `#!/bin/sh\nprintf '%s\\n' "$1" >> '${path.join(work, 'opened.txt')}'\n`);
  fs.chmodSync(path.join(bin, 'xdg-open'), 0o755);
  const run = startAndWaitFor(path.join(build, 'app', 'vendara'), [], { cwd: work, env: { ...process.env, PATH: bin } },
    /Web UI: (\S+)/);
  const uiAddress = (await run.found)[1];
  const address = new URL(uiAddress);
  return {
    child: run.child,
    uiAddress,
    port: address.searchParams.get('port'),
    key: new URLSearchParams(address.hash.slice(1)).get('token'),
  };
}

// A fresh working folder with a database made from the built template.
export function freshWork() {
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'vendara-browser-'));
  fs.mkdirSync(path.join(work, 'tpl'));
  fs.copyFileSync(path.join(build, 'tpl', 'vendara2012.db'), path.join(work, 'tpl', 'vendara2012.db'));
  fs.copyFileSync(path.join(build, 'tpl', 'vendara2012.db'), path.join(work, 'vendara2012.db'));
  return work;
}

// Headless Chromium with a fresh profile; `extraArgs` are added.
export function launchChromium(extraArgs = []) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'vendara-chromium-'));
  return chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync', ...extraArgs],
  });
}
