'use strict';
// A whole local session on a Wayland desktop: run by wayland-session.sh inside the test's
// network namespace, the real main window (offscreen) captures the headless sway desktop through
// its screen-cast portal, and the viewer page shows the desktop's background, which X11 capture
// of XWayland cannot see (it is black there). The first Start shows the desktop's picker; Stop
// ends the share (its PipeWire stream goes), and the next Start shares again without the picker.
// A share the desktop ends (its PipeWire node removed, as when the monitor goes) shows in the
// status bar while the stream goes on in black, until the share is back.
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const { execFileSync } = require('node:child_process');
const { startStudio, launchBrowser, openViewer, waitForColour, hexToRgb, near } =
  require('./studio.js');

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

// The first JSON value of `text`: pw-dump prints further arrays of updates after its snapshot
// when objects change while it runs.
function firstJsonValue(text) {
  let depth = 0;
  let inString = false;
  for (let i = 0; i < text.length; ++i) {
    const c = text[i];
    if (inString) {
      if (c === '\\') ++i;
      else if (c === '"') inString = false;
    } else if (c === '"') {
      inString = true;
    } else if (c === '[' || c === '{') {
      ++depth;
    } else if ((c === ']' || c === '}') && --depth === 0) {
      return JSON.parse(text.slice(0, i + 1));
    }
  }
  return JSON.parse(text);
}

// The PipeWire nodes whose properties `match`, as they were when pw-dump started.
function nodes(match) {
  const objects = firstJsonValue(execFileSync('pw-dump', { encoding: 'utf8' }));
  return objects.filter((o) => o.type === 'PipeWire:Interface:Node' && match(o.info?.props ?? {}));
}

// The studio's screen streams PipeWire knows of now.
function screenStreams() {
  return nodes((props) => props['media.name'] === 'Lumacast screen').length;
}

// The screen-cast nodes of the portal's wlroots back end.
function portalNodes() {
  return nodes((props) => props['node.name'] === 'xdg-desktop-portal-wlr').map((o) => o.id);
}

// The status bar's message once `done` holds for it, asked for until then (the window looks
// at its sources twice a second), up to 20 s.
async function waitForStatus(done, what) {
  for (let i = 0; ; ++i) {
    const { message } = await studio.request({ do: 'status' });
    if (done(message)) return message;
    assert.ok(i < 400, `${what}; the status bar says '${message}'`);
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

// wlroots sends a new share its first picture only when the screen changes: the band above the
// middle is painted again (in turns of two colours), after each paint until the page draws a
// picture or half a second passes, until the page has drawn the background.
// Resolves with the page, a new one unless given, once it has drawn the background since `since`.
async function backgroundReachesThePage(t, viewer = null, since = 0) {
  let page = viewer;
  if (!page) {
    const opened = await openViewer(browser, studio.url);
    t.after(() => opened.context.close());
    page = opened.page;
  }
  const expected = hexToRgb(BACKGROUND);
  for (let turn = 0; ; ++turn) {
    const drawn = await page.evaluate(
      (after) => window.__pictures.filter((p) => p.at >= after).map((p) => p.rgb), since);
    if (drawn.some((rgb) => near(rgb, expected))) return page;
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

test('A share the desktop ends is a failing source, black goes on, and the share comes back', async (t) => {
  assert.deepEqual(await studio.request({ do: 'start' }), { running: true });
  const page = await backgroundReachesThePage(t);
  const [node] = portalNodes();
  assert.ok(node !== undefined, 'the portal back end has no screen-cast node');
  const endedAt = Date.now();
  execFileSync('pw-cli', ['destroy', String(node)]);
  await waitForStatus((message) => /Video source not working \(.*ended/.test(message),
    'the ended share is not shown as a failing source');
  await waitForColour(page, '#000000', endedAt, 10000);
  // Asked again with the saved token: the warning goes, and the desktop is back on the page.
  await waitForStatus((message) => !message.includes('Video source'), 'the warning stays');
  const backAt = Date.now();
  await backgroundReachesThePage(t, page, backAt);
  assert.equal(pickerShown(), 1, 'the share came back without the picker');
  assert.deepEqual(await studio.request({ do: 'stop' }), { running: false });
  await waitForStreams(0);
});
