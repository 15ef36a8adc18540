// The remote control's page: one WebSocket to the engine (JSON-RPC 2.0 both
// ways), the list and its statuses kept live by the engine's notifications.
'use strict';
const $ = (id) => document.getElementById(id);
const T = {
  lost: '连接已断开，正在重连…',
  startQuestion: '确定开始紧急广播吗？',
  stopQuestion: '确定结束紧急广播吗？',
  modeStopQuestion: '确定停止打铃吗？在按“开  始”之前，铃声不会响。',
  running: '打铃中', stopped: '已停止',
  runCaption: '停  止', stopCaption: '开  始',
  allZones: '全部分区、铃声输出和广播输出',
};
let csrf = '', role = '', ws = null, nextId = 1, pending = new Map();
let bells = [], nextBell = null, mode = '', offsetMs = 0, zones = [], retry = null, emergency = false;

function show(el, on) { el.hidden = !on; }
function say(text, error) { const m = $('message'); m.textContent = text || ''; m.className = 'message' + (error ? ' error' : ''); }

async function api(path, body) {
  const init = body === undefined ? {} : { method: 'POST', headers: { 'Content-Type': 'application/json', 'X-CSRF-Token': csrf }, body: JSON.stringify(body) };
  const r = await fetch(path, Object.assign({ credentials: 'same-origin' }, init));
  let data = {};
  try { data = await r.json(); } catch (e) { /* no body */ }
  return { status: r.status, data };
}

function call(method, params) {
  return new Promise((resolve, reject) => {
    if (!ws || ws.readyState !== WebSocket.OPEN) { reject(new Error(T.lost)); return; }
    const id = nextId++;
    pending.set(id, { resolve, reject });
    ws.send(JSON.stringify({ jsonrpc: '2.0', id, method, params: params || {} }));
  });
}
async function act(method, params) {
  try { const r = await call(method, params); if (r && r.text) say(r.text); else say(''); return r; }
  catch (e) { say(e.message, true); return null; }
}

// The engine's clock: its time of day plus the seconds since it was told.
function engineNow() { return new Date(Date.now() + offsetMs); }
function secondsOf(hms) { const p = (hms || '').split(':').map(Number); return p.length === 3 ? p[0] * 3600 + p[1] * 60 + p[2] : null; }
function pad(n) { return String(n).padStart(2, '0'); }
function hms(s) { return pad(Math.floor(s / 3600)) + ':' + pad(Math.floor(s / 60) % 60) + ':' + pad(s % 60); }
function tick() {
  const d = engineNow();
  const now = d.getUTCHours() * 3600 + d.getUTCMinutes() * 60 + d.getUTCSeconds();
  $('clock').textContent = hms(now);
  const b = bells.find((x) => x.id === nextBell);
  const at = b ? secondsOf(b.time) : null;
  $('countdown').textContent = at === null ? '—' : hms(((at - now) % 86400 + 86400) % 86400);
}
function setClock(status) {
  const s = secondsOf(status.now);
  if (s === null) return;
  // Kept as a UTC time of day: only its seconds matter here.
  offsetMs = s * 1000 - (Date.now() % 86400000);
  $('date').textContent = status.dateText || status.date || '';
}

function renderMode() {
  $('mode').textContent = mode === 'running' ? T.running : T.stopped;
  $('modeButton').textContent = mode === 'running' ? T.runCaption : T.stopCaption;
}
function renderBands(bands) {
  const box = $('bands'); box.textContent = '';
  for (const b of bands || []) { const d = document.createElement('div'); d.className = 'band band-' + b.kind; d.textContent = b.text; box.appendChild(d); }
}
function renderPlaying(p) {
  $('playing').textContent = p && p.music ? p.music : '—';
}
function renderEmergency() {
  show($('emergencyStart'), !emergency); show($('emergencyStop'), emergency);
  $('emergencyState').textContent = emergency ? '紧急广播进行中。' : '没有紧急广播。';
}
function renderNext() {
  const b = bells.find((x) => x.id === nextBell);
  $('next').textContent = b ? b.time + ' ' + b.name : '—';
}
function renderBells() {
  const body = $('bells').tBodies[0]; body.textContent = '';
  for (const b of bells) {
    const tr = document.createElement('tr'); tr.dataset.id = b.id;
    if (b.id === nextBell) tr.className = 'next';
    if (b.status === '播放') tr.className = 'playing';
    for (const text of [b.time, b.name]) { const td = document.createElement('td'); td.textContent = text; tr.appendChild(td); }
    const st = document.createElement('td'); st.className = 'status st-' + b.status; st.textContent = b.status; tr.appendChild(st);
    const act_ = document.createElement('td'); act_.className = 'duty';
    const btn = document.createElement('button'); btn.textContent = '响铃'; btn.title = '现在播放这个铃声（测试）';
    btn.onclick = () => act('Test.Play', { id: b.id });
    act_.appendChild(btn); tr.appendChild(act_);
    body.appendChild(tr);
  }
  renderNext(); applyRole();
}
function renderZones(z) {
  zones = (z && z.zones) || [];
  const body = $('zones').tBodies[0]; body.textContent = '';
  for (const x of zones) {
    const tr = document.createElement('tr');
    const a = document.createElement('td'); a.textContent = x.name; tr.appendChild(a);
    const b = document.createElement('td'); b.textContent = x.text || '—'; if (x.failed) b.className = 'failed'; tr.appendChild(b);
    body.appendChild(tr);
  }
  $('snapServer').textContent = (z && z.server) || '';
}
function applyRole() {
  const duty = role === '值班' || role === '管理';
  for (const el of document.querySelectorAll('.duty')) el.style.display = duty ? '' : 'none';
}

