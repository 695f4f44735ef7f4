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

// ---- values as text: numbers without binary noise, units beside values, times as ISO 8601
const isTime = (type) => type === 'kx_time' || type === 'kx_time2';
const isText = (type) => type === 'char*' || type === 'wchar*';
// A field is plotted when it is a number and not a time.
const plottable = (f) => typeof f.value === 'number' && !isTime(f.type);

function cut(text, most) { return text.length > most ? text.slice(0, most - 1) + '…' : text; }

function timeText(seconds) {
  if (typeof seconds !== 'number' || !Number.isFinite(seconds)) return String(seconds);
  if (seconds === 0) return 'unset';
  const d = new Date(seconds * 1000);
  return Number.isNaN(d.getTime()) ? String(seconds) : d.toISOString().replace('.000Z', 'Z');
}

// A number with the digits its type holds: a float's 7, a double's 12 (0.1 + 0.2 shows 0.3).
function numberText(value, type) {
  if (typeof value !== 'number') return String(value);
  if (type === 'float') return String(Number(value.toPrecision(7)));
  if (type === 'double') return String(Number(value.toPrecision(12)));
  return String(value);
}

// The unit of each field that has one: a text field `unit` names the unit of the `value` beside
// it (`speed.unit` of `speed.value`).
function unitsOf(fields) {
  const units = {};
  const paths = new Set(fields.map((f) => f.path));
  for (const f of fields) {
    if (!isText(f.type) || !/(^|\.)unit$/.test(f.path) || typeof f.value !== 'string' || !f.value) continue;
    const value = f.path.slice(0, -4) + 'value';
    if (paths.has(value)) units[value] = f.value;
  }
  return units;
}

function fieldValueText(f, units) {
  if (isTime(f.type)) return timeText(f.value);
  if (typeof f.value === 'number') return numberText(f.value, f.type) + (units[f.path] ? ' ' + units[f.path] : '');
  return cut(String(f.value), 60);
}

// One point's fields on one line: a unit that went beside its value is not repeated.
function rowValueText(p) {
  const units = unitsOf(p.fields);
  const shown = p.fields.filter((f) => !(isText(f.type) && /(^|\.)unit$/.test(f.path) &&
                                        units[f.path.slice(0, -4) + 'value'] !== undefined));
  const text = shown.map((f) => f.path + '=' + fieldValueText(f, units)).join('  ');
  return p.more ? `${text}  … ${p.more} more field${p.more === 1 ? '' : 's'}` : text;
}

