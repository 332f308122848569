// Round steps (1, 2 or 5 times a power of ten) from lo to hi, about `most` of them at most.
function ticks(lo, hi, most) {
  if (!(hi > lo)) return [lo];
  const raw = (hi - lo) / Math.max(1, most), power = 10 ** Math.floor(Math.log10(raw));
  const step = [1, 2, 5, 10].map(m => m * power).find(v => v >= raw);
  const out = [];
  for (let v = Math.ceil(lo / step) * step; v <= hi + step * 1e-9; v += step) out.push(+v.toFixed(6));
  return out;
}

// Draws the axes of a plot (x from x0 to x1, y from y0 at the bottom to y1), labelled with
// their units, and returns the plot's mapping from values to pixels, clipped to its area.
function plot(g, x0, x1, xUnit, y0, y1, yUnit) {
  const left = 48, right = 10, top = 8, bottom = 20;
  const w = g.canvas.width - left - right, h = g.canvas.height - top - bottom;
  const X = v => left + (v - x0) / (x1 - x0 || 1) * w, Y = v => top + (y1 - v) / (y1 - y0) * h;
  g.font = '11px system-ui, sans-serif';
  g.fillStyle = '#555';
  g.strokeStyle = '#e6e6e6';
  g.textAlign = 'center';
  g.textBaseline = 'top';
  for (const v of ticks(x0, x1, w / 70).filter(v => X(v) < left + w - 20)) {
    g.beginPath(); g.moveTo(X(v), top); g.lineTo(X(v), top + h); g.stroke();
    g.fillText(String(v), X(v), top + h + 4);
  }
  g.textAlign = 'right';
  g.textBaseline = 'middle';
  for (const v of ticks(y0, y1, h / 22)) {
    g.beginPath(); g.moveTo(left, Y(v)); g.lineTo(left + w, Y(v)); g.stroke();
    g.fillText(String(v), left - 5, Y(v));
  }
  g.textBaseline = 'top';
  g.fillText(xUnit, left + w, top + h + 4);
  g.textAlign = 'left';
  g.fillText(yUnit, 2, 2);
  g.strokeStyle = '#999';
  g.strokeRect(left + .5, top + .5, w, h);
  g.beginPath();
  g.rect(left, top, w, h);
  g.clip();
  return { X, Y, w, left };
}

function drawWave(g, s, colour, rate) {
  const { Y, w, left } = plot(g, 0, s.length / rate, 's', -1, 1, 'FS'), per = s.length / w;
  g.strokeStyle = colour;
  g.beginPath();
  for (let x = 0; x < w; x++) {
    let lo = 0, hi = 0;
    for (let j = Math.floor(x * per); j < Math.floor((x + 1) * per); j++) { lo = Math.min(lo, s[j]); hi = Math.max(hi, s[j]); }
    g.moveTo(left + x + .5, Y(hi / 32768));
    g.lineTo(left + x + .5, Y(lo / 32768) + 1);
  }
  g.stroke();
}

const dbfs = energy => energy > 0 ? 10 * Math.log10(energy / (32768 * 32768)) : -120;

function drawError(g, source, played, rate) {
  const win = Math.max(1, Math.round(rate / 100)), n = Math.min(source.length, played.length);
  const { X, Y } = plot(g, 0, n / rate, 's', -90, 0, 'dBFS'), windows = Math.ceil(n / win);
  for (const [colour, f] of [['#bbb', j => source[j] * source[j]], ['#c01c28', j => (source[j] - played[j]) ** 2]]) {
    g.strokeStyle = colour;
    g.beginPath();
    for (let k = 0; k < windows; k++) {
      let e = 0, m = 0;
      for (let j = k * win; j < Math.min(n, (k + 1) * win); j++, m++) e += f(j);
      g.lineTo(X(k * win / rate), Y(Math.max(-95, dbfs(e / m))));
    }
    g.stroke();
  }
}

function spectrum(s, size) {  // mean power of Hann-windowed frames, half overlapped
  const power = new Float64Array(size / 2 + 1), re = new Float64Array(size), im = new Float64Array(size);
  let frames = 0;
  for (let at = 0; at + size <= s.length; at += size / 2, frames++) {
    for (let j = 0; j < size; j++) { re[j] = s[at + j] * (0.5 - 0.5 * Math.cos(2 * Math.PI * j / size)); im[j] = 0; }
    fft(re, im);
    for (let k = 0; k <= size / 2; k++) power[k] += re[k] * re[k] + im[k] * im[k];
  }
  return power.map(v => frames ? v / frames / (size * size / 4) : 0);
}

