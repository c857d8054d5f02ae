// tavoxa-sim started as a headless service would be, in a folder of its own, with the web page on
// a free loopback port, the remote on another, and the simulated relay pins in a file; and
// Debian's chromium through Playwright. Used by the browser tests and the screenshots.
import { spawn, execFileSync } from 'node:child_process';
import { once } from 'node:events';
import { existsSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';
const { TAVOXA_SIM: SIM, TAVOXA_CTL: CTL } = process.env;
const PASSWORD = 'secret web';
const REMOTE_PASSWORD = 'remote pw';

// Exit code 77 tells CTest the test was skipped: without the browser or playwright-core there is
// nothing to run it with (tools/install-deps.sh installs both, playwright-core by npm ci here).
async function loadPlaywright() {
  const skip = (why) => { console.error(`${why}: skipped (tools/install-deps.sh installs it)`); process.exit(77); };
  if (!existsSync(CHROMIUM)) skip(`no ${CHROMIUM}`);
  return import('playwright-core').catch(() => skip('no playwright-core'));
}

// Polls `probe` until it returns true; the page and the board work on their own time.
export async function eventually(probe, what, ms = 10000) {
  for (const end = Date.now() + ms; !(await probe()); await new Promise((r) => setTimeout(r, 50)))
    if (Date.now() > end) throw new Error(`not within ${ms} ms: ${typeof what === 'function' ? what() : what}`);
}

// tavoxa-sim and the browser, both started; `close` ends them. `board` holds the page's address, the
// simulated relay pins, tavoxa-ctl and the plan as the program reads it from its files.
export async function start() {
  const { chromium } = await loadPlaywright();
  const dir = mkdtempSync(join(tmpdir(), 'tavoxa-web-'));
  const env = { ...process.env, TAVOXA_SIM_PINS_FILE: join(dir, 'pins') };
  for (const name of ['DISPLAY', 'WAYLAND_DISPLAY', 'QT_QPA_PLATFORM']) delete env[name];
  let log = '', sim, browser;
  const close = async () => {
    await browser?.close();
    if (sim?.exitCode === null && sim.kill('SIGTERM')) await once(sim, 'exit');
    rmSync(dir, { recursive: true, force: true });
  };
  const port = (pattern) => log.match(pattern)?.[1];
  const web = /web page on http:\/\/127\.0\.0\.1:(\d+)\//, remote = /remote server listening on port (\d+)/;
  try {
    execFileSync(SIM, ['--dir', dir, '--web-password'], { input: `${PASSWORD}\n`, env });
    // The remote's port 0 (an empty one would be 26535): a free one, named in the log.
    writeFileSync(join(dir, 'swcf.ini'), ['', REMOTE_PASSWORD, '0', '', '', '', '', '', '', '', '', '1', ''].join('\r\n'));
    // Port 0 for both servers: the system picks free ports and the log names them, so no other
    // program can take a port between its choice and its use.
    sim = spawn(SIM, ['--dir', dir, '--http', '127.0.0.1:0'], { env });
    sim.stderr.on('data', (d) => { log += d; });
    await eventually(() => port(web) && port(remote), () => `the ports in tavoxa-sim's log:\n${log}`);
    browser = await chromium.launch({ executablePath: CHROMIUM, headless: true });
  } catch (e) {
    await close();
    throw e;
  }
  const board = {
    url: `http://127.0.0.1:${port(web)}/`,
    // "010000": relay 2 on.
    pins: () => { try { return readFileSync(join(dir, 'pins'), 'utf8').trim(); } catch { return ''; } },
    ctl: (...args) => execFileSync(CTL, ['--port', port(remote), ...args], { env: { ...env, TAVOXA_PASSWORD: REMOTE_PASSWORD } }),
    planFromFiles: (days) => execFileSync(SIM, ['--dir', dir, '--plan', '--days', String(days)], { env, encoding: 'utf8' }),
  };
  return { board, browser, close };
}

export async function logIn(page, board, password = PASSWORD) {
  await page.goto(board.url);
  await page.fill('#password', password);
  await page.press('#password', 'Enter');
  if (password === PASSWORD) await page.waitForSelector('#relays .relay');
}
