// The page of `ostrel web`: one view at a time (chosen by the address's #fragment), each fed
// by one server-sent event stream that the server pushes once per update period.
'use strict';

const $ = (id) => document.getElementById(id);
const info = { writes: false, realm: '', period_ms: 500 };
// Figures the page keeps of its own work, read by the browser test: the last and the largest
// time to apply one update, and the server's cost of making it.
const stats = window.ostrelStats = { updates: 0, pageMs: 0, pageMaxMs: 0, pageTotalMs: 0, serverMs: 0,
                                     valueCosts: [], listCosts: [] };
let stream = null;

function realm() { return $('realm').value || ''; }
function query(params) {
  const q = new URLSearchParams(params);
  q.set('realm', realm());
  return q.toString();
}
function clock(seconds) { return seconds ? new Date(seconds * 1000).toLocaleTimeString() : ''; }

// Opens the view's stream; `apply` gets each message. Only one stream is open at a time.
function follow(path, params, apply) {
  if (stream) stream.close();
  const source = stream = new EventSource(path + '?' + query(params));
  source.onmessage = (e) => {
    if (source !== stream) return;
    const started = performance.now();
    const message = JSON.parse(e.data);
    apply(message);
    const spent = performance.now() - started;
    stats.updates++;
    stats.pageMs = spent;
    stats.pageTotalMs += spent;
    stats.pageMaxMs = Math.max(stats.pageMaxMs, spent);
    if (message.cost_ms !== undefined) {
      stats.serverMs = message.cost_ms;
      // The list's messages: those that also listed the names apart from those that only read values.
      const costs = message.list_ms ? stats.listCosts : stats.valueCosts;
      if (costs.length < 1000) costs.push(message.cost_ms);
    }
    $('status').textContent = 'live, ' + new Date().toLocaleTimeString();
    $('cost').textContent = `last update: server ${stats.serverMs.toFixed(2)} ms, page ${spent.toFixed(2)} ms`;
  };
  source.onerror = () => {
    if (source === stream) $('status').textContent = 'connection lost; retrying…';
  };
}

// Fills `tbody` with one row per item, reusing rows; `cells(item)` gives the cell texts. Only
// texts that changed are written, so a period with few changes costs little.
function fillRows(tbody, items, cells, decorate) {
  while (tbody.rows.length > items.length) tbody.deleteRow(-1);
  items.forEach((item, i) => {
    const texts = cells(item);
    let row = tbody.rows[i];
    if (!row) {
      row = tbody.insertRow();
      texts.forEach(() => row.insertCell());
    }
    texts.forEach((text, j) => {
      if (row.cells[j].textContent !== text) row.cells[j].textContent = text;
    });
    if (decorate) decorate(row, item);
  });
}

// ---- servers
function showServers() {
  follow('/api/stream/servers', {}, (m) => {
    $('servers-realm').textContent = 'realm: ' + (m.realm || '(default)');
    fillRows($('servers').tBodies[0], m.servers, (s) => [
      s.server, s.position, s.addresses.join(', '), s.active, s.state === 0 ? 'up' : 'down: ' + s.text,
      clock(s.since) + (s.heard ? ' (' + s.heard + ')' : ' (since the view started)')],
    (row, s) => { row.cells[4].className = s.state === 0 ? 'up' : 'down'; });
  });
}

// ---- data points: one page of the names matching the filter
const list = { offset: 0, count: 50, total: 0 };
function showPoints() {
  follow('/api/stream/points', { pattern: $('filter').value, offset: list.offset, count: list.count }, (m) => {
    list.total = m.total;
    const last = Math.min(m.offset + m.rows.length, m.total);
    $('range').textContent = m.code ? `error ${m.code}: ${m.text}` :
        m.total ? `${m.offset + 1}–${last} of ${m.total}` : 'no points match';
    fillRows($('points').tBodies[0], m.rows, (p) => [p.name, p.type, p.found ? p.value : '(gone)'], (row, p) => {
      row.className = 'link';
      row.dataset.name = p.name;
    });
  });
}
let filterTimer = 0;
function filterChanged() {
  clearTimeout(filterTimer);
  filterTimer = setTimeout(() => { list.offset = 0; showPoints(); }, 250);
}
function page(step) {
  const next = list.offset + step * list.count;
  if (next < 0 || next >= list.total) return;
  list.offset = next;
  showPoints();
}

