// What the page's tests share: where things are, the images they read, the
// native tools' output for an image, and a reader of stored zip archives.
import {execFileSync, spawnSync} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {fileURLToPath} from 'node:url';

export const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
export const nativeDir = process.env.IMGPRY_NATIVE_DIR || path.join(root, 'build');
export const webDir = process.env.IMGPRY_WEB_DIR || path.join(root, 'build-web', 'web');

// --- Images --------------------------------------------------------------

const le16 = (b, at) => b[at] | (b[at + 1] << 8);
const le32 = (b, at) => (b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (b[at + 3] << 24)) >>> 0;

// The record with ID R = r on track t of the disk at offset disk: the
// offset of its 16-byte header.
function recordAt(b, disk, t, r) {
  let at = disk + le32(b, disk + 0x20 + 4 * t);
  for (let i = 0, n = 1; i < n; ++i) {
    n = le16(b, at + 4);
    if (b[at + 2] === r) return at;
    at += 16 + le16(b, at + 14);
  }
  throw new Error(`no record R=${r} on track ${t}`);
}

// The sample, damaged: disk 1's README.TXT sector marked with a data CRC
// error, a sector of LONGRUN.DAT given another ID (so it is missing), disk
// 2's NOTES.TXT renamed to Shift_JIS bytes (日本語.TXT) and PICTURE.PIC to
// "..", a name that is never written.
export function damagedImage() {
  const b = new Uint8Array(fs.readFileSync(path.join(nativeDir, 'sample.d88')));
  const second = le32(b, 0x1c);
  b[recordAt(b, 0, 2, 1) + 8] = 0xb0;
  b[recordAt(b, 0, 7, 1) + 2] = 0x99;
  const dir = recordAt(b, second, 1, 1) + 16;
  b.set([0x93, 0xfa, 0x96, 0x7b, 0x8c, 0xea, 0x20, 0x20], dir + 1);
  b.set([0x2e, 0x2e, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20], dir + 16 + 1);
  return b;
}

// Every image the tests read: [name as chosen, bytes].
export function images() {
  const real = path.join(root, 'tests', 'data', 'real-d88');
  return [
    ['sample.d88', new Uint8Array(fs.readFileSync(path.join(nativeDir, 'sample.d88')))],
    ...fs.readdirSync(real).filter((f) => f.endsWith('.d88')).sort()
        .map((f) => [f, new Uint8Array(fs.readFileSync(path.join(real, f)))]),
    ['damaged.d88', damagedImage()],
  ];
}

export const notD88 = ['notes.txt', new TextEncoder().encode('This is a text file, not a disk image.\n')];

// --- The native tools ----------------------------------------------------

// Every file under dir: {hex of the path's bytes: bytes}.
function filesUnder(dir, prefix = Buffer.alloc(0)) {
  const out = new Map();
  for (const name of fs.readdirSync(Buffer.from(dir), {encoding: 'buffer'})) {
    const full = Buffer.concat([Buffer.from(dir), Buffer.from('/'), name]);
    const rel = prefix.length ? Buffer.concat([prefix, Buffer.from('/'), name]) : name;
    if (fs.statSync(full).isDirectory()) {
      for (const [k, v] of filesUnder(full, rel)) out.set(k, v);
    } else {
      out.set(rel.toString('hex'), new Uint8Array(fs.readFileSync(full)));
    }
  }
  return out;
}

// What the native imgpry-info prints for the image chosen under name, in
// each mode, and the files imgpry writes from it.
// The page reports as imgpry-info does on a UTF-8 system (names decoded),
// and hands out files under the disk's exact bytes, as imgpry writes them
// in the C locale (it shows the decoded text beside them).
const cLocale = {...process.env, LC_ALL: 'C'};
const utf8Locale = {...process.env, LC_ALL: 'C.UTF-8'};

export function native(name, bytes) {
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'imgpry-web-'));
  try {
    fs.writeFileSync(path.join(work, name), bytes);
    const info = {};
    for (const mode of ['', '--json', '--map']) {
      const r = spawnSync(path.join(nativeDir, 'imgpry-info'), mode ? [mode, name] : [name], {cwd: work, env: utf8Locale});
      info[mode] = {status: r.status, bytes: new Uint8Array(r.stdout)};
    }
    const out = path.join(work, 'out');
    fs.mkdirSync(out);
    spawnSync(path.join(nativeDir, 'imgpry'), [path.join(work, name)], {cwd: out, env: cLocale});
    return {info, files: filesUnder(out)};
  } finally {
    fs.rmSync(work, {recursive: true, force: true});
  }
}

// The files the page should give, from the native ones: every written file
// of the manifest whose path no later disk writes again (imgpry writes all
// disks into one folder, so the last one stands there) has the bytes of the
// native file of that path, and the native folder holds nothing else.
export function expectedFiles(manifest, nativeFiles) {
  const written = manifest.disks.flatMap((d) => d.files.filter((f) => f.written).map((f) => ({disk: d.disk, f})));
  const last = new Map();
  for (const w of written) last.set(w.f.pathBytes, w.disk);
  const paths = [...new Set(written.map((w) => w.f.pathBytes))].sort();
  return {written, last, paths, nativePaths: [...nativeFiles.keys()].sort()};
}

// --- Zip -----------------------------------------------------------------

// The entries of a stored zip archive, walked by its central directory:
// [{name, flags, bytes}]; throws where the archive is not well formed.
export function readZip(zip) {
  const b = zip;
  let end = b.length - 22;
  while (end >= 0 && le32(b, end) !== 0x06054b50) --end;
  if (end < 0) throw new Error('no end record');
  const count = le16(b, end + 10);
  let at = le32(b, end + 16);
  const entries = [];
  for (let i = 0; i < count; ++i) {
    if (le32(b, at) !== 0x02014b50) throw new Error('bad central header');
    const flags = le16(b, at + 8);
    const size = le32(b, at + 24);
    const nameLength = le16(b, at + 28);
    const local = le32(b, at + 42);
    const name = new TextDecoder('utf-8', {fatal: true}).decode(b.subarray(at + 46, at + 46 + nameLength));
    if (le32(b, local) !== 0x04034b50) throw new Error('bad local header');
    const data = local + 30 + le16(b, local + 26) + le16(b, local + 28);
    entries.push({name, flags, bytes: b.slice(data, data + size)});
    at += 46 + nameLength + le16(b, at + 30) + le16(b, at + 32);
  }
  return entries;
}

// unzip -t's verdict on the archive (its CRCs, its structure).
export function unzipTest(zip) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'imgpry-zip-'));
  try {
    fs.writeFileSync(path.join(dir, 'a.zip'), zip);
    return execFileSync('unzip', ['-t', path.join(dir, 'a.zip')]).toString();
  } finally {
    fs.rmSync(dir, {recursive: true, force: true});
  }
}
