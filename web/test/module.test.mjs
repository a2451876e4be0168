// The module against the native tools, at test time: imgpry-info's report,
// JSON and map byte for byte, and every file with imgpry's bytes.
import assert from 'node:assert/strict';
import {createRequire} from 'node:module';
import path from 'node:path';
import {test} from 'node:test';

import {expectedFiles, images, native, notD88, readZip, unzipTest, webDir} from './helpers.mjs';

const require = createRequire(import.meta.url);
const createImgpry = require(path.join(webDir, 'imgpry.js'));
const api = require(path.join(webDir, 'imgpry_api.js'));
const mod = await createImgpry();

const concat = (parts) => {
  const out = new Uint8Array(parts.reduce((n, p) => n + p.length, 0));
  let at = 0;
  for (const p of parts) {
    out.set(p, at);
    at += p.length;
  }
  return out;
};

for (const [name, bytes] of [...images(), notD88]) {
  test(name, () => {
    const expected = native(name, bytes);
    const image = new api.Image(mod, bytes, name);
    try {
      for (const mode of ['', '--json', '--map']) {
        const got = image.report(mode);
        assert.equal(got.status, expected.info[mode].status, `exit status of ${mode || 'the report'}`);
        assert.deepEqual(Buffer.from(got.bytes), Buffer.from(expected.info[mode].bytes), `${mode || 'the report'}`);
      }
      const manifest = image.manifest();
      const written = image.writtenFiles();
      const want = expectedFiles(manifest, expected.files);
      assert.deepEqual(want.paths, want.nativePaths, 'the files written');
      for (const w of written) {
        if (want.last.get(w.file.pathBytes) !== w.disk.disk) continue;
        assert.deepEqual(Buffer.from(w.bytes), Buffer.from(expected.files.get(w.file.pathBytes)), w.file.zipName);
      }
      // The zip holds every written file under diskDD/PATH with its bytes.
      const zip = concat(image.zipParts(written));
      const entries = readZip(zip);
      assert.deepEqual(entries.map((e) => e.name), written.map((w) => w.file.zipName));
      for (let i = 0; i < entries.length; ++i) {
        assert.equal(entries[i].flags & 0x0800, 0x0800, 'UTF-8 names');
        assert.deepEqual(Buffer.from(entries[i].bytes), Buffer.from(written[i].bytes), entries[i].name);
      }
      if (entries.length > 0) assert.match(unzipTest(zip), /No errors detected/);
    } finally {
      image.close();
    }
  });
}

test('the damaged image: each file says what it met', () => {
  const [, bytes] = images().find(([n]) => n === 'damaged.d88');
  const image = new api.Image(mod, bytes, 'damaged.d88');
  try {
    const files = image.manifest().disks.flatMap((d) => d.files);
    const by = (p) => files.find((f) => f.path === p);
    assert.equal(by('README.TXT').state, 'marked');
    assert.match(by('README.TXT').words, /trk=02 sec=01: data CRC error/);
    assert.equal(by('LONGRUN.DAT').state, 'partly');
    assert.match(by('LONGRUN.DAT').words, /^partly read 8192 of 9216 bytes, trk=07 sec=01 is missing/);
    assert.equal(by('日本語.TXT').pathBytes, '93fa967b8cea2e545854');
    assert.equal(by('日本語.TXT').written, true);
    assert.equal(by('..').state, 'unsafe');
    assert.equal(by('..').written, false);
    assert.equal(by('EMPTY').written, false);
  } finally {
    image.close();
  }
});
