// page.js — the page around the browser build: what the web wing's backends
// (web_video.cpp, web_audio.cpp, program_folders_web.cpp) share, and what
// the page shows besides the picture. It runs before the program starts.
//
// The page (index.html) holds a stage with the canvas, and a panel that
// shows, one at a time: the loading line, the settings form, a sentence on
// what went wrong, or how to play again once the demo has ended. Every
// sentence the wing has to say goes through `problem` or `note`, so that
// whatever stops the demo is told on the page, never a blank canvas.
//
// For tests and measurements, `Module.sorvane.report()` tells what the page
// knows: the panel's text, the times of the click and of the first frame,
// the frames presented, and the audio context's state and latencies.
(function () {
  'use strict';
  const byId = (id) => document.getElementById(id);
  const stage = byId('stage'), canvas = byId('canvas'), panel = byId('panel');
  const still = parseFloat(new URLSearchParams(location.search).get('still'));
  const s = {
    stage: stage,
    canvas: canvas,
    still: still >= 0 ? still : NaN,
    problems: [],
    notes: [],
    frames: 0,
    clickAt: NaN,
    firstFrameAt: NaN,
  };
  Module.canvas = canvas;
  Module.sorvane = s;

  function show(children) {
    panel.replaceChildren(...children);
    panel.hidden = false;
    stage.classList.remove('playing');
  }
  function paragraph(text, className) {
    const p = document.createElement('p');
    p.textContent = text;
    if (className) p.className = className;
    return p;
  }
  function playAgain() {
    const a = document.createElement('a');
    a.href = location.href;
    a.textContent = 'Play it again';
    return a;
  }

  s.status = (text) => show([paragraph(text, 'status')]);
  s.problem = (sentence) => s.problems.push(sentence);
  s.note = (sentence) => s.notes.push(sentence);
  s.showStage = () => {
    panel.hidden = true;
    stage.classList.add('playing');
  };
  s.showError = (caption, text) => {
    s.windowOpen = false;
    const heading = document.createElement('h1');
    heading.textContent = caption;
    show([heading, paragraph(text), ...s.problems.map((p) => paragraph(p, 'cause')), playAgain()]);
    panel.setAttribute('role', 'alert');
  };
  s.showEnded = () => {
    show([paragraph('The demo has ended.'), ...s.notes.map((n) => paragraph(n, 'cause')), playAgain()]);
  };

  // The settings dialog as a form: controls placed by their dialog units
  // (about 1.75 × 1.9 pixels each at the dialog's 9 points, scaled up by
  // half for today's screens), each label tied to the control after it.
  const unitX = 2.6, unitY = 2.8;
  let form = null, controls = new Map(), pendingLabel = null, waiting = null;
  s.control = (id) => controls.get(id);
  s.dialogBegin = (caption, width, height) => {
    form = document.createElement('form');
    form.className = 'dialog';
    form.style.width = width * unitX + 'px';
    form.style.height = height * unitY + 'px';
    form.setAttribute('aria-label', caption);
    form.addEventListener('submit', (event) => event.preventDefault());
    controls = new Map();
    pendingLabel = null;
  };
  // Kinds in the order of platform::ControlKind.
  s.dialogAdd = (id, kind, text, x, y, width, height) => {
    let element;
    if (kind === 0 || kind === 1) {
      element = document.createElement('button');
      element.type = kind === 1 ? 'submit' : 'button';
      element.textContent = text;
      element.addEventListener('click', () => {
        if (Number.isNaN(s.clickAt)) s.clickAt = performance.now();
        if (waiting) waiting(id);
      });
    } else if (kind === 2) {
      element = document.createElement('label');
      element.textContent = text;
      pendingLabel = element;
    } else if (kind === 3) {
      element = document.createElement('select');
      height = 14;  // the template's height includes the opened list
    } else {
      element = document.createElement('input');
      element.type = 'checkbox';
    }
    if (kind >= 3 && pendingLabel) {
      element.id = 'control' + id;
      pendingLabel.htmlFor = element.id;
      pendingLabel = null;
    }
    Object.assign(element.style, {
      left: x * unitX + 'px', top: y * unitY + 'px', width: width * unitX + 'px', height: height * unitY + 'px',
    });
    form.appendChild(element);
    if (id >= 0) controls.set(id, element);
  };
  s.dialogWait = (acceptId, cancelId) => {
    if (!form.isConnected) {
      show([form]);
      panel.setAttribute('role', 'dialog');
      const first = form.querySelector('select, button');
      if (first) first.focus();
    }
    return new Promise((resolve) => {
      const keys = (event) => {
        if (event.key === 'Escape') finish(cancelId);
        else if (event.key === 'Enter' && event.target.tagName !== 'BUTTON') finish(acceptId);
      };
      const finish = (id) => {
        waiting = null;
        form.removeEventListener('keydown', keys);
        if (id === acceptId && Number.isNaN(s.clickAt)) s.clickAt = performance.now();
        resolve(id);
      };
      waiting = finish;
      form.addEventListener('keydown', keys);
    });
  };
  s.dialogEnd = () => {
    form.remove();
    form = null;
  };

  // The browser's decoders, started on each photograph and on the music as
  // soon as it arrives (program_folders_web.cpp), so that the click on
  // "Demo" finds them decoded; the program's decoders (ilcompat's, the
  // audio backend's) take the result for the same file, and decode afresh
  // what was not started here. Images come out as RGBA without colour
  // management or premultiplied alpha, as a desktop decoder gives them.
  const decodes = new Map();
  s.audioContext = () => {
    if (s.context !== undefined) return s.context;
    const Context = window.AudioContext || window.webkitAudioContext;
    try {
      s.context = Context ? new Context() : null;
    } catch (e) {
      s.context = null;
    }
    return s.context;
  };
  const decodeImage = async (bytes, type) => {
    const bitmap = await createImageBitmap(new Blob([bytes], {type}),
                                           {colorSpaceConversion: 'none', premultiplyAlpha: 'none'});
    const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
    const context = canvas.getContext('2d', {colorSpace: 'srgb'});
    context.drawImage(bitmap, 0, 0);
    const image = {width: bitmap.width, height: bitmap.height,
                   pixels: context.getImageData(0, 0, bitmap.width, bitmap.height).data};
    bitmap.close();
    return image;
  };
  const decodeAudio = (bytes) => {
    const context = s.audioContext();
    return context ? context.decodeAudioData(bytes.slice().buffer) : Promise.reject(new Error('no Web Audio'));
  };
  const kindOf = (path) => (/\.jpe?g$/i.test(path) ? 'image/jpeg' : /\.png$/i.test(path) ? 'image/png'
                            : /\.ogg$/i.test(path) ? 'audio' : '');
  const decode = (kind, bytes) => (kind === 'audio' ? decodeAudio(bytes) : decodeImage(bytes, kind));
  // Resolves once the decode has ended, either way: a failure is reported
  // when the program asks for the file.
  s.predecode = (path, bytes) => {
    const kind = kindOf(path);
    if (!kind) return Promise.resolve();
    const promise = decode(kind, bytes);
    decodes.set(path, {kind, size: bytes.length, promise});
    return promise.then(() => {}, () => {});
  };
  // The decoded image ({width, height, pixels}) or AudioBuffer of the file
  // at `path` whose bytes are `bytes`.
  s.decoded = (path, bytes, kind) => {
    const started = decodes.get(path);
    decodes.delete(path);
    if (started && started.kind === kind && started.size === bytes.length) return started.promise;
    return decode(kind, bytes);
  };

  s.framePresented = (at) => {
    if (s.frames++ === 0) s.firstFrameAt = at;
  };

  // Seconds of the track heard now: where the output is (its timestamp
  // carried forward on the page's clock, or the context's time less the
  // latencies it reports), less where the track started on it.
  s.heardSeconds = () => {
    const a = s.audio, c = a && a.context;
    if (!c || !a.playing) return a ? a.offset : 0;
    let heard = NaN;
    if (c.getOutputTimestamp) {
      const stamp = c.getOutputTimestamp();
      if (stamp.performanceTime > 0) heard = stamp.contextTime + (performance.now() - stamp.performanceTime) / 1000;
    }
    if (Number.isNaN(heard)) heard = c.currentTime - (c.baseLatency || 0) - (c.outputLatency || 0);
    return Math.max(0, Math.min(heard, c.currentTime) - a.startedAt) + a.offset;
  };

  s.report = () => {
    const a = s.audio, c = a && a.context;
    return {
      panel: panel.hidden ? '' : panel.innerText,
      problems: s.problems.slice(),
      clickAt: s.clickAt,
      firstFrameAt: s.firstFrameAt,
      frames: s.frames,
      canvas: [canvas.width, canvas.height, canvas.clientWidth, canvas.clientHeight],
      audio: c ? {
        state: c.state,
        sampleRate: c.sampleRate,
        baseLatency: c.baseLatency,
        outputLatency: c.outputLatency,
        outputTimestamp: !!c.getOutputTimestamp,
        heard: s.heardSeconds(),
      } : null,
    };
  };

  Module.onAbort = (what) => {
    s.problem('The program stopped: ' + what);
    s.showError('Error', 'The demo stopped unexpectedly.');
  };
  if (typeof WebAssembly !== 'object') {
    s.problem('This browser cannot run WebAssembly, which the demo is compiled to.');
    s.showError('Error', 'The demo cannot start in this browser.');
  } else {
    s.status('Loading\u2026');
  }
})();
