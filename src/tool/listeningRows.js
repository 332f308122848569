'use strict';
const data = JSON.parse(document.getElementById('kestrune-data').textContent);
const prompts = data.prompts;

// The device's decoder: per step row and code, how the estimate moves and the next row.
function decodeDevice(i) {
  const p = prompts[i], bytes = bytesOf('d' + i), bits = p.bits;
  const t = data.decoder[bits], codes = 1 << bits, perByte = 8 / bits, mask = codes - 1;
  const out = new Int16Array((bytes.length - data.header) * perByte);
  let estimate = 0, row = 0, n = 0;
  for (let b = data.header; b < bytes.length; b++) {
    for (let k = perByte - 1; k >= 0; k--) {
      const at = row * codes + ((bytes[b] >> (k * bits)) & mask);
      estimate = Math.min(32767, Math.max(-32768, estimate + t.offset[at]));
      row = t.next[at];
      out[n++] = estimate;
    }
  }
  return out;
}

function bytesOf(id) {
  const text = atob(document.getElementById(id).textContent.trim());
  const bytes = new Uint8Array(text.length);
  for (let i = 0; i < text.length; i++) bytes[i] = text.charCodeAt(i);
  return bytes;
}

// The source at the device rate, from its FLAC: the decoder's floats back to samples.
async function decodeSource(i) {
  if (!prompts[i].source) return null;
  const context = new OfflineAudioContext(1, 1, prompts[i].rate);
  const buffer = await context.decodeAudioData(bytesOf('s' + i).buffer);
  const f = buffer.getChannelData(0), out = new Int16Array(f.length);
  for (let j = 0; j < f.length; j++) out[j] = Math.max(-32768, Math.min(32767, Math.round(f[j] * 32768)));
  return out;
}

function wavUrl(samples, rate) {
  const view = new DataView(new ArrayBuffer(44 + samples.length * 2));
  const text = (at, s) => { for (let i = 0; i < s.length; i++) view.setUint8(at + i, s.charCodeAt(i)); };
  text(0, 'RIFF'); view.setUint32(4, 36 + samples.length * 2, true); text(8, 'WAVEfmt ');
  view.setUint32(16, 16, true); view.setUint16(20, 1, true); view.setUint16(22, 1, true);
  view.setUint32(24, rate, true); view.setUint32(28, rate * 2, true);
  view.setUint16(32, 2, true); view.setUint16(34, 16, true); text(36, 'data');
  view.setUint32(40, samples.length * 2, true);
  for (let i = 0; i < samples.length; i++) view.setInt16(44 + 2 * i, samples[i], true);
  return URL.createObjectURL(new Blob([view.buffer], { type: 'audio/wav' }));
}

const columns = [
  ['name', 'Name'], ['seconds', 'Duration s', 2], ['fileBytes', 'Bytes'], ['bits', 'Bits'],
  ['rate', 'Rate Hz'], ['level', 'Level'], ['snr', 'SNR dB', 1], ['segsnr', 'segSNR dB', 1],
  ['wsnr', 'wSNR dB', 1], ['lufsIn', 'LUFS in', 1], ['lufsOut', 'LUFS out', 1],
  ['peak', 'Peak dBFS', 1], ['clipped', 'Clipped'], ['limited', 'Limited'], ['trimmed', 'Trim ms', 0],
  ['warnings', 'Warnings'],
];
const shown = (v, places) => v === null || v === undefined ? '\u2013'
  : Array.isArray(v) ? v.join('; ') : places === undefined ? String(v) : v.toFixed(places);
// A column that shows the same in every row of a set is named once above the table instead.
const same = prompts.length < 2 ? [] : columns.filter(([key, , places]) => key !== 'name' &&
  prompts.every(p => shown(p[key], places) === shown(prompts[0][key], places)));
const visible = columns.filter(c => !same.includes(c));

let sortKey = 'snr', sortUp = true;  // worst first
function sortRows() {
  const order = prompts.map((_, i) => i);
  const value = i => { const v = prompts[i][sortKey]; return Array.isArray(v) ? v.length : v; };
  order.sort((a, b) => {
    const x = value(a), y = value(b);
    if (x === y) return a - b;
    if (x === null || x === undefined) return 1;  // unknown last either way
    if (y === null || y === undefined) return -1;
    return (x < y ? -1 : 1) * (sortUp ? 1 : -1);
  });
  const body = document.getElementById('rows');
  for (const i of order) {
    body.appendChild(rowOf[i]);
    if (detailOf[i]) body.appendChild(detailOf[i]);
  }
  for (const th of document.querySelectorAll('th')) {
    const sorted = th.dataset.key === sortKey;
    th.textContent = th.dataset.title + (sorted ? (sortUp ? ' \u25b2' : ' \u25bc') : '');
    th.setAttribute('aria-sort', sorted ? (sortUp ? 'ascending' : 'descending') : 'none');
  }
}