async function refreshAll() {
  try {
    const [status, day] = await Promise.all([call('Engine.GetStatus'), call('Day.GetBells')]);
    setClock(status); mode = status.mode; emergency = !!status.emergency;
    renderMode(); renderBands(status.bands); renderPlaying(status.playing); renderEmergency();
    show($('testStop'), !!status.testing);
    bells = day.bells || []; nextBell = day.next; $('dayDate').textContent = day.date; renderBells();
    renderZones(await call('Zones.GetHealth'));
  } catch (e) { say(e.message, true); }
}

function onNotification(m) {
  const p = m.params || {};
  switch (m.method) {
    case 'Bell.OnStatus': {
      const b = bells.find((x) => x.id === p.id);
      if (b) { b.status = p.status; b.delayMs = p.delayMs; }
      if (p.status === '等待') nextBell = p.id;
      // The next bell has rung (or failed): the next one is told as 等待.
      else if (p.id === nextBell && p.status !== '播放') nextBell = null;
      renderBells(); break;
    }
    case 'Day.OnChanged': refreshAll(); break;
    case 'Mode.OnChanged': mode = p.mode; renderMode(); break;
    case 'Emergency.OnChanged': emergency = !!p.active; renderEmergency(); call('Zones.GetHealth').then(renderZones, () => {}); break;
    case 'Bands.OnChanged': renderBands(p.bands); break;
    case 'Test.OnChanged': show($('testStop'), !!p.testing); break;
    case 'Playback.OnChanged': renderPlaying(p); break;
  }
}

function connect() {
  clearTimeout(retry);
  const url = (location.protocol === 'https:' ? 'wss://' : 'ws://') + location.host + '/api/ws';
  ws = new WebSocket(url);
  ws.onopen = () => { show($('lost'), false); $('main').classList.remove('offline'); refreshAll(); };
  ws.onmessage = (ev) => {
    let m; try { m = JSON.parse(ev.data); } catch (e) { return; }
    if (m.id !== undefined && pending.has(m.id)) {
      const h = pending.get(m.id); pending.delete(m.id);
      if (m.error) h.reject(new Error(m.error.message)); else h.resolve(m.result);
    } else if (m.method) onNotification(m);
  };
  ws.onclose = () => {
    for (const h of pending.values()) h.reject(new Error(T.lost));
    pending.clear(); ws = null;
    if ($('main').hidden) return;
    show($('lost'), true); $('main').classList.add('offline');
    retry = setTimeout(reconnect, 2000);
  };
}
async function reconnect() {
  try {
    const r = await api('/api/session');
    if (r.status === 401) { showLogin(); return; }
    if (r.status === 200) { csrf = r.data.csrf; connect(); return; }
  } catch (e) { /* the engine is away: try again */ }
  retry = setTimeout(reconnect, 2000);
}

function showLogin() { show($('lost'), false); show($('main'), false); show($('login'), true); $('name').focus(); }
function showMain(data) {
  csrf = data.csrf; role = data.role;
  $('who').textContent = data.account + '（' + data.role + '）';
  show($('login'), false); show($('main'), true); applyRole(); connect();
}

$('loginForm').onsubmit = async (ev) => {
  ev.preventDefault();
  $('loginError').textContent = ''; $('loginButton').disabled = true;
  try {
    const r = await api('/api/login', { name: $('name').value, password: $('password').value });
    if (r.status === 200) { $('password').value = ''; showMain(r.data); }
    else $('loginError').textContent = r.data.error || '登录失败。';
  } catch (e) { $('loginError').textContent = T.lost; }
  $('loginButton').disabled = false;
};
$('logout').onclick = async () => {
  try { await api('/api/logout', {}); } catch (e) { /* gone anyway */ }
  csrf = ''; show($('main'), false); if (ws) ws.close(); showLogin();
};
$('modeButton').onclick = () => {
  const running = mode !== 'running';
  if (!running && !confirm(T.modeStopQuestion)) return;
  act('Mode.Set', { running });
};
$('testStop').onclick = () => act('Test.Stop');
$('emergencyStart').onclick = () => {
  const names = zones.map((z) => z.name);
  if (!confirm(T.startQuestion + '\n分区：' + (names.length ? names.join('、') : T.allZones))) return;
  act('Emergency.Start', {});
};
$('emergencyStop').onclick = () => { if (confirm(T.stopQuestion)) act('Emergency.Stop'); };
function historyLinks() {
  const d = $('historyDate').value;
  $('exportXls').href = '/api/history/export?format=xls&date=' + d;
  $('exportCsv').href = '/api/history/export?format=csv&date=' + d;
}
$('historyDate').onchange = historyLinks;
$('historyShow').onclick = async () => {
  const r = await api('/api/history?date=' + $('historyDate').value);
  const t = $('history'); t.tHead.textContent = ''; t.tBodies[0].textContent = '';
  if (r.status !== 200) { say(r.data.error || '', true); return; }
  const hr = document.createElement('tr');
  for (const c of r.data.columns) { const th = document.createElement('th'); th.textContent = c; hr.appendChild(th); }
  t.tHead.appendChild(hr);
  for (const row of r.data.rows) {
    const tr = document.createElement('tr'); if (row.fault) tr.className = 'fault';
    for (const c of row.cells) { const td = document.createElement('td'); td.textContent = c; tr.appendChild(td); }
    t.tBodies[0].appendChild(tr);
  }
  if (!r.data.rows.length) say('这一天没有打铃记录。');
};

(async () => {
  const d = new Date();
  $('historyDate').value = d.getFullYear() + '-' + pad(d.getMonth() + 1) + '-' + pad(d.getDate());
  historyLinks();
  setInterval(tick, 1000);
  try {
    const r = await api('/api/session');
    if (r.status === 200) showMain(r.data); else showLogin();
  } catch (e) { showLogin(); }
})();
