// The page in headless Chromium, served on 127.0.0.1 and opened from
// file://: every image chosen as a user chooses it; the links, their bytes
// and the zip against the native tools; no request but the page's own
// files; a screenshot of each.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import {createRequire} from 'node:module';
import os from 'node:os';
import path from 'node:path';
import {after, before, test} from 'node:test';
import {pathToFileURL} from 'node:url';

import {chromium} from 'playwright-core';

import {expectedFiles, images, native, notD88, readZip, root, webDir} from './helpers.mjs';

const require = createRequire(import.meta.url);
const createImgpry = require(path.join(webDir, 'imgpry.js'));
const api = require(path.join(webDir, 'imgpry_api.js'));
const mod = await createImgpry();
function moduleManifest(name, bytes) {
  const image = new api.Image(mod, bytes, name);
  try {
    return image.manifest();
  } finally {
    image.close();
  }
}

const shots = process.env.IMGPRY_SCREENSHOTS || path.join(root, 'build-web', 'screenshots');
const types = {'.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css'};

let server;
let origin;
let browser;
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'imgpry-page-'));

before(async () => {
  // The page's folder as a static server would give it, nothing more.
  server = http.createServer((req, res) => {
    const name = decodeURIComponent(new URL(req.url, 'http://x').pathname).replace(/^\/+/, '') || 'index.html';
    const file = path.join(webDir, path.basename(name));
    if (!fs.existsSync(file)) {
      res.writeHead(404).end();
      return;
    }
    res.writeHead(200, {'content-type': types[path.extname(file)] || 'application/octet-stream'});
    res.end(fs.readFileSync(file));
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  origin = `http://127.0.0.1:${server.address().port}`;
  browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
           '--disable-sync', '--no-first-run'],
  });
  fs.mkdirSync(shots, {recursive: true});
});

after(async () => {
  await browser?.close();
  server?.close();
  fs.rmSync(work, {recursive: true, force: true});
});

// Opens the page at url, chooses the image and waits until it is shown.
// Returns the page, every request it made and the milliseconds from the
// choice to done.
async function choose(url, name, bytes, options = {}) {
  const context = await browser.newContext({acceptDownloads: true, ...options});
  const page = await context.newPage();
  const requests = [];
  page.on('request', (r) => requests.push(r.url()));
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  await page.goto(url);
  await page.waitForSelector('body[data-state="ready"]');
  const file = path.join(work, name);
  fs.writeFileSync(file, bytes);
  const started = Date.now();
  await page.setInputFiles('#image', file);
  await page.waitForSelector('body[data-state="done"], body[data-state="error"]');
  const elapsed = Date.now() - started;
  assert.deepEqual(errors, []);
  assert.equal(await page.getAttribute('body', 'data-state'), 'done', await page.textContent('#error'));
  return {context, page, requests, elapsed};
}

async function download(page, locator) {
  const [d] = await Promise.all([page.waitForEvent('download'), locator.click()]);
  return new Uint8Array(fs.readFileSync(await d.path()));
}

// Everything the page makes a request for is one of its own files.
function ownRequestsOnly(requests, base) {
  const own = ['index.html', 'style.css', 'imgpry.js', 'imgpry_api.js', 'app.js'];
  for (const url of requests) {
    if (url.startsWith('blob:') || url.startsWith('data:')) continue;
    assert.ok(url.startsWith(base) && own.includes(url.slice(base.length)), `request for ${url}`);
  }
}

const decode = (b) => new TextDecoder().decode(b);

for (const [where, base] of [['served', () => `${origin}/`], ['file', () => pathToFileURL(webDir).href + '/']]) {
  for (const [name, bytes] of images()) {
    test(`${where}: ${name}`, async () => {
      const expected = native(name, bytes);
      const {context, page, requests, elapsed} = await choose(base() + 'index.html', name, bytes);
      try {
        console.log(`${where} ${name}: ${elapsed} ms from choosing to done (page: ${await page.getAttribute('body', 'data-elapsed')} ms)`);
        assert.equal(await page.textContent('#report'), decode(expected.info[''].bytes));
        const verdict = /^status: (.*)$/m.exec(decode(expected.info[''].bytes))[1];
        assert.ok((await page.textContent('#summary')).includes(verdict));
        assert.equal(await page.locator('#map svg').count(), 1);

        const sections = await page.$$eval('section[data-disk]', (s) => s.map((e) => e.dataset.disk));
        assert.equal(sections.length, JSON.parse(decode(expected.info['--json'].bytes)).diskCount);

        // Every link against the native file of its path.
        const links = page.locator('a[download][data-disk][data-path]');
        const got = [];
        for (let i = 0; i < await links.count(); ++i) {
          const a = links.nth(i);
          got.push({disk: Number(await a.getAttribute('data-disk')), path: await a.getAttribute('data-path'),
                    bytes: await download(page, a)});
        }
        // The native names are bytes, the page's their text: the module
        // (run here in node on the same image) pairs the two.
        const manifest = moduleManifest(name, bytes);
        const want = expectedFiles(manifest, expected.files);
        assert.deepEqual(got.map((g) => [g.disk, g.path]),
                         want.written.map((w) => [w.disk, w.f.path]), 'a link for every written file');
        got.forEach((g, i) => {
          const hex = want.written[i].f.pathBytes;
          if (want.last.get(hex) === g.disk) {
            assert.deepEqual(Buffer.from(g.bytes), Buffer.from(expected.files.get(hex)), g.path);
          }
        });
        assert.deepEqual(want.paths, want.nativePaths, 'the files imgpry writes');

        // The zip: every link's file under diskDD/PATH.
        if (got.length > 0) {
          const entries = readZip(await download(page, page.locator('a#zip')));
          assert.deepEqual(entries.map((e) => e.name),
                           got.map((g) => `disk${String(g.disk).padStart(2, '0')}/${g.path}`));
          entries.forEach((e, i) => assert.deepEqual(Buffer.from(e.bytes), Buffer.from(got[i].bytes), e.name));
        } else {
          assert.equal(await page.locator('a#zip').isHidden(), true);
        }
        ownRequestsOnly(requests, base());
        await page.screenshot({path: path.join(shots, `${where}-${path.parse(name).name}.png`), fullPage: true});
      } finally {
        await context.close();
      }
    });
  }
}

test('not a D88 container, at phone width in the dark scheme', async () => {
  const [name, bytes] = notD88;
  const {context, page} = await choose(`${origin}/index.html`, name, bytes,
                                       {viewport: {width: 390, height: 844}, colorScheme: 'dark'});
  try {
    assert.match(await page.textContent('#error'), /not a D88 container/);
    assert.equal(await page.locator('section[data-disk]').count(), 0);
    await page.screenshot({path: path.join(shots, 'phone-dark-not-d88.png'), fullPage: true});
  } finally {
    await context.close();
  }
});

test('the damaged image at phone width in the dark scheme', async () => {
  const [name, bytes] = images().find(([n]) => n === 'damaged.d88');
  const {context, page} = await choose(`${origin}/index.html`, name, bytes,
                                       {viewport: {width: 390, height: 844}, colorScheme: 'dark'});
  try {
    // Keyboard: the file chooser is the first thing Tab reaches.
    await page.keyboard.press('Tab');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'image');
    assert.equal(await page.locator('label[for="image"]').count(), 1);
    const width = await page.evaluate(() => document.documentElement.scrollWidth);
    assert.ok(width <= 390, `the page is ${width} px wide`);
    await page.screenshot({path: path.join(shots, 'phone-dark-damaged.png'), fullPage: true});
  } finally {
    await context.close();
  }
});
