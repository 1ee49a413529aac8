'use strict';
// Presents to an installed lumacast-cloud and watches the room as its viewers would: ffmpeg
// encodes a still colour the way the studio's writers do (MPEG-1 without B-frames in a transport
// stream), a WebSocket carries it to the room as the studio's cloud client does, and headless
// Chromium opens the room's address until the page draws pictures of that colour.
//
//   node installed-cloud.js <host:port>
//
// Exits 0 once the page shows the stream.
const { spawn } = require('node:child_process');
const crypto = require('node:crypto');
const WebSocket = require('ws');
const { launchBrowser, openViewer, hexToRgb, near } = require('../tests/browser/studio.js');

const COLOUR = '#2060c0';
const [server] = process.argv.slice(2);
// A presenter key of its own, and a room that belongs to it, as the studio makes them.
const { publicKey, privateKey } = crypto.generateKeyPairSync('ed25519');
const rawPublicKey = publicKey.export({ format: 'der', type: 'spki' }).subarray(-32);
const tag = crypto.randomBytes(8).toString('hex');
const room = `${tag}-${crypto.createHash('sha256')
  .update(Buffer.concat([Buffer.from('lumacast-room\n'), rawPublicKey, Buffer.from(tag)]))
  .digest('hex').slice(0, 32)}`;

// The relay's challenge signed with the key; nothing is streamed before the room is admitted.
function claim(socket, message) {
  const challenge = Buffer.from(message.challenge, 'base64');
  const signed = Buffer.concat([Buffer.from(`lumacast-presenter-claim\n${room}\n`), challenge]);
  socket.send(JSON.stringify({
    command: 'presenter_claim',
    key: rawPublicKey.toString('base64'),
    signature: crypto.sign(null, signed, privateKey).toString('base64'),
  }));
}

function present() {
  const encoder = spawn('ffmpeg', ['-nostdin', '-loglevel', 'error', '-re', '-f', 'lavfi',
    '-i', `color=c=0x${COLOUR.slice(1)}:s=640x360:r=24`, '-c:v', 'mpeg1video', '-b:v', '600k',
    '-g', '24', '-bf', '0', '-f', 'mpegts', '-muxdelay', '0', '-flush_packets', '1', 'pipe:1'],
  { stdio: ['ignore', 'pipe', 'inherit'] });
  const socket = new WebSocket(`ws://${server}/websocket/left/${room}`);
  socket.on('error', (error) => {
    console.error(`presenter: ${error.message}`);
    process.exit(1);
  });
  socket.on('close', (code, reason) => {
    console.error(`presenter: the service closed the room (${code} ${reason})`);
    process.exit(1);
  });
  encoder.stdout.on('data', () => {});
  socket.on('message', (data, isBinary) => {
    if (isBinary) return;
    const message = JSON.parse(data.toString());
    if (message.command === 'presenter_challenge') claim(socket, message);
    if (message.command === 'presenter_admitted') {
      encoder.stdout.removeAllListeners('data');
      encoder.stdout.on('data', (chunk) => socket.send(chunk, { binary: true }));
    }
  });
  return {
    stop() {
      socket.removeAllListeners('close');
      socket.close();
      encoder.kill();
    },
  };
}

async function main() {
  const presenter = present();
  const browser = await launchBrowser(['--autoplay-policy=no-user-gesture-required']);
  try {
    const url = `http://${server}/?room=${room}`;
    const viewer = await openViewer(browser, url);
    await viewer.page.waitForFunction(() => window.__pictures.length >= 24, null,
      { timeout: 15000 });
    const pictures = await viewer.page.evaluate(() => window.__pictures.map((p) => p.rgb));
    const wrong = pictures.find((rgb) => !near(rgb, hexToRgb(COLOUR)));
    if (wrong) throw new Error(`the page drew ${wrong} where the presenter sent ${COLOUR}`);
    console.log(`the viewer page at ${url} drew ${pictures.length} pictures of ${COLOUR}`);
  } finally {
    await browser.close();
    presenter.stop();
  }
}

main().catch((error) => {
  console.error(error.message);
  process.exit(1);
});
