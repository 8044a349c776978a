// The page and the WebAssembly build, headless: the digest under node and in
// Chromium against the native program's, the canvas against `--render`'s pictures,
// and a real play in Chromium (Start, music, frame rate, Escape).
//
// Needs the native build (build/vornak) and `make web` (dist/web/); another place
// for either in VORNAK_BUILD_DIR / VORNAK_WEB_DIR, another browser in CHROMIUM.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import puppeteer from 'puppeteer-core';

const root = fileURLToPath(new URL('../..', import.meta.url));
const nativeBuild = process.env.VORNAK_BUILD_DIR || path.join(root, 'build');
const webDir = process.env.VORNAK_WEB_DIR || path.join(root, 'dist', 'web');
const chromiumPath = process.env.CHROMIUM || '/usr/bin/chromium';
const outputDir = path.join(root, 'build-web', 'test-output');
const REFERENCE_TIMES = [60000, 150000];

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'vornak-web-'));
const referenceDir = path.join(scratch, 'reference');

function runNative(args) {
  const run = spawnSync(path.join(nativeBuild, 'vornak'), args, {
    cwd: nativeBuild, encoding: 'utf8', maxBuffer: 64 << 20,
  });
  assert.equal(run.status, 0, `vornak ${args.join(' ')}: ${run.stderr}`);
  return run.stdout;
}

// ---- A static file server for the page ----

const TYPES = {
  '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.wasm': 'application/wasm',
  '.ogg': 'audio/ogg', '.png': 'image/png',
};

// /       the page as built
// /mute/  the same page with a music file that no browser can decode
// /reference/T.png   the native program's console look at T ms
function serve(request, response) {
  const url = new URL(request.url, 'http://localhost');
  let file = null;
  let body = null;
  if (url.pathname.startsWith('/reference/')) {
    file = path.join(referenceDir, path.basename(url.pathname));
  } else {
    const name = url.pathname.endsWith('/') ? 'index.html' : path.basename(url.pathname);
    if (url.pathname.startsWith('/mute/') && name === 'vornak.ogg') body = Buffer.from('not music');
    file = path.join(webDir, name);
  }
  if (body === null) {
    if (!fs.existsSync(file)) {
      response.writeHead(404).end();
      return;
    }
    body = fs.readFileSync(file);
  }
  response.writeHead(200, { 'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream' });
  response.end(body);
}

let nativeDigest;
let server;
let origin;
let browser;

