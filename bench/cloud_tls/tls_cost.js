'use strict';
// What TLS costs the relay: lumacast-cloud serving one room to a crowd of viewers, once over ws
// and once over wss (a certificate made here by openssl), fed about 1 Mbit/s by the studio's
// cloud relay client (cloud_fanout_presenter). Prints the relay's CPU seconds per second and what
// the crowd received, for each, and their ratio. Run by hand from the repository root:
//   node bench/cloud_tls/tls_cost.js [--build build] [--viewers 200] [--seconds 10]
const { execFileSync, spawn } = require('node:child_process');
const fs = require('node:fs');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');
const readline = require('node:readline');
const WebSocket = require('ws');

const option = (name, fallback) => {
  const at = process.argv.indexOf('--' + name);
  return at > 0 ? process.argv[at + 1] : fallback;
};
const build = path.resolve(option('build', 'build'));
const viewers = Number(option('viewers', 200));
const seconds = Number(option('seconds', 10));
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

function firstLine(child, pattern) {
  return new Promise((resolve, reject) => {
    child.once('exit', (code) => reject(new Error(child.spawnfile + ' ended with ' + code)));
    const lines = readline.createInterface({ input: child.stdout });
    lines.on('line', (line) => { if (pattern.test(line)) resolve(line); });
  });
}

function cpuSeconds(pid) {
  const fields = fs.readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ');
  return (Number(fields[11]) + Number(fields[12])) / 100; // utime + stime, in clock ticks
}

async function run(tls, certificate) {
  const relayArgs = ['--listen', '127.0.0.1', '--port', '0', '--max-viewers', String(viewers)];
  if (tls) relayArgs.push('--tls-cert', certificate.cert, '--tls-key', certificate.key);
  const relay = spawn(path.join(build, 'bin', 'lumacast-cloud'), relayArgs,
    { stdio: ['ignore', 'pipe', 'ignore'] });
  const port = Number((await firstLine(relay, /listening on/)).split(':').pop());
  const presenter = spawn(path.join(build, 'bin', 'cloud_fanout_presenter'),
    [(tls ? 'https://localhost:' : '127.0.0.1:') + port, '0'],
    { stdio: ['pipe', 'pipe', 'ignore'], env: { ...process.env, LUMACAST_CLOUD_CA_FILE: certificate.cert } });
  const [, room, ingestPort] = (await firstLine(presenter, /^READY /)).split(' ');
  let received = 0;
  const sockets = [];
  for (let i = 0; i < viewers; ++i) {
    const socket = new WebSocket(`${tls ? 'wss' : 'ws'}://localhost:${port}/websocket/right/${room}/readvideo`,
      { rejectUnauthorized: false, localAddress: `127.0.${1 + Math.floor(i / 16)}.${1 + (i % 16)}` });
    socket.on('message', (data) => { received += data.length; });
    sockets.push(new Promise((resolve, reject) => { socket.once('open', resolve); socket.once('error', reject); }));
    sockets[i].socket = socket;
  }
  await Promise.all(sockets);
  const ingest = net.connect(Number(ingestPort), '127.0.0.1');
  const chunk = Buffer.alloc(188 * 7, 0x55);
  for (let i = 0; i < chunk.length; i += 188) chunk[i] = 0x47;
  const feed = setInterval(() => ingest.write(chunk), 10);
  await sleep(2000);
  const cpuBefore = cpuSeconds(relay.pid);
  const receivedBefore = received;
  await sleep(seconds * 1000);
  const cpu = (cpuSeconds(relay.pid) - cpuBefore) / seconds;
  const rate = (received - receivedBefore) / seconds / 1e6;
  const open = sockets.filter((pending) => pending.socket.readyState === WebSocket.OPEN).length;
  clearInterval(feed);
  ingest.destroy();
  for (const pending of sockets) pending.socket.terminate();
  presenter.stdin.end();
  presenter.kill();
  relay.kill();
  return { cpu, rate, open };
}

(async () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'lumacast-tls-cost-'));
  const certificate = { cert: path.join(dir, 'cert.pem'), key: path.join(dir, 'key.pem') };
  execFileSync('openssl', ['req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', certificate.key,
    '-out', certificate.cert, '-days', '1', '-subj', '/CN=localhost', '-addext',
    'subjectAltName=DNS:localhost'], { stdio: 'ignore' });
  const plain = await run(false, certificate);
  const tls = await run(true, certificate);
  console.log(`${viewers} viewers, ${seconds} s, about 1.05 Mbit/s in`);
  console.log(`ws:  relay CPU ${plain.cpu.toFixed(3)} s/s, viewers received ${plain.rate.toFixed(2)} MB/s, ${plain.open} still open`);
  console.log(`wss: relay CPU ${tls.cpu.toFixed(3)} s/s, viewers received ${tls.rate.toFixed(2)} MB/s, ${tls.open} still open`);
  console.log(`wss/ws CPU ratio ${(tls.cpu / plain.cpu).toFixed(2)}`);
  fs.rmSync(dir, { recursive: true, force: true });
})().catch((error) => { console.error(error); process.exit(1); });
