// The page that plays the show. The show itself (show.js with the WebAssembly
// build) runs in a worker that draws on the page's canvas, or beside the page
// where the browser cannot hand a canvas to a worker; this side has the keys, the
// controls and the music. After the Start click the show runs on a clock that is
// the position in the music being heard, so the picture keeps to what is heard;
// the player's keys, the timeline and the buttons pause, seek and set the volume
// of both. `#t=90` or `#t=1:30` starts the show there. Other ways to open the
// page, for tests:
//   ?digest        prints the whole-show digest of `vornak --digest`
//   ?at=T          runs the show silently on a virtual clock and stops on the frame
//                  of demo time T ms (the frame `vornak --render DIR --at T` writes)
//   ?canvas=webgl  draws the picture with WebGL, also where it is done in software
//   ?canvas=2d     draws it on a 2D canvas
'use strict';

(() => {
  const WIDTH = 640;
  const HEIGHT = 600;
  const MUSIC_FILE = 'vornak.ogg';
  // Music cut or started mid-way fades over this long, so a jump does not click.
  const FADE_SECONDS = 0.005;
  // How often the show is told how far the music has been heard (ms).
  const STAMP_EVERY_MS = 250;

  // The keys the show answers, as the virtual-key codes it reads (letters in upper case).
  const VK_SPACE = 0x20;
  const VK_POINTER = 0x01;
  const VK_M = 0x4d;
  const KEY_CODES = {
    Escape: 0x1b, ' ': VK_SPACE, PageUp: 0x21, PageDown: 0x22, Home: 0x24,
    ArrowLeft: 0x25, ArrowUp: 0x26, ArrowRight: 0x27, ArrowDown: 0x28, ',': 0xbc, '.': 0xbe,
    p: 0x50, P: 0x50, m: VK_M, M: VK_M, i: 0x49, I: 0x49, q: 0x51, Q: 0x51, 9: 0x39, 0: 0x30,
  };
  // Keys the focused volume slider keeps for itself.
  const SLIDER_KEYS = new Set(['ArrowLeft', 'ArrowUp', 'ArrowRight', 'ArrowDown', 'PageUp', 'PageDown', 'Home']);

  const params = new URLSearchParams(location.search);
  const stage = document.getElementById('stage');
  const canvas = document.getElementById('screen');
  const startButton = document.getElementById('start');
  const fullscreenButton = document.getElementById('fullscreen');
  const messageLine = document.getElementById('message');
  const controls = document.getElementById('controls');
  const playButton = document.getElementById('play');
  const timeline = document.getElementById('timeline');
  const playedBar = document.getElementById('played');
  const timeText = document.getElementById('time');
  const muteButton = document.getElementById('mute');
  const volumeInput = document.getElementById('volume');
  const statusLine = document.getElementById('status');

  // What the page is doing, for people and for the tests that drive it.
  const page = {
    phase: 'loading',  // loading, ready, starting, running, ended, failed, digest-done, at
    renderer: '',      // webgl or 2d
    inWorker: false,
    framesDrawn: 0,
    musicPlaying: false,
    musicStopped: false,
    musicProblem: '',
    // The music as last asked for: from which position (ms), playing or held, its gain.
    music: { position: 0, playing: false, gain: 1 },
    demoTime: 0,
    paused: false,
    handled: 0,
    startAt: 0,
    digest: '',
    errors: [],
  };
  window.vornakPage = page;
  Object.defineProperty(page, 'audioState', { get: () => (audio ? audio.state : 'none') });
  let consoleText = '';
  page.consoleText = () => consoleText;

  let tellShow = () => {};
  let audio = null;
  let volumeNode = null;
  let musicLoad = null;
  let length = 0;

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

  function clockText(ms) {
    const seconds = Math.floor(ms / 1000);
    return `${Math.floor(seconds / 60)}:${String(seconds % 60).padStart(2, '0')}`;
  }

  // ---- Picture ----

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

  // The picture's 640x600 RGBA pixels as the show draws them, top row first (tests).
  let pictureRead = null;
  page.readPicture = () => new Promise((resolve) => {
    pictureRead = resolve;
    tellShow({ type: 'read' });
  });

  // ---- Keys, the timeline and the buttons ----

  const running = () => page.phase === 'running';

  function pressKey(code) {
    tellShow({ type: 'key', code, down: true });
    tellShow({ type: 'key', code, down: false });
  }

  document.addEventListener('keydown', (event) => {
    if (event.key === 'F11' || (event.key === 'Enter' && event.altKey)) {
      event.preventDefault();
      toggleFullscreen();
      return;
    }
    const code = KEY_CODES[event.key];
    if (code === undefined || event.ctrlKey || event.metaKey || event.altKey || !running()) return;
    if (event.target === volumeInput && SLIDER_KEYS.has(event.key)) return;
    event.preventDefault();  // also keeps Space from pressing a focused button
    tellShow({ type: 'key', code, down: true });
  });
  document.addEventListener('keyup', (event) => {
    const code = KEY_CODES[event.key];
    if (code !== undefined && running()) tellShow({ type: 'key', code, down: false });
  });

  // A click or a tap on the picture pauses or resumes.
  canvas.addEventListener('click', () => running() && pressKey(VK_POINTER));
  playButton.addEventListener('click', () => running() && pressKey(VK_SPACE));
  muteButton.addEventListener('click', () => running() && pressKey(VK_M));
  volumeInput.addEventListener('input', () => {
    if (running()) tellShow({ type: 'volume', percent: Number(volumeInput.value) });
  });

  // Click or drag on the timeline.
  function seekTimeline(event) {
    const box = timeline.getBoundingClientRect();
    const time = Math.min(Math.max((event.clientX - box.left) / box.width, 0), 1) * length;
    tellShow({ type: 'seek', time });
  }
  timeline.addEventListener('pointerdown', (event) => {
    if (!running() || event.button !== 0) return;
    timeline.setPointerCapture(event.pointerId);
    seekTimeline(event);
    event.preventDefault();
  });
  timeline.addEventListener('pointermove', (event) => {
    if (timeline.hasPointerCapture(event.pointerId)) seekTimeline(event);
  });

  // The scenes on the timeline, by name.
  function markScenes(scenes) {
    const marks = document.getElementById('scenes');
    scenes.forEach(({ start, name }, i) => {
      const end = i + 1 < scenes.length ? scenes[i + 1].start : length;
      const mark = document.createElement('div');
      mark.className = 'scene';
      mark.textContent = name;
      mark.title = `${name} (${clockText(start)})`;
      mark.style.left = `${(100 * start) / length}%`;
      mark.style.width = `${(100 * (end - start)) / length}%`;
      marks.append(mark);
    });
    timeline.setAttribute('aria-valuemax', String(length));
  }

  // The controls as the show is now; the page is touched only where something changed.
  const shown = {};
  function show(key, value, apply) {
    if (shown[key] !== value) {
      shown[key] = value;
      apply(value);
    }
  }
  function showState({ demoTime, paused, volume, muted, status, framesDrawn, handled }) {
    // `handled`: how many key presses and seeks the show has acted on (tests).
    Object.assign(page, { demoTime, paused, framesDrawn, handled });
    show('time', `${clockText(demoTime)} / ${clockText(length)}`, (text) => {
      timeText.textContent = text;
      timeline.setAttribute('aria-valuenow', String(demoTime));
      timeline.setAttribute('aria-valuetext', text);
    });
    show('played', Math.round((1000 * Math.min(demoTime, length)) / length) / 10,
      (percent) => { playedBar.style.width = `${percent}%`; });
    show('paused', paused, (on) => {
      playButton.textContent = on ? 'Play' : 'Pause';
      playButton.title = on ? 'Play (Space)' : 'Pause (Space)';
    });
    show('muted', muted, (on) => { muteButton.textContent = on ? 'Unmute' : 'Mute'; });
    show('volume', volume, (percent) => { volumeInput.value = String(percent); });
    show('status', status, (text) => {
      statusLine.textContent = text;
      if (statusLine.hidden !== (text === '')) {
        statusLine.hidden = text === '';
        fitCanvas();
      }
    });
  }

  // `#t=90`, `#t=90.5` or `#t=1:30`: where to start, in ms; null when it says no time.
  function hashTime() {
    const match = /^#t=(?:(\d+):)?(\d+(?:\.\d*)?)$/.exec(location.hash);
    if (!match) return null;
    return Math.round((Number(match[1] || 0) * 60 + Number(match[2])) * 1000);
  }

  // Takes the start position from the address; says so when it cannot be used.
  function takeHash() {
    if (location.hash === '' || location.hash === '#') return;
    const time = hashTime();
    if (time === null || time > length) {
      say(time === null ? `${location.hash} is not a time such as #t=90 or #t=1:30: the show starts at the beginning.`
        : `${location.hash} is past the end of the show (${clockText(length)}): it starts at the beginning.`, true);
      page.startAt = 0;
      return;
    }
    page.startAt = time;
    if (running()) tellShow({ type: 'seek', time });
    else say(`Start plays the show from ${clockText(time)}.`);
  }
  window.addEventListener('hashchange', takeHash);

  // ---- Music ----

  const music = { source: null, fade: null, stamps: 0 };

  // The position in the music heard now, in seconds of the sound output's clock.
  function heardSeconds() {
    if (audio.state === 'running' && audio.getOutputTimestamp) {
      const stamp = audio.getOutputTimestamp();
      if (stamp.contextTime > 0 && stamp.performanceTime > 0) {
        return stamp.contextTime + (performance.now() - stamp.performanceTime) / 1000;
      }
    }
    return audio.currentTime - (audio.outputLatency || audio.baseLatency || 0);
  }

  const stampNow = () => ({
    heard: heardSeconds(), pageTime: performance.timeOrigin + performance.now(), running: audio.state === 'running',
  });

  function stopSource() {
    if (!music.source) return;
    const { source, fade } = music;
    const at = audio.currentTime;
    fade.gain.cancelScheduledValues(at);
    fade.gain.setValueAtTime(fade.gain.value, at);
    fade.gain.linearRampToValueAtTime(0, at + FADE_SECONDS);
    source.stop(at + FADE_SECONDS);
    source.onended = () => fade.disconnect();
    music.source = null;
  }

  // The show asks for the music from `position` ms on, or held there.
  function musicAt({ request, position, playing, audible }) {
    if (audible) stopSource();
    page.music.position = position;
    page.music.playing = playing;
    page.musicPlaying = playing && audible;
    if (!playing || !audible) return;
    const startedAt = audio.currentTime;
    if (position < page.musicBuffer.duration * 1000) {
      const source = audio.createBufferSource();
      source.buffer = page.musicBuffer;
      const fade = audio.createGain();
      // From the first sample the music starts as it is; mid-way it fades in.
      if (position > 0) {
        fade.gain.setValueAtTime(0, startedAt);
        fade.gain.linearRampToValueAtTime(1, startedAt + FADE_SECONDS);
      }
      source.connect(fade).connect(volumeNode);
      source.start(startedAt, position / 1000);
      Object.assign(music, { source, fade });
    }
    tellShow({ type: 'music-started', request, startedAt, stamp: stampNow() });
    // From now on the show hears how far the music has come, now and then.
    if (!music.stamps) music.stamps = setInterval(() => tellShow({ type: 'stamp', stamp: stampNow() }), STAMP_EVERY_MS);
  }

  function stopMusic() {
    if (audio) stopSource();
    clearInterval(music.stamps);
    page.musicPlaying = false;
    page.musicStopped = true;
  }

  function musicVolume({ gain }) {
    page.music.gain = gain;
    if (!volumeNode) return;
    const at = audio.currentTime;
    volumeNode.gain.cancelScheduledValues(at);
    volumeNode.gain.setValueAtTime(volumeNode.gain.value, at);
    volumeNode.gain.linearRampToValueAtTime(gain, at + 0.01);
  }

  // Fetches and decodes the music; the context can decode before it may play.
  async function loadMusic() {
    const Context = window.AudioContext || window.webkitAudioContext;
    if (!Context) throw new Error('this browser has no Web Audio');
    audio = new Context();
    volumeNode = audio.createGain();
    volumeNode.connect(audio.destination);
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

  function ended() {
    page.phase = 'ended';
    stopMusic();
    if (audio) audio.suspend();
    controls.hidden = true;
    statusLine.hidden = true;
    fitCanvas();
    say('The show has ended. Play again reloads the page.');
    startButton.textContent = 'Play again';
    startButton.hidden = false;
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
      say(window.matchMedia('(pointer: coarse)').matches ? 'A tap on the picture pauses and resumes.'
        : 'Space pauses, arrows seek, Escape ends the show. F11 or Alt+Enter: full screen.');
    }
    tellShow({ type: 'play', musicReady, problem: musicReady ? '' : `Music: ${problem}. Running silently.`,
               startAt: page.startAt });
  }
  startButton.addEventListener('click', start);

  // What the show tells.
  const fromShow = {
    booted: ({ renderer, length: showLength }) => {
      page.renderer = renderer;
      length = showLength;
      if (params.has('digest')) {
        say('Computing the digest of the whole show...');
        tellShow({ type: 'digest' });
      } else if (params.has('at')) {
        tellShow({ type: 'at', time: Number(params.get('at')) });
      } else {
        musicLoad = loadMusic();
        musicLoad.catch(() => {});  // reported when Start is pressed
        page.phase = 'ready';
        startButton.disabled = false;
        startButton.focus();
        say('Start plays the show with its music. Space pauses, Escape ends it.');
        takeHash();
      }
    },
    begun: ({ started, title, text, scenes, framesDrawn }) => {
      document.title = title;
      consoleText = text;
      page.framesDrawn = framesDrawn;
      if (!started) {
        fail(`The show could not start: ${text.trim()}`);
        return;
      }
      page.phase = 'running';
      if (params.has('at')) return;
      markScenes(scenes);
      controls.hidden = false;
      startButton.hidden = true;
      fitCanvas();
    },
    text: ({ text }) => { consoleText = text; },
    // How long the snapshots were kept for before the first frame (ms).
    prepared: ({ ms }) => { page.preparedMs = ms; },
    state: showState,
    ended,
    failed: ({ text }) => fail(text),
    at: ({ demoTime, framesDrawn }) => {
      Object.assign(page, { demoTime, framesDrawn, phase: 'at' });
      say(`Demo time ${demoTime} ms on a virtual clock.`);
    },
    digest: ({ lines, status }) => {
      const output = document.getElementById('digest');
      output.textContent = lines.join('\n');
      output.hidden = false;
      page.digest = lines.join('\n');
      page.phase = status === 0 ? 'digest-done' : 'failed';
    },
    music: musicAt,
    'music-stop': stopMusic,
    volume: musicVolume,
    picture: ({ pixels }) => pictureRead && pictureRead(pixels),
  };
  const receive = ({ data }) => fromShow[data.type](data);

  // The show in a worker that draws on the canvas, or beside the page.
  function createShow() {
    const renderer = params.get('canvas') || '';
    if (typeof Worker === 'function' && typeof OffscreenCanvas === 'function' && canvas.transferControlToOffscreen) {
      const worker = new Worker('show.js');
      worker.onmessage = receive;
      worker.onerror = (event) => fail(`Error in the show: ${event.message}`);
      const offscreen = canvas.transferControlToOffscreen();
      worker.postMessage({ type: 'boot', canvas: offscreen, renderer }, [offscreen]);
      page.inWorker = true;
      return (message) => worker.postMessage(message);
    }
    if (typeof vornakShow !== 'function' || typeof createVornak !== 'function') return null;
    const channel = new MessageChannel();
    vornakShow(channel.port2, canvas);
    channel.port1.onmessage = receive;
    channel.port1.postMessage({ type: 'boot', renderer });
    return (message) => channel.port1.postMessage(message);
  }

  if (typeof WebAssembly !== 'object') {
    fail('This browser cannot run the show: it needs WebAssembly.');
    return;
  }
  const tell = createShow();
  if (!tell) {
    fail('The show could not be loaded.');
    return;
  }
  tellShow = tell;
})();
