// Draws the page's pictures in docs/ (desktop and phone) from tavoxa-sim with a few names,
// a timer program and a random window set through the API, as a user would set them.
// Run: TAVOXA_SIM=build/tavoxa-sim TAVOXA_CTL=build/ctl/tavoxa-ctl node tests/web/screenshots.mjs
import { fileURLToPath } from 'node:url';
import { dirname, join } from 'node:path';
import { logIn, start } from './harness.mjs';

const docs = join(dirname(fileURLToPath(import.meta.url)), '..', '..', 'docs');
const { board, browser, close } = await start();
try {
  const page = await browser.newPage({ viewport: { width: 1280, height: 860 }, locale: 'en-US' });
  await logIn(page, board);
  const api = (method, path, body) => page.evaluate(async ([m, p, b]) => {
    const r = await fetch(p, { method: m, headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(b) });
    return r.json();
  }, [method, path, body]);
  await api('PUT', '/api/names', { names: ['Pump', 'Hall light', 'Heating', 'Garden', 'Fan', 'Clock', 'Door', 'Window'] });
  const timer = await api('GET', '/api/relays/3/settings');
  timer.mode = 'Timer';
  timer.programs[0] = { day: 'Mo-Fr', date: timer.programs[0].date, start: '06:30:00', end: '07:45:00' };
  timer.programs[1] = { day: 'Mo-So', date: timer.programs[1].date, start: '17:00:00', end: '22:30:00' };
  await api('PUT', '/api/relays/3/settings', timer);
  const random = await api('GET', '/api/relays/2/settings');
  random.mode = 'Random';
  random.windows[0] = { maxMinutes: 30, start: '18:00:00', end: '23:00:00' };
  await api('PUT', '/api/relays/2/settings', random);
  await api('POST', '/api/relays', { on: [1, 4] });
  await page.reload();
  await page.waitForSelector('#relays .relay');
  await page.waitForFunction(() => document.querySelector('#relay-1 .state').textContent === 'on');
  await page.screenshot({ path: join(docs, 'web-overview.png') });
  await page.click('#tabs [data-view="setup"]');
  await page.click('#relay-picker button:nth-child(3)');
  await page.waitForSelector('#p0-day');
  await page.screenshot({ path: join(docs, 'web-setup.png'), fullPage: true });
  await page.click('#tabs [data-view="plan"]');
  await page.waitForSelector('#plan-chart svg');
  await page.screenshot({ path: join(docs, 'web-plan.png') });
  const phone = await browser.newPage({ viewport: { width: 390, height: 844 }, locale: 'de-DE', isMobile: true, deviceScaleFactor: 1 });
  await logIn(phone, board);
  await phone.screenshot({ path: join(docs, 'web-phone.png') });
} finally {
  await close();
}
