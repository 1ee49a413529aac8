'use strict';
// Shared by the browser tests and bench/latency: the real studio through studio_host, headless
// Chromium, and a probe that reads what the viewer page draws.
const { spawn } = require('node:child_process');
const readline = require('node:readline');
const path = require('node:path');
const { chromium } = require('playwright-core');

const CHROMIUM_ARGS = [
  '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
];

function studioHostPath() {
  return process.env.LUMACAST_STUDIO_HOST ||
    path.join(__dirname, '..', '..', 'build', 'bin', 'studio_host');
}

// The real lumacast-cloud on loopback, on a port it picks, with `extraArgs`; resolves with the
// process, its port and "127.0.0.1:port".
function startCloud(extraArgs = []) {
  const program = process.env.LUMACAST_CLOUD ||
    path.join(__dirname, '..', '..', 'build', 'bin', 'lumacast-cloud');
  const child = spawn(program, ['--listen', '127.0.0.1', '--port', '0'].concat(extraArgs),
    { stdio: ['ignore', 'pipe', 'ignore'] });
  return new Promise((resolve, reject) => {
    child.once('exit', (code) => reject(new Error('lumacast-cloud ended with ' + code)));
    readline.createInterface({ input: child.stdout }).once('line', (line) => {
      const server = line.slice(line.lastIndexOf(' ') + 1);
      resolve({ child, server, port: Number(server.slice(server.lastIndexOf(':') + 1)) });
    });
  });
}

// The studio in `serve` mode; request() sends one request and resolves with its answer. A
// studio started again for the same pages is given the earlier one's `httpPort`; by default it
// takes a free one.
async function startStudio({ httpPort } = {}) {
  const args = httpPort ? ['serve', String(httpPort)] : ['serve'];
  const child = spawn(studioHostPath(), args, { stdio: ['pipe', 'pipe', 'pipe'] });
  const log = [];
  const file = process.env.LUMACAST_STUDIO_LOG &&
    require('node:fs').createWriteStream(process.env.LUMACAST_STUDIO_LOG, { flags: 'a' });
  child.stderr.on('data', (chunk) => {
    log.push(chunk.toString());
    if (log.length > 400) log.shift();
    if (file) file.write(chunk);
  });
  const lines = readline.createInterface({ input: child.stdout });
  const waiting = [];
  lines.on('line', (line) => {
    const next = waiting.shift();
    if (next) next.resolve(JSON.parse(line));
  });
  child.on('exit', (code) => {
    for (const next of waiting.splice(0)) next.reject(new Error('studio_host ended with ' + code));
  });
  const answer = () => new Promise((resolve, reject) => waiting.push({ resolve, reject }));
  const ready = await answer();
  if (!ready.ready) throw new Error('studio_host: ' + JSON.stringify(ready) + '\n' + log.join(''));
  return {
    url: ready.url,
    // The viewer HTTP port of a local session; the relay listens on the next one.
    httpPort: ready.httpPort,
    request(object) {
      const reply = answer();
      child.stdin.write(JSON.stringify(object) + '\n');
      return reply;
    },
    log: () => log.join(''),
    async close() {
      if (child.exitCode !== null) return;
      const ended = new Promise((resolve) => child.once('exit', resolve));
      child.stdin.end();
      const timer = setTimeout(() => child.kill('SIGKILL'), 10000);
      await ended;
      clearTimeout(timer);
    },
  };
}

// A studio with its session started and a browser for its pages, sound allowed to play.
async function startSession() {
  const studio = await startStudio();
  const browser = await launchBrowser(['--autoplay-policy=no-user-gesture-required']);
  const started = await studio.request({ do: 'start' });
  if (!started.running) throw new Error('the studio did not start: ' + JSON.stringify(started));
  return { studio, browser };
}

async function launchBrowser(extraArgs = []) {
  return chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: CHROMIUM_ARGS.concat(extraArgs),
  });
}

