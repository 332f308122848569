// Drives a listening report as a person would (sorts by a click, opens a prompt from the
// keyboard, loads its players, scrolls) and hands back what it saw. Run by browser.py once the page has loaded; the
// page's own errors are those the error catcher (the first lines of its head) recorded.
const done = arguments[arguments.length - 1];
const seen = window.seenErrors;
const until = async test => {
  while (!test()) await new Promise(r => setTimeout(r, 50));
};
(async () => {
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
    seen.push('columns ' + [...document.querySelectorAll('th')].map(th => th.dataset.key).join(' '));
    // A row is reached with the keyboard and opened with Enter; the header stays in view.
    const row = [...document.querySelectorAll('#rows tr.prompt')].find(r => k.prompts[r.dataset.index].source);
    row.focus();
    row.dispatchEvent(new KeyboardEvent('keydown', { key: 'Enter' }));
    await until(() => document.querySelectorAll('audio').length === 2);
    const audio = [...document.querySelectorAll('audio')];
    await until(() => audio.every(a => a.readyState >= 1));
    scrollTo(0, document.body.scrollHeight);
    seen.push(`opened ${document.activeElement === row ? 'by key ' : ''}` +
              `${document.querySelector('.detail h2').textContent.split(':')[0]} ` +
              `canvases ${document.querySelectorAll('canvas').length} ` +
              `seconds ${audio.map(a => a.duration.toFixed(2)).join(' ')} ` +
              `header at ${document.querySelector('th').getBoundingClientRect().top}`);
  } catch (e) {
    seen.push('error ' + e);
  }
  done(seen.join('\n'));
})();