// ---- one point: fields, a plot of its numbers over the last minutes, writing one field
const plot = { name: '', samples: [], keep: 5 * 60 * 1000 };
const colors = ['#1f6feb', '#cf222e', '#1a7f37', '#9a6700', '#8250df', '#bf3989', '#0a3069', '#57606a'];

function showPoint(name) {
  if (plot.name !== name) plot.samples = [];
  plot.name = name;
  $('point-name').textContent = name;
  $('write-result').textContent = '';
  follow('/api/stream/point', { name }, (m) => {
    $('point-type').textContent = m.type ? '(' + m.type + ')' : '';
    $('point-error').textContent = m.code ? `error ${m.code}: ${m.text}` : '';
    fillRows($('fields').tBodies[0], m.fields, (f) => [f.path, f.type, f.text]);
    const paths = $('write-path');
    if (paths.options.length !== m.fields.length || [...paths.options].some((o, i) => o.value !== m.fields[i].path)) {
      paths.replaceChildren(...m.fields.map((f) => new Option(f.path, f.path)));
    }
    const numbers = {};
    for (const f of m.fields) if (typeof f.value === 'number') numbers[f.path] = f.value;
    if (!m.code) plot.samples.push({ t: m.time_ms, numbers });
    while (plot.samples.length && plot.samples[0].t < m.time_ms - plot.keep) plot.samples.shift();
    drawPlot();
  });
}

function drawPlot() {
  const canvas = $('plot');
  const g = canvas.getContext('2d');
  const w = canvas.width, h = canvas.height, left = 60, right = 10, top = 10, bottom = 24;
  g.clearRect(0, 0, w, h);
  const samples = plot.samples;
  const paths = samples.length ? Object.keys(samples[samples.length - 1].numbers) : [];
  $('legend').replaceChildren(...paths.map((p, i) => {
    const span = document.createElement('span');
    span.textContent = '■ ' + p;
    span.style.color = colors[i % colors.length];
    return span;
  }));
  if (samples.length < 1 || !paths.length) return;
  let low = Infinity, high = -Infinity;
  for (const s of samples) for (const p of paths) {
    const v = s.numbers[p];
    if (Number.isFinite(v)) { low = Math.min(low, v); high = Math.max(high, v); }
  }
  if (!Number.isFinite(low)) return;
  if (high === low) { high += 1; low -= 1; }
  const end = samples[samples.length - 1].t, start = end - plot.keep;
  const x = (t) => left + (t - start) / plot.keep * (w - left - right);
  const y = (v) => top + (high - v) / (high - low) * (h - top - bottom);
  g.strokeStyle = '#d9dee7';
  g.fillStyle = '#6b7280';
  g.font = '11px sans-serif';
  for (let i = 0; i <= 4; i++) {
    const v = low + (high - low) * i / 4;
    g.beginPath(); g.moveTo(left, y(v)); g.lineTo(w - right, y(v)); g.stroke();
    g.fillText(Number(v.toPrecision(4)).toString(), 4, y(v) + 4);
  }
  for (let m = 0; m <= 5; m++) g.fillText(m === 5 ? 'now' : `-${5 - m} min`, x(start + m * 60000) - (m === 5 ? 22 : 14), h - 6);
  paths.forEach((p, i) => {
    g.strokeStyle = colors[i % colors.length];
    g.lineWidth = 1.5;
    g.beginPath();
    let drawing = false;
    for (const s of samples) {
      const v = s.numbers[p];
      if (!Number.isFinite(v)) { drawing = false; continue; }
      if (drawing) g.lineTo(x(s.t), y(v)); else g.moveTo(x(s.t), y(v));
      drawing = true;
    }
    g.stroke();
  });
}