// Installed before the page's scripts: every picture the page draws is recorded with the
// colour at its centre and near its bottom edge (converted from the decoded YUV planes, or read
// from the canvas an H.264 picture is drawn on) and the wall-clock time in milliseconds, the same
// clock studio_host stamps its paints with. __costs holds, per drawn picture, the milliseconds
// from its data reaching the decoder to its drawing.
function pictureProbe() {
  let viewer;
  let fedAt = 0;
  window.__pictures = [];
  window.__costs = [];
  window.__pageStart = performance.timeOrigin;
  const record = (list, item) => {
    list.push(item);
    if (list.length > 2000) list.splice(0, 1000);
  };
  // H.264 pictures go to WebCodecs or to the decoder's Worker stamped with their timestamps,
  // and come back as VideoFrames with the same ones.
  const fed = new Map();
  const stampFeed = (prototype, method, timestampOf) => {
    const original = prototype[method];
    prototype[method] = function (message, ...rest) {
      const timestamp = timestampOf(message);
      if (typeof timestamp === 'number') fed.set(timestamp, performance.now());
      return original.call(this, message, ...rest);
    };
  };
  if (typeof VideoDecoder === 'function')
    stampFeed(VideoDecoder.prototype, 'decode', (chunk) => chunk.timestamp);
  if (typeof Worker === 'function')
    stampFeed(Worker.prototype, 'postMessage', (message) => message && message.timestamp);
  const drawImage = CanvasRenderingContext2D.prototype.drawImage;
  CanvasRenderingContext2D.prototype.drawImage = function (image, ...rest) {
    drawImage.call(this, image, ...rest);
    if (typeof VideoFrame !== 'function' || !(image instanceof VideoFrame) ||
        this.canvas.id !== 'video') return;
    const now = performance.now();
    if (fed.has(image.timestamp)) record(window.__costs, now - fed.get(image.timestamp));
    for (const timestamp of fed.keys()) if (timestamp <= image.timestamp) fed.delete(timestamp);
    const colourAt = (row) => {
      const d = this.getImageData(this.canvas.width >> 1, row, 1, 1).data;
      return [d[0], d[1], d[2]];
    };
    record(window.__pictures, {
      at: performance.timeOrigin + now, rgb: colourAt(this.canvas.height >> 1),
      bottom: colourAt(this.canvas.height - 4),
    });
  };
  Object.defineProperty(window, 'viewer', {
    configurable: true,
    get() { return viewer; },
    set(value) {
      viewer = value;
      const video = value.player.video;
      if (video) {
        const write = video.write;
        video.write = function (...args) {
          fedAt = performance.now();
          return write.apply(this, args);
        };
      }
      const renderer = value.player.renderer;
      const render = renderer.render;
      renderer.render = function (y, cr, cb, clamped) {
        render.call(this, y, cr, cb, clamped);
        const now = performance.now();
        const at = performance.timeOrigin + now;
        // MPEG-1 pictures are decoded as they arrive; the newest one is what is drawn.
        if (fedAt) record(window.__costs, now - fedAt);
        const stride = ((this.width + 15) >> 4) << 4;
        const clamp = (v) => Math.max(0, Math.min(255, Math.round(v)));
        const colourAt = (row, col) => {
          const half = (row >> 1) * (stride >> 1) + (col >> 1);
          const Y = y[row * stride + col] - 16;
          const V = cr[half] - 128;
          const U = cb[half] - 128;
          return [clamp(1.164 * Y + 1.596 * V), clamp(1.164 * Y - 0.392 * U - 0.813 * V),
            clamp(1.164 * Y + 2.017 * U)];
        };
        const col = this.width >> 1;
        record(window.__pictures,
          { at, rgb: colourAt(this.height >> 1, col), bottom: colourAt(this.height - 4, col) });
      };
    },
  });
}

function hexToRgb(hex) {
  const value = parseInt(hex.slice(1), 16);
  return [(value >> 16) & 255, (value >> 8) & 255, value & 255];
}

function near(rgb, expected, tolerance = 48) {
  return rgb.every((channel, i) => Math.abs(channel - expected[i]) <= tolerance);
}

// A page with the probe, opened on the studio's viewer address.
async function openViewer(browser, url, options = {}) {
  const context = await browser.newContext(options.context || {});
  const page = await context.newPage();
  await page.addInitScript(pictureProbe);
  const openedAt = Date.now();
  await page.goto(url + (options.page || ''));
  return { context, page, openedAt };
}

// Resolves with the first recorded picture (after `since`, epoch ms) near `colour`.
async function waitForColour(page, colour, since, timeoutMs = 5000) {
  const handle = await page.waitForFunction(
    ({ expected, since, tolerance }) => window.__pictures.find((p) => p.at >= since &&
      p.rgb.every((c, i) => Math.abs(c - expected[i]) <= tolerance)),
    { expected: hexToRgb(colour), since, tolerance: 48 },
    { timeout: timeoutMs, polling: 10 });
  return handle.jsonValue();
}

module.exports = {
  startCloud, startStudio, startSession, launchBrowser, openViewer, waitForColour, hexToRgb, near, pictureProbe,
};
