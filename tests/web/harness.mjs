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

// tavoxa-sim and the browser, both started; `close` ends them.
export async function start() {
  const { chromium } = await loadPlaywright();
  const board = new Board();
  await board.start();
  const browser = await chromium.launch({ executablePath: CHROMIUM, headless: true });
  return { board, browser, close: async () => { await browser.close(); await board.stop(); } };
}

class Board {
  async start() {
    this.dir = mkdtempSync(join(tmpdir(), 'tavoxa-web-'));
    this.env = { ...process.env, TAVOXA_SIM_PINS_FILE: join(this.dir, 'pins') };
    for (const name of ['DISPLAY', 'WAYLAND_DISPLAY', 'QT_QPA_PLATFORM']) delete this.env[name];
    execFileSync(SIM, ['--dir', this.dir, '--web-password'], { input: `${PASSWORD}\n`, env: this.env });
    writeFileSync(join(this.dir, 'swcf.ini'), ['', REMOTE_PASSWORD, '', '', '', '', '', '', '', '', '', '1', ''].join('\r\n'));
    // Port 0 for both servers: the system picks free ports and the log names them, so no other
    // program can take a port between its choice and its use.
    this.process = spawn(SIM, ['--dir', this.dir, '--http', '127.0.0.1:0'], { env: this.env });
    let log = '';
    this.process.stderr.on('data', (d) => { log += d; });
    const web = () => log.match(/web page on http:\/\/127\.0\.0\.1:(\d+)\//)?.[1];
    const remote = () => log.match(/remote server listening on port (\d+)/)?.[1];
    await eventually(() => web() && remote(), () => `the ports in tavoxa-sim's log:\n${log}`);
    this.url = `http://127.0.0.1:${web()}/`;
    this.remotePort = remote();
  }

  // "010000": relay 2 on, as the simulated board's pins stand.
  pins() {
    try { return readFileSync(join(this.dir, 'pins'), 'utf8').trim(); } catch { return ''; }
  }

  ctl(...args) {
    execFileSync(CTL, ['--port', this.remotePort, ...args], { env: { ...this.env, TAVOXA_PASSWORD: REMOTE_PASSWORD } });
  }

  // The plan as the program reads it from its files, not from the running program.
  planFromFiles(days) {
    return execFileSync(SIM, ['--dir', this.dir, '--plan', '--days', String(days)], { env: this.env, encoding: 'utf8' });
  }

  async stop() {
    if (this.process?.exitCode === null && this.process.kill('SIGTERM')) await once(this.process, 'exit');
    if (this.dir) rmSync(this.dir, { recursive: true, force: true });
  }
}

export async function logIn(page, board, password = PASSWORD) {
  await page.goto(board.url);
  await page.fill('#password', password);
  await page.press('#password', 'Enter');
  if (password === PASSWORD) await page.waitForSelector('#relays .relay');
}
