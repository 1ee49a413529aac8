'use strict';
// The room's questions in a local session: asked without a name, upvoted from three pages and
// reordered on a fourth, held back while approval is required, highlighted on every page and on
// the room's screen. Each page reaches the studio from an address of its own (the studio counts
// one upvote per address and question), through a pair of loopback ports.
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const { startStudio, launchBrowser, openViewer } = require('./studio.js');
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

async function ask(page, name, message) {
  await page.fill('#name', name);
  await page.fill('#message', message);
  await page.click('#send');
  await page.waitForFunction(() => /received/.test(document.querySelector('#question-status').textContent));
}

// The open questions as a page lists them, in order: [text, upvotes, mine].
function listed(page) {
  return page.$$eval('#questions-list .question', (rows) => rows.map((row) => [
    row.querySelector('.body').textContent,
    Number(row.querySelector('.upvote').textContent.replace(/\D/g, '')),
    row.classList.contains('mine'),
  ]));
}

function waitForList(page, texts) {
  return page.waitForFunction((expected) => JSON.stringify(Array.from(
    document.querySelectorAll('#questions-list .question .body'), (b) => b.textContent)) === expected,
  JSON.stringify(texts));
}

async function storedId(text) {
  for (;;) {
    const found = (await studio.request({ do: 'questions' })).questions.find((q) => q.question === text);
    if (found) return found;
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

test('anonymous question, upvotes reorder the list, approval holds back, highlight reaches pages and the screen', async (t) => {
  const pages = [];
  for (const from of FROM) {
    const port = await forwarders.forwardRun(
      [{ host: STUDIO_ADDRESS, port: studio.httpPort }, { host: STUDIO_ADDRESS, port: studio.httpPort + 1 }], from);
    const opened = await openViewer(browser, `http://127.0.0.1:${port}/`);
    t.after(() => opened.context.close());
    pages.push(opened.page);
  }
  await Promise.all(pages.map((page) => page.waitForFunction(
    () => document.querySelector('#connection').dataset.state === 'live')));
  const [a, b, c, d] = pages;

  // No name: asked as "Anonymous"; markup stays text.
  await ask(a, '', 'Which way <b>up</b>?');
  assert.equal((await storedId('Which way <b>up</b>?')).name, 'Anonymous');
  await ask(d, 'Dee', 'Second one?');
  // Most upvoted first, then newest: the later question leads while nobody upvoted.
  await waitForList(d, ['Second one?', 'Which way <b>up</b>?']);
  assert.deepEqual(await listed(d), [['Second one?', 0, true], ['Which way <b>up</b>?', 0, false]]);
  assert.equal(await d.$eval('#questions-list .who', (who) => who.textContent), 'Dee · your question');
  await waitForList(a, ['Second one?', 'Which way <b>up</b>?']);
  assert.equal(await a.$$eval('#questions-list .question:not(.mine) .who', (w) => w.map((x) => x.textContent).join()), 'Dee');

  // Three pages upvote the first question; the fourth sees it move up with its count.
  for (const page of [a, b, c]) {
    await page.waitForSelector('#questions-list .question:has-text("Which way") .upvote');
    await page.click('#questions-list .question:has-text("Which way") .upvote');
  }
  await d.waitForFunction(() => document.querySelector('#questions-list .question .upvote')?.textContent === '▲ 3');
  assert.deepEqual(await listed(d), [['Which way <b>up</b>?', 3, false], ['Second one?', 0, true]]);
  // Once per viewer: a second click takes it back.
  await c.click('#questions-list .question:has-text("Which way") .upvote');
  await d.waitForFunction(() => document.querySelector('#questions-list .question .upvote')?.textContent === '▲ 2');
  assert.equal((await storedId('Which way <b>up</b>?')).upvotes, 2);

  // With approval required a question waits, unseen, until the presenter approves it.
  await studio.request({ do: 'question_action', action: 'approval', on: true });
  await ask(b, 'Bea', 'Wait for me');
  const waiting = await storedId('Wait for me');
  assert.equal(waiting.state, 'waiting');
  // A later change reaches the pages; the waiting question is still not among them.
  await c.click('#questions-list .question:has-text("Which way") .upvote');
  await d.waitForFunction(() => document.querySelector('#questions-list .question .upvote')?.textContent === '▲ 3');
  await waitForList(d, ['Which way <b>up</b>?', 'Second one?']);
  await studio.request({ do: 'question_action', action: 'approve', id: waiting.id });
  await waitForList(d, ['Which way <b>up</b>?', 'Wait for me', 'Second one?']);

  // Highlighted: on top of every page and large on the room's screen.
  const screen = await openViewer(browser, studio.url + 'questions_screen.html');
  t.after(() => screen.context.close());
  const second = await storedId('Second one?');
  await studio.request({ do: 'question_action', action: 'highlight', id: second.id });
  for (const page of pages) {
    await page.waitForFunction(() =>
      document.querySelector('#questions-highlight .body')?.textContent === 'Second one?');
  }
  await screen.page.waitForFunction(() =>
    document.querySelector('#highlight .body').textContent === 'Second one?');
  assert.equal(await screen.page.$eval('#top li .body', (body) => body.firstChild.textContent), 'Which way <b>up</b>?');

  // Answered: folded away on the pages; hidden: gone from them.
  await studio.request({ do: 'question_action', action: 'answer', id: second.id });
  await studio.request({ do: 'question_action', action: 'hide', id: waiting.id });
  await waitForList(d, ['Which way <b>up</b>?']);
  assert.equal(await d.$eval('#questions-answered summary', (s) => s.textContent), 'Answered (1)');
  assert.equal(await d.$eval('#questions-highlight', (h) => h.children.length), 0);
});
