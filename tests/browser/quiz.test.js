'use strict';
// A quiz played live from the studio's play window, answered in three viewer pages in headless
// Chromium. The studio counts one answer per viewer address, so each page reaches it from an
// address of its own: through a pair of loopback ports (the page and its relay, port + 1) whose
// connections go on to the studio from that address.
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const net = require('node:net');
const { execFileSync } = require('node:child_process');
const { startStudio, launchBrowser, openViewer } = require('./studio.js');

const STUDIO_ADDRESS = process.env.LUMACAST_STUDIO_ADDRESS;
const PAGES = [
  { from: '10.213.7.21', nickname: 'Ann', answers: ['right', 'right'] },
  { from: '10.213.7.22', nickname: 'Bob', answers: ['right', 'wrong'] },
  { from: '10.213.7.23', nickname: 'Cleo', answers: ['wrong', 'wrong'] },
];
const QUESTIONS = [
  { title: 'Which planet is largest?', options: ['right', 'wrong', 'nope', 'never'] },
  { title: 'And the answer is?', options: ['right', 'wrong', 'nope', ''] },
];

let studio;
let browser;
const proxies = [];

function forward(localPort, targetPort, from) {
  const server = net.createServer((client) => {
    const upstream = net.connect({ host: STUDIO_ADDRESS, port: targetPort, localAddress: from });
    const end = () => { client.destroy(); upstream.destroy(); };
    client.on('error', end).on('close', end);
    upstream.on('error', end).on('close', end);
    client.pipe(upstream);
    upstream.pipe(client);
  });
  proxies.push(server);
  return new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(localPort, '127.0.0.1', () => resolve(server));
  });
}

// The page's address on 127.0.0.1, whose port and port + 1 lead to the studio's 8080 and 8081.
async function viewerAddressFrom(from) {
  for (;;) {
    const port = 20000 + Math.floor(Math.random() * 30000);
    try {
      await forward(port, 8080, from);
      await forward(port + 1, 8081, from);
      return `http://127.0.0.1:${port}/`;
    } catch (error) {
      if (error.code !== 'EADDRINUSE') throw error;
    }
  }
}

before(async () => {
  for (const page of PAGES)
    execFileSync('ip', ['addr', 'add', `${page.from}/24`, 'dev', 'studio0']);
  studio = await startStudio();
  browser = await launchBrowser(['--autoplay-policy=no-user-gesture-required']);
  assert.deepEqual(await studio.request({ do: 'start' }), { running: true });
});

after(async () => {
  await browser?.close();
  await studio?.close();
  for (const server of proxies) server.close();
});

async function waitForAnswers(count) {
  for (let i = 0; i < 100; ++i) {
    if ((await studio.request({ do: 'quiz_state' })).answered === count) return;
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
  assert.fail(`the studio did not count ${count} answers`);
}

test('three pages answer a played quiz and see the studio\'s leaderboard; so does the room screen', async (t) => {
  const screen = await openViewer(browser, studio.url, { page: 'quiz_result.html' });
  t.after(() => screen.context.close());
  const screenSays = (text) => screen.page.waitForFunction((expected) =>
    document.body.textContent.includes(expected), text);
  await screenSays('No quiz is being played.');
  const pages = [];
  for (const viewer of PAGES) {
    const opened = await openViewer(browser, await viewerAddressFrom(viewer.from));
    t.after(() => opened.context.close());
    await opened.page.fill('#nickname', viewer.nickname);
    await opened.page.dispatchEvent('#nickname', 'change');
    pages.push(opened.page);
  }
  await Promise.all(pages.map((page) => page.waitForFunction(
    () => document.querySelector('#connection').dataset.state === 'live')));

  await studio.request({ do: 'quiz_play', title: 'Planets', questions: QUESTIONS, seconds: 60 });
  for (let question = 0; question < QUESTIONS.length; ++question) {
    await studio.request({ do: 'quiz_next' });
    for (let i = 0; i < pages.length; ++i) {
      const page = pages[i];
      await page.waitForFunction((n) => document.querySelector('#quiz-question').textContent
        .startsWith(`Question ${n} of 2`), question + 1);
      const shown = await page.$$eval('#quiz-choices .choice', (buttons) => buttons.map((b) => b.textContent));
      assert.deepEqual(shown.slice().sort(), QUESTIONS[question].options.filter((o) => o).sort());
      await page.click(`#quiz-choices .choice:text-is("${PAGES[i].answers[question]}")`);
      await waitForAnswers(i + 1);
    }
    await screenSays(`Question ${question + 1} of 2 · 3 answered`);
    await studio.request({ do: 'quiz_next' });
    await screen.page.waitForFunction(() =>
      document.querySelector('.row.right .option')?.textContent === 'right');
    for (let i = 0; i < pages.length; ++i) {
      const right = PAGES[i].answers[question] === 'right';
      await pages[i].waitForFunction((expected) =>
        document.querySelector('#quiz-status').textContent.startsWith(expected),
      right ? 'Right!' : 'Not quite. The answer was: right');
    }
  }
  const results = await studio.request({ do: 'quiz_next' });
  assert.deepEqual(results.leaders.map((leader) => leader.nickname), ['Ann', 'Bob', 'Cleo']);
  assert.equal(results.leaders[2].score, 0);
  const expected = results.leaders.map((leader) => `${leader.nickname}: ${leader.score} points`);
  await screenSays('Final leaderboard');
  assert.deepEqual(await screen.page.$$eval('#leaders li', (items) => items.map((li) => li.textContent)), expected);
  for (const page of pages) {
    await page.waitForFunction(() => document.querySelector('#quiz-board-title').textContent === 'Final leaderboard');
    assert.deepEqual(await page.$$eval('#quiz-board li', (items) => items.map((li) => li.textContent)), expected);
  }
});
