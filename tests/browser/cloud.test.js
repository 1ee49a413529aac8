'use strict';
// A cloud session end to end: the real lumacast-cloud on the namespace's loopback, the studio
// (studio_host, in cloud mode with that server) streaming to it, and viewer pages in headless
// Chromium opened at the studio's cloud viewer address.
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const {
  startCloud, startStudio, launchBrowser, openViewer, hexToRgb, near,
} = require('./studio.js');
const { pagesFromAddresses, playQuizInPages, viewersNeeded } = require('./quizgame.js');
const { questionsInPages } = require('./questionsround.js');

const SCREEN = '#2060c0'; // what studio_host shows at start
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

let cloud;
let studio;
let browser;

before(async () => {
  cloud = await startCloud();
  process.env.LUMACAST_CLOUD_SERVER = cloud.server;
  studio = await startStudio();
  browser = await launchBrowser(['--autoplay-policy=no-user-gesture-required']);
  assert.deepEqual(await studio.request({ do: 'start' }), { running: true });
});

after(async () => {
  await browser?.close();
  await studio?.close();
  cloud?.child.kill('SIGKILL');
});

async function viewerFor(t) {
  const viewer = await openViewer(browser, studio.url);
  t.after(() => viewer.context.close());
  await viewer.page.waitForFunction(() => window.viewer && window.viewer.stats.firstPictureAt > 0,
    null, { timeout: 15000 });
  return viewer;
}

async function until(read, accept, timeoutMs) {
  const deadline = Date.now() + timeoutMs;
  let value;
  while (Date.now() < deadline) {
    value = await read();
    if (accept(value)) return value;
    await sleep(200);
  }
  assert.fail('gave up waiting; last seen ' + JSON.stringify(value));
}

test('the cloud address shows the picture and the statistics are the service\'s', async (t) => {
  assert.match(studio.url, new RegExp('^http://' + cloud.server + '\\?room=[0-9a-f]{16}-[0-9a-f]{32}$'));
  const { page } = await viewerFor(t);
  const first = await page.evaluate(() => window.__pictures[0].rgb);
  assert.ok(near(first, hexToRgb(SCREEN)), `first picture shows ${first}`);
  const stats = await until(() => studio.request({ do: 'stats' }),
    (value) => value.clients === 'Clients: 1 ' && !/: 0 Kbs/.test(value.total), 10000);
  assert.doesNotMatch(stats.feed, /: 0 Kbs/);
});

test('a question reaches the studio\'s store and the API server\'s list; a vote goes round', async (t) => {
  const { page } = await viewerFor(t);
  await page.fill('#name', 'Cleo');
  await page.fill('#message', 'Is the cloud 100% live?');
  await page.click('#send');
  await page.waitForFunction(() => /received/.test(document.querySelector('#question-status').textContent));
  const stored = await until(() => studio.request({ do: 'questions' }),
    (value) => value.questions.some((q) => q.name === 'Cleo'), 5000);
  assert.equal(stored.questions.find((q) => q.name === 'Cleo').question, 'Is the cloud 100% live?');
  const { api } = await studio.request({ do: 'stats' });
  const list = await (await fetch(api + '/feedback_list.json')).json();
  assert.ok(list.some((q) => q.name === 'Cleo' && q.question === 'Is the cloud 100% live?'));

  await studio.request({ do: 'vote', title: 'Cloud?', options: ['Yes', 'No', '', '', ''] });
  await page.waitForSelector('#vote:not([hidden]) .choice');
  await page.click('.choice >> text=No');
  await until(() => studio.request({ do: 'votes' }),
    (value) => value.votes[0] === 1 && value.votes[2] === 1, 10000);
  await studio.request({ do: 'vote_stop' });
});

test('pages answer a quiz played through the cloud room and see the studio\'s leaderboard; a late joiner sees the open question', async (t) => {
  const viewerUrls = await pagesFromAddresses(t, studio.url, viewersNeeded, 21);
  const { api } = await studio.request({ do: 'stats' });
  await playQuizInPages(t, { studio, browser, viewerUrls, screenUrl: api + '/quiz_result.html' });
});

test('questions through the cloud room: anonymous, upvoted from three addresses, approved, highlighted on every page and the screen', async (t) => {
  // The earlier tests' questions go first, so that the pages list only this test's.
  for (const question of (await studio.request({ do: 'questions' })).questions)
    await studio.request({ do: 'question_action', action: 'hide', id: question.id });
  const viewerUrls = await pagesFromAddresses(t, studio.url, 4, 41);
  const { api } = await studio.request({ do: 'stats' });
  await questionsInPages(t, { studio, browser, viewerUrls, screenUrl: api + '/questions_screen.html' });
});

test('Stop closes the cloud connection and the API server', async () => {
  const { api } = await studio.request({ do: 'stats' });
  assert.deepEqual(await studio.request({ do: 'stop' }), { running: false });
  await assert.rejects(fetch(api + '/feedback_list.json'));
  const room = new URL(studio.url).searchParams.get('room');
  const raw = encodeURIComponent(JSON.stringify({ name: 'Dan', msg: 'still there?' }));
  // The presenter has left the room (which is freed once its last viewer goes too): the service
  // takes no question for it.
  const answer = await fetch(`http://${cloud.server}/feedback.php?room=${room}&raw=${raw}`);
  assert.ok([400, 503].includes(answer.status), `answered ${answer.status}`);
});
