'use strict';
// The room's questions in a local session (questionsround.js). Each page reaches the studio from
// an address of its own through a pair of loopback ports (the page and its relay, port + 1).
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const { startStudio, launchBrowser } = require('./studio.js');
const { questionsInPages } = require('./questionsround.js');
const { SourceAddressForwarders } = require('./quizgame.js');

const STUDIO_ADDRESS = process.env.LUMACAST_STUDIO_ADDRESS;
const FROM = ['10.213.7.41', '10.213.7.42', '10.213.7.43', '10.213.7.44'];

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
      [{ host: STUDIO_ADDRESS, port: 8080 }, { host: STUDIO_ADDRESS, port: 8081 }], from);
    viewerUrls.push(`http://127.0.0.1:${port}/`);
  }
  await questionsInPages(t, { studio, browser, viewerUrls, screenUrl: studio.url + 'questions_screen.html' });
});
