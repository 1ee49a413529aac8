'use strict';
// The viewer page behind a balancer in front of relays that share rooms over NATS: the studio
// streams to the first node, the page comes through the balancer to another, and when that node
// dies the page reconnects to the address it came from and watches on the next one.
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');
const readline = require('node:readline');
const { startSession, openViewer, waitForColour } = require('./studio.js');
const { pagesFromAddresses } = require('./quizgame.js');
const { questionsInPages } = require('./questionsround.js');

const children = [];
let studio;
let browser;
let balancer;
let nodes;

function freePort() {
  return new Promise((resolve) => {
    const probe = net.createServer().listen(0, '127.0.0.1', () => {
      const { port } = probe.address();
      probe.close(() => resolve(port));
    });
  });
}

function run(program, args, stderrPath) {
  const child = spawn(program, args, {
    stdio: ['ignore', 'pipe', stderrPath ? fs.openSync(stderrPath, 'w') : 'ignore'],
  });
  children.push(child);
  return child;
}

async function startNats(logDir) {
  const clients = [];
  const routes = [];
  for (let i = 0; i < 3; ++i) {
    clients.push(await freePort());
    routes.push(`nats://127.0.0.1:${await freePort()}`);
  }
  const logs = [];
  for (let i = 0; i < 3; ++i) {
    logs.push(path.join(logDir, `nats-${i}.log`));
    run('nats-server', ['-a', '127.0.0.1', '-p', String(clients[i]), '-n', `nats-${i}`,
      '--cluster_name', 'lumacast', '--cluster', routes[i],
      '--routes', routes.filter((_, j) => j !== i).join(',')], logs[i]);
  }
  // Each server has a route to both others.
  const routesOf = (log) => {
    const text = fs.existsSync(log) ? fs.readFileSync(log, 'utf8') : '';
    return (text.match(/Route connection created/g) || []).length -
      (text.match(/Duplicate Route/g) || []).length;
  };
  const deadline = Date.now() + 15000;
  while (!logs.every((log) => routesOf(log) >= 2)) {
    assert.ok(Date.now() < deadline, 'the NATS servers formed no cluster');
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
  return clients.map((port) => `nats://127.0.0.1:${port}`);
}

function startNode(urls) {
  const program = process.env.LUMACAST_CLOUD ||
    path.join(__dirname, '..', '..', 'build', 'bin', 'lumacast-cloud');
  const child = run(program, ['--listen', '127.0.0.1', '--port', '0', '--nats', urls.join(',')]);
  return new Promise((resolve, reject) => {
    child.once('exit', (code) => reject(new Error('lumacast-cloud ended with ' + code)));
    readline.createInterface({ input: child.stdout }).once('line', (line) => {
      resolve({ child, port: Number(line.slice(line.lastIndexOf(':') + 1)) });
    });
  });
}

// A TCP balancer that sends every connection to the first of its nodes that takes it, as an
// active/standby pair does: the page lands on the first node until that one dies.
function startBalancer(ports) {
  const server = net.createServer((client) => {
    client.pause();
    const tryNode = (index) => {
      if (index === ports.length) return client.destroy();
      const upstream = net.connect({ host: '127.0.0.1', port: ports[index] });
      upstream.once('error', () => {
        if (!upstream.connected) tryNode(index + 1);
      });
      upstream.once('connect', () => {
        upstream.connected = true;
        const end = () => { client.destroy(); upstream.destroy(); };
        client.on('error', end).on('close', end);
        upstream.on('error', end).on('close', end);
        client.pipe(upstream);
        upstream.pipe(client);
        client.resume();
      });
    };
    tryNode(0);
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

before(async () => {
  const logDir = fs.mkdtempSync(path.join(os.tmpdir(), 'lumacast-cluster-'));
  const urls = await startNats(logDir);
  nodes = [];
  for (let i = 0; i < 3; ++i) nodes.push(await startNode([...urls.slice(i), ...urls.slice(0, i)]));
  balancer = await startBalancer([nodes[1].port, nodes[2].port]);
  process.env.LUMACAST_CLOUD_SERVER = `127.0.0.1:${nodes[0].port}`;
  ({ studio, browser } = await startSession());
});

after(async () => {
  for (const child of children) child.kill('SIGKILL');
  balancer?.close();
  await browser?.close();
  await studio?.close();
});

test('questions asked, upvoted and highlighted on pages of the two other nodes', async (t) => {
  const viewerUrls = await pagesFromAddresses(t, studio.url, 4, 41,
    (i) => ({ host: '127.0.0.1', port: nodes[1 + (i % 2)].port }));
  const { api } = await studio.request({ do: 'stats' });
  await questionsInPages(t, { studio, browser, viewerUrls, screenUrl: api + '/questions_screen.html' });
});

test('a page on another node watches, and after that node dies watches again on the next', async (t) => {
  const address = new URL(studio.url);
  const viewer = await openViewer(browser,
    `http://127.0.0.1:${balancer.address().port}/${address.search}`);
  t.after(() => viewer.context.close());
  const { page } = viewer;
  let { paintedAt } = await studio.request({ do: 'paint', colour: '#e02020' });
  await waitForColour(page, '#e02020', paintedAt, 15000);

  nodes[1].child.kill('SIGKILL');
  await page.waitForFunction(() => window.viewer.stats.reconnects > 0, null, { timeout: 10000 });
  ({ paintedAt } = await studio.request({ do: 'paint', colour: '#20c040' }));
  await waitForColour(page, '#20c040', paintedAt, 15000);
  const connection = await page.textContent('#connection');
  assert.equal(connection, 'Live');
});
