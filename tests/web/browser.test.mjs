// The web page in Debian's chromium against tavoxa-sim: what only a real browser and the whole
// program can show.
import { after, test } from 'node:test';
import assert from 'node:assert/strict';
import { eventually, logIn, start } from './harness.mjs';

const { board, browser, close } = await start();
after(close);
const newPage = (options = {}) => browser.newPage({ locale: 'en-US', ...options });

test('log in and switch a relay: the simulated board sets its pin', async () => {
  const page = await newPage();
  await logIn(page, board, 'not it');
  await page.waitForSelector('#message.error');
  await logIn(page, board);
  await page.click('#relay-2 .do-on');
  await eventually(() => board.pins() === '010000', 'relay 2 pin on');
  assert.equal(await page.textContent('#relay-2 .state'), 'on');
});

test('a timer program set on the page is in the plan and in the file', async () => {
  const page = await newPage();
  await logIn(page, board);
  await page.click('#tabs [data-view="setup"]');
  await page.click('#relay-picker button:nth-child(3)');
  await page.selectOption('#mode', 'Timer');
  await page.selectOption('#p0-day', 'Mo-So');
  await page.fill('#p0-start', '06:30:00');
  await page.fill('#p0-end', '07:45:00');
  await eventually(() => board.planFromFiles(7).includes('06:30:00'), 'program in the saved files');
  await page.click('#tabs [data-view="plan"]');
  // Relay 3's row holds the daily on stretches: one for each day of the week.
  await eventually(async () => (await page.locator('#plan-chart rect.on').count()) >= 6, 'on stretches drawn');
});

test('a relay switched by tavoxa-ctl shows without reload', async () => {
  const page = await newPage();
  await logIn(page, board);
  assert.equal(await page.textContent('#relay-4 .state'), 'off');
  board.ctl('on', '4');
  await page.waitForFunction(() => document.querySelector('#relay-4 .state').textContent === 'on');
});

test('phone layout: one column, nothing wider than the screen, German for a German browser', async () => {
  const page = await newPage({ viewport: { width: 390, height: 844 }, locale: 'de-DE', isMobile: true });
  await logIn(page, board);
  assert.equal(await page.getAttribute('html', 'lang'), 'de');
  for (const view of ['setup', 'plan', 'log', 'overview']) {
    await page.click(`#tabs [data-view="${view}"]`);
    const width = await page.evaluate(() => document.documentElement.scrollWidth);
    assert.ok(width <= 390, `${view} is ${width} px wide`);
  }
  const boxes = await Promise.all([1, 2].map((n) => page.locator(`#relay-${n}`).boundingBox()));
  assert.ok(boxes[1].y > boxes[0].y && boxes[0].width > 300, 'relay cards stacked');
});