async function writeField(event) {
  event.preventDefault();
  const body = new URLSearchParams({ name: plot.name, path: $('write-path').value, value: $('write-value').value,
                                     realm: realm() });
  const out = $('write-result');
  try {
    const answer = await fetch('/api/put', { method: 'POST', body });
    const m = await answer.json();
    if (!answer.ok) out.textContent = `refused (${answer.status}): ${m.error}`;
    else if (m.code) out.textContent = `refused: ${m.code} ${m.text}`;
    else out.textContent = `${$('write-path').value}: ${m.old} → ${m.new}`;
    out.className = !answer.ok || m.code ? 'error' : '';
  } catch (e) {
    out.textContent = 'not sent: ' + e;
  }
}

// ---- ports and boxes, and a box's monitor
function showChannels() {
  follow('/api/stream/channels', {}, (m) => {
    fillRows($('channels').tBodies[0], m.channels, (c) => [c.name, c.kind, c.count === null ? '' : String(c.count)],
      (row, c) => {
        row.className = c.kind === 'box' ? 'link' : '';
        row.dataset.box = c.kind === 'box' ? c.name : '';
      });
  });
}

function eventText(m) {
  const fields = Object.entries(m.fields || {}).map(([k, v]) => `${k}=${v}`).join('  ');
  return `${m.type || 'raw'}${m.name ? '  ' + m.name : ''}  ${fields}${m.hex ? ' ' + m.hex : ''}${m.note ? ' (' + m.note + ')' : ''}`;
}

// By default the monitor looks at what the box holds and takes nothing; taking the events as they
// arrive is a write, offered only when the server allows writes.
function showMonitor(box) {
  $('monitor-box').textContent = box;
  const events = $('events');
  events.replaceChildren();
  const params = { box, type: $('monitor-type').value.trim() };
  const taking = info.writes && $('monitor-take').checked;
  events.reversed = taking;
  if (!taking) {
    follow('/api/stream/monitor', params, (m) => {
      $('monitor-state').textContent = m.code ? `error ${m.code}: ${m.text}` :
        `looking at ${box}: it holds ${m.held} event${m.held === 1 ? '' : 's'}; nothing is taken`;
      events.replaceChildren(...(m.values || []).map((v) => {
        const item = document.createElement('li');
        item.textContent = `#${v.position}  ${eventText(v)}`;
        return item;
      }));
    });
    return;
  }
  follow('/api/stream/monitor-take', params, (m) => {
    if (m.code !== undefined) {
      $('monitor-state').textContent = m.code ? `error ${m.code}: ${m.text}` : m.text + '; events are taken from the box as they arrive';
      return;
    }
    const item = document.createElement('li');
    item.textContent = `${clock(m.at)}  ${eventText(m)}`;
    events.prepend(item);
    while (events.children.length > 200) events.lastChild.remove();
  });
}

// ---- contenders: changes highlighted, departed ones shown struck through for a while
let lastContenders = new Map();
const departed = new Map();
function showContenders() {
  follow('/api/stream/contenders', {}, (m) => {
    const now = Date.now();
    const key = (c) => c.host + '\u0000' + c.name;
    const current = new Map(m.contenders.map((c) => [key(c), c]));
    for (const [k, c] of lastContenders) if (!current.has(k)) departed.set(k, { c, until: now + 10000 });
    for (const [k, d] of departed) if (current.has(k) || d.until < now) departed.delete(k);
    const rows = m.contenders.map((c) => ({ c, state: lastContenders.has(key(c)) ?
        (lastContenders.get(key(c)).active !== c.active ? 'changed' : '') : 'changed' }));
    for (const d of departed.values()) rows.push({ c: d.c, state: 'left' });
    fillRows($('contenders').tBodies[0], rows, ({ c, state }) => [c.host, c.name, clock(c.started), clock(c.last_beat),
        state === 'left' ? 'left' : c.active ? 'yes' : 'no', c.record || ''], (row, { c, state }) => {
      const cls = [state, c.active && state !== 'left' ? 'active' : ''].filter(Boolean).join(' ');
      if (state === 'changed') { row.className = ''; void row.offsetWidth; }
      row.className = cls;
    });
    lastContenders = current;
  });
}