function fft(re, im) {  // radix-2, in place
  const n = re.length;
  for (let i = 1, j = 0; i < n; i++) {
    let bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) { [re[i], re[j]] = [re[j], re[i]]; [im[i], im[j]] = [im[j], im[i]]; }
  }
  for (let len = 2; len <= n; len <<= 1) {
    const a = -2 * Math.PI / len;
    for (let i = 0; i < n; i += len) {
      for (let k = 0; k < len / 2; k++) {
        const c = Math.cos(a * k), s = Math.sin(a * k), u = i + k, v = u + len / 2;
        const tr = re[v] * c - im[v] * s, ti = re[v] * s + im[v] * c;
        re[v] = re[u] - tr; im[v] = im[u] - ti; re[u] += tr; im[u] += ti;
      }
    }
  }
}

// The source is drawn last, dashed, so that a playback that matches it leaves it seen.
function drawSpectrum(g, source, played, rate) {
  const size = 512, { X, Y } = plot(g, 0, rate / 2000, 'kHz', -110, 0, 'dB');
  const lines = [['#1a5fb4', played, []]];
  if (source) {
    const n = Math.min(source.length, played.length);
    lines.push(['#c01c28', Int16Array.from({ length: n }, (_, j) => Math.max(-32768, Math.min(32767, source[j] - played[j]))), []]);
    lines.push(['#000', source, [5, 4]]);
  }
  for (const [colour, s, dash] of lines) {
    const p = spectrum(s, size);
    g.strokeStyle = colour;
    g.setLineDash(dash);
    g.beginPath();
    p.forEach((v, k) => g.lineTo(X(k / (p.length - 1) * rate / 2000), Y(Math.max(-115, dbfs(v)))));
    g.stroke();
  }
  g.setLineDash([]);
}

function histogram(title, values, step) {
  const known = values.filter(v => v !== null && v !== undefined);
  const figure = document.createElement('figure');
  const caption = document.createElement('figcaption');
  caption.textContent = title + (known.length ? '' : ': none measured');
  figure.appendChild(caption);
  if (!known.length) return figure;
  const lo = Math.floor(Math.min(...known) / step) * step, bins = Math.floor((Math.max(...known) - lo) / step) + 1;
  const counts = new Array(bins).fill(0);
  for (const v of known) counts[Math.floor((v - lo) / step)]++;
  const w = 320, h = 100, top = Math.max(...counts), bar = w / bins;
  const ns = 'http://www.w3.org/2000/svg', svg = document.createElementNS(ns, 'svg');
  svg.setAttribute('width', w);
  svg.setAttribute('height', h + 16);
  counts.forEach((c, k) => {
    const r = document.createElementNS(ns, 'rect');
    r.setAttribute('x', k * bar + 1);
    r.setAttribute('width', Math.max(1, bar - 2));
    r.setAttribute('y', h - c / top * h);
    r.setAttribute('height', c / top * h);
    r.setAttribute('fill', '#1a5fb4');
    const tip = document.createElementNS(ns, 'title');
    tip.textContent = `${lo + k * step} to ${lo + (k + 1) * step}: ${c}`;
    r.appendChild(tip);
    svg.appendChild(r);
  });
  for (const [x, text, anchor] of [[0, lo, 'start'], [w, lo + bins * step, 'end']]) {
    const t = document.createElementNS(ns, 'text');
    t.setAttribute('x', x);
    t.setAttribute('y', h + 13);
    t.setAttribute('font-size', 11);
    t.setAttribute('text-anchor', anchor);
    t.textContent = text;
    svg.appendChild(t);
  }
  figure.appendChild(svg);
  return figure;
}

function buildTotals() {
  const seconds = prompts.reduce((a, p) => a + p.seconds, 0);
  const bytes = prompts.reduce((a, p) => a + p.fileBytes, 0);
  document.getElementById('totals').textContent =
    `${prompts.length} prompts, ${seconds.toFixed(1)} s, ${bytes} bytes as device files ` +
    `(${(bytes / 1024).toFixed(1)} KiB in flash); made by ${data.tool}.` +
    (same.length ? ' The same in every prompt: ' +
      same.map(([key, title, places]) => `${title}: ${shown(prompts[0][key], places) || 'none'}`).join(', ') +
      '.' : '');
  const sets = document.getElementById('sets');
  sets.appendChild(histogram('SNR of the playback, dB', prompts.map(p => p.snr), 2));
  sets.appendChild(histogram('Loudness of the playback, LUFS', prompts.map(p => p.lufsOut), 2));
}

buildTotals();
buildTable();
window.kestrune = { decodeDevice, decodeSource, toggle, prompts };
