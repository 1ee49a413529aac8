'use strict';
// The room's questions in a local session (questionsround.js). Each page reaches the studio from
// an address of its own through a pair of loopback ports (the page and its relay, port + 1).
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const { startStudio, launchBrowser, openViewer, hexToRgb } = require('./studio.js');
const { questionsInPages } = require('./questionsround.js');
const { SourceAddressForwarders } = require('./quizgame.js');

const STUDIO_ADDRESS = process.env.LUMACAST_STUDIO_ADDRESS;
const FROM = ['10.213.7.41', '10.213.7.42', '10.213.7.43', '10.213.7.44'];
const SCREEN = '#2060c0'; // what studio_host shows at start

let studio;
let browser;
const forwarders = new SourceAddressForwarders();

before(async () => {
  for (const from of FROM) execFileSync('ip', ['addr', 'add', `${from}/24`, 'dev', 'studio0']);
  studio = await startStudio();
  browser = await launchBrowser();
  assert.deepEqual(await studio.request({ do: 'start' }), { running: true });
});

after(async () => {
  await browser?.close();
  await studio?.close();
  forwarders.close();
});

test('anonymous question, upvotes reorder the list, approval holds back, highlight reaches pages and the screen', async (t) => {
  const viewerUrls = [];
  for (const from of FROM) {
    const port = await forwarders.forwardRun(
      [{ host: STUDIO_ADDRESS, port: studio.httpPort }, { host: STUDIO_ADDRESS, port: studio.httpPort + 1 }], from);
    viewerUrls.push(`http://127.0.0.1:${port}/`);
  }
  await questionsInPages(t, { studio, browser, viewerUrls, screenUrl: studio.url + 'questions_screen.html' });
});

// The first picture drawn since `since` whose centre and bottom edge are near the given colours.
function waitForPicture(page, centre, bottom, since) {
  return page.waitForFunction(({ centre, bottom, since }) => window.__pictures.find((p) =>
    p.at >= since && [[p.rgb, centre], [p.bottom, bottom]].every(([seen, expected]) =>
      seen.every((c, i) => Math.abs(c - expected[i]) <= 48))),
  { centre, bottom, since }, { timeout: 10000, polling: 20 });
}

test('the question on screen is drawn on the stream as a band while the presenter wants it', async (t) => {
  const { context, page } = await openViewer(browser, studio.url);
  t.after(() => context.close());
  const screen = hexToRgb(SCREEN);
  await waitForPicture(page, screen, screen, 0);
  await page.fill('#message', 'On the band?');
  await page.click('#send');
  await page.waitForFunction(() => /received/.test(document.querySelector('#question-status').textContent));
  const { questions } = await studio.request({ do: 'questions' });
  const { id } = questions.find((q) => q.question === 'On the band?');
  // Approval may be on: approved first, so that it can go on screen.
  await studio.request({ do: 'question_action', action: 'approve', id });
  await studio.request({ do: 'question_action', action: 'highlight', id });
  // The band is dark and lets a little of the picture through; the rest of the picture is as it was.
  const band = [12, 16, 28].map((c, i) => (c * 210 + screen[i] * 45) / 255);
  let since = Date.now();
  await studio.request({ do: 'question_action', action: 'caption', on: true });
  await waitForPicture(page, screen, band, since);
  since = Date.now();
  await studio.request({ do: 'question_action', action: 'caption', on: false });
  await waitForPicture(page, screen, screen, since);
});