// Enter or Space on a focused header or row does what a click does.
const onKey = (element, act) => element.addEventListener('keydown', e => {
  if (e.target === element && (e.key === 'Enter' || e.key === ' ')) { e.preventDefault(); act(); }
});

const rowOf = [], detailOf = [];
function buildTable() {
  const head = document.getElementById('head');
  for (const [key, title] of visible) {
    const th = document.createElement('th');
    th.dataset.key = key;
    th.dataset.title = title;
    th.tabIndex = 0;
    const sort = () => {
      sortUp = key === sortKey ? !sortUp : true;
      sortKey = key;
      sortRows();
    };
    th.addEventListener('click', sort);
    onKey(th, sort);
    head.appendChild(th);
  }
  prompts.forEach((p, i) => {
    const tr = document.createElement('tr');
    tr.className = 'prompt';
    tr.dataset.index = i;
    tr.tabIndex = 0;
    tr.setAttribute('aria-expanded', 'false');
    for (const [key, , places] of visible) {
      const td = document.createElement('td');
      td.textContent = shown(p[key], places);
      if (key === 'warnings') td.className = 'warn';
      if (key === 'name') td.title = p.input;
      tr.appendChild(td);
    }
    tr.addEventListener('click', () => toggle(i));
    onKey(tr, () => toggle(i));
    rowOf[i] = tr;
  });
  sortRows();
}

// Opens or closes a prompt's views; resolves once they are drawn.
async function toggle(i) {
  if (detailOf[i]) {
    detailOf[i].remove();
    detailOf[i] = null;
    rowOf[i].classList.remove('open');
    rowOf[i].setAttribute('aria-expanded', 'false');
    return null;
  }
  const tr = document.createElement('tr'), td = document.createElement('td');
  td.colSpan = visible.length;
  td.className = 'detail';
  td.textContent = 'decoding\u2026';
  tr.appendChild(td);
  rowOf[i].after(tr);
  rowOf[i].classList.add('open');
  rowOf[i].setAttribute('aria-expanded', 'true');
  detailOf[i] = tr;
  const p = prompts[i], played = decodeDevice(i), source = await decodeSource(i);
  td.textContent = '';
  const title = document.createElement('h2');
  title.textContent = `${p.name}: ${p.bits}-bit, ${p.rate} Hz, ${shown(p.seconds, 2)} s, ` +
    `SNR ${shown(p.snr, 1)} dB (${p.input})`;
  td.appendChild(title);
  const width = Math.min(1200, Math.max(600, document.body.clientWidth - 60));
  const add = (label, height) => {
    const l = document.createElement('div');
    l.className = 'label';
    l.textContent = label;
    const c = document.createElement('canvas');
    c.width = width;
    c.height = height;
    td.append(l, c);
    return c.getContext('2d');
  };
  if (source) drawWave(add('Source at ' + p.rate + ' Hz', 110), source, '#555', p.rate);
  drawWave(add('Device playback', 110), played, '#1a5fb4', p.rate);
  if (source) drawError(add('Error over time (red) under the source level (grey), 10 ms windows', 130), source, played, p.rate);
  drawSpectrum(add('Long-term spectrum: source (black, dashed), playback (blue), error (red)', 170), source, played, p.rate);
  td.appendChild(players(source, played, p.rate));
  return { source: source ? source.length : 0, played: played.length };
}

function players(source, played, rate) {
  const box = document.createElement('div');
  box.className = 'players';
  const make = (label, samples) => {
    const span = document.createElement('span'), a = document.createElement('audio');
    span.textContent = label + ' ';
    a.controls = true;
    a.preload = 'auto';
    a.src = wavUrl(samples, rate);
    span.appendChild(a);
    box.appendChild(span);
    return [span, a];
  };
  const list = [];
  if (source) list.push(make('Source', source));
  list.push(make('Device', played));
  if (list.length === 2) {
    const b = document.createElement('button');
    b.textContent = 'A/B';
    b.title = 'Switch to the other at the same position';
    let current = 0;
    for (let k = 0; k < 2; k++) list[k][1].addEventListener('play', () => { current = k; mark(); });
    const mark = () => list.forEach(([s], k) => s.classList.toggle('playing', k === current));
    b.addEventListener('click', () => {
      const from = list[current][1], to = list[1 - current][1], playing = !from.paused;
      from.pause();
      to.currentTime = from.currentTime;
      current = 1 - current;
      mark();
      if (playing) to.play();
    });
    box.appendChild(b);
  }
  return box;
}
