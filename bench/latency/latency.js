'use strict';
// Glass to glass: a colour change on the studio's X screen to the first picture the viewer page
// draws that shows it, median and 95th percentile, at 1 Mbit/s (936 kbit/s of video) with
// sound, for MPEG-1 and H.264 (the plain-http page's WebAssembly decoder and a secure page's
// WebCodecs) at each frame size; right after Start and again after a soak; the time from
// opening the page to its first clean and first live picture for viewers joining at random
// moments; the page's cost per picture (its data reaching the decoder to its drawing) while
// the screen shows moving, detailed content. Then the same page fed by a reference pipeline
// (ffmpeg command line with stock flags and a plain Node relay of the ingest bytes) at
// 960x540. Run inside `studio_host exec` (see CMakeLists.txt).
//
//   --changes N        colour changes per measurement (default 30)
//   --soak-minutes M   keep the session and the page running M minutes, then measure again
//   --viewers N        joining viewers (default 10)
//   --codecs LIST      of mpeg1, h264 (default both)
//   --sizes LIST       frame-size presets, of 540, 720, 1080 (default 540,1080)
//   --no-reference     skip the reference pipeline; --only-reference: only that
//   --clock-driven     the studio's X server without DAMAGE, so it captures on the frame clock
const fs = require('node:fs');
const os = require('node:os');
const net = require('node:net');
const http = require('node:http');
const path = require('node:path');
const { spawn } = require('node:child_process');
const WebSocket = require('ws');
const { startStudio, launchBrowser, openViewer, waitForColour, hexToRgb, near } =
  require('../../tests/browser/studio.js');

const args = process.argv.slice(2);
const option = (name, fallback) => {
  const at = args.indexOf(name);
  return at >= 0 ? Number(args[at + 1]) : fallback;
};
const CHANGES = option('--changes', 30);
const SOAK_MINUTES = option('--soak-minutes', 0);
const VIEWERS = option('--viewers', 10);
const list = (name, fallback) => {
  const at = args.indexOf(name);
  return at >= 0 ? args[at + 1].split(',') : fallback;
};
const CODECS = list('--codecs', ['mpeg1', 'h264']);
const SIZES = list('--sizes', ['540', '1080']);
// The main window's lists: video codecs, and frame sizes by their lines.
const CODEC_INDEX = { mpeg1: 0, h264: 1 };
const SIZE_INDEX = { 360: 0, 540: 1, 720: 2, 1080: 3 };
const COST_PICTURES = 120;
const REFERENCE = !args.includes('--no-reference');
const STUDIO = !args.includes('--only-reference');
if (args.includes('--clock-driven')) process.env.LUMACAST_XVFB_OPTIONS = '-extension DAMAGE';
const AUTOPLAY = ['--autoplay-policy=no-user-gesture-required'];
const PALETTE = ['#e02020', '#20c060', '#2040e0', '#f0f0f0', '#f0c020', '#202020'];
const FRAME_MS = 1000 / 24;

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const percentile = (values, p) => {
  const sorted = values.slice().sort((a, b) => a - b);
  return sorted[Math.min(sorted.length - 1, Math.ceil((p / 100) * sorted.length) - 1)];
};
const ms = (value) => value.toFixed(1).padStart(7) + ' ms';
const summary = (values) => `p50 ${ms(percentile(values, 50))}  p95 ${ms(percentile(values, 95))}` +
  `  min ${ms(Math.min(...values))}  max ${ms(Math.max(...values))}  (n=${values.length})`;

function loadLine() {
  const [one, five] = os.loadavg();
  return `load average ${one.toFixed(2)} / ${five.toFixed(2)} (1 / 5 min) on ${os.cpus().length} CPUs`;
}

// Colour changes at random phases of the frame clock; each waits for the page to show it.
async function measureLatency(studio, page, label) {
  const latencies = [];
  let missed = 0;
  for (let i = 0; i < CHANGES; ++i) {
    const colour = PALETTE[i % PALETTE.length];
    await sleep(250 + Math.random() * 250);
    const { paintedAt } = await studio.request({ do: 'paint', colour });
    try {
      const picture = await waitForColour(page, colour, paintedAt, 5000);
      latencies.push(picture.at - paintedAt);
    } catch (error) {
      ++missed;
      if (missed === 1) {
        const last = await page.evaluate(() => window.__pictures[window.__pictures.length - 1]);
        console.log(`  ${colour} not shown within 5 s; the last picture, ` +
          `${last ? (last.at - paintedAt).toFixed(0) + ' ms after the paint, shows ' + last.rgb : 'none'}`);
      }
    }
  }
  console.log(`${label.padEnd(34)} ${summary(latencies)}${missed ? `  missed ${missed}` : ''}`);
  console.log(`${''.padEnd(34)} ${loadLine()}`);
  return latencies;
}

