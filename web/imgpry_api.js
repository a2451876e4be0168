// The calls into the imgpry module (imgpry.js, the C++ compiled to
// WebAssembly), shared by the page and by its node tests. Everything comes
// back as bytes; only the manifest, which the module writes as UTF-8 JSON,
// is decoded here.
(function (root) {
  'use strict';

  const utf8 = new TextDecoder('utf-8');

  // A copy of the module's last output (valid until its next call).
  function output(mod) {
    const at = mod._imgpry_output();
    return mod.HEAPU8.slice(at, at + mod._imgpry_output_size());
  }

  // A NUL-terminated UTF-8 copy of text in the module's memory.
  function cString(mod, text) {
    const bytes = new TextEncoder().encode(text);
    const at = mod._malloc(bytes.length + 1);
    mod.HEAPU8.set(bytes, at);
    mod.HEAPU8[at + bytes.length] = 0;
    return at;
  }

  // One image opened in the module: its bytes are copied in and stay there
  // until close (the reader reads them in place).
  class Image {
    constructor(mod, bytes, name) {
      this.mod = mod;
      this.name = name;
      this.size = bytes.length;
      this.at = mod._malloc(Math.max(bytes.length, 1));
      if (this.at === 0) throw new Error('not enough memory for an image of ' + bytes.length + ' bytes');
      mod.HEAPU8.set(bytes, this.at);
      this.diskCount = mod._imgpry_open(this.at, bytes.length);
      this.manifestCache = null;
    }

    // imgpry-info's output: mode '' (the report), '--tracks', '--json' or
    // '--map'; {status, bytes}.
    report(mode) {
      const m = cString(this.mod, mode);
      const p = cString(this.mod, this.name);
      try {
        const status = this.mod._imgpry_report(m, p);
        return {status, bytes: output(this.mod)};
      } finally {
        this.mod._free(m);
        this.mod._free(p);
      }
    }

    // Every disk and every file: see web/entry.cpp.
    manifest() {
      if (this.manifestCache === null) {
        this.mod._imgpry_manifest();
        this.manifestCache = JSON.parse(utf8.decode(output(this.mod)));
      }
      return this.manifestCache;
    }

    // The bytes of file index (as the manifest numbers them), or null when
    // imgpry does not write it.
    file(index) {
      this.manifest();
      const n = this.mod._imgpry_file(index);
      if (n < 0) return null;
      const at = this.mod._imgpry_file_data();
      return this.mod.HEAPU8.slice(at, at + n);
    }

    // Every written file with its bytes: [{disk, file, bytes}], in order.
    writtenFiles() {
      const out = [];
      for (const disk of this.manifest().disks) {
        for (const file of disk.files) {
          if (!file.written) continue;
          const bytes = this.file(file.index);
          if (bytes !== null) out.push({disk, file, bytes});
        }
      }
      return out;
    }

    // The zip archive of written files (from writtenFiles) as the pieces of
    // a Blob: each local header, then the file's own bytes, then the
    // central directory. null when the archive cannot hold them all.
    zipParts(written) {
      const parts = [];
      this.mod._imgpry_zip_begin();
      for (const w of written) {
        if (this.mod._imgpry_zip_add(w.file.index) < 0) return null;
        parts.push(output(this.mod), w.bytes);
      }
      this.mod._imgpry_zip_finish();
      parts.push(output(this.mod));
      return parts;
    }

    close() {
      if (this.at !== 0) {
        this.mod._imgpry_open(0, 0);
        this.mod._free(this.at);
        this.at = 0;
      }
    }
  }

  // The verdict line of a text report ("every file whole", ...).
  function verdict(reportText) {
    const m = /^status: (.*)$/m.exec(reportText);
    return m ? m[1] : null;
  }

  const api = {Image, verdict};
  if (typeof module !== 'undefined' && module.exports) module.exports = api;
  else root.ImgpryApi = api;
})(typeof self !== 'undefined' ? self : globalThis);
