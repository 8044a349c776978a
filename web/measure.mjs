// Measures what the page costs the browser's main thread while the show plays:
// headless Chromium opens each page folder given, presses Start, lets the show
// run, then reads Chromium's task metrics (DevTools protocol, Performance domain)
// over the next SECONDS of play, and prints per frame the main thread's task
// time and the script time in it, the frames drawn per second, and the CPU time
// of all of Chromium's processes per frame (a WebGL page's drawing is done by
// the GPU process; headless, that is SwiftShader on the CPU).
//
//   node web/measure.mjs dist/web [other/page/folder ...]
//
// A folder may carry a query for the page: dist/web?canvas=2d.
// SECONDS (default 30), ROUNDS (default 1; the folders take turns) and CHROMIUM
// from the environment. Run it on a quiet machine: it measures CPU time.
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

const seconds = Number(process.env.SECONDS || 30);
const rounds = Number(process.env.ROUNDS || 1);
const pages = process.argv.slice(2);
const folders = pages.map((folder) => folder.split(/[?#]/)[0]);
const queries = pages.map((folder) => folder.slice(folders[pages.indexOf(folder)].length));
if (folders.length === 0) {
  console.error('usage: node web/measure.mjs PAGE_FOLDER [PAGE_FOLDER ...]');
  process.exit(2);
}

const TYPES = {
  '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.wasm': 'application/wasm',
  '.ogg': 'audio/ogg',
};

// /N/file serves `file` from the Nth folder.
const server = http.createServer((request, response) => {
  const [, index, name] = new URL(request.url, 'http://localhost').pathname.split('/');
  const file = path.join(folders[Number(index)] || '', path.basename(name || 'index.html') || 'index.html');
  if (!folders[Number(index)] || !fs.existsSync(file)) {
    response.writeHead(404).end();
    return;
  }
  response.writeHead(200, { 'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream' });
  response.end(fs.readFileSync(file));
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
const origin = `http://127.0.0.1:${server.address().port}`;

const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'vornak-measure-'));
const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  userDataDir: profile,
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
         '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// CPU seconds used so far by the browser and every process below it (Linux /proc).
function browserCpuSeconds() {
  const children = new Map();
  const times = new Map();
  for (const name of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(name)) continue;
    let stat;
    try {
      stat = fs.readFileSync(`/proc/${name}/stat`, 'utf8');
    } catch {
      continue;
    }
    const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
    const parent = Number(fields[1]);
    if (!children.has(parent)) children.set(parent, []);
    children.get(parent).push(Number(name));
    times.set(Number(name), Number(fields[11]) + Number(fields[12]));
  }
  let ticks = 0;
  const pending = [browser.process().pid];
  while (pending.length > 0) {
    const pid = pending.pop();
    ticks += times.get(pid) || 0;
    pending.push(...(children.get(pid) || []));
  }
  return ticks / 100;  // USER_HZ
}

async function measure(index) {
  const page = await browser.newPage();
  await page.setViewport({ width: 1400, height: 1000 });
  await page.goto(`${origin}/${index}/${queries[index]}`);
  await page.waitForFunction(() => window.vornakPage && window.vornakPage.phase === 'ready', { timeout: 60000 });
  await page.click('#start');
  await page.waitForFunction(() => window.vornakPage.musicPlaying, { timeout: 20000 });
  await sleep(2000);
  const session = await page.createCDPSession();
  await session.send('Performance.enable', { timeDomain: 'threadTicks' });
  const sample = async () => {
    const { metrics } = await session.send('Performance.getMetrics');
    const value = Object.fromEntries(metrics.map((m) => [m.name, m.value]));
    const frames = await page.evaluate(() => window.vornakPage.framesDrawn);
    return { task: value.TaskDuration, script: value.ScriptDuration, frames, wall: Date.now(), cpu: browserCpuSeconds() };
  };
  const first = await sample();
  await sleep(seconds * 1000);
  const last = await sample();
  const renderer = await page.evaluate(() => window.vornakPage.renderer || '2d');
  await page.close();
  const frames = last.frames - first.frames;
  return {
    folder: pages[index], renderer,
    taskMs: ((last.task - first.task) * 1000) / frames,
    scriptMs: ((last.script - first.script) * 1000) / frames,
    fps: (frames * 1000) / (last.wall - first.wall),
    cpuMs: ((last.cpu - first.cpu) * 1000) / frames,
  };
}

try {
  for (let round = 1; round <= rounds; round += 1) {
    for (let index = 0; index < folders.length; index += 1) {
      const r = await measure(index);
      console.log(`round ${round}  ${r.folder} (${r.renderer}): main thread ${r.taskMs.toFixed(3)} ms/frame, ` +
                  `script ${r.scriptMs.toFixed(3)} ms/frame, ${r.fps.toFixed(1)} frames/s, ` +
                  `all processes ${r.cpuMs.toFixed(2)} ms CPU/frame`);
    }
  }
} finally {
  await browser.close();
  server.close();
  fs.rmSync(profile, { recursive: true, force: true });
}
