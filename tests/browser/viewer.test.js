'use strict';
// The viewer pages in headless Chromium against the real studio running a local session
// (studio_host: private network namespace, X display showing a known colour, PulseAudio tone).
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { startStudio, launchBrowser, openViewer, waitForColour, hexToRgb, near, pictureProbe } =
  require('./studio.js');

const SCREEN = '#2060c0'; // what studio_host shows at start
const AUTOPLAY = ['--autoplay-policy=no-user-gesture-required'];

let studio;
let browser;     // sound allowed without a tap: for tests that are not about the sound control

// Headless Chromium lets any page start sound. Browsers that viewers use do not: an audio
// context starts suspended and resumes only within a user gesture. This puts that rule back.
function soundNeedsATap() {
  const Context = window.AudioContext;
  window.AudioContext = class extends Context {
    constructor(...args) {
      super(...args);
      super.suspend();
    }
    resume() {
      return navigator.userActivation.isActive ? super.resume()
        : Promise.reject(new DOMException('needs a user gesture', 'NotAllowedError'));
    }
  };
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function startSession() {
  assert.deepEqual(await studio.request({ do: 'start' }), { running: true });
}

before(async () => {
  studio = await startStudio();
  browser = await launchBrowser(AUTOPLAY);
  await startSession();
});

after(async () => {
  await browser?.close();
  await studio?.close();
});

const stats = (page) => page.evaluate(() => window.viewer.stats);

// How soon the first picture comes is a figure of bench/latency; here it must come, from the head
// start, and show the screen. The bound only keeps a broken page from hanging the suite.
async function firstPicture(page) {
  await page.waitForFunction(() => window.viewer && window.viewer.stats.firstPictureAt > 0,
    null, { timeout: 30000 });
  return stats(page);
}

// Pages are closed when the test ends, passed or not.
async function viewerFor(t, ...args) {
  const viewer = await openViewer(...args);
  t.after(() => viewer.context.close());
  return viewer;
}

async function liveViewers(t, count) {
  const pages = [];
  for (let i = 0; i < count; ++i) {
    const viewer = await viewerFor(t, browser, studio.url);
    await viewer.page.waitForFunction(() => document.querySelector('#connection').dataset.state === 'live');
    pages.push(viewer);
  }
  return pages;
}

test('the picture shows the screen right after Start and 5 s into the stream', async (t) => {
  for (const delay of [1000, 5000]) {
    await studio.request({ do: 'stop' });
    await startSession();
    await sleep(delay);
    const viewer = await viewerFor(t, browser, studio.url);
    await firstPicture(viewer.page);
    // Live: the page drew the newest picture with at most two frames waiting.
    await viewer.page.waitForFunction(() => window.viewer.stats.liveAt > 0, null, { timeout: 30000 });
    const first = await viewer.page.evaluate(() => window.__pictures[0].rgb);
    assert.ok(near(first, hexToRgb(SCREEN)), `first picture shows ${first}`);
    assert.equal(await viewer.page.textContent('#connection'), 'Live');
  }
});

test('a screen change reaches the canvas', async (t) => {
  const viewer = await viewerFor(t, browser, studio.url);
  await firstPicture(viewer.page);
  for (const colour of ['#e02020', SCREEN]) {
    const { paintedAt } = await studio.request({ do: 'paint', colour });
    await waitForColour(viewer.page, colour, paintedAt, 15000);
  }
});

test('sound starts with the sound control', async (t) => {
  const context = await browser.newContext();
  t.after(() => context.close());
  const page = await context.newPage();
  await page.addInitScript(soundNeedsATap);
  await page.addInitScript(pictureProbe);
  await page.goto(studio.url);
  await firstPicture(page);
  await page.waitForFunction(() => window.viewer.stats.audioDecoded > 5);
  assert.equal(await page.evaluate(() => window.viewer.player.audioOut.context.state), 'suspended');
  assert.equal((await stats(page)).audioPlayed, 0);
  assert.ok(await page.isVisible('#sound'));

  await page.click('#sound');
  await page.waitForFunction(() => window.viewer.stats.audioPlayed > 10, null, { timeout: 5000 });
  assert.equal(await page.evaluate(() => window.viewer.player.audioOut.context.state), 'running');
  assert.ok(await page.isHidden('#sound'));
});

async function ask(page, name, message) {
  await page.fill('#name', name);
  await page.fill('#message', message);
  await page.click('#send');
  await page.waitForFunction(() => /received/.test(document.querySelector('#question-status').textContent));
}

test('questions reach the store and the question list, markup as text', async (t) => {
  const viewer = await viewerFor(t, browser, studio.url);
  const list = await viewerFor(t, browser, studio.url, { page: 'feedback_list.html' });
  const markup = '<img src=x onerror="window.__injected=1"><b>bold?</b> 50% & raw=1 + "quotes"';
  await ask(viewer.page, 'Ann', 'How fast is it?');
  assert.equal(await viewer.page.inputValue('#message'), '', 'the form is cleared');
  await ask(viewer.page, 'Bob <i>', markup);

  const questions = await list.page.waitForFunction(() => {
    const items = [...document.querySelectorAll('#list li')];
    return items.length >= 2 && items.map((item) => ({
      who: item.querySelector('.who').textContent,
      question: item.querySelector('.question').textContent,
    }));
  }, null, { timeout: 5000 }).then((handle) => handle.jsonValue());
  // Newest first, shown as typed.
  assert.deepEqual(questions.slice(0, 2), [
    { who: 'Bob <i>', question: markup },
    { who: 'Ann', question: 'How fast is it?' },
  ]);
  assert.equal(await list.page.locator('#list img, #list b, #list i').count(), 0);
  assert.equal(await list.page.evaluate(() => window.__injected), undefined);

  const stored = (await studio.request({ do: 'questions' })).questions.map((q) => [q.name, q.question]);
  assert.deepEqual(stored.slice(-2), [['Ann', 'How fast is it?'], ['Bob <i>', markup]]);
});

test('the questions menu\'s JSON view shows a question\'s markup as text and runs nothing', async (t) => {
  const viewer = await viewerFor(t, browser, studio.url);
  const markup = '<img src=x onerror=window.__injected=1><h1 style=color:red>FAKE ALERT</h1>' +
    '<script>window.__injected=2</script>';
  await ask(viewer.page, 'Eve', markup);
  const json = await viewerFor(t, browser, studio.url, { page: 'feedback_list.json' });
  await json.page.waitForLoadState('load');
  assert.equal(await json.page.evaluate(() => document.contentType), 'application/json');
  assert.ok((await json.page.evaluate(() => document.body.innerText)).includes('FAKE ALERT</h1>'));
  assert.equal(await json.page.locator('img, h1, script').count(), 0);
  assert.equal(await json.page.evaluate(() => window.__injected), undefined);
});

test('a vote shows in three pages; choices reach the window and vote_result.html', async (t) => {
  const pages = await liveViewers(t, 3);
  const result = await viewerFor(t, browser, studio.url, { page: 'vote_result.html' });
  const title = 'Best <u>colour</u>?';
  await studio.request({ do: 'vote', title, options: ['Red', '<b>Blue</b>', '', 'Green', ''] });

  for (const { page } of pages) {
    await page.waitForSelector('#vote:not([hidden]) .choice');
    assert.equal(await page.textContent('#vote-title'), title);
    assert.deepEqual(await page.locator('.choice').allTextContents(), ['Red', '<b>Blue</b>', 'Green']);
    assert.equal(await page.locator('#vote b, #vote u').count(), 0);
  }
  // All pages reach the studio from one address, and one address holds one vote: the last
  // choice made there counts.
  await pages[0].page.click('.choice >> text=<b>Blue</b>');
  await waitForTally([3, 0, 1, 0, 0, 0]);
  await result.page.waitForFunction(() => /1 vote from 3/.test(document.body.textContent));
  assert.deepEqual(await barTexts(result.page), ['Red', '0 · 0 %', '<b>Blue</b>', '1 · 100 %', 'Green', '0 · 0 %']);

  await pages[1].page.click('.choice >> text=Green');
  await waitForTally([3, 0, 0, 0, 1, 0]);
  await pages[1].page.click('.choice >> text=Red');
  await waitForTally([3, 1, 0, 0, 0, 0]);
  await result.page.waitForFunction(() => document.querySelector('.figures').textContent === '1 · 100 %');
  assert.equal(await pages[1].page.getAttribute('.choice >> text=Red', 'aria-pressed'), 'true');
  assert.equal(await pages[1].page.getAttribute('.choice >> text=Green', 'aria-pressed'), 'false');

  await studio.request({ do: 'vote_stop' });
  await pages[2].page.waitForFunction(() => /closed/.test(document.querySelector('#vote-status').textContent));
  assert.ok(await pages[2].page.isDisabled('.choice >> text=Red'));
});

async function waitForTally(expected) {
  const deadline = Date.now() + 5000;
  let votes;
  while (Date.now() < deadline) {
    votes = (await studio.request({ do: 'votes' })).votes.slice(0, expected.length);
    if (JSON.stringify(votes) === JSON.stringify(expected)) return;
    await sleep(100);
  }
  assert.deepEqual(votes, expected);
}

function barTexts(page) {
  return page.locator('.row .label span').allTextContents();
}

test('the random draw: progress in its colour, one winner with the code, the others lose', async (t) => {
  const pages = await liveViewers(t, 2);
  await studio.request({ do: 'game_tick', clr: '#00ff7f', proc: 42 });
  for (const { page } of pages) {
    await page.waitForSelector('#game:not([hidden])');
    assert.equal(await page.textContent('#game-percent'), 'Drawing the winner… 42 %');
    assert.equal(await page.evaluate(() => getComputedStyle(document.querySelector('#progress')).backgroundColor),
      'rgb(0, 255, 127)');
  }
  await studio.request({ do: 'game_finish', lose: 'Not this time <3', win: 'You won!', code: 'K7Q2' });
  const shown = [];
  for (const { page } of pages) {
    await page.waitForSelector('#result:not([hidden])');
    shown.push(await page.locator('#result p.big, #result .code').allTextContents());
  }
  shown.sort();
  assert.deepEqual(shown, [['Not this time <3'], ['You won!', 'K7Q2']]);
  for (const { page } of pages) {
    if (await page.locator('#result .code').count()) {
      const size = await page.evaluate(() => parseFloat(getComputedStyle(document.querySelector('#result .code')).fontSize));
      assert.ok(size >= 48, `the code is large enough to show the presenter (${size}px)`);
    }
  }
});

test('phone layout: the picture fits the width, nothing scrolls sideways, controls are tappable', async (t) => {
  const viewer = await viewerFor(t, browser, studio.url, {
    context: { viewport: { width: 375, height: 667 }, deviceScaleFactor: 2, isMobile: true, hasTouch: true },
  });
  const { page } = viewer;
  await firstPicture(page);
  await studio.request({ do: 'vote', title: 'A rather long question title that has to wrap on a phone screen',
    options: ['Yes', 'No', 'Averyveryverylongoptionwithoutanyspacesthatmustnotwidenthepage', '', ''] });
  await page.waitForSelector('#vote:not([hidden]) .choice');
  const layout = await page.evaluate(() => {
    const box = (selector) => document.querySelector(selector).getBoundingClientRect();
    return {
      scrollWidth: document.documentElement.scrollWidth,
      canvas: box('#video'),
      controls: [...document.querySelectorAll('#send, .choice')].map((element) => element.getBoundingClientRect().height),
      inputFont: parseFloat(getComputedStyle(document.querySelector('#message')).fontSize),
    };
  });
  assert.ok(layout.scrollWidth <= 375, `page is ${layout.scrollWidth}px wide`);
  assert.equal(Math.round(layout.canvas.width), 375);
  assert.ok(layout.canvas.height > 200 && layout.canvas.height <= 667);
  for (const height of layout.controls) assert.ok(height >= 44, `control of ${height}px`);
  assert.ok(layout.inputFont >= 16, 'inputs do not make phones zoom');
  await studio.request({ do: 'vote_stop' });
});

test('pages reconnect without a reload when the studio is killed and started again', async (t) => {
  const viewer = await viewerFor(t, browser, studio.url);
  const { page } = viewer;
  await firstPicture(page);
  await page.evaluate(() => { window.__sameDocument = true; });

  const { httpPort } = studio;
  await studio.close(); // the whole studio process ends
  await page.waitForFunction(() => document.querySelector('#connection').dataset.state === 'reconnecting',
    null, { timeout: 5000 });

  studio = await startStudio({ httpPort });
  await startSession();
  await page.waitForFunction(() => document.querySelector('#connection').dataset.state === 'live',
    null, { timeout: 10000 });
  const { paintedAt } = await studio.request({ do: 'paint', colour: '#20c060' });
  await waitForColour(page, '#20c060', paintedAt, 5000);
  assert.equal(await page.evaluate(() => window.__sameDocument), true);
  // A vote after the reconnection reaches the page through the new command channel.
  await studio.request({ do: 'vote', title: 'Back?', options: ['Yes', 'No', '', '', ''] });
  await page.waitForSelector('#vote:not([hidden]) .choice');
});
