'use strict';
// A quiz played live from the studio's play window and answered in three viewer pages, shared
// by the local and the cloud browser tests. The studio (or the cloud room) counts one answer per
// viewer address, so each page reaches it from an address of its own, through a loopback port
// whose connections go on from that address.
const assert = require('node:assert/strict');
const net = require('node:net');
const { openViewer } = require('./studio.js');

const PLAYERS = [
  { nickname: 'Ann', answers: ['right', 'right'] },
  { nickname: 'Bob', answers: ['right', 'wrong'] },
  { nickname: 'Cleo', answers: ['wrong', 'wrong'] },
];
const QUESTIONS = [
  { title: 'Which planet is largest?', options: ['right', 'wrong', 'nope', 'never'] },
  { title: 'And the answer is?', options: ['right', 'wrong', 'nope', ''] },
];

// Port forwarders on 127.0.0.1 whose connections reach their targets from one chosen address.
class SourceAddressForwarders {
  constructor() { this.servers = []; }

  // Listens on `localPort` and connects each client on to `target` ({ host, port }) from `from`.
  forward(localPort, target, from) {
    const server = net.createServer((client) => {
      const upstream = net.connect({ host: target.host, port: target.port, localAddress: from });
      const end = () => { client.destroy(); upstream.destroy(); };
      client.on('error', end).on('close', end);
      upstream.on('error', end).on('close', end);
      client.pipe(upstream);
      upstream.pipe(client);
    });
    this.servers.push(server);
    return new Promise((resolve, reject) => {
      server.once('error', reject);
      server.listen(localPort, '127.0.0.1', resolve);
    });
  }

  // A free run of `targets.length` consecutive local ports leading to the targets in order;
  // resolves with the first port.
  async forwardRun(targets, from) {
    for (;;) {
      const first = 20000 + Math.floor(Math.random() * 30000);
      try {
        for (let i = 0; i < targets.length; ++i) await this.forward(first + i, targets[i], from);
        return first;
      } catch (error) {
        if (error.code !== 'EADDRINUSE') throw error;
      }
    }
  }

  close() { for (const server of this.servers) server.close(); }
}

// `count` addresses of a cloud room's page (`roomUrl`, the studio's viewer address) whose
// connections reach `nodeOf(i)` ({ host, port }, the room's own server unless given) from
// 127.0.0.<first + i>: the room counts one answer or upvote per address.
async function pagesFromAddresses(t, roomUrl, count, first, nodeOf) {
  const room = new URL(roomUrl);
  const forwarders = new SourceAddressForwarders();
  t.after(() => forwarders.close());
  const viewerUrls = [];
  for (let i = 0; i < count; ++i) {
    const node = nodeOf ? nodeOf(i) : { host: room.hostname, port: Number(room.port) };
    const port = await forwarders.forwardRun([node], `127.0.0.${first + i}`);
    viewerUrls.push(`http://127.0.0.1:${port}/${room.search}`);
  }
  return viewerUrls;
}

async function waitForAnswers(studio, count) {
  for (let i = 0; i < 100; ++i) {
    if ((await studio.request({ do: 'quiz_state' })).answered === count) return;
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
  assert.fail(`the studio did not count ${count} answers`);
}

function showsQuestion(page, number) {
  return page.waitForFunction((n) => document.querySelector('#quiz-question').textContent
    .startsWith(`Question ${n} of 2`), number);
}

// Plays the quiz: `viewerUrls` are four page addresses, each reaching the studio from its own
// address (three players and one who joins during the first question); `screenUrl` opens
// quiz_result.html for the room's screen.
async function playQuizInPages(t, { studio, browser, viewerUrls, screenUrl }) {
  const screen = await openViewer(browser, screenUrl);
  t.after(() => screen.context.close());
  const screenSays = (text) => screen.page.waitForFunction((expected) =>
    document.body.textContent.includes(expected), text);
  await screenSays('No quiz is being played.');
  const pages = [];
  for (let i = 0; i < PLAYERS.length; ++i) {
    const opened = await openViewer(browser, viewerUrls[i]);
    t.after(() => opened.context.close());
    await opened.page.fill('#nickname', PLAYERS[i].nickname);
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
      await showsQuestion(page, question + 1);
      const shown = await page.$$eval('#quiz-choices .choice', (buttons) => buttons.map((b) => b.textContent));
      assert.deepEqual(shown.slice().sort(), QUESTIONS[question].options.filter((o) => o).sort());
      await page.click(`#quiz-choices .choice:text-is("${PLAYERS[i].answers[question]}")`);
      await waitForAnswers(studio, i + 1);
    }
    if (question === 0) {
      // A viewer who opens the page now is shown the open question and its countdown at once.
      const late = await openViewer(browser, viewerUrls[PLAYERS.length]);
      await showsQuestion(late.page, 1);
      await late.page.waitForFunction(() => /\d+ s/.test(document.querySelector('#quiz-countdown').textContent));
      assert.equal(await late.page.$$eval('#quiz-choices .choice', (buttons) => buttons.length), 4);
      await late.context.close();
    }
    await screenSays(`Question ${question + 1} of 2 · 3 answered`);
    await studio.request({ do: 'quiz_next' });
    await screen.page.waitForFunction(() =>
      document.querySelector('.row.right .option')?.textContent === 'right');
    for (let i = 0; i < pages.length; ++i) {
      const right = PLAYERS[i].answers[question] === 'right';
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
}

module.exports = {
  SourceAddressForwarders, pagesFromAddresses, playQuizInPages, viewersNeeded: PLAYERS.length + 1,
};
