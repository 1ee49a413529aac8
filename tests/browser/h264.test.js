'use strict';
// The viewer page playing the studio's H.264 output in headless Chromium: on the plain-http page
// in the namespace (no WebCodecs there: the WebAssembly decoder in a Worker), with WebCodecs when
// Chromium is told to treat the page as secure, and in words when neither decoder exists.
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { startStudio, launchBrowser, hexToRgb } = require('./studio.js');

const SCREEN = '#2060c0'; // what studio_host shows at start
const AUTOPLAY = ['--autoplay-policy=no-user-gesture-required'];

let studio;
let insecure;
let secure;

before(async () => {
  studio = await startStudio();
  const codec = await studio.request({ do: 'codec', index: 1 });
  assert.equal(codec.codec, 'H.264 (sharper, fewer bits)');
  assert.deepEqual(await studio.request({ do: 'start' }), { running: true });
  insecure = await launchBrowser(AUTOPLAY);
  secure = await launchBrowser(AUTOPLAY.concat([
    '--unsafely-treat-insecure-origin-as-secure=' + new URL(studio.url).origin]));
});

after(async () => {
  await insecure?.close();
  await secure?.close();
  await studio?.close();
});

async function open(t, browser, init) {
  const context = await browser.newContext();
  t.after(() => context.close());
  const page = await context.newPage();
  if (init) await page.addInitScript(init);
  await page.goto(studio.url);
  return page;
}

async function playsOnAJoin(t, browser, path, init) {
  const page = await open(t, browser, init);
  await page.waitForFunction(() => window.viewer && window.viewer.stats.liveAt > 0, null,
    { timeout: 20000 });
  const stats = await page.evaluate(() => window.viewer.stats);
  assert.equal(stats.codec, 'h264');
  assert.equal(stats.decoderPath, path);
  // The head start began on a clean picture: the first one drawn shows the screen.
  assert.ok(stats.framesShown >= 1);
  // The preset's size, not the coded one (whole macroblocks: 544 lines).
  assert.deepEqual(await page.evaluate(() => {
    const c = document.getElementById('video');
    return [c.width, c.height];
  }), [960, 540]);
  // The head start may open on a picture older than the screen's last change (a colour an
  // earlier page saw painted) and "live" allows two pictures still waiting: the page comes to
  // show the screen as it is.
  await waitForCentre(page, SCREEN);
  // And it follows what the studio paints.
  await studio.request({ do: 'paint', colour: '#c04020' });
  await waitForCentre(page, '#c04020');
  // Back to the screen's colour for the next page.
  await studio.request({ do: 'paint', colour: SCREEN });
  await waitForCentre(page, SCREEN);
}

function waitForCentre(page, colour) {
  return page.waitForFunction((expected) => {
    const c = document.getElementById('video');
    const d = c.getContext('2d').getImageData(c.width >> 1, c.height >> 1, 1, 1).data;
    return expected.every((value, i) => Math.abs(d[i] - value) < 48);
  }, hexToRgb(colour), { timeout: 10000, polling: 20 });
}

test('a plain-http page plays H.264 with the WebAssembly decoder', async (t) => {
  await playsOnAJoin(t, insecure, 'wasm');
});

test('a secure page plays H.264 with WebCodecs', async (t) => {
  await playsOnAJoin(t, secure, 'webcodecs');
});

test('a page without either decoder says so in words', async (t) => {
  const page = await open(t, insecure, () => { delete window.Worker; delete window.VideoDecoder; });
  const note = await page.waitForSelector('#codec-note', { timeout: 20000 });
  assert.match(await note.textContent(), /cannot show the H\.264 picture/);
  assert.equal(await page.evaluate(() => window.viewer.stats.decoderPath), 'none');
});
