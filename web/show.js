// The show's side of the page: it runs the WebAssembly build (vornak.js), steps
// its frame loop with timers and draws its picture. It runs in a worker on the
// canvas the page hands over, so that the page's own thread only has the keys,
// the controls and the music; where a browser cannot do that, the page runs it
// beside itself. Either way the two talk by messages only (see page.js): the
// page sends keys, seeks, the volume and how far the music has been heard; the
// show asks for the music from a position, and tells where it is.
'use strict';

// Serves the show on `port`; `pageCanvas` is the canvas when the show runs
// beside the page (in a worker the canvas comes with the boot message).
function vornakShow(port, pageCanvas = null) {
  const WIDTH = 640;
  const HEIGHT = 600;
  const COLUMNS = 80;
  const ROWS = 50;
  const CELL_BYTES = 4;
  const FRAME_MS = 20;
  // While the show plays it tells the page where it is this often (ms), and at once
  // when anything but the position changed.
  const STATE_EVERY_MS = 100;

  let vornak = null;
  let picture = null;
  let framesDrawn = 0;
  let printLine = () => {};
  const post = (message, transfer = []) => port.postMessage(message, transfer);
  const fail = (text) => post({ type: 'failed', text });

  // ---- Picture ----
  // The console look of the show's 80x50 cells. With WebGL it is one draw a frame:
  // the cells, the font and the palette are textures, and every pixel looks up its
  // cell, its glyph's bit and the colour. Otherwise the show draws the look of the
  // cells that changed into its memory and that rectangle goes onto a 2D canvas.

  const VERTEX_SHADER = `
attribute vec2 corner;
void main() { gl_Position = vec4(corner, 0.0, 1.0); }`;
  const FRAGMENT_SHADER = `
#ifdef GL_FRAGMENT_PRECISION_HIGH
precision highp float;
#else
precision mediump float;
#endif
uniform sampler2D cells;    // 80x50: character, -, attribute, -
uniform sampler2D font;     // 16x16 glyphs of 8x12, one byte a pixel
uniform sampler2D palette;  // 16x1 colours
void main() {
  vec2 pixel = floor(vec2(gl_FragCoord.x, ${HEIGHT}.0 - gl_FragCoord.y));
  // Half a pixel keeps the division away from whole numbers: no rounding moves a cell.
  vec2 cell = floor((pixel + 0.5) / vec2(8.0, 12.0));
  vec4 bytes = floor(texture2D(cells, (cell + 0.5) / vec2(${COLUMNS}.0, ${ROWS}.0)) * 255.0 + 0.5);
  float background = floor(bytes.b / 16.0);
  float foreground = bytes.b - background * 16.0;
  vec2 glyph = vec2(mod(bytes.r, 16.0), floor(bytes.r / 16.0)) * vec2(8.0, 12.0) + pixel - cell * vec2(8.0, 12.0);
  float ink = texture2D(font, (glyph + 0.5) / vec2(128.0, 192.0)).r;
  float colour = ink > 0.5 ? foreground : background;
  gl_FragColor = vec4(texture2D(palette, vec2((colour + 0.5) / 16.0, 0.5)).rgb, 1.0);
}`;

  // `required`: take WebGL even where the browser draws it in software.
  function webglPicture(target, required) {
    const gl = target.getContext('webgl', {
      alpha: false, antialias: false, depth: false, stencil: false, premultipliedAlpha: false,
      preserveDrawingBuffer: false, failIfMajorPerformanceCaveat: !required,
    });
    if (!gl) return null;

    function texture(unit, width, height, format, bytes) {
      gl.activeTexture(gl.TEXTURE0 + unit);
      gl.bindTexture(gl.TEXTURE_2D, gl.createTexture());
      for (const name of [gl.TEXTURE_MIN_FILTER, gl.TEXTURE_MAG_FILTER]) gl.texParameteri(gl.TEXTURE_2D, name, gl.NEAREST);
      for (const name of [gl.TEXTURE_WRAP_S, gl.TEXTURE_WRAP_T]) gl.texParameteri(gl.TEXTURE_2D, name, gl.CLAMP_TO_EDGE);
      gl.texImage2D(gl.TEXTURE_2D, 0, format, width, height, 0, format, gl.UNSIGNED_BYTE, bytes);
    }

    // Program, triangle and textures; again after a lost context comes back.
    function setUp() {
      const program = gl.createProgram();
      for (const [type, source] of [[gl.VERTEX_SHADER, VERTEX_SHADER], [gl.FRAGMENT_SHADER, FRAGMENT_SHADER]]) {
        const shader = gl.createShader(type);
        gl.shaderSource(shader, source);
        gl.compileShader(shader);
        gl.attachShader(program, shader);
      }
      gl.linkProgram(program);
      if (!gl.getProgramParameter(program, gl.LINK_STATUS)) return false;
      gl.useProgram(program);
      // One triangle that covers the canvas.
      gl.bindBuffer(gl.ARRAY_BUFFER, gl.createBuffer());
      gl.bufferData(gl.ARRAY_BUFFER, new Float32Array([-1, -1, 3, -1, -1, 3]), gl.STATIC_DRAW);
      const corner = gl.getAttribLocation(program, 'corner');
      gl.enableVertexAttribArray(corner);
      gl.vertexAttribPointer(corner, 2, gl.FLOAT, false, 0, 0);

      // The font as 16 rows of 16 glyphs, one byte a pixel (255 ink, 0 paper).
      const bits = vornak.HEAPU8.subarray(vornak._vornak_web_font());
      const font = new Uint8Array(128 * 192);
      for (let glyph = 0; glyph < 256; glyph += 1) {
        for (let y = 0; y < 12; y += 1) {
          const row = bits[glyph * 12 + y];
          const at = ((glyph >> 4) * 12 + y) * 128 + (glyph & 15) * 8;
          for (let x = 0; x < 8; x += 1) font[at + x] = row & (0x80 >> x) ? 255 : 0;
        }
      }
      const rgb = vornak.HEAPU8.subarray(vornak._vornak_web_palette());
      const palette = new Uint8Array(16 * 4);
      for (let i = 0; i < 16; i += 1) palette.set([rgb[i * 3], rgb[i * 3 + 1], rgb[i * 3 + 2], 255], i * 4);
      gl.pixelStorei(gl.UNPACK_ALIGNMENT, 1);
      texture(1, 128, 192, gl.LUMINANCE, font);
      texture(2, 16, 1, gl.RGBA, palette);
      texture(0, COLUMNS, ROWS, gl.RGBA, null);  // left bound on unit 0 for the uploads
      ['cells', 'font', 'palette'].forEach((name, unit) => gl.uniform1i(gl.getUniformLocation(program, name), unit));
      return gl.getError() === gl.NO_ERROR;
    }
    if (!setUp()) return null;

    function draw() {
      const at = vornak._vornak_web_cells();
      if (!at || gl.isContextLost()) return;
      gl.texSubImage2D(gl.TEXTURE_2D, 0, 0, 0, COLUMNS, ROWS, gl.RGBA, gl.UNSIGNED_BYTE,
                       vornak.HEAPU8.subarray(at, at + COLUMNS * ROWS * CELL_BYTES));
      gl.drawArrays(gl.TRIANGLES, 0, 3);
    }

    target.addEventListener('webglcontextlost', (event) => event.preventDefault());
    target.addEventListener('webglcontextrestored', () => {
      if (setUp()) draw();
    });

    // The picture's pixels, top row first (drawn again: the canvas keeps no copy).
    function read() {
      draw();
      const pixels = new Uint8Array(WIDTH * HEIGHT * 4);
      gl.readPixels(0, 0, WIDTH, HEIGHT, gl.RGBA, gl.UNSIGNED_BYTE, pixels);
      const flipped = new Uint8Array(pixels.length);
      const row = WIDTH * 4;
      for (let y = 0; y < HEIGHT; y += 1) flipped.set(pixels.subarray((HEIGHT - 1 - y) * row, (HEIGHT - y) * row), y * row);
      return flipped;
    }

    return { name: 'webgl', draw, read };
  }

  function canvasPicture(target) {
    const context = target.getContext('2d', { alpha: false });
    let image = null;
    let rect = null;

    function draw() {
      const at = vornak._vornak_web_draw();
      if (!at) return;
      // Views of the show's memory, made again when the memory has grown.
      if (!image || image.data.buffer !== vornak.HEAPU8.buffer) {
        image = new ImageData(new Uint8ClampedArray(vornak.HEAPU8.buffer, at, WIDTH * HEIGHT * 4), WIDTH, HEIGHT);
        rect = new Int32Array(vornak.HEAPU8.buffer, vornak._vornak_web_drawn_rect(), 4);
      }
      const [column, row, columns, rows] = rect;
      if (columns > 0) context.putImageData(image, 0, 0, column * 8, row * 12, columns * 8, rows * 12);
    }

    const read = () => new Uint8Array(context.getImageData(0, 0, WIDTH, HEIGHT).data.buffer);
    return { name: '2d', draw, read };
  }

  // Whether WebGL is drawn by a graphics processor here: tried on a canvas of its
  // own, since a canvas that once gave WebGL gives no 2D context.
  function webglIsFast(canvas) {
    const probe = typeof OffscreenCanvas === 'function' ? new OffscreenCanvas(1, 1)
      : canvas.ownerDocument.createElement('canvas');
    const gl = probe.getContext('webgl', { failIfMajorPerformanceCaveat: true });
    if (!gl) return false;
    const names = gl.getExtension('WEBGL_debug_renderer_info');
    const renderer = `${gl.getParameter(gl.RENDERER)} ${names ? gl.getParameter(names.UNMASKED_RENDERER_WEBGL) : ''}`;
    const lose = gl.getExtension('WEBGL_lose_context');
    if (lose) lose.loseContext();
    return !/swiftshader|llvmpipe|softpipe|software/i.test(renderer);
  }

  // `renderer`: 'webgl' or '2d' to have that one; otherwise WebGL where a
  // graphics processor draws it, else the 2D canvas.
  function choosePicture(canvas, renderer) {
    if (renderer === 'webgl' || (renderer !== '2d' && webglIsFast(canvas))) {
      picture = webglPicture(canvas, renderer === 'webgl');
      if (!picture && canvas.getContext('webgl')) throw new Error('WebGL could not draw the picture');
    }
    if (!picture) picture = canvasPicture(canvas);
  }

  let shownVersion = -1;
  function present() {
    const version = vornak._vornak_web_cells_version();
    if (!picture || version === shownVersion) return;
    shownVersion = version;
    picture.draw();
    framesDrawn += 1;
  }

  // ---- The clock and the music ----
  // The show's clock is this thread's milliseconds; while the music is heard the
  // player follows the position in it instead. The page plays the music and
  // reports how far the sound output has got (`stamp`: the heard time in seconds
  // of the output's clock at a time of the page's), and when it started the
  // music asked for; between reports the heard time moves on with this clock.

  const music = { audible: false, playing: false, position: 0, startedAt: 0, request: 0, stamp: null };

  const now = () => performance.now();

  function heardSeconds() {
    const { stamp } = music;
    const moved = stamp.running ? (performance.timeOrigin + performance.now() - stamp.pageTime) / 1000 : 0;
    return stamp.heard + moved;
  }

  // The position (ms) in the music being heard now; -1 while none is.
  function heardMusic() {
    if (!music.playing || !music.stamp) return -1;
    return music.position + Math.max(0, heardSeconds() - music.startedAt) * 1000;
  }

  // The music from `position` ms on, or held there. It counts as heard once the
  // page says when it started it.
  function musicAt(position, playing) {
    music.request += 1;
    music.position = position;
    music.playing = false;
    post({ type: 'music', request: music.request, position, playing: playing === 1, audible: music.audible });
  }

  function playMusic(audible) {
    music.audible = audible === 1;
    musicAt(0, 1);
  }

  function stopMusic() {
    music.playing = false;
    post({ type: 'music-stop' });
  }

  const musicVolume = (gain) => post({ type: 'volume', gain });

  // ---- The show ----

  let pendingSeek = null;
  let keeping = true;  // snapshots are still to be kept
  let statePosted = { at: -Infinity, key: '' };
  // Key presses and seeks received, and how many of them a step has acted on.
  let asked = 0;
  let handled = 0;

  function postState(force) {
    const paused = vornak._vornak_web_paused() === 1;
    const volume = vornak._vornak_web_volume();
    const muted = vornak._vornak_web_muted() === 1;
    const status = vornak.UTF8ToString(vornak._vornak_web_status());
    const key = `${paused} ${volume} ${muted} ${status} ${handled}`;
    const at = performance.now();
    if (!force && key === statePosted.key && at - statePosted.at < STATE_EVERY_MS) return;
    statePosted = { at, key };
    post({ type: 'state', demoTime: vornak._vornak_web_demo_time(), paused, volume, muted, status, framesDrawn,
           handled });
  }

  // Waits `ms` before the next step: the show's clock is told (a virtual clock
  // moves), the wait is a timer.
  function later(ms, step) {
    vornak._vornak_web_sleep(ms);
    setTimeout(step, ms);
  }

  const consoleText = () => vornak.UTF8ToString(vornak._vornak_web_console_text());

  function begin(virtualClock, musicReady, problem) {
    const started = vornak.ccall('vornak_web_begin', 'number', ['number', 'number', 'string'],
                                 [virtualClock ? 1 : 0, musicReady ? 1 : 0, problem]);
    present();
    const scenes = [];
    for (let i = 0; i < vornak._vornak_web_scene_count(); i += 1) {
      scenes.push({ start: vornak._vornak_web_scene_start(i), name: vornak.UTF8ToString(vornak._vornak_web_scene_name(i)) });
    }
    post({ type: 'begun', started: started === 1, title: vornak.UTF8ToString(vornak._vornak_web_title()),
           text: consoleText(), scenes, framesDrawn });
    return started;
  }

  function step() {
    const asking = asked;
    const wait = vornak._vornak_web_frame();
    if (wait < 0) {
      postState(true);
      post({ type: 'ended' });
      return;
    }
    let force = false;
    if (pendingSeek !== null) {
      vornak._vornak_web_seek(pendingSeek);
      pendingSeek = null;
      force = true;
    }
    present();
    handled = asking;
    postState(force);
    // Snapshots the wait could not keep are kept in the slack of each slot.
    const idleStart = performance.now();
    if (keeping && wait > 8) keeping = vornak._vornak_web_keep_snapshots(Math.min(10, wait - 6)) === 1;
    later(Math.max(0, wait - Math.round(performance.now() - idleStart)), step);
  }

  // The live show from `startAt` ms: start-up, the wait, in which the snapshots
  // that make seeks quick are kept for as much of the show as it allows (seeks
  // and the frames' spare time keep the rest), then a frame every 20 ms.
  function play({ musicReady, problem, startAt }) {
    if (!begin(false, musicReady, problem)) return;
    const started = performance.now();
    const wait = vornak._vornak_web_announce(startAt);
    post({ type: 'text', text: consoleText() });
    present();
    // In steps of 50 ms, so that the worker hears the page meanwhile.
    const prepare = () => {
      const left = wait - (performance.now() - started);
      if (left > 0 && (keeping = vornak._vornak_web_keep_snapshots(Math.min(50, left)) === 1)) {
        setTimeout(prepare, 0);
        return;
      }
      const spent = performance.now() - started;
      post({ type: 'prepared', ms: Math.round(spent) });
      later(Math.max(0, Math.ceil(wait - spent)), step);
    };
    setTimeout(prepare, 0);
  }

  // The show on a virtual clock up to the last frame at or before `time`.
  function runTo(time) {
    if (!begin(true, false, '')) return;
    vornak._vornak_web_sleep(vornak._vornak_web_announce(0));
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
          post({ type: 'at', demoTime, framesDrawn });
          return;
        }
        vornak._vornak_web_sleep(wait);
      }
      setTimeout(chunk, 0);
    };
    chunk();
  }

  function runDigest() {
    const lines = [];
    printLine = (line) => lines.push(line);
    const status = vornak._vornak_web_digest();
    post({ type: 'digest', lines, status });
  }

  async function boot({ canvas, renderer }) {
    vornak = await createVornak({
      print: (line) => printLine(line),
      printErr: (line) => console.error(line),
      // What the show calls back (web/web_host.cpp).
      vornakHost: { now, playMusic, stopMusic, musicAt, musicVolume, heardMusic },
    });
    choosePicture(canvas || pageCanvas, renderer);
    post({ type: 'booted', renderer: picture.name, length: vornak._vornak_web_length() });
  }

  const handlers = {
    boot: (message) => boot(message).catch((error) => fail(`The show could not be loaded: ${error.message || error}`)),
    play,
    at: ({ time }) => runTo(time),
    digest: runDigest,
    key: ({ code, down }) => {
      vornak._vornak_web_key(code, down ? 1 : 0);
      if (down) asked += 1;
    },
    seek: ({ time }) => {
      pendingSeek = time;
      asked += 1;
    },
    volume: ({ percent }) => vornak._vornak_web_set_volume(percent),
    // How far the music has been heard, and the start of the music asked for.
    stamp: ({ stamp }) => { music.stamp = stamp; },
    'music-started': ({ request, startedAt, stamp }) => {
      music.stamp = stamp;
      if (request !== music.request) return;
      music.startedAt = startedAt;
      music.playing = true;
    },
    read: () => {
      const pixels = picture.read();
      post({ type: 'picture', pixels }, [pixels.buffer]);
    },
  };

  port.onmessage = ({ data }) => {
    try {
      handlers[data.type](data);
    } catch (error) {
      fail(`Error in the show: ${error.message || error}`);
    }
  };
}

// In a worker: the show with its WebAssembly build beside it.
if (typeof WorkerGlobalScope !== 'undefined' && self instanceof WorkerGlobalScope) {
  importScripts('vornak.js');
  vornakShow(self);
}
