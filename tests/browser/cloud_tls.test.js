'use strict';
// A cloud session over TLS: the real lumacast-cloud serving https and wss with a certificate of
// the test's own authority (made here with openssl), the studio given that authority and
// "https://localhost:<port>" as its server, and a viewer page opened at the studio's viewer
// address, which must be https and whose sockets must then be wss.
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { startCloud, startStudio, launchBrowser } = require('./studio.js');

let dir;
let cloud;
let studio;
let browser;

function makeCertificates() {
  dir = fs.mkdtempSync(path.join(os.tmpdir(), 'lumacast-tls-'));
  const at = (name) => path.join(dir, name);
  const openssl = (args) => execFileSync('openssl', args, { stdio: 'ignore' });
  openssl(['req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', at('ca.key'), '-out',
    at('ca.pem'), '-days', '2', '-subj', '/CN=Lumacast browser test CA']);
  openssl(['req', '-newkey', 'rsa:2048', '-nodes', '-keyout', at('relay.key'), '-out',
    at('relay.csr'), '-subj', '/CN=localhost']);
  fs.writeFileSync(at('relay.ext'), 'subjectAltName=DNS:localhost\n');
  openssl(['x509', '-req', '-in', at('relay.csr'), '-CA', at('ca.pem'), '-CAkey', at('ca.key'),
    '-CAcreateserial', '-days', '2', '-extfile', at('relay.ext'), '-out', at('relay.pem')]);
  return at;
}

before(async () => {
  const at = makeCertificates();
  cloud = await startCloud(['--tls-cert', at('relay.pem'), '--tls-key', at('relay.key')]);
  process.env.LUMACAST_CLOUD_SERVER = 'https://localhost:' + cloud.port;
  process.env.LUMACAST_CLOUD_CA_FILE = at('ca.pem');
  studio = await startStudio();
  browser = await launchBrowser(['--autoplay-policy=no-user-gesture-required']);
  assert.deepEqual(await studio.request({ do: 'start' }), { running: true });
});

after(async () => {
  await browser?.close();
  await studio?.close();
  cloud?.child.kill('SIGKILL');
  if (dir) fs.rmSync(dir, { recursive: true, force: true });
});

test('an https viewer page watches through wss', async (t) => {
  assert.match(studio.url, new RegExp('^https://localhost:' + cloud.port + '\\?room='));
  const sockets = [];
  // The browser does not know the test's authority; the relay's certificate is what the studio
  // checks, against the authority it was given.
  const context = await browser.newContext({ ignoreHTTPSErrors: true });
  t.after(() => context.close());
  const page = await context.newPage();
  page.on('websocket', (socket) => sockets.push(socket.url()));
  await page.goto(studio.url);
  await page.waitForFunction(() => window.viewer && window.viewer.stats.firstPictureAt > 0,
    null, { timeout: 15000 });
  assert.ok(sockets.length > 0);
  for (const url of sockets) assert.match(url, /^wss:\/\/localhost:\d+\/websocket\/right\//);
});
