// The page that plays the show: it loads the WebAssembly build (vornak.js), decodes
// the music, and after the Start click drives the show's frame loop with timers.
// The show's clock is the audio clock while the music plays, so the picture keeps
// to what is heard. Other ways to open the page, for tests:
//   ?digest    prints the whole-show digest of `vornak --digest`
//   ?at=T      runs the show silently on a virtual clock and stops on the frame of
//              demo time T ms (the frame `vornak --render DIR --at T` writes)
'use strict';

(() => {
  const WIDTH = 640;
  const HEIGHT = 600;
  const VK_ESCAPE = 0x1b;
  const FRAME_MS = 20;
  const MUSIC_FILE = 'vornak.ogg';

  const params = new URLSearchParams(location.search);
  const stage = document.getElementById('stage');
  const canvas = document.getElementById('screen');
  const context = canvas.getContext('2d', { alpha: false });
  const pixels = context.createImageData(WIDTH, HEIGHT);
  const startButton = document.getElementById('start');
  const fullscreenButton = document.getElementById('fullscreen');
  const messageLine = document.getElementById('message');

  // What the page is doing, for people and for the tests that drive it.
  const page = {
    phase: 'loading',  // loading, ready, starting, running, ended, failed, digest-done, at
    framesDrawn: 0,
    musicPlaying: false,
    musicStopped: false,
    musicProblem: '',
    demoTime: 0,
    digest: '',
    errors: [],
  };
  window.vornakPage = page;
  Object.defineProperty(page, 'audioState', { get: () => (audio ? audio.state : 'none') });
  page.consoleText = () => (vornak ? consoleText() : '');

  let printSink = (line) => console.log(line);
  let vornak = null;
  let audio = null;
  let musicLoad = null;
  let musicSource = null;

  function say(text, problem = false) {
    messageLine.textContent = text;
    messageLine.classList.toggle('problem', problem);
  }

  function fail(text) {
    page.phase = 'failed';
    page.errors.push(text);
    say(text, true);
    startButton.disabled = true;
  }

  window.addEventListener('error', (event) => fail(`Error: ${event.message}`));
  window.addEventListener('unhandledrejection', (event) => fail(`Error: ${event.reason}`));

  // ---- Picture ----

  function present() {
    const at = vornak._vornak_web_draw();
    if (!at) return;
    pixels.data.set(vornak.HEAPU8.subarray(at, at + WIDTH * HEIGHT * 4));
    context.putImageData(pixels, 0, 0);
    page.framesDrawn += 1;
  }

  // The largest whole-number scale (in device pixels) at which the picture fits;
  // a window smaller than the picture gets it shrunk to fit.
  function fitCanvas() {
    const ratio = window.devicePixelRatio || 1;
    const fit = Math.min((stage.clientWidth * ratio) / WIDTH, (stage.clientHeight * ratio) / HEIGHT);
    const scale = fit >= 1 ? Math.floor(fit) : fit;
    canvas.style.width = `${(WIDTH * scale) / ratio}px`;
    canvas.style.height = `${(HEIGHT * scale) / ratio}px`;
  }
  window.addEventListener('resize', fitCanvas);
  document.addEventListener('fullscreenchange', fitCanvas);
  document.addEventListener('webkitfullscreenchange', fitCanvas);
  fitCanvas();

  function toggleFullscreen() {
    const current = document.fullscreenElement || document.webkitFullscreenElement;
    if (current) {
      (document.exitFullscreen || document.webkitExitFullscreen).call(document);
      return;
    }
    const request = stage.requestFullscreen || stage.webkitRequestFullscreen;
    if (!request) {
      say('This browser does not offer full screen for a page.', true);
      return;
    }
    const entered = request.call(stage, { navigationUI: 'hide' });
    // Where the browser allows it, Escape then reaches the show instead of leaving
    // full screen (holding it down still leaves).
    if (entered && entered.then) {
      entered
        .then(() => navigator.keyboard && navigator.keyboard.lock && navigator.keyboard.lock(['Escape']))
        .catch(() => say('The browser refused full screen.', true));
    }
  }
  fullscreenButton.addEventListener('click', toggleFullscreen);

  // ---- Keys ----

  document.addEventListener('keydown', (event) => {
    if (event.key === 'Escape') {
      if (page.phase === 'running' || page.phase === 'starting') {
        vornak._vornak_web_key(VK_ESCAPE, 1);
        event.preventDefault();
      }
    } else if (event.key === 'F11' || (event.key === 'Enter' && event.altKey)) {
      event.preventDefault();
      toggleFullscreen();
    }
  });
  document.addEventListener('keyup', (event) => {
    if (event.key === 'Escape' && page.phase === 'running') vornak._vornak_web_key(VK_ESCAPE, 0);
  });

  // ---- Music and the clock ----

  // The page's milliseconds. While the music plays they are the start tick plus the
  // position in the music that is being heard now; they never run backwards.
  const clock = { last: 0, musicStartTick: 0, musicStartTime: 0, fromMusic: false };

  function heardTime() {
    if (audio.state === 'running' && audio.getOutputTimestamp) {
      const stamp = audio.getOutputTimestamp();
      if (stamp.contextTime > 0 && stamp.performanceTime > 0) {
        return stamp.contextTime + (performance.now() - stamp.performanceTime) / 1000;
      }
    }
    return audio.currentTime - (audio.outputLatency || audio.baseLatency || 0);
  }

  function now() {
    let tick = performance.now();
    if (clock.fromMusic) {
      tick = clock.musicStartTick + Math.max(0, heardTime() - clock.musicStartTime) * 1000;
    }
    clock.last = Math.max(clock.last, tick);
    return Math.floor(clock.last);
  }

  function playMusic() {
    musicSource = audio.createBufferSource();
    musicSource.buffer = page.musicBuffer;
    musicSource.connect(audio.destination);
    clock.musicStartTick = now();
    clock.musicStartTime = audio.currentTime;
    clock.fromMusic = true;
    musicSource.start(clock.musicStartTime);
    page.musicPlaying = true;
  }

  function stopMusic() {
    if (musicSource) {
      musicSource.stop();
      musicSource.disconnect();
      musicSource = null;
    }
    page.musicPlaying = false;
    page.musicStopped = true;
  }

  // Fetches and decodes the music; the context can decode before it may play.
  async function loadMusic() {
    const Context = window.AudioContext || window.webkitAudioContext;
    if (!Context) throw new Error('this browser has no Web Audio');
    audio = new Context();
    const response = await fetch(MUSIC_FILE);
    if (!response.ok) throw new Error(`${MUSIC_FILE} could not be loaded (HTTP ${response.status})`);
    const bytes = await response.arrayBuffer();
    page.musicBuffer = await new Promise((resolve, reject) => {
      const promise = audio.decodeAudioData(bytes, resolve, () =>
        reject(new Error(`this browser cannot decode ${MUSIC_FILE} (Ogg Vorbis)`)));
      if (promise && promise.catch) promise.catch(() => {});
    });
  }

  function withTimeout(promise, ms) {
    return Promise.race([promise, new Promise((resolve) => setTimeout(resolve, ms))]);
  }

  // ---- The show ----

  // Waits `ms` before the next step: the show's clock is told (a virtual clock
  // moves), the page waits with a timer.
  function later(ms, step) {
    vornak._vornak_web_sleep(ms);
    setTimeout(step, ms);
  }

  function consoleText() {
    return vornak.UTF8ToString(vornak._vornak_web_console_text());
  }

  function begin(virtualClock, musicReady, problem) {
    const started = vornak.ccall('vornak_web_begin', 'number', ['number', 'number', 'string'],
                                 [virtualClock ? 1 : 0, musicReady ? 1 : 0, problem]);
    document.title = vornak.UTF8ToString(vornak._vornak_web_title());
    present();
    if (!started) fail(`The show could not start: ${consoleText().trim()}`);
    return started;
  }

  function step() {
    const wait = vornak._vornak_web_frame();
    if (wait < 0) {
      ended();
      return;
    }
    present();
    page.demoTime = vornak._vornak_web_demo_time();
    later(wait, step);
  }

  function ended() {
    page.phase = 'ended';
    if (audio) audio.suspend();
    say('The show has ended. Play again reloads the page.');
    startButton.textContent = 'Play again';
    startButton.disabled = false;
    startButton.focus();
  }

  async function start() {
    if (page.phase === 'ended') {
      location.reload();
      return;
    }
    startButton.disabled = true;
    page.phase = 'starting';
    // Resuming inside the click is what lets the browser play sound.
    const resumed = audio ? audio.resume() : Promise.resolve();
    say('Loading the music...');
    let musicReady = false;
    let problem = '';
    try {
      await musicLoad;
      await withTimeout(resumed, 3000);
      musicReady = audio.state === 'running';
      if (!musicReady) problem = 'the browser does not let the page play sound';
    } catch (error) {
      problem = error.message;
    }
    if (problem) {
      page.musicProblem = problem;
      say(`Music: ${problem}. The show runs without sound.`, true);
    } else {
      say('Escape ends the show. F11 or Alt+Enter: full screen.');
    }
    if (!begin(false, musicReady, musicReady ? '' : `Music: ${problem}. Running silently.`)) return;
    page.phase = 'running';
    later(vornak._vornak_web_announce(), step);
    present();
  }
  startButton.addEventListener('click', start);

  // ?digest: the digest lines in the page.
  function runDigest() {
    const lines = [];
    printSink = (line) => lines.push(line);
    say('Computing the digest of the whole show...');
    setTimeout(() => {
      const status = vornak._vornak_web_digest();
      const output = document.getElementById('digest');
      output.textContent = lines.join('\n');
      output.hidden = false;
      page.digest = lines.join('\n');
      page.phase = status === 0 ? 'digest-done' : 'failed';
    }, 0);
  }

  // ?at=T: the show on a virtual clock up to the last frame at or before T.
  function runTo(time) {
    if (!begin(true, false, '')) return;
    page.phase = 'running';
    vornak._vornak_web_sleep(vornak._vornak_web_announce());
    const chunk = () => {
      for (let n = 0; n < 250; n += 1) {
        const wait = vornak._vornak_web_frame();
        if (wait < 0) {
          fail(`The show ended before ${time} ms`);
          return;
        }
        const demoTime = vornak._vornak_web_demo_time();
        if (demoTime + FRAME_MS > time) {
          present();
          page.demoTime = demoTime;
          page.phase = 'at';
          say(`Demo time ${demoTime} ms on a virtual clock.`);
          return;
        }
        vornak._vornak_web_sleep(wait);
      }
      setTimeout(chunk, 0);
    };
    chunk();
  }

  async function boot() {
    if (typeof createVornak !== 'function' || typeof WebAssembly !== 'object') {
      fail('This browser cannot run the show: it needs WebAssembly.');
      return;
    }
    vornak = await createVornak({
      print: (line) => printSink(line),
      printErr: (line) => console.error(line),
      // What the show calls back (web/web_host.cpp).
      vornakHost: { now, playMusic, stopMusic },
    });
    if (params.has('digest')) {
      runDigest();
      return;
    }
    if (params.has('at')) {
      runTo(Number(params.get('at')));
      return;
    }
    musicLoad = loadMusic();
    musicLoad.catch(() => {});  // reported when Start is pressed
    page.phase = 'ready';
    startButton.disabled = false;
    startButton.focus();
    say('Start plays the show with its music. Escape ends it.');
  }

  boot().catch((error) => fail(`The show could not be loaded: ${error.message || error}`));
})();
