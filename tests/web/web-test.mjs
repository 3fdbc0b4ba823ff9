// The browser build in a real browser (browser.mjs): the form, the music
// and the picture after the click, the strip on every page shape, full
// screen and Escape, the picture against the desktop build's, and what the
// page says when a piece is missing. Run by scripts/test-web, which builds
// the site and names it (SORVANE_SITE), with the desktop capture tool and
// its run folder (SORVANE_CAPTURE, SORVANE_RUN_DIR) on a virtual X server.
import assert from 'node:assert/strict';
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {after, before, describe, it} from 'node:test';

import {launch, readPng, serve} from './browser.mjs';

const site = process.env.SORVANE_SITE;
const kEnded = 'The demo has ended.';
const kStartupFailure = 'An error occured during init or extension missing.';

let server, browser;
before(async () => {
  server = await serve(site);
  browser = await launch();
});
after(async () => {
  await browser?.close();
  await server?.close();
});

// Opens the page, fills the form and clicks "Demo" as the user does.
async function play({query = '', width = 960, height = 600, scale = 1, fullscreen = false, multisample = false,
                     choice = 0, before = '', server: from = server} = {}) {
  const page = await browser.page(from.url + query, {width, height, scale, before});
  await page.waitFor('document.querySelector("form.dialog select")');
  await page.evaluate(`(() => {
    const [list, full, samples] = [document.querySelector('form.dialog select'),
                                   ...document.querySelectorAll('form.dialog input')];
    list.selectedIndex = ${choice};
    full.checked = ${fullscreen};
    samples.checked = ${multisample};
  })()`);
  await page.click('form.dialog button[type=submit]');
  return page;
}

const frames = (page) => page.evaluate('Module.sorvane.frames');

// The rectangle of the page's screenshot that is not black: the strip.
async function strip(page) {
  const shot = await page.screenshot();
  let top = shot.height, bottom = -1, left = shot.width, right = -1;
  for (let y = 0; y < shot.height; ++y)
    for (let x = 0; x < shot.width; ++x) {
      const i = (y * shot.width + x) * 3;
      if (Math.max(shot.rgb[i], shot.rgb[i + 1], shot.rgb[i + 2]) <= 2) continue;
      top = Math.min(top, y), bottom = Math.max(bottom, y), left = Math.min(left, x), right = Math.max(right, x);
    }
  return {page: [shot.width, shot.height], x: left, y: top, width: right - left + 1, height: bottom - top + 1};
}

// The strip is 2:1, centred and as large as the canvas allows, within a
// pixel of rounding.
function assertStripFills(box, width, height) {
  const expected = width / 2 <= height ? [width, Math.floor(width / 2)] : [height * 2, height];
  assert.ok(Math.abs(box.width - expected[0]) <= 1 && Math.abs(box.height - expected[1]) <= 1,
            `strip ${box.width}x${box.height}, expected ${expected.join('x')} in ${width}x${height}`);
  assert.ok(Math.abs(box.x - (width - box.width) / 2) <= 1 && Math.abs(box.y - (height - box.height) / 2) <= 1,
            `strip at ${box.x},${box.y}, not centred in ${width}x${height}`);
}

async function waitForFrames(page, more) {
  const from = await frames(page);
  await page.waitFor(`Module.sorvane.frames >= ${from + more}`);
}