// ---- data points: one page of the names matching the filter
const list = { offset: 0, count: 50, total: 0, order: 'asc', sort: 'name', rows: [] };
function sortKey(p) {
  if (list.sort === 'type') return p.type;
  const first = p.fields && p.fields[0];
  return first ? first.value : '';
}
function compare(a, b) {
  if (typeof a === 'number' && typeof b === 'number') return a - b;
  if (typeof a === 'number') return -1;
  if (typeof b === 'number') return 1;
  return String(a).localeCompare(String(b));
}
function drawPoints() {
  let rows = list.rows;
  if (list.sort !== 'name') {
    const sign = list.order === 'desc' ? -1 : 1;
    rows = rows.slice().sort((a, b) => sign * compare(sortKey(a), sortKey(b)));
  }
  fillRows($('points').tBodies[0], rows, (p) => [p.name, p.type, p.found ? rowValueText(p) : '(gone)'], (row, p) => {
    row.className = 'link';
    row.dataset.name = p.name;
    if (row.cells[2].title !== row.cells[2].textContent) row.cells[2].title = row.cells[2].textContent;
  });
  for (const th of $('points').tHead.rows[0].cells)
    th.dataset.order = th.dataset.sort === list.sort ? list.order : '';
}
function showPoints() {
  follow('/api/stream/points', { pattern: $('filter').value, offset: list.offset, count: list.count,
                                 order: list.sort === 'name' ? list.order : 'asc' }, (m) => {
    list.total = m.total;
    const last = Math.min(m.offset + m.rows.length, m.total);
    $('range').textContent = m.code ? `error ${m.code}: ${m.text}` :
        m.total ? `${m.offset + 1}–${last} of ${m.total}` : 'no points match';
    $('pages').textContent = String(Math.max(1, Math.ceil(m.total / list.count)));
    if (document.activeElement !== $('page-number')) $('page-number').value = String(Math.floor(m.offset / list.count) + 1);
    list.rows = m.rows;
    drawPoints();
  });
}
function sortBy(column) {
  list.order = list.sort === column && list.order === 'asc' ? 'desc' : 'asc';
  list.sort = column;
  if (column === 'name') { list.offset = 0; showPoints(); } else drawPoints();
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
function jumpTo() {
  const pages = Math.max(1, Math.ceil(list.total / list.count));
  const n = Math.min(pages, Math.max(1, Math.floor(Number($('page-number').value)) || 1));
  $('page-number').value = String(n);
  if ((n - 1) * list.count === list.offset) return;
  list.offset = (n - 1) * list.count;
  showPoints();
}

// ---- one point: fields, a trend of the chosen numeric fields, writing one field
// The trend holds the samples the server kept of the point before the page opened (its history)
// and those the page's stream brings since, at most `most` (the oldest go first).
const trend = { name: '', realm: '', times: [], values: new Map(), chosen: new Set(), picked: false, units: {}, types: {},
                most: 10000, keep: 60 * 60 * 1000, chart: null, chartKey: '', zoomed: false, hidden: new Set(),
                lastBuildMs: 0 };
window.ostrelTrend = trend;
// 20 colours that stay apart from one another.
const colors = ['#1f77b4', '#d62728', '#2ca02c', '#ff7f0e', '#9467bd', '#8c564b', '#e377c2', '#17becf', '#bcbd22',
                '#393b79', '#7f7f7f', '#ad494a', '#637939', '#e7ba52', '#3182bd', '#843c39', '#31a354', '#756bb1',
                '#000000', '#f768a1'];
const kDefaultChosen = 8;

function resetTrend(name) {
  if (trend.chart) { trend.chart.destroy(); trend.chart = null; }
  Object.assign(trend, { name, times: [], values: new Map(), chosen: new Set(), picked: false, chartKey: '',
                         zoomed: false, hidden: new Set() });
  $('trend').replaceChildren();
  $('trend-state').textContent = '';
}

function addSample(t, numbers) {
  trend.times.push(t);
  for (const [path, values] of trend.values) values.push(numbers[path] ?? null);
  for (const path of Object.keys(numbers)) {
    if (!trend.values.has(path)) {
      const values = new Array(trend.times.length).fill(null);
      values[values.length - 1] = numbers[path];
      trend.values.set(path, values);
    }
  }
  const excess = trend.times.length - trend.most;
  const old = trend.times.length && trend.times[0] < t - trend.keep ? trend.times.findIndex((x) => x >= t - trend.keep) : 0;
  const drop = Math.max(excess, old);
  if (drop > 0) {
    trend.times.splice(0, drop);
    for (const values of trend.values.values()) values.splice(0, drop);
  }
}

async function loadHistory(name) {
  try {
    const answer = await fetch('/api/history?' + query({ point: name }));
    const m = await answer.json();
    if (trend.name !== name) return;
    if (!answer.ok || !m.kept) {
      $('trend-state').textContent = `from when the page opened (the server keeps no history of it: ${m.reason || m.error})`;
      return;
    }
    const first = trend.times.length ? trend.times[0] : Infinity;  // samples the stream brought meanwhile stay
    const live = { times: trend.times, values: trend.values };
    trend.times = [];
    trend.values = new Map();
    m.times.forEach((t, i) => {
      if (t >= first) return;
      const numbers = {};
      m.fields.forEach((path, f) => { if (m.values[f][i] !== null) numbers[path] = m.values[f][i]; });
      addSample(t, numbers);
    });
    live.times.forEach((t, i) => {
      const numbers = {};
      for (const [path, values] of live.values) if (values[i] !== null) numbers[path] = values[i];
      addSample(t, numbers);
    });
    const span = (ms) => ms < 120000 ? `${Math.round(ms / 1000)} s` : `${Math.round(ms / 60000)} min`;
    $('trend-state').textContent = `from the history the server keeps: ${span(m.samples * m.period_ms)} of at most ` +
        span(m.capacity * m.period_ms) + (m.decimated ? ` (${m.times.length} of its ${m.samples} samples drawn)` : '');
    drawTrend();
  } catch (e) {
    $('trend-state').textContent = 'no history: ' + e;
  }
}

function showPoint(name) {
  // Another point, or the same name in another realm: another trend and a fresh form.
  if (trend.name !== name || trend.realm !== realm()) {
    resetTrend(name);
    trend.realm = realm();
    // The write form starts afresh for each point: nothing typed for another one stays.
    $('write-value').value = '';
    $('write-path').selectedIndex = 0;
    $('write-result').textContent = info.writes ? '' : 'read only: start ostrel web with --allow-writes';
    $('write-result').className = '';
    loadHistory(name);
  }
  $('point-name').textContent = name;
  follow('/api/stream/point', { name }, (m) => {
    $('point-type').textContent = m.type ? '(' + m.type + ')' : '';
    $('point-error').textContent = m.code ? `error ${m.code}: ${m.text}` : '';
    const units = trend.units = unitsOf(m.fields);
    for (const f of m.fields) trend.types[f.path] = f.type;
    if (!trend.picked && !m.code) {
      m.fields.filter(plottable).slice(0, kDefaultChosen).forEach((f) => trend.chosen.add(f.path));
      trend.picked = true;
    }
    fillRows($('fields').tBodies[0], m.fields, (f) => ['', f.path, f.type, fieldValueText(f, units)], (row, f) => {
      const cell = row.cells[0];
      let box = cell.firstChild;
      if (!plottable(f)) { if (box) box.remove(); return; }
      if (!box) {
        box = document.createElement('input');
        box.type = 'checkbox';
        cell.append(box);
      }
      box.dataset.path = f.path;
      box.checked = trend.chosen.has(f.path);
    });
    const paths = $('write-path');
    if (paths.options.length !== m.fields.length || [...paths.options].some((o, i) => o.value !== m.fields[i].path)) {
      paths.replaceChildren(...m.fields.map((f) => new Option(f.path, f.path)));
    }
    const numbers = {};
    for (const f of m.fields) if (plottable(f)) numbers[f.path] = f.value;
    if (!m.code) addSample(m.time_ms, numbers);
    drawTrend();
  });
}

function choose(event) {
  const box = event.target;
  if (!box.dataset || !box.dataset.path) return;
  if (box.checked) trend.chosen.add(box.dataset.path); else trend.chosen.delete(box.dataset.path);
  drawTrend();
}

function label(path) { return trend.units[path] ? `${path} (${trend.units[path]})` : path; }

// The trend through the chart library: one series per chosen field, each on a scale of its own
// with its own axis in its colour (the first six shown; the rest read in the legend). Dragging
// zooms, a double click shows everything again, a click on a legend entry hides or shows it.
function drawTrend() {
  if (typeof uPlot === 'undefined') { drawPlot(); return; }
  const chosen = [...trend.values.keys()].filter((p) => trend.chosen.has(p));
  const data = [trend.times.map((t) => t / 1000), ...chosen.map((p) => trend.values.get(p))];
  const key = chosen.join('\n') + '\n' + [...trend.hidden].join('\n') + '\n' + chosen.map((p) => trend.units[p]).join('\n');
  if (trend.chart && key === trend.chartKey) {
    trend.chart.setData(data, !trend.zoomed);
    return;
  }
  const started = performance.now();
  if (trend.chart) trend.chart.destroy();
  trend.chartKey = key;
  let axesShown = 0;
  const series = [{ label: 'time', value: (u, v) => v == null ? '' : new Date(v * 1000).toLocaleTimeString() }];
  const axes = [{}];
  chosen.forEach((path, i) => {
    const color = colors[i % colors.length];
    const type = trend.types[path];
    series.push({ label: label(path), scale: path, stroke: color, width: 1.5, show: !trend.hidden.has(path),
                  spanGaps: false, value: (u, v) => v == null ? '—' : numberText(v, type) });
    const shown = !trend.hidden.has(path) && axesShown < 6;
    if (shown) axesShown++;
    axes.push({ scale: path, show: shown, side: axesShown % 2 ? 3 : 1, stroke: color, size: 56,
                grid: { show: axesShown === 1 && shown }, ticks: { stroke: color },
                values: (u, ticks) => ticks.map((v) => numberText(v, 'float') + (trend.units[path] ? ' ' + trend.units[path] : '')) });
  });
  const scales = { x: { time: true } };
  for (const path of chosen) scales[path] = { auto: true };
  const opts = {
    width: 660, height: 320, series, axes, scales,
    cursor: { drag: { x: true, y: false } },
    legend: { live: true },
    hooks: {
      setSelect: [(u) => { if (u.select.width > 0) trend.zoomed = true; }],
      setSeries: [(u, i) => {
        if (i == null) return;
        const path = chosen[i - 1];
        if (u.series[i].show === !trend.hidden.has(path)) return;
        if (u.series[i].show) trend.hidden.delete(path); else trend.hidden.add(path);
        // Axes follow the series shown: the chart is made again with the same data.
        setTimeout(drawTrend, 0);
      }],
    },
  };
  trend.chart = new uPlot(opts, data, $('trend'));
  trend.chart.over.addEventListener('dblclick', () => { trend.zoomed = false; });
  trend.lastBuildMs = performance.now() - started;
  stats.trendBuildMs = trend.lastBuildMs;
}

// Without the chart library: the chosen fields on one shared scale on a canvas.
function drawPlot() {
  const canvas = $('plot');
  canvas.hidden = false;
  $('trend').hidden = true;
  const g = canvas.getContext('2d');
  const w = canvas.width, h = canvas.height, left = 60, right = 10, top = 10, bottom = 24;
  g.clearRect(0, 0, w, h);
  const paths = [...trend.values.keys()].filter((p) => trend.chosen.has(p));
  $('legend').replaceChildren(...paths.map((p, i) => {
    const span = document.createElement('span');
    span.textContent = '■ ' + label(p);
    span.style.color = colors[i % colors.length];
    return span;
  }));
  const times = trend.times;
  if (!times.length || !paths.length) return;
  let low = Infinity, high = -Infinity;
  for (const p of paths) for (const v of trend.values.get(p)) {
    if (Number.isFinite(v)) { low = Math.min(low, v); high = Math.max(high, v); }
  }
  if (!Number.isFinite(low)) return;
  if (high === low) { high += 1; low -= 1; }
  const end = times[times.length - 1], start = times[0], span = Math.max(1, end - start);
  const x = (t) => left + (t - start) / span * (w - left - right);
  const y = (v) => top + (high - v) / (high - low) * (h - top - bottom);
  g.strokeStyle = '#d9dee7';
  g.fillStyle = '#6b7280';
  g.font = '11px sans-serif';
  for (let i = 0; i <= 4; i++) {
    const v = low + (high - low) * i / 4;
    g.beginPath(); g.moveTo(left, y(v)); g.lineTo(w - right, y(v)); g.stroke();
    g.fillText(Number(v.toPrecision(4)).toString(), 4, y(v) + 4);
  }
  g.fillText(new Date(start).toLocaleTimeString(), left, h - 6);
  g.fillText(new Date(end).toLocaleTimeString(), w - right - 60, h - 6);
  paths.forEach((p, i) => {
    g.strokeStyle = colors[i % colors.length];
    g.lineWidth = 1.5;
    g.beginPath();
    let drawing = false;
    trend.values.get(p).forEach((v, k) => {
      if (!Number.isFinite(v)) { drawing = false; return; }
      if (drawing) g.lineTo(x(times[k]), y(v)); else g.moveTo(x(times[k]), y(v));
      drawing = true;
    });
    g.stroke();
  });
}

async function writeField(event) {
  event.preventDefault();
  const path = $('write-path').value, value = $('write-value').value;
  // A write changes the plant: it is asked for once more, naming what it does.
  if (!confirm(`Write ${path} = ${value} to ${trend.name}?`)) return;
  const body = new URLSearchParams({ name: trend.name, path, value, realm: realm() });
  const out = $('write-result');
  try {
    const answer = await fetch('/api/put', { method: 'POST', body });
    const m = await answer.json();
    if (!answer.ok) out.textContent = `refused (${answer.status}): ${m.error}`;
    else if (m.code) out.textContent = `refused: ${m.code} ${m.text}`;
    else out.textContent = `${path}: ${m.old} → ${m.new}`;
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
  if (info.history && info.history.span_ms) trend.keep = info.history.span_ms;
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
  $('page-number').onchange = jumpTo;
  $('points').tHead.onclick = (e) => { const th = e.target.closest('th'); if (th && th.dataset.sort) sortBy(th.dataset.sort); };
  $('fields').tBodies[0].onchange = choose;
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
