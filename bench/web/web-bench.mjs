// The browser build's figures, printed: the site's size (the program and
// its script compressed, as a server sends them, against the 1 MB budget),
// the first frame after the click on "Demo", frames a second in the browser
// (Chromium headless, WebGL on SwiftShader) beside the Linux build
// (desktop_fps on Xvfb, Mesa's llvmpipe) at two sizes, alternated in one
// run, and what the browser reported of its audio output's latency.
// Run by bench/web/web-bench, which builds what it needs and starts the
// sound server the browser and the demo play into.
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import zlib from 'node:zlib';

import {launch, serve} from '../../tests/web/browser.mjs';

const [site, desktopFps, runDir] = process.argv.slice(2);
const kib = (bytes) => `${(bytes / 1024).toFixed(0)} KiB`;

function siteSize() {
  const sizes = {program: 0, script: 0, data: 0};
  let compressed = 0;
  for (const name of fs.readdirSync(site)) {
    const bytes = fs.readFileSync(path.join(site, name));
    const kind = name.endsWith('.wasm') ? 'program' : name.endsWith('.js') ? 'script' : 'data';
    sizes[kind] += bytes.length;
    if (kind !== 'data') compressed += zlib.gzipSync(bytes, {level: 9}).length;
  }
  console.log(`site: program ${kib(sizes.program)}, script ${kib(sizes.script)} (both ${kib(compressed)} with ` +
              `gzip -9, budget 1024 KiB), data ${kib(sizes.data)}`);
}

async function play(browser, server, width, height) {
  const page = await browser.page(server.url, {width, height});
  await page.waitFor('document.querySelector("form.dialog select")', 30);
  await page.evaluate(`document.querySelector('form.dialog select').selectedIndex = 0;
                       document.querySelector('form.dialog input').checked = false;`);
  await page.click('form.dialog button[type=submit]');
  await page.waitFor('Module.sorvane.frames > 0', 30);
  return page;
}

async function firstFrames(browser, server) {
  const times = [];
  for (let run = 0; run < 5; ++run) {
    const page = await play(browser, server, 960, 600);
    const report = await page.report();
    times.push(report.firstFrameAt - report.clickAt);
    await page.close();
  }
  console.log(`first frame after the click (960x600 in the page, data served locally, the form shown once ` +
              `everything was fetched and decoded): ${times.map((t) => t.toFixed(0)).join(', ')} ms`);
}

async function browserFps(browser, server, width, height) {
  const page = await play(browser, server, width, height);
  await page.waitFor('Module.sorvane.report().audio.heard > 5', 30);  // faded in
  const from = await page.report(), start = Date.now();
  await new Promise((r) => setTimeout(r, 10000));
  const to = await page.report(), seconds = (Date.now() - start) / 1000;
  await page.key('Escape', 'Escape', 27);
  await page.close();
  const audio = to.audio;
  return {fps: (to.frames - from.frames) / seconds, audio};
}

function linuxFps(width, height) {
  const out = execFileSync('xvfb-run', ['-a', '-s', `-screen 0 ${width}x${height}x24`, desktopFps, 'Linux (llvmpipe)',
                                        String(width), String(height)], {cwd: runDir, encoding: 'utf8'});
  return parseFloat(out.match(/([\d.]+) frames a second/)[1]);
}

siteSize();
const server = await serve(site);
const browser = await launch();
try {
  await firstFrames(browser, server);
  let audio = null;
  for (const [width, height] of [[960, 480], [1920, 960]]) {
    const web = [], linux = [];
    for (let run = 0; run < 2; ++run) {
      const result = await browserFps(browser, server, width, height);
      web.push(result.fps);
      audio = result.audio;
      linux.push(linuxFps(width, height));
    }
    console.log(`${width}x${height}: browser ${web.map((f) => f.toFixed(1)).join(', ')} frames a second; ` +
                `Linux ${linux.map((f) => f.toFixed(1)).join(', ')} (full screen, no vsync)`);
  }
  console.log(`audio output: ${audio.sampleRate} Hz, baseLatency ${audio.baseLatency} s, outputLatency ` +
              `${audio.outputLatency} s, output timestamps ${audio.outputTimestamp ? 'reported' : 'not reported'}`);
} finally {
  await browser.close();
  await server.close();
}