before(async () => {
  fs.mkdirSync(outputDir, { recursive: true });
  nativeDigest = runNative(['--digest']);
  runNative(['--render', referenceDir, '--at', REFERENCE_TIMES.join(',')]);
  server = http.createServer(serve);
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  origin = `http://127.0.0.1:${server.address().port}`;
  browser = await puppeteer.launch({
    executablePath: chromiumPath,
    headless: true,
    userDataDir: path.join(scratch, 'profile'),
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
});

after(async () => {
  if (browser) await browser.close();
  if (server) server.close();
  fs.rmSync(scratch, { recursive: true, force: true });
});

// A page that records every error it reports.
async function openPage(url) {
  const page = await browser.newPage();
  const problems = [];
  page.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
  page.on('console', (message) => {
    if (message.type() === 'error') problems.push(`console error: ${message.text()}`);
  });
  page.on('requestfailed', (request) => problems.push(`request failed: ${request.url()}`));
  await page.setViewport({ width: 1400, height: 1000 });
  await page.goto(`${origin}${url}`);
  return { page, problems };
}

function waitForPhase(page, phases, timeout) {
  return page.waitForFunction(
    (wanted) => window.vornakPage && wanted.includes(window.vornakPage.phase),
    { timeout, polling: 100 }, phases);
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

describe('WebAssembly digest', () => {
  test('under node it equals the native program, every frame', async () => {
    const require = createRequire(import.meta.url);
    const createVornak = require(path.join(webDir, 'vornak.js'));
    const lines = [];
    const vornak = await createVornak({
      print: (line) => lines.push(line),
      wasmBinary: fs.readFileSync(path.join(webDir, 'vornak.wasm')),
    });
    assert.equal(vornak._vornak_web_digest(), 0);
    const digest = `${lines.join('\n')}\n`;
    assert.match(digest, /\nshow [0-9a-f]{16}\n$/);
    assert.equal(digest, nativeDigest);
  });

  test('in Chromium the page prints the same digest', async () => {
    const { page, problems } = await openPage('/?digest');
    await waitForPhase(page, ['digest-done', 'failed'], 180000);
    const digest = await page.evaluate(() => window.vornakPage.digest);
    assert.equal(`${digest}\n`, nativeDigest);
    assert.deepEqual(problems, []);
    await page.close();
  });
});

// Compares the picture on the page's canvas with the console look that
// `--render` writes for `time`; answers how many bytes differ.
async function pictureDifference(page, time) {
  if (!fs.existsSync(path.join(referenceDir, `${time}.png`))) runNative(['--render', referenceDir, '--at', String(time)]);
  return page.evaluate(async (url) => {
    const blob = await (await fetch(url)).blob();
    const image = await createImageBitmap(blob, { colorSpaceConversion: 'none', premultiplyAlpha: 'none' });
    const reference = new OffscreenCanvas(image.width, image.height).getContext('2d');
    reference.drawImage(image, 0, 0);
    const expected = reference.getImageData(0, 0, image.width, image.height).data;
    const actual = await window.vornakPage.readPicture();
    if (image.width !== 640 || image.height !== 600 || actual.length !== expected.length) return -1;
    let differing = 0;
    for (let i = 0; i < expected.length; i += 1) if (expected[i] !== actual[i]) differing += 1;
    return differing;
  }, `/reference/${time}.png`);
}

describe('the canvas', () => {
  for (const renderer of ['webgl', '2d']) {
    for (const time of REFERENCE_TIMES) {
      test(`at ${time} ms drawn by ${renderer} equals the console look that --render writes`, async () => {
        const { page, problems } = await openPage(`/?at=${time}&canvas=${renderer}`);
        await waitForPhase(page, ['at', 'failed'], 180000);
        const state = await page.evaluate(() => [window.vornakPage.phase, window.vornakPage.renderer,
          window.vornakPage.demoTime]);
        await page.screenshot({ path: path.join(outputDir, `at-${time}-${renderer}.png`) });
        assert.deepEqual(state.slice(0, 2), ['at', renderer]);
        assert.ok(state[2] <= time && time < state[2] + 20, `demo time ${state[2]}`);
        assert.equal(await pictureDifference(page, time), 0);
        assert.deepEqual(problems, []);
        await page.close();
      });
    }
  }
});

describe('a real play', () => {
  test('Start plays the music at 50 frames a second; Escape ends the show and the music', async () => {
    const { page, problems } = await openPage('/');
    await waitForPhase(page, ['ready', 'failed'], 60000);
    await page.click('#start');
    await waitForPhase(page, ['running', 'failed'], 20000);
    const state = () => page.evaluate(() => ({
      phase: window.vornakPage.phase, audio: window.vornakPage.audioState,
      frames: window.vornakPage.framesDrawn, demoTime: window.vornakPage.demoTime,
      playing: window.vornakPage.musicPlaying, stopped: window.vornakPage.musicStopped,
      problem: window.vornakPage.musicProblem, text: window.vornakPage.consoleText(),
      title: document.title,
    }));

    // The start-up lines on the console, then the music and the frames.
    await sleep(1000);
    await page.screenshot({ path: path.join(outputDir, 'start-up.png') });
    const starting = await state();
    assert.equal(starting.problem, '');
    assert.equal(starting.audio, 'running');
    assert.equal(starting.text, 'Initialize VORNAK... \nStart in 3 seconds...');
    assert.equal(starting.title, 'VORNAK - Alt+Enter switches to full screen');
    await page.waitForFunction(() => window.vornakPage.musicPlaying, { timeout: 10000 });

    await sleep(1000);
    const first = await state();
    const seconds = 4;
    await sleep(seconds * 1000);
    const second = await state();
    await page.screenshot({ path: path.join(outputDir, 'playing.png') });
    const rate = (second.frames - first.frames) / seconds;
    assert.ok(rate > 40 && rate < 53, `${rate} frames per second`);
    // The demo clock is the music's: it moved as much as the wall clock did.
    const advanced = second.demoTime - first.demoTime;
    assert.ok(Math.abs(advanced - seconds * 1000) < 400, `demo time moved ${advanced} ms`);
    assert.equal(second.phase, 'running');

    await page.keyboard.press('Escape');
    await waitForPhase(page, ['ended', 'failed'], 5000);
    await page.waitForFunction(() => window.vornakPage.audioState === 'suspended', { timeout: 5000 });
    const end = await state();
    assert.equal(end.phase, 'ended');
    assert.equal(end.playing, false);
    assert.equal(end.stopped, true);
    const framesAtEnd = end.frames;
    await sleep(300);
    assert.equal((await state()).frames, framesAtEnd, 'frames after the end');
    assert.deepEqual(problems, []);
    await page.close();
  });

  test('#t= starts there; keys, a click on the timeline and a tap pause, seek and resume', async () => {
    const { page, problems } = await openPage('/#t=1:41');
    await waitForPhase(page, ['ready', 'failed'], 60000);
    await page.click('#start');
    await page.waitForFunction(() => window.vornakPage.musicPlaying && window.vornakPage.demoTime >= 101000,
      { timeout: 60000 });
    const state = () => page.evaluate(() => ({
      time: window.vornakPage.demoTime, paused: window.vornakPage.paused, music: { ...window.vornakPage.music },
      status: document.getElementById('status').textContent,
    }));
    // The state once the show has acted on everything asked (a seek past the
    // snapshots kept so far takes a while).
    let asked = 0;
    const settled = async () => {
      asked += 1;
      await page.waitForFunction((n) => window.vornakPage.handled >= n, { timeout: 30000 }, asked);
      return state();
    };
    const box = await (await page.$('#timeline')).boundingBox();
    const picture = await (await page.$('#screen')).boundingBox();
    const atTimeline = (ms) => page.mouse.click(box.x + (box.width * ms) / 173000, box.y + box.height / 2);
    // Each action while paused and where the show then is: `by` from before, or
    // (null) within a second of `near`; its picture is --render's there.
    const actions = [
      ['Space', null, 101000], ['ArrowRight', 5000], ['Period', 20], ['Period', 20], ['Comma', -20],
      ['ArrowLeft', -5000], ['PageDown', null, 120314], ['PageUp', null, 99834], ['ArrowUp', null, 159834],
      ['ArrowUp', null, 173000], ['ArrowDown', null, 113000], ['Home', null, 0], [131000, null, 131000],
      [103000, null, 103000], ['KeyI', 0],
    ];
    let last = null;
    for (const [action, by, near] of actions) {
      await (typeof action === 'number' ? atTimeline(action) : page.keyboard.press(action));
      const now = await settled();
      assert.equal(now.paused, true, action);
      assert.equal(now.time % 20, 0);
      if (by === null) {
        assert.ok(Math.abs(now.time - near) <= 1000, `${action}: at ${now.time}, not near ${near}`);
      } else {
        assert.equal(now.time, last.time + by, action);
      }
      assert.equal(now.music.playing, false);
      assert.equal(await pictureDifference(page, now.time), 0, `the picture at ${now.time}`);
      last = now;
    }
    assert.match(last.status, new RegExp(`^1:${Math.floor(last.time / 1000) - 60}\\b.* / 2:53.* glow.* paused +volume 100%$`, 'i'));

    // A tap on the picture resumes: the music from the frame shown, the clock goes on.
    await page.touchscreen.tap(picture.x + picture.width / 2, picture.y + picture.height / 2);
    await sleep(1000);
    const resumed = await state();
    assert.equal(resumed.paused, false);
    assert.deepEqual(resumed.music, { position: last.time, playing: true, gain: 1 });
    assert.ok(resumed.time > last.time + 500, `demo time ${resumed.time} after ${last.time}`);
    for (const [key, gain] of [['KeyM', 0], ['KeyM', 1], ['Digit9', 0.9], ['Digit0', 1], ['Digit0', 1]]) {
      await page.keyboard.press(key);
      await sleep(60);
      assert.equal((await state()).music.gain, gain, `gain after ${key}`);
    }
    await page.keyboard.press('Escape');
    await waitForPhase(page, ['ended', 'failed'], 5000);
    assert.deepEqual(problems, []);
    await page.close();
  });

  test('music that cannot be decoded: a silent run that says so', async () => {
    const { page, problems } = await openPage('/mute/');
    await waitForPhase(page, ['ready', 'failed'], 60000);
    await page.click('#start');
    await waitForPhase(page, ['running', 'failed'], 20000);
    await page.waitForFunction(() => window.vornakPage.framesDrawn > 20, { timeout: 30000 });
    const state = await page.evaluate(() => ({
      phase: window.vornakPage.phase, playing: window.vornakPage.musicPlaying,
      problem: window.vornakPage.musicProblem, text: window.vornakPage.consoleText(),
      message: document.getElementById('message').textContent,
      frames: window.vornakPage.framesDrawn, demoTime: window.vornakPage.demoTime,
    }));
    assert.equal(state.phase, 'running');
    assert.equal(state.playing, false);
    assert.match(state.problem, /cannot decode vornak\.ogg/);
    assert.match(state.message, /^Music: .*without sound/);
    assert.match(state.text, /\nMusic: .*Running silently\./);
    assert.ok(state.frames > 20 && state.demoTime > 0, `frames ${state.frames}, demo time ${state.demoTime}`);
    assert.deepEqual(problems, []);
    await page.close();
  });
});
