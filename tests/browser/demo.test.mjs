// Drives the demo web interface in headless Chromium: Digest login, the
// status page, arming and disarming through the control form, a typed
// command, and the page layout on a phone screen.
//
// Started by ./run, which provides the daemon and these variables:
//   HOVANTRA_WEB_URL      base address of the web interface
//   HOVANTRA_CHROMIUM     the browser executable (default /usr/bin/chromium)
//   HOVANTRA_SCREENSHOTS  optional directory for screenshots of the pages
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import path from 'node:path';
import { chromium } from 'playwright-core';

const base = process.env.HOVANTRA_WEB_URL;
if (!base) throw new Error('HOVANTRA_WEB_URL is not set; start this test through ./run');
const shots = process.env.HOVANTRA_SCREENSHOTS;
const demoUser = { username: 'demo', password: 'demo' };
// A phone held upright.
const phone = { viewport: { width: 390, height: 844 }, deviceScaleFactor: 2, isMobile: true, hasTouch: true };

let browser;

before(async () => {
  browser = await chromium.launch({
    executablePath: process.env.HOVANTRA_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    // Playwright gives every launch a fresh temporary profile of its own.
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
});

after(async () => {
  await browser?.close();
});

async function snapshot(page, name) {
  if (shots) await page.screenshot({ path: path.join(shots, name + '.png'), fullPage: true });
}

// Reloads the page until the element shows the text; the exit delay and the
// refresh of the status page make the state change while we look.
async function reloadUntil(page, selector, expected, seconds) {
  const deadline = Date.now() + seconds * 1000;
  let seen;
  for (;;) {
    seen = (await page.locator(selector).textContent())?.trim();
    if (seen === expected) return;
    if (Date.now() > deadline) break;
    await page.waitForTimeout(250);
    await page.reload();
  }
  assert.fail(`${selector} shows ${JSON.stringify(seen)}, expected ${JSON.stringify(expected)}`);
}

test('pages ask for Digest credentials; the style sheet and icon are public', async () => {
  for (const target of ['/', '/ctrl']) {
    const answer = await fetch(base + target);
    assert.equal(answer.status, 401, target);
    assert.match(await answer.text(), /<h2>Password needed<\/h2>/, target);
    assert.match(answer.headers.get('www-authenticate'),
                 /^Digest realm="hovantra-demo", nonce="[0-9a-f]{32}"$/, target);
  }
  const css = await fetch(base + '/style.css');
  assert.equal(css.status, 200);
  assert.equal(css.headers.get('content-type'), 'text/css');
  assert.match(await css.text(), /\.badge/);
  const icon = await fetch(base + '/icon.svg');
  assert.equal(icon.status, 200);
  assert.equal(icon.headers.get('content-type'), 'image/svg+xml');

  const missing = await fetch(base + '/no-such-page');
  assert.equal(missing.status, 404);
  assert.match(await missing.text(), /<h2>Not found<\/h2>/);
});

test('the browser is refused without the demo password', async () => {
  for (const options of [{}, { httpCredentials: { username: 'demo', password: 'wrong' } }]) {
    const context = await browser.newContext(options);
    try {
      const page = await context.newPage();
      // Chromium either shows the 401 answer or, having tried the wrong
      // password, gives up on the navigation; it never gets the page.
      let status;
      try {
        status = (await page.goto(base + '/')).status();
      } catch (error) {
        assert.match(error.message, /ERR_INVALID_AUTH_CREDENTIALS/);
        status = 401;
      }
      assert.equal(status, 401, JSON.stringify(options));
      assert.equal(await page.locator('#security').count(), 0);
    } finally {
      await context.close();
    }
  }
});

test('status page after Digest login fits a phone screen', async () => {
  const context = await browser.newContext({ ...phone, httpCredentials: demoUser });
  try {
    const page = await context.newPage();
    const answer = await page.goto(base + '/');
    assert.equal(answer.status(), 200);
    assert.equal(await page.title(), 'demo-house');
    assert.equal(await page.locator('#security').textContent(), 'disarmed');
    assert.equal(await page.locator('#heat').textContent(), 'eco');
    assert.equal(await page.locator('#door').textContent(), 'closed');
    assert.equal(await page.locator('#target').textContent(), '21 °C');
    assert.match(await page.locator('#states').textContent(), /security\.disarmed/);

    // The style sheet is applied and nothing is wider than the screen.
    const layout = await page.evaluate(() => ({
      overflow: document.documentElement.scrollWidth - window.innerWidth,
      header: getComputedStyle(document.querySelector('header')).position,
      font: parseFloat(getComputedStyle(document.body).fontSize),
    }));
    assert.equal(layout.header, 'sticky');
    assert.ok(layout.overflow <= 0, `page is ${layout.overflow}px wider than the screen`);
    assert.ok(layout.font >= 16, `body text of ${layout.font}px is too small on a phone`);
    await snapshot(page, 'status');
  } finally {
    await context.close();
  }
});

test('arming through the control form shows on the status page, then disarming', async () => {
  const context = await browser.newContext({ ...phone, httpCredentials: demoUser });
  try {
    const page = await context.newPage();
    await page.goto(base + '/');
    await page.getByRole('link', { name: 'Control' }).click();
    await page.waitForURL(base + '/ctrl');
    await snapshot(page, 'control');

    // Buttons a thumb can hit.
    for (const name of ['Arm', 'Disarm', 'Run']) {
      const box = await page.getByRole('button', { name, exact: true }).boundingBox();
      assert.ok(box && box.height >= 44, `${name} button is ${box?.height}px high`);
    }

    const posted = page.waitForResponse(r => r.url() === base + '/ctrl' && r.request().method() === 'POST');
    await page.getByRole('button', { name: 'Arm', exact: true }).click();
    assert.equal((await posted).status(), 200);
    await page.waitForLoadState();
    assert.equal(await page.locator('#answer').textContent(), 'arming: exit delay of 10 seconds');
    assert.equal(await page.locator('#security').textContent(), 'exit_delay');
    await snapshot(page, 'armed');

    // The exit delay runs out on its own.
    await page.getByRole('link', { name: 'Status' }).click();
    await page.waitForURL(base + '/');
    await reloadUntil(page, '#security', 'armed', 30);
    assert.match(await page.locator('#states').textContent(), /security\.armed/);

    await page.getByRole('link', { name: 'Control' }).click();
    await page.waitForURL(base + '/ctrl');
    await page.getByRole('button', { name: 'Disarm', exact: true }).click();
    await page.locator('#answer').waitFor();
    assert.equal(await page.locator('#answer').textContent(), 'security is disarmed');
    await page.goto(base + '/');
    assert.equal(await page.locator('#security').textContent(), 'disarmed');
    // What set an alarm off is shown only while it matters.
    assert.equal(await page.locator('#cause').isVisible(), false);
  } finally {
    await context.close();
  }
});

test('a typed command with an argument runs and its answer is shown', async () => {
  const context = await browser.newContext({ ...phone, httpCredentials: demoUser });
  try {
    const page = await context.newPage();
    await page.goto(base + '/ctrl');
    const input = page.getByRole('textbox', { name: 'Command' });
    await input.fill('target 23');
    await page.getByRole('button', { name: 'Run', exact: true }).click();
    await page.locator('#answer').waitFor();
    assert.equal(await page.locator('#answer').textContent(), 'target is now 23');

    await input.fill('status');
    await input.press('Enter');
    await page.waitForFunction(() => /door/.test(document.querySelector('#answer')?.textContent));
    assert.match(await page.locator('#answer').textContent(),
                 /^heat\.eco security\.disarmed +at \d{8} \d\d:\d\d; door closed, living 22 C, target 23$/);
    await snapshot(page, 'answer');

    // A longer answer is shown whole.
    await input.fill('help');
    await input.press('Enter');
    await page.waitForFunction(() => /^commands:/.test(document.querySelector('#answer')?.textContent));
    assert.equal(await page.locator('#answer').textContent(),
                 'commands: arm, disarm, status, report, lamp +|-, target N, restart, quit');

    await page.goto(base + '/');
    assert.equal(await page.locator('#target').textContent(), '23 °C');
  } finally {
    await context.close();
  }
});
