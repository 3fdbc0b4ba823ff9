// browser.mjs — a real browser for the browser build's tests and benchmark:
// Debian's Chromium, headless, with WebGL on its software rasteriser
// (SwiftShader), driven over the DevTools protocol on a pipe (no library
// and no download), and the site served by a local server of the caller's.
//
// How to use it: `serve(site, {missing, damaged})` starts the server (a name
// in `missing` answers 404, as a site without that file would; one in
// `damaged` comes with its second half cut off); `launch()`
// starts the browser; `browser.page(url)` opens a tab. Close both: the
// browser and the server end with the test, by process id, whatever it did.
//
// How it fails: a protocol error rejects the call with its message; a wait
// that does not see its condition in time throws, naming the condition.
import {spawn} from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';

const kTypes = {'.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm', '.jpg': 'image/jpeg',
                '.ogg': 'audio/ogg', '.vert': 'text/plain', '.frag': 'text/plain', '.png': 'image/png'};

export async function serve(root, {missing = [], damaged = []} = {}) {
  const server = http.createServer((request, response) => {
    const name = decodeURIComponent(new URL(request.url, 'http://x').pathname.slice(1)) || 'index.html';
    const file = path.join(root, path.basename(name));
    if (missing.includes(name) || !fs.existsSync(file)) {
      response.writeHead(404, {'Content-Type': 'text/plain'}).end('not found');
      return;
    }
    response.writeHead(200, {'Content-Type': kTypes[path.extname(file)] || 'application/octet-stream'});
    if (!damaged.includes(name)) return fs.createReadStream(file).pipe(response);
    const bytes = fs.readFileSync(file);
    response.end(bytes.subarray(0, bytes.length >> 1));
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return {url: `http://127.0.0.1:${server.address().port}/`, close: () => new Promise((r) => server.close(r))};
}

export async function launch({args = []} = {}) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'sorvane-chromium-'));
  const flags = ['--headless=new', '--remote-debugging-pipe', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
                 '--no-first-run', '--no-default-browser-check', '--disable-extensions', `--user-data-dir=${profile}`,
                 // Sound only after the user's own click, as a desktop browser does by default.
                 '--autoplay-policy=document-user-activation-required', ...args];
  if (process.getuid && process.getuid() === 0) flags.push('--no-sandbox');
  const child = spawn('chromium', flags, {stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe']});
  let stderr = '';
  child.stderr.on('data', (d) => { stderr = (stderr + d).slice(-4000); });
  const browser = new Browser(child, child.stdio[3], child.stdio[4], profile);
  child.on('exit', () => browser.failAll(`the browser ended: ${stderr}`));
  await browser.send('Target.setDiscoverTargets', {discover: false});
  return browser;
}

class Browser {
  constructor(child, toBrowser, fromBrowser, profile) {
    Object.assign(this, {child, toBrowser, profile, next: 1, pending: new Map(), listeners: []});
    let buffered = '';
    fromBrowser.on('data', (chunk) => {
      buffered += chunk;
      for (let end; (end = buffered.indexOf('\0')) >= 0;) {
        const message = JSON.parse(buffered.slice(0, end));
        buffered = buffered.slice(end + 1);
        const waiting = this.pending.get(message.id);
        if (waiting) {
          this.pending.delete(message.id);
          if (message.error) waiting.reject(new Error(`${waiting.method}: ${message.error.message}`));
          else waiting.resolve(message.result);
        } else if (message.method) {
          for (const listener of this.listeners) listener(message);
        }
      }
    });
  }

  send(method, params = {}, sessionId) {
    const id = this.next++;
    this.toBrowser.write(JSON.stringify({id, method, params, ...(sessionId ? {sessionId} : {})}) + '\0');
    return new Promise((resolve, reject) => this.pending.set(id, {resolve, reject, method}));
  }

  failAll(why) {
    for (const waiting of this.pending.values()) waiting.reject(new Error(why));
    this.pending.clear();
  }

  async page(url, {width = 960, height = 600, scale = 1, before = ''} = {}) {
    const {targetId} = await this.send('Target.createTarget', {url: 'about:blank'});
    const {sessionId} = await this.send('Target.attachToTarget', {targetId, flatten: true});
    const page = new Page(this, sessionId, targetId);
    await page.send('Page.enable');
    await page.send('Runtime.enable');
    await page.resize(width, height, scale);
    if (before) await page.send('Page.addScriptToEvaluateOnNewDocument', {source: before});
    await page.send('Page.navigate', {url});
    return page;
  }

  async close() {
    const ended = new Promise((resolve) => (this.child.exitCode !== null ? resolve() : this.child.on('exit', resolve)));
    this.send('Browser.close').catch(() => {});
    await Promise.race([ended, new Promise((r) => setTimeout(r, 5000))]);
    if (this.child.exitCode === null) {
      this.child.kill('SIGKILL');
      await ended;
    }
    fs.rmSync(this.profile, {recursive: true, force: true, maxRetries: 5});
  }
}

class Page {
  constructor(browser, sessionId, targetId) {
    Object.assign(this, {browser, sessionId, targetId, console: []});
    browser.listeners.push((message) => {
      if (message.sessionId !== sessionId) return;
      if (message.method === 'Runtime.consoleAPICalled')
        this.console.push(message.params.args.map((a) => a.value ?? a.description).join(' '));
      if (message.method === 'Runtime.exceptionThrown') this.console.push(message.params.exceptionDetails.text);
    });
  }

  send(method, params) { return this.browser.send(method, params, this.sessionId); }

  close() { return this.browser.send('Target.closeTarget', {targetId: this.targetId}); }

  async evaluate(expression) {
    const {result, exceptionDetails} = await this.send('Runtime.evaluate',
        {expression, returnByValue: true, awaitPromise: true});
    if (exceptionDetails) throw new Error(`${expression}: ${exceptionDetails.exception?.description ?? exceptionDetails.text}`);
    return result.value;
  }

  // Polls `expression` until it is truthy; returns its value.
  async waitFor(expression, seconds = 20) {
    const until = Date.now() + seconds * 1000;
    for (;;) {
      const value = await this.evaluate(expression).catch(() => undefined);
      if (value) return value;
      if (Date.now() > until) throw new Error(`not seen within ${seconds} s: ${expression}\nconsole: ${this.console.join('\n')}`);
      await new Promise((r) => setTimeout(r, 50));
    }
  }

  report() { return this.evaluate('Module.sorvane.report()'); }

  resize(width, height, scale = 1) {
    return this.send('Emulation.setDeviceMetricsOverride', {width, height, deviceScaleFactor: scale, mobile: false});
  }

  // A real click, as the user's: the browser counts it as the user's
  // activation (sound may start).
  async click(selector) {
    const box = await this.waitFor(`(() => { const e = document.querySelector(${JSON.stringify(selector)});
      if (!e) return null; const r = e.getBoundingClientRect(); return [r.x + r.width / 2, r.y + r.height / 2]; })()`);
    for (const type of ['mousePressed', 'mouseReleased'])
      await this.send('Input.dispatchMouseEvent', {type, x: box[0], y: box[1], button: 'left', clickCount: 1});
  }

  async key(key, code = key, keyCode = 0) {
    for (const type of ['keyDown', 'keyUp'])
      await this.send('Input.dispatchKeyEvent', {type, key, code, windowsVirtualKeyCode: keyCode});
  }

  // The page as shown, in device pixels: {width, height, rgb}.
  async screenshot() {
    const {data} = await this.send('Page.captureScreenshot', {format: 'png', fromSurface: true});
    return readPng(Buffer.from(data, 'base64'));
  }
}

// 8-bit RGB or RGBA PNG, not interlaced (Chromium's screenshots and the
// desktop capture tool's files), as {width, height, rgb}.
export function readPng(bytes) {
  let at = 8, width = 0, height = 0, channels = 0;
  const chunks = [];
  while (at < bytes.length) {
    const length = bytes.readUInt32BE(at), type = bytes.toString('latin1', at + 4, at + 8);
    const body = bytes.subarray(at + 8, at + 8 + length);
    if (type === 'IHDR') {
      width = body.readUInt32BE(0);
      height = body.readUInt32BE(4);
      if (body[8] !== 8 || body[12] !== 0 || (body[9] !== 2 && body[9] !== 6)) throw new Error('unsupported PNG');
      channels = body[9] === 6 ? 4 : 3;
    } else if (type === 'IDAT') {
      chunks.push(body);
    }
    at += 12 + length;
  }
  const raw = zlib.inflateSync(Buffer.concat(chunks)), stride = width * channels;
  const pixels = Buffer.alloc(stride * height), rgb = Buffer.alloc(width * height * 3);
  for (let y = 0; y < height; ++y) {
    const filter = raw[y * (stride + 1)], line = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    for (let x = 0; x < stride; ++x) {
      const a = x >= channels ? pixels[y * stride + x - channels] : 0, b = y ? pixels[(y - 1) * stride + x] : 0;
      const c = x >= channels && y ? pixels[(y - 1) * stride + x - channels] : 0;
      const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
      const predicted = [0, a, b, (a + b) >> 1, pa <= pb && pa <= pc ? a : pb <= pc ? b : c][filter];
      pixels[y * stride + x] = (line[x] + predicted) & 255;
    }
  }
  for (let i = 0; i < width * height; ++i)
    for (let k = 0; k < 3; ++k) rgb[i * 3 + k] = pixels[i * channels + k];
  return {width, height, rgb};
}
