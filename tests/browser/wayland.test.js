'use strict';
// A whole local session on a Wayland desktop: run by wayland-session.sh inside the test's
// network namespace, the real main window (offscreen) captures the headless sway desktop through
// its screen-cast portal, and the viewer page shows the desktop's background, which X11 capture
// of XWayland cannot see (it is black there). The first Start shows the desktop's picker; Stop
// ends the share (its PipeWire stream goes), and the next Start shares again without the picker.
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const { execFileSync } = require('node:child_process');
const { startStudio, launchBrowser, openViewer, hexToRgb, near } = require('./studio.js');

const BACKGROUND = '#20c040'; // sway.conf of the harness

let studio;
let browser;

before(async () => {
  assert.ok(process.env.WAYLAND_DISPLAY, 'runs inside tests/support/wayland/wayland-session.sh');
  studio = await startStudio();
  browser = await launchBrowser();
});

after(async () => {
  await browser?.close();
  await studio?.close();
});

function pickerShown() {
  try {
    return fs.readFileSync(process.env.PICKER_LOG, 'utf8').split('\n').length - 1;
  } catch {
    return 0;
  }
}

// The studio's screen streams PipeWire knows of now.
function screenStreams() {
  const objects = JSON.parse(execFileSync('pw-dump', { encoding: 'utf8' }));
  return objects.filter((o) => o.type === 'PipeWire:Interface:Node' &&
    o.info?.props?.['media.name'] === 'Lumacast screen').length;
}

// wlroots sends a new share its first picture only when the screen changes: the band above the
// middle is painted again (in turns of two colours), after each paint until the page draws a
// picture or half a second passes, until the page has drawn the background.
async function backgroundReachesThePage(t) {
  const { context, page } = await openViewer(browser, studio.url);
  t.after(() => context.close());
  const expected = hexToRgb(BACKGROUND);
  for (let turn = 0; ; ++turn) {
    const drawn = await page.evaluate(() => window.__pictures.map((p) => p.rgb));
    if (drawn.some((rgb) => near(rgb, expected))) return;
    assert.ok(turn < 300, 'no picture of the desktop within 300 paints; drawn: ' +
      JSON.stringify(drawn.slice(-3)) + '\n' + studio.log().slice(-3000));
    await studio.request({ do: 'paint', colour: turn % 2 ? '#c02020' : '#2020c0' });
    // The next picture the page draws, if the paint brought one.
    await page.waitForFunction((count) => window.__pictures.length > count, drawn.length,
      { timeout: 500, polling: 20 }).catch(() => {});
  }
}

// Stop lets the share go from the capture thread as it ends: polled, up to 10 s.
async function waitForStreams(count) {
  for (let i = 0; screenStreams() !== count; ++i) {
    assert.ok(i < 100, `PipeWire still has ${screenStreams()} screen streams of the studio`);
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
}

test('Start shares the desktop through the portal and the page shows it', async (t) => {
  assert.deepEqual(await studio.request({ do: 'start' }), { running: true });
  await backgroundReachesThePage(t);
  assert.equal(pickerShown(), 1, 'the first Start shows the desktop\'s picker once');
  assert.deepEqual(await studio.request({ do: 'stop' }), { running: false });
});

test('Stop ends the share, and the next Start shares again without the picker', async (t) => {
  await waitForStreams(0);
  assert.deepEqual(await studio.request({ do: 'start' }), { running: true });
  await backgroundReachesThePage(t);
  assert.equal(screenStreams(), 1);
  assert.equal(pickerShown(), 1, 'the restore token saved at the first Start spares the picker');
  assert.deepEqual(await studio.request({ do: 'stop' }), { running: false });
  await waitForStreams(0);
});