// ---- snapshots
async function showSnapshots() {
  if (stream) { stream.close(); stream = null; }
  const answer = await fetch('/api/snapshots?' + query({}));
  const m = await answer.json();
  const items = (names) => names.map((n) => { const li = document.createElement('li'); li.textContent = n; return li; });
  if (!answer.ok) { $('named').replaceChildren(); $('files').textContent = m.error; return; }
  $('named').replaceChildren(...items(m.named));
  $('files').replaceChildren(...items(m.files));
  for (const kind of ['points', 'ports']) $('download-' + kind).href = '/api/snapshot?' + query({ kind });
}

async function makeSnapshot(event) {
  event.preventDefault();
  const answer = await fetch('/api/snapshots', { method: 'POST',
      body: new URLSearchParams({ name: $('make-name').value, realm: realm() }) });
  const m = await answer.json();
  $('make-result').textContent = !answer.ok ? `refused (${answer.status}): ${m.error}` : m.code ? `refused: ${m.code} ${m.text}` : m.text;
  $('make-result').className = !answer.ok || m.code ? 'error' : '';
  showSnapshots();
}

// ---- which view
function route() {
  const [view, ...rest] = (location.hash.slice(1) || 'servers').split('/');
  const arg = decodeURIComponent(rest.join('/'));
  for (const s of document.querySelectorAll('main > section')) s.hidden = true;
  for (const a of document.querySelectorAll('nav a')) a.classList.remove('current');
  const tab = { point: 'points', monitor: 'channels' }[view] || view;
  if ($('tab-' + tab)) $('tab-' + tab).classList.add('current');
  const views = { servers: showServers, points: showPoints, point: showPoint, channels: showChannels,
                  monitor: showMonitor, contenders: showContenders, snapshots: showSnapshots };
  if (!views[view]) { location.hash = '#servers'; return; }
  $('view-' + view).hidden = false;
  views[view](arg);
}

async function start() {
  const m = await (await fetch('/api/info')).json();
  Object.assign(info, m);
  $('writes').textContent = info.writes ? 'writes allowed' : 'read only';
  $('writes').classList.toggle('on', info.writes);
  $('where').textContent = (info.server || 'the own server') + ', v' + info.version;
  $('write-go').disabled = $('make-go').disabled = $('monitor-take').disabled = !info.writes;
  if (!info.writes) $('write-result').textContent = $('make-result').textContent = 'read only: start ostrel web with --allow-writes';
  const realms = await (await fetch('/api/realms')).json().catch(() => []);
  const names = Array.isArray(realms) ? realms : [];
  if (!names.includes(info.realm)) names.unshift(info.realm);
  $('realm').replaceChildren(...names.map((r) => new Option(r || '(default)', r)));
  $('realm').value = info.realm;
  $('realm').onchange = route;
  $('filter').oninput = filterChanged;
  $('prev').onclick = () => page(-1);
  $('next').onclick = () => page(1);
  $('points').tBodies[0].onclick = (e) => {
    const row = e.target.closest('tr');
    if (row && row.dataset.name) location.hash = '#point/' + encodeURIComponent(row.dataset.name);
  };
  $('channels').tBodies[0].onclick = (e) => {
    const row = e.target.closest('tr');
    if (row && row.dataset.box) location.hash = '#monitor/' + encodeURIComponent(row.dataset.box);
  };
  $('monitor-type').onchange = route;
  $('monitor-take').onchange = route;
  $('write').onsubmit = writeField;
  $('make').onsubmit = makeSnapshot;
  window.onhashchange = route;
  route();
}

start();