async function firstPicture(page) {
  await page.waitForFunction(() => window.viewer && window.viewer.stats.firstPictureAt > 0,
    null, { timeout: 20000 });
}

// Viewers opening the page at random moments of the group of pictures.
async function measureJoins(browser, studio, url, label) {
  const rows = [];
  const colour = PALETTE[0];
  await studio.request({ do: 'paint', colour });
  for (let i = 0; i < VIEWERS; ++i) {
    await sleep(500 + Math.random() * 4500);
    const viewer = await openViewer(browser, url);
    try {
      await firstPicture(viewer.page);
      await viewer.page.waitForFunction(() => window.viewer.stats.liveAt > 0, null, { timeout: 20000 });
      const result = await viewer.page.evaluate(() => ({
        stats: window.viewer.stats, first: window.__pictures[0] && window.__pictures[0].rgb,
      }));
      rows.push({
        picture: result.stats.firstPictureAt,
        live: result.stats.liveAt,
        afterSocket: result.stats.firstPictureAt - result.stats.streamOpenAt,
        liveAfterSocket: result.stats.liveAt - result.stats.streamOpenAt,
        clean: !!result.first && near(result.first, hexToRgb(colour)),
      });
    } finally {
      await viewer.context.close();
    }
  }
  const pictures = rows.map((row) => row.picture);
  const lives = rows.map((row) => row.live);
  const afterSocket = rows.map((row) => row.afterSocket);
  console.log(`${label} joins: ${rows.length} viewers, ${rows.filter((r) => r.clean).length} first pictures clean`);
  console.log(`  open -> first picture          ${summary(pictures)}`);
  console.log(`  stream open -> first picture   ${summary(afterSocket)}`);
  console.log(`  open -> live (<= 2 frames)     ${summary(lives)}`);
  console.log(`  first picture within 500 ms of the stream socket: ` +
    `${afterSocket.filter((t) => t <= 500).length}/${rows.length}` +
    `, live within 1.5 s of it: ${rows.filter((r) => r.liveAfterSocket <= 1500).length}/` +
    `${rows.length}; ` +
    loadLine());
}

// The reference: ffmpeg's own x11grab/pulse capture and mpeg1video/mp2 encoders with the
// stock flags, into a Node relay that serves the same pages and forwards ingest bytes as-is.
async function startReference(environment, address) {
  const ingest = net.createServer();
  await new Promise((resolve) => ingest.listen(0, '127.0.0.1', resolve));
  const web = http.createServer((request, response) => {
    const file = request.url.split('?')[0];
    if (file.startsWith('/config.js')) {
      response.end(JSON.stringify({ maxAudioLag: 0.25 }));
      return;
    }
    const name = path.join(environment.webDir, path.normalize(file === '/' ? '/index.html' : file));
    fs.readFile(name, (error, data) => {
      response.writeHead(error ? 404 : 200, { 'Content-Type': 'text/html; charset="utf-8"' });
      response.end(error ? 'not found' : data);
    });
  });
  await new Promise((resolve) => web.listen(8090, address, resolve));
  const relay = new WebSocket.Server({ host: address, port: 8091 });
  ingest.on('connection', (socket) => {
    socket.setNoDelay(true);
    socket.on('data', (chunk) => {
      for (const client of relay.clients)
        if (client.readyState === WebSocket.OPEN) client.send(chunk);
    });
  });
  const ffmpeg = spawn('ffmpeg', [
    '-nostdin', '-loglevel', 'error',
    // Without the pointer, which Xvfb parks at the centre, where the probe reads the colour.
    '-f', 'x11grab', '-draw_mouse', '0', '-framerate', '24', '-video_size', '1280x720',
    '-i', environment.display,
    '-f', 'pulse', '-i', 'studio.monitor',
    '-f', 'mpegts', '-codec:v', 'mpeg1video', '-s', '960x540', '-b:v', '936k', '-bf', '0',
    '-codec:a', 'mp2', '-b:a', '64k', '-muxdelay', '0.001',
    `tcp://127.0.0.1:${ingest.address().port}`,
  ], { stdio: ['ignore', 'ignore', 'inherit'], env: { ...process.env, PULSE_SERVER: environment.pulseServer } });
  return {
    url: `http://${address}:8090/`,
    async stop() {
      ffmpeg.kill('SIGTERM');
      await new Promise((resolve) => ffmpeg.once('exit', resolve));
      relay.close();
      web.close();
      ingest.close();
    },
  };
}

// The cost per drawn picture while the screen moves, on a page that is already live.
async function measureCost(studio, page, label) {
  await studio.request({ do: 'moving', on: true });
  try {
    const from = await page.evaluate(() => window.__costs.length);
    await page.waitForFunction((n) => window.__costs.length >= n, from + COST_PICTURES,
      { timeout: 60000 });
    const costs = await page.evaluate((n) => window.__costs.slice(n), from);
    console.log(`${label.padEnd(34)} ${summary(costs)}`);
  } finally {
    await studio.request({ do: 'moving', on: false });
  }
}

