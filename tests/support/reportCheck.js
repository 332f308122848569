// Drives a listening report as a person would (sorts by a click, opens a prompt, loads its
// players) and writes what it saw into the page, for the test to read from its DOM.
const seen = [];
window.addEventListener('error', e => seen.push('error ' + e.message));
const consoleError = console.error;
console.error = (...a) => { seen.push('error ' + a.join(' ')); consoleError(...a); };
const until = async (test, ms = 10000) => {
  for (let t = 0; t < ms && !test(); t += 50) await new Promise(r => setTimeout(r, 50));
  return test();
};
window.addEventListener('load', async () => {
  try {
    const k = window.kestrune;
    k.prompts.forEach((p, i) => {
      let h = 2166136261;
      for (const v of k.decodeDevice(i)) h = Math.imul(h ^ (v & 0xffff), 16777619) >>> 0;
      seen.push(`decoded ${p.name} ${h}`);
    });
    const first = () => document.querySelector('#rows tr.prompt td').textContent;
    seen.push('worst first ' + first());
    for (let click = 0; click < 2; click++) {
      document.querySelector('th[data-key=name]').click();
      seen.push('sorted ' + first());
    }
    const row = [...document.querySelectorAll('#rows tr.prompt')].find(r => k.prompts[r.dataset.index].source);
    row.click();
    await until(() => document.querySelectorAll('audio').length === 2);
    const audio = [...document.querySelectorAll('audio')];
    await Promise.all(audio.map(a => a.readyState >= 1 || new Promise(r => a.addEventListener('loadedmetadata', r))));
    seen.push(`opened ${row.firstChild.textContent} canvases ${document.querySelectorAll('canvas').length} ` +
              `seconds ${audio.map(a => a.duration.toFixed(2)).join(' ')}`);
  } catch (e) {
    seen.push('error ' + e);
  }
  const pre = document.createElement('pre');
  pre.id = 'seen';
  pre.textContent = seen.join('\n');
  document.body.appendChild(pre);
});
