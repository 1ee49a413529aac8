'use strict';
// Drives an installed studio on a private X display as a presenter would: presses Start, found
// by the green of its icon so that the check does not depend on the window's layout, and
// watches the viewer address in headless Chromium until the page draws pictures.
//
//   node installed-studio.js <display> <width>x<height> <viewer url>
//
// Run in the network namespace the studio serves in. Exits 0 once the page shows the stream.
const { spawnSync } = require('node:child_process');
const { launchBrowser, openViewer } = require('../tests/browser/studio.js');

const [display, size, url] = process.argv.slice(2);
const [width, height] = size.split('x').map(Number);
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

function grabScreen() {
  const grab = spawnSync('ffmpeg', ['-nostdin', '-loglevel', 'error', '-f', 'x11grab',
    '-video_size', size, '-i', display, '-frames:v', '1', '-f', 'rawvideo', '-pix_fmt', 'rgb24',
    '-'], { maxBuffer: width * height * 3 + 1024 });
  if (grab.status !== 0) throw new Error(`cannot grab ${display}: ${grab.stderr}`);
  return grab.stdout;
}

// The centre of the Start icon's green disc, or null while it is not on the screen.
function startButton(rgb) {
  let count = 0;
  let sumX = 0;
  let sumY = 0;
  for (let i = 0; i + 2 < rgb.length; i += 3) {
    const [r, g, b] = [rgb[i], rgb[i + 1], rgb[i + 2]];
    if (g > 110 && g - r > 60 && b < 90) {
      ++count;
      sumX += (i / 3) % width;
      sumY += Math.floor(i / 3 / width);
    }
  }
  return count > 200 ? { x: Math.round(sumX / count), y: Math.round(sumY / count) } : null;
}

async function waitFor(what, test, timeoutMs) {
  const until = Date.now() + timeoutMs;
  for (;;) {
    const value = test();
    if (value) return value;
    if (Date.now() > until) throw new Error(`timed out waiting for ${what}`);
    await sleep(250);
  }
}

async function main() {
  const button = await waitFor('the Start button', () => startButton(grabScreen()), 20000);
  const click = spawnSync('xdotool', ['mousemove', String(button.x), String(button.y), 'click', '1'],
    { env: { ...process.env, DISPLAY: display } });
  if (click.status !== 0) throw new Error(`xdotool: ${click.stderr}`);
  // Streaming turns the icon into Stop.
  await waitFor('the session to start', () => !startButton(grabScreen()), 10000);
  console.log(`Start pressed at ${button.x},${button.y}`);

  const browser = await launchBrowser(['--autoplay-policy=no-user-gesture-required']);
  try {
    const viewer = await openViewer(browser, url);
    await viewer.page.waitForFunction(() => window.__pictures.length >= 24, null,
      { timeout: 15000 });
    const pictures = await viewer.page.evaluate(() => window.__pictures.length);
    console.log(`the viewer page at ${url} drew ${pictures} pictures`);
  } finally {
    await browser.close();
  }
}

main().catch((error) => {
  console.error(error.message);
  process.exit(1);
});
