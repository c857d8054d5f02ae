// tavoxa-sim started as a headless service would be, in a folder of its own, with the web page on
// a free loopback port, the remote on another, and the simulated relay pins in a file; and
// Debian's chromium through Playwright. Used by the browser tests and the screenshots.
import { spawn, execFileSync } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

export const SIM = process.env.TAVOXA_SIM;
export const CTL = process.env.TAVOXA_CTL;
export const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';
export const PASSWORD = 'secret web';
const REMOTE_PASSWORD = 'remote pw';

// Exit code 77 tells CTest the test was skipped: without the browser or playwright-core there is
// nothing to run it with (tools/install-deps.sh installs both).
export async function loadPlaywright() {
  if (!existsSync(CHROMIUM)) {
    console.error(`no ${CHROMIUM}: skipped (tools/install-deps.sh installs it)`);
    process.exit(77);
  }
  try {
    return await import('playwright-core');
  } catch {
    console.error('no playwright-core: skipped (npm ci in tests/web, as tools/install-deps.sh does)');
    process.exit(77);
  }
}

export class Board {
  async start() {
    this.dir = mkdtempSync(join(tmpdir(), 'tavoxa-web-'));
    const env = { ...process.env, TAVOXA_SIM_PINS_FILE: join(this.dir, 'pins') };
    delete env.DISPLAY;
    delete env.WAYLAND_DISPLAY;
    delete env.QT_QPA_PLATFORM;
    this.env = env;
    execFileSync(SIM, ['--dir', this.dir, '--web-password'], { input: `${PASSWORD}\n`, env });
    writeFileSync(join(this.dir, 'swcf.ini'),
      ['', REMOTE_PASSWORD, '', '', '', '', '', '', '', '', '', '1'].join('\r\n') + '\r\n');
    writeFileSync(join(this.dir, 'remote.pw'), `${REMOTE_PASSWORD}\n`);
    // Port 0 for both servers: the system picks free ports and the log names them, so no other
    // program can take a port between its choice and its use.
    this.process = spawn(SIM, ['--dir', this.dir, '--http', '127.0.0.1:0'], { env });
    this.stderr = '';
    await new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error(`no web page within 10 s:\n${this.stderr}`)), 10000);
      this.process.stderr.on('data', (d) => {
        this.stderr += d;
        const web = this.stderr.match(/web page on http:\/\/127\.0\.0\.1:(\d+)\//);
        const remote = this.stderr.match(/remote server listening on port (\d+)/);
        if (web && remote) {
          this.webPort = Number(web[1]);
          this.remotePort = Number(remote[1]);
          clearTimeout(timer);
          resolve();
        }
      });
      this.process.on('exit', (code) => { clearTimeout(timer); reject(new Error(`tavoxa-sim ended (${code}):\n${this.stderr}`)); });
    });
    this.url = `http://127.0.0.1:${this.webPort}/`;
  }

  // "010000": relay 2 on, as the simulated board's pins stand.
  pins() {
    try { return readFileSync(join(this.dir, 'pins'), 'utf8').trim(); } catch { return ''; }
  }

  ctl(...args) {
    return execFileSync(CTL, ['--port', String(this.remotePort), '--password-file', join(this.dir, 'remote.pw'), ...args],
      { env: this.env, encoding: 'utf8' });
  }

  // The plan as the program reads it from its files, not from the running program.
  planFromFiles(days = 1) {
    return execFileSync(SIM, ['--dir', this.dir, '--plan', '--days', String(days)], { env: this.env, encoding: 'utf8' });
  }

  async stop() {
    if (this.process && this.process.exitCode === null) {
      const ended = new Promise((resolve) => this.process.once('exit', resolve));
      this.process.kill('SIGTERM');
      await ended;
    }
    if (this.dir) rmSync(this.dir, { recursive: true, force: true });
  }
}

export async function logIn(page, board) {
  await page.goto(board.url);
  await page.fill('#password', PASSWORD);
  await page.press('#password', 'Enter');
  await page.waitForSelector('#relays .relay');
}
