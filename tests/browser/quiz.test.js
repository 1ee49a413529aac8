'use strict';
// A quiz played live from the studio's play window in a local session, answered in viewer pages
// in headless Chromium that each reach the studio from an address of their own on the
// namespace's studio interface: through a pair of loopback ports (the page and its relay,
// port + 1).
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const { startStudio, launchBrowser } = require('./studio.js');
const { SourceAddressForwarders, playQuizInPages, viewersNeeded } = require('./quizgame.js');

const STUDIO_ADDRESS = process.env.LUMACAST_STUDIO_ADDRESS;
const FROM = Array.from({ length: viewersNeeded }, (_, i) => `10.213.7.${21 + i}`);

let studio;
let browser;
const forwarders = new SourceAddressForwarders();

before(async () => {
  for (const from of FROM) execFileSync('ip', ['addr', 'add', `${from}/24`, 'dev', 'studio0']);
  studio = await startStudio();
  browser = await launchBrowser(['--autoplay-policy=no-user-gesture-required']);
  assert.deepEqual(await studio.request({ do: 'start' }), { running: true });
});

after(async () => {
  await browser?.close();
  await studio?.close();
  forwarders.close();
});

test('pages answer a played quiz and see the studio\'s leaderboard; so does the room screen; a late joiner sees the open question', async (t) => {
  const viewerUrls = [];
  for (const from of FROM) {
    const port = await forwarders.forwardRun(
      [{ host: STUDIO_ADDRESS, port: studio.httpPort }, { host: STUDIO_ADDRESS, port: studio.httpPort + 1 }], from);
    viewerUrls.push(`http://127.0.0.1:${port}/`);
  }
  await playQuizInPages(t, { studio, browser, viewerUrls, screenUrl: studio.url + 'quiz_result.html' });
});