describe('the browser build', () => {
  it('offers the dialog\'s three choices as a form, the page\'s and the screen\'s sizes first; "Die" ends', async () => {
    const page = await browser.page(server.url, {width: 800, height: 500, scale: 2});
    await page.waitFor('document.querySelector("form.dialog select")');
    const form = await page.evaluate(`(() => {
      const form = document.querySelector('form.dialog');
      const labelled = (e) => document.querySelector('label[for="' + e.id + '"]').textContent;
      return {buttons: [...form.querySelectorAll('button')].map((b) => b.textContent),
              list: [...form.querySelector('select').options].map((o) => o.text),
              chosen: form.querySelector('select').selectedIndex,
              listLabel: labelled(form.querySelector('select')),
              boxes: [...form.querySelectorAll('input[type=checkbox]')].map((b) => [labelled(b), b.checked]),
              screen: [screen.width * 2, screen.height * 2]};
    })()`);
    assert.deepEqual(form.buttons, ['Demo', 'Die']);
    assert.equal(form.listLabel, 'Resolution:');
    assert.deepEqual(form.list.slice(0, 2), ['1600*1000', `${form.screen[0]}*${form.screen[1]}`]);
    assert.equal(form.chosen, -1, 'nothing chosen, as in the dialog');
    assert.deepEqual(form.boxes, [['Fullscreen:', true], ['Multisampling:', false]]);
    await page.click('form.dialog button[type=button]');
    await page.waitFor(`document.getElementById('panel').innerText.includes(${JSON.stringify(kEnded)})`);
    const report = await page.report();
    assert.notEqual(report.audio.state, 'running');
    assert.equal(report.frames, 0);
  });

  it('plays the music and the picture after the click, the strip following the page, until Escape', async () => {
    const page = await play();
    await page.waitFor('Module.sorvane.report().audio.heard > 5.5', 30);
    const first = await page.report();
    assert.equal(first.audio.state, 'running');
    assert.ok(first.firstFrameAt > first.clickAt, 'a frame after the click');
    // The track is heard at its own pace, and the picture goes with it.
    const wall = Date.now();
    await new Promise((r) => setTimeout(r, 2000));
    const second = await page.report();
    const pace = (second.audio.heard - first.audio.heard) / ((Date.now() - wall) / 1000);
    assert.ok(pace > 0.9 && pace < 1.1, `the music ran at ${pace} of its pace`);
    assert.ok(second.frames > first.frames + 10, `${second.frames - first.frames} frames in 2 s`);

    assertStripFills(await strip(page), 960, 600);
    // The page's own size was chosen: the canvas follows the page, on every
    // shape, sharp at the device's pixels.
    for (const [width, height, scale] of [[700, 700, 1], [1200, 400, 1], [640, 480, 2]]) {
      await page.resize(width, height, scale);
      await waitForFrames(page, 5);
      const box = await strip(page);
      assert.deepEqual(box.page, [width * scale, height * scale]);
      assertStripFills(box, width * scale, height * scale);
      assert.deepEqual((await page.report()).canvas.slice(0, 2), [width * scale, height * scale]);
    }

    await page.key('Escape', 'Escape', 27);
    await page.waitFor(`document.getElementById('panel').innerText.includes(${JSON.stringify(kEnded)})`);
    const ended = await page.report();
    assert.notEqual(ended.audio.state, 'running', 'the music stopped');
    await new Promise((r) => setTimeout(r, 300));
    assert.equal(await frames(page), ended.frames, 'no frame after the end');
  });

  it('goes on in time with the music when its tab is hidden and shown again', async () => {
    const page = await play();
    await page.waitFor('Module.sorvane.report().audio.heard > 1', 30);
    const other = await browser.page('about:blank');
    await browser.send('Target.activateTarget', {targetId: other.targetId});
    await page.waitFor('document.visibilityState === "hidden"');
    const hidden = await page.report(), hiddenAt = Date.now();
    await new Promise((r) => setTimeout(r, 3000));
    const stillHidden = await page.report();
    assert.ok(stillHidden.frames <= hidden.frames + 1, 'no frames drawn for a hidden tab');
    await browser.send('Target.activateTarget', {targetId: page.targetId});
    await waitForFrames(page, 5);
    const shown = await page.report();
    // The music played on meanwhile, and the frames came back with it.
    const away = (Date.now() - hiddenAt) / 1000;
    assert.ok(Math.abs(shown.audio.heard - hidden.audio.heard - away) < 0.5,
              `heard ${shown.audio.heard - hidden.audio.heard} s of music in ${away} s away`);
    await other.close();
    await page.close();
  });

  it('takes the full screen and multisampling where asked, and leaving full screen ends the run', async () => {
    const page = await play({fullscreen: true, multisample: true, choice: 1});
    await page.waitFor('Module.sorvane.frames > 5');
    assert.equal(await page.evaluate('document.getElementById("canvas").getContext("webgl").getContextAttributes().antialias'),
                 true);
    assert.equal(await page.evaluate('document.fullscreenElement && document.fullscreenElement.id'), 'stage');
    const size = await page.evaluate('[screen.width, screen.height]');
    assert.deepEqual((await page.report()).canvas.slice(0, 2), size, 'the screen\'s size, as chosen');
    await page.evaluate('document.exitFullscreen()');
    await page.waitFor(`document.getElementById('panel').innerText.includes(${JSON.stringify(kEnded)})`);
    assert.notEqual((await page.report()).audio.state, 'running');
  });

  it('draws the picture the desktop build draws at the same time and size', async () => {
    const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'sorvane-web-'));
    const figures = [];
    try {
      for (const time of [3, 60, 150, 230, 282]) {
        const desktopFile = path.join(folder, `${time}.png`);
        execFileSync(process.env.SORVANE_CAPTURE, ['--dir', process.env.SORVANE_RUN_DIR, '--size', '960x480',
                                                   '--time', String(time), '--out', desktopFile]);
        const desktop = readPng(fs.readFileSync(desktopFile));
        const page = await play({query: `?still=${time}`, width: 960, height: 480});
        await page.waitFor('Module.sorvane.frames > 3');
        const web = await page.screenshot();
        assert.deepEqual([web.width, web.height], [desktop.width, desktop.height]);
        let squares = 0;
        for (let i = 0; i < web.rgb.length; ++i) squares += (web.rgb[i] - desktop.rgb[i]) ** 2;
        const psnr = 10 * Math.log10((255 * 255) / Math.max(squares / web.rgb.length, 1e-9));
        figures.push(`${time} s: ${psnr.toFixed(1)} dB`);
        await page.close();
      }
    } finally {
      fs.rmSync(folder, {recursive: true, force: true});
    }
    console.log(`PSNR against the desktop capture: ${figures.join(', ')}`);
    // Two software rasterisers (Mesa's llvmpipe, SwiftShader) and two JPEG
    // decoders: at least 45 dB PSNR, where a strip half a pixel off (a frame
    // drawn 25 ms late) gives 34 dB, and a wrong camera or a missing layer
    // far less.
    for (const figure of figures) assert.ok(parseFloat(figure.split(': ')[1]) >= 45, figure);
  });

  // Each piece missing: a sentence on the page naming it, and nothing plays.
  async function failsSaying(page, cause) {
    await page.waitFor(`document.getElementById('panel').innerText.includes(${JSON.stringify(kStartupFailure)})`, 30);
    const report = await page.report();
    assert.ok(report.panel.includes(cause), `"${cause}" not in: ${report.panel}`);
    assert.ok(!report.audio || report.audio.state !== 'running', 'nothing plays');
    assert.equal(report.frames, 0);
  }

  it('says so when a data file cannot be fetched or decoded', async () => {
    for (const [fault, cause] of [['missing', 'credits.jpg could not be fetched'],
                                  ['damaged', 'could not decode the image /data/credits.jpg']]) {
      const broken = await serve(site, {[fault]: ['credits.jpg']});
      try {
        await failsSaying(await play({server: broken}), cause);
      } finally {
        await broken.close();
      }
    }
  });

  it('says so when the browser has no WebGL, no Web Audio, or keeps the page silent', async () => {
    await failsSaying(await play({before: 'HTMLCanvasElement.prototype.getContext = () => null;'}), 'no WebGL');
    await failsSaying(await play({before: 'delete window.AudioContext; delete window.webkitAudioContext;'}),
                      'no Web Audio');
    // "Demo" clicked by a script, not the user: the browser keeps the page
    // silent.
    const page = await browser.page(server.url);
    await page.waitFor('document.querySelector("form.dialog select")');
    await page.evaluate(`document.querySelector('form.dialog input').checked = false;
                         document.querySelector('form.dialog button[type=submit]').click()`);
    await failsSaying(page, 'kept the page from playing sound');
  });
});
