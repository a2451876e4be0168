// The page: reads the chosen image into the imgpry module and shows what
// the module says of it. Nothing here judges a disk or a file; the words
// and the bytes are the module's (web/entry.cpp over fs/ and info/).
(function () {
  'use strict';

  const $ = (id) => document.getElementById(id);
  const utf8 = new TextDecoder('utf-8');
  const moduleReady = createImgpry();
  let urls = [];

  function element(tag, attributes, text) {
    const e = document.createElement(tag);
    for (const [k, v] of Object.entries(attributes || {})) e.setAttribute(k, v);
    if (text !== undefined) e.textContent = text;
    return e;
  }

  function link(a, parts, type, name) {
    const url = URL.createObjectURL(new Blob(parts, {type}));
    urls.push(url);
    a.href = url;
    a.download = name;
    a.hidden = false;
  }

  function fact(list, term, value, cls) {
    list.append(element('dt', {}, term));
    const dd = element('dd', cls ? {class: cls} : {}, value);
    list.append(dd);
  }

  function bytesText(n) {
    return n.toLocaleString('en') + (n === 1 ? ' byte' : ' bytes');
  }

  // The last part of a path, as a browser names a download.
  function baseName(path) {
    const i = path.lastIndexOf('/');
    return i < 0 ? path : path.slice(i + 1);
  }

  function reset() {
    for (const url of urls) URL.revokeObjectURL(url);
    urls = [];
    $('error').hidden = true;
    $('error').textContent = '';
    $('summary').hidden = true;
    $('summary-facts').replaceChildren();
    $('zip').hidden = true;
    $('disks').replaceChildren();
    $('report-section').hidden = true;
    $('map-section').hidden = true;
    $('report').textContent = '';
    $('map').replaceChildren();
  }

  function showError(text) {
    $('error').textContent = text;
    $('error').hidden = false;
  }

  function diskSection(disk, written) {
    const section = element('section', {class: 'disk', 'data-disk': String(disk.disk),
                                        'aria-labelledby': 'disk-' + disk.disk});
    section.append(element('h2', {id: 'disk-' + disk.disk}, 'Disk ' + disk.disk + ': ' + (disk.name || '(no name)')));
    const facts = element('dl');
    fact(facts, 'Media', disk.media);
    fact(facts, 'File system', disk.fileSystem || 'not a file system imgpry reads');
    fact(facts, 'Directory', disk.lines.length === 0 ? 'read whole' : disk.lines.join('\n'),
         disk.lines.length === 0 ? '' : 'verdict-bad');
    section.append(facts);
    if (disk.files.length === 0) {
      section.append(element('p', {}, 'No file listed.'));
      return section;
    }
    const table = element('table');
    table.append(element('caption', {}, disk.files.length + (disk.files.length === 1 ? ' file' : ' files') +
                                         ' on disk ' + disk.disk));
    const head = element('tr');
    for (const [text, cls] of [['Name', ''], ['Size', 'size'], ['State', ''], ['File', '']]) {
      head.append(element('th', cls ? {scope: 'col', class: cls} : {scope: 'col'}, text));
    }
    const thead = element('thead');
    thead.append(head);
    table.append(thead);
    const body = element('tbody');
    for (const file of disk.files) {
      const row = element('tr', {'data-state': file.state});
      row.append(element('td', {class: 'name'}, file.path));
      row.append(element('td', {class: 'size'}, file.size.toLocaleString('en')));
      row.append(element('td', {class: 'state'}, file.words));
      const cell = element('td');
      const bytes = written.get(file.index);
      if (bytes) {
        const a = element('a', {'data-disk': String(disk.disk), 'data-path': file.path,
                                'aria-label': 'Save ' + file.path + ' from disk ' + disk.disk}, 'Save');
        link(a, [bytes], 'application/octet-stream', baseName(file.path));
        cell.append(a);
      } else {
        cell.textContent = 'not written';
      }
      row.append(cell);
      body.append(row);
    }
    table.append(body);
    section.append(table);
    return section;
  }

  async function show(file) {
    const started = performance.now();
    document.body.dataset.state = 'reading';
    reset();
    $('progress').textContent = 'Reading ' + file.name + ' …';
    let image = null;
    try {
      const [mod, buffer] = await Promise.all([moduleReady, file.arrayBuffer()]);
      image = new ImgpryApi.Image(mod, new Uint8Array(buffer), file.name);
      const report = image.report('');
      const reportText = utf8.decode(report.bytes);
      const json = image.report('--json');
      const map = image.report('--map');
      const manifest = image.manifest();
      const written = image.writtenFiles();
      const byIndex = new Map(written.map((w) => [w.file.index, w.bytes]));

      // The summary.
      const facts = $('summary-facts');
      fact(facts, 'Image', file.name);
      fact(facts, 'Size', bytesText(image.size));
      fact(facts, 'Disks', String(manifest.diskCount) + (manifest.moreDisks ? ' (more than 64: only 64 are read)' : ''));
      const verdict = ImgpryApi.verdict(reportText) || 'exit status ' + report.status;
      fact(facts, 'Verdict', verdict, report.status === 0 ? 'verdict-good' : 'verdict-bad');
      fact(facts, 'Files written', String(written.length));
      $('summary').hidden = false;
      if (manifest.diskCount === 0) {
        showError(file.name + ' is not a D88 container: no disk found in it.');
      }
      if (written.length > 0) {
        const parts = image.zipParts(written);
        if (parts === null) {
          showError('Too many files or bytes for one zip archive; take the files one by one.');
        } else {
          const stem = file.name.replace(/\.[^.]*$/, '') || 'imgpry';
          link($('zip'), parts, 'application/zip', stem + '.zip');
          $('zip').textContent = 'Every written file as one zip archive (' + written.length +
                                 (written.length === 1 ? ' file)' : ' files)');
        }
      }

      // A section per disk.
      const disks = $('disks');
      for (const disk of manifest.disks) disks.append(diskSection(disk, byIndex));

      // The report and the map.
      $('report').textContent = reportText;
      link($('json-link'), [json.bytes], 'application/json', file.name + '.json');
      $('report-section').hidden = false;
      const svg = new DOMParser().parseFromString(utf8.decode(map.bytes), 'image/svg+xml').documentElement;
      if (svg.nodeName === 'svg') $('map').append(document.importNode(svg, true));
      link($('map-link'), [map.bytes], 'image/svg+xml', file.name + '.svg');
      $('map-section').hidden = false;

      const ms = Math.round(performance.now() - started);
      $('progress').textContent = 'Read ' + file.name + ' in ' + ms + ' ms.';
      document.body.dataset.elapsed = String(ms);
      document.body.dataset.state = 'done';
    } catch (e) {
      showError('Could not read ' + file.name + ': ' + (e && e.message ? e.message : String(e)));
      $('progress').textContent = '';
      document.body.dataset.state = 'error';
    } finally {
      if (image) image.close();
    }
  }

  const input = $('image');
  input.addEventListener('change', () => {
    if (input.files.length > 0) show(input.files[0]);
  });
  const zone = $('drop');
  zone.addEventListener('dragover', (e) => {
    e.preventDefault();
    zone.classList.add('over');
  });
  zone.addEventListener('dragleave', () => zone.classList.remove('over'));
  zone.addEventListener('drop', (e) => {
    e.preventDefault();
    zone.classList.remove('over');
    if (e.dataTransfer.files.length > 0) show(e.dataTransfer.files[0]);
  });
  // A file dropped anywhere else must not make the browser leave the page.
  window.addEventListener('dragover', (e) => e.preventDefault());
  window.addEventListener('drop', (e) => e.preventDefault());

  moduleReady.then(() => {
    if (document.body.dataset.state === 'loading') document.body.dataset.state = 'ready';
  }, (e) => {
    showError('The page could not start its reader: ' + (e && e.message ? e.message : String(e)));
    document.body.dataset.state = 'error';
  });
})();