// One page of the studio's stream: its glass-to-glass latency (and after a soak) and its cost
// per picture; the decoder path it took is in the label.
async function measurePage(studio, browser, label) {
  const viewer = await openViewer(browser, studio.url);
  try {
    await firstPicture(viewer.page);
    const path = await viewer.page.evaluate(() => window.viewer.stats.decoderPath || 'jsmpeg');
    const start = await measureLatency(studio, viewer.page, `${label} ${path}, after Start`);
    if (SOAK_MINUTES > 0) {
      console.log(`soaking ${SOAK_MINUTES} min with the page open...`);
      await sleep(SOAK_MINUTES * 60000);
      const soaked = await measureLatency(studio, viewer.page, `${label} ${path}, after soak`);
      const drift = percentile(soaked, 50) - percentile(start, 50);
      console.log(`  median change after the soak: ${drift.toFixed(1)} ms; page stats ` +
        JSON.stringify(await viewer.page.evaluate(() => window.viewer.stats)));
    }
    await measureCost(studio, viewer.page, `${label} ${path}, cost per picture`);
    return start;
  } finally {
    await viewer.context.close();
  }
}

// Each codec at each size; H.264 also on a secure page, where WebCodecs decodes it (joins
// too: the plain page's WebAssembly decoder is loaded only once the stream names H.264). Returns
// the latencies by "codec size" for the plain-http page.
async function measureStudio(studio, browsers) {
  const results = {};
  for (const codec of CODECS) {
    await studio.request({ do: 'codec', index: CODEC_INDEX[codec] });
    for (const size of SIZES) {
      await studio.request({ do: 'frames', index: SIZE_INDEX[size] });
      await studio.request({ do: 'start' });
      await sleep(3000);
      const label = `${codec} ${size}p`;
      results[label] = await measurePage(studio, browsers.plain, label);
      if (codec === 'h264') await measurePage(studio, browsers.secure, label);
      await measureJoins(browsers.plain, studio, studio.url, `studio ${label}`);
      if (codec === 'h264')
        await measureJoins(browsers.secure, studio, studio.url, `studio ${label} webcodecs`);
      await studio.request({ do: 'stop' });
    }
  }
  for (const size of SIZES) {
    const mpeg1 = results[`mpeg1 ${size}p`];
    const h264 = results[`h264 ${size}p`];
    if (!mpeg1 || !h264 || !mpeg1.length || !h264.length) continue;
    const difference = (p) => (percentile(h264, p) - percentile(mpeg1, p)).toFixed(1);
    console.log(`glass to glass at ${size}p, H.264 - MPEG-1: p50 ${difference(50)} ms, ` +
      `p95 ${difference(95)} ms`);
  }
  return results[`mpeg1 540p`];
}

async function measureReference(studio, browser) {
  const environment = await studio.request({ do: 'environment' });
  const reference = await startReference(environment, process.env.LUMACAST_STUDIO_ADDRESS);
  try {
    await sleep(3000);
    const page = await openViewer(browser, reference.url);
    await firstPicture(page.page);
    const latencies = await measureLatency(studio, page.page, 'reference (ffmpeg CLI + Node relay)');
    await page.context.close();
    await measureJoins(browser, studio, reference.url, 'reference');
    return latencies;
  } finally {
    await reference.stop();
  }
}

async function main() {
  console.log(`bench/latency: ${CHANGES} colour changes, ${VIEWERS} joining viewers, ` +
    `${CODECS.join(' and ')} at ${SIZES.map((s) => s + 'p').join(', ')} from a 1280x720 screen, ` +
    `936 kbit/s video + 64 kbit/s audio, 24 frames/s (a frame every ${FRAME_MS.toFixed(1)} ms)`);
  console.log(loadLine());
  const studio = await startStudio();
  const browser = await launchBrowser(AUTOPLAY);
  const secure = await launchBrowser(AUTOPLAY.concat([
    '--unsafely-treat-insecure-origin-as-secure=' + new URL(studio.url).origin]));
  try {
    const ours = STUDIO ? await measureStudio(studio, { plain: browser, secure }) : null;
    const theirs = REFERENCE ? await measureReference(studio, browser) : null;
    if (ours && theirs && ours.length && theirs.length) {
      const ratio = (p) => (percentile(ours, p) / percentile(theirs, p)).toFixed(2);
      console.log(`glass to glass, studio MPEG-1 540p / reference: p50 ${ratio(50)}x, p95 ${ratio(95)}x`);
    }
  } finally {
    await browser.close();
    await secure.close();
    await studio.close();
  }
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
