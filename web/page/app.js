// The page: one fetch wrapper for the API, one live socket, and render(), the one place that
// turns a state message into the page. Plain modules, no build step.

const TEXTS = {
  en: {
    overview: 'Overview', setup: 'Set-up', plan: 'Plan', log: 'Log', logout: 'Log out', login: 'Log in',
    password: 'Password', board: 'Board', port: 'Port', adapter: 'Adapter', remote: 'Remote',
    portChip: 'COM port and chip', chip: 'Chip', remoteOn: 'Remote switching on', tcpPort: 'TCP port',
    remotePassword: 'Password of the remote', apply: 'Apply', names: 'Names', relaySettings: 'Relay settings',
    days: 'Days', on: 'On', off: 'Off', toggle: 'Toggle', stateOn: 'on', stateOff: 'off',
    closed: 'closed', open: 'open', portOpen: 'open', portClosed: 'closed', connected: 'connected',
    notConnected: 'not connected', remoteUp: 'on', remoteDown: 'off', relay: 'Relay', mode: 'Mode',
    program: 'Program', day: 'Day', date: 'Date', start: 'Start', end: 'End', secondsTimer: 'Seconds timer',
    repeat: 'Repeat', startAfter: 'On after (s)', endAfter: 'Off after (s)', window: 'Window',
    maxMinutes: 'max. (min)', shown: 'shown in the window', saved: 'Saved.', wrong: 'Wrong password.',
    wait: 'Too many attempts: wait {0} s.', lost: 'Connection lost: trying again…', nextNone: 'no switching in the next 7 days',
    nextAt: 'next: {0} {1}, {2}', between: 'random between {0} and {1}', lockedHint: 'Press STOP to choose the port or the chip.',
    noPlan: 'nothing planned', inputName: 'Input {0}', relayName: 'Relay {0}', onAt: 'on', offAt: 'off',
  },
  de: {
    overview: 'Übersicht', setup: 'Einstellungen', plan: 'Plan', log: 'Protokoll', logout: 'Abmelden', login: 'Anmelden',
    password: 'Kennwort', board: 'Platine', port: 'Port', adapter: 'Adapter', remote: 'Fernsteuerung',
    portChip: 'COM-Port und Chip', chip: 'Chip', remoteOn: 'Fernschalten ein', tcpPort: 'TCP-Port',
    remotePassword: 'Kennwort der Fernsteuerung', apply: 'Übernehmen', names: 'Namen', relaySettings: 'Relais-Einstellungen',
    days: 'Tage', on: 'Ein', off: 'Aus', toggle: 'Umschalten', stateOn: 'ein', stateOff: 'aus',
    closed: 'geschlossen', open: 'offen', portOpen: 'offen', portClosed: 'geschlossen', connected: 'verbunden',
    notConnected: 'nicht verbunden', remoteUp: 'ein', remoteDown: 'aus', relay: 'Relais', mode: 'Betriebsart',
    program: 'Programm', day: 'Tag', date: 'Datum', start: 'Start', end: 'Ende', secondsTimer: 'Sekunden-Timer',
    repeat: 'Wiederholen', startAfter: 'Ein nach (s)', endAfter: 'Aus nach (s)', window: 'Fenster',
    maxMinutes: 'max. (min)', shown: 'im Fenster gezeigt', saved: 'Gespeichert.', wrong: 'Falsches Kennwort.',
    wait: 'Zu viele Versuche: {0} s warten.', lost: 'Verbindung verloren: neuer Versuch…', nextNone: 'kein Schalten in den nächsten 7 Tagen',
    nextAt: 'nächstes: {0} {1}, {2}', between: 'zufällig zwischen {0} und {1}', lockedHint: 'Erst STOP, dann Port oder Chip wählen.',
    noPlan: 'nichts geplant', inputName: 'Eingang {0}', relayName: 'Relais {0}', onAt: 'ein', offAt: 'aus',
  },
};
const BROWSER_LANGS = (navigator.languages || [navigator.language]).filter(Boolean);
// German for a browser that asks for it; the program's own language for one that names none.
const LANG = BROWSER_LANGS.length
  ? (BROWSER_LANGS.some((l) => /^de\b/i.test(l)) ? 'de' : 'en')
  : (document.documentElement.dataset.fallback === 'de' ? 'de' : 'en');
const t = (key, ...args) => (TEXTS[LANG][key] ?? key).replace(/\{(\d)\}/g, (_, i) => args[i]);

// Selector entries as the window has them (the API's texts).
const MODES = ['Toggle', 'Timer', 'IF  K1', 'IF  K2', 'IF  K1 AND K2', 'IF  K1 OR K2', 'IF  K1 NOR K2',
  'IF  K1 XOR K2', 'Sec. - Timer', 'Random', 'Uhr - Steuerung'];
const DAYS = ['Date', 'So', 'Mo', 'Di', 'Mi', 'Do', 'Fr', 'Sa', 'Mo-Fr', 'Sa-So', 'Mo-So'];

const $ = (id) => document.getElementById(id);
const el = (tag, props = {}, ...children) => {
  const e = Object.assign(document.createElement(tag), props);
  e.append(...children.filter((c) => c !== null && c !== undefined));
  return e;
};

let state = null;
let names = Array(8).fill('');
let view = 'overview';
let socket = null;
let loggedIn = false;
let shownRelay = 1;

function say(text, error = false) {
  const m = $('message');
  m.textContent = text;
  m.className = error ? 'message error' : 'message';
}

// The one way to the API: JSON both ways; a lost session shows the login.
async function api(method, path, body) {
  const options = { method, headers: {}, credentials: 'same-origin' };
  if (body !== undefined) {
    options.headers['Content-Type'] = 'application/json';
    options.body = JSON.stringify(body);
  }
  const response = await fetch(path, options);
  const data = await response.json().catch(() => ({}));
  if (response.status === 401 && path !== '/api/login') {
    showLogin();
    throw new Error(data.error || 'log in');
  }
  if (!response.ok) {
    const error = new Error(data.error || response.statusText);
    error.status = response.status;
    error.retryAfter = response.headers.get('Retry-After');
    throw error;
  }
  return data;
}

async function change(method, path, body) {
  try {
    const data = await api(method, path, body);
    say(t('saved'));
    return data;
  } catch (e) {
    say(e.message, true);
    throw e;
  }
}

function showLogin() {
  loggedIn = false;
  if (socket) socket.close();
  $('tabs').hidden = true;
  for (const s of document.querySelectorAll('main > section')) s.hidden = s.id !== 'login';
  $('password').focus();
}

function show(name) {
  view = name;
  $('tabs').hidden = false;
  for (const s of document.querySelectorAll('main > section')) s.hidden = s.id !== name;
  for (const b of document.querySelectorAll('#tabs [data-view]')) {
    if (b.dataset.view === name) b.setAttribute('aria-current', 'page');
    else b.removeAttribute('aria-current');
  }
  if (name === 'setup') loadSetup();
  if (name === 'plan') loadPlan();
  if (name === 'log') loadLog();
}

function connectLive() {
  const url = `${location.protocol === 'https:' ? 'wss' : 'ws'}://${location.host}/api/live`;
  socket = new WebSocket(url);
  socket.onmessage = (event) => {
    const m = JSON.parse(event.data);
    if (m.type === 'state') render(m.state);
    else if (m.type === 'time') $('clock').textContent = m.time;
    else if (m.type === 'log') addLogLine(m.line);
    else if (m.type === 'names') loadNames();
    else if (m.type === 'settings' && view === 'setup' && (m.relay === 0 || m.relay === shownRelay)) loadSettings();
    else if (m.type === 'settings' && view === 'plan') loadPlan();
  };
  socket.onopen = () => say('');
  socket.onclose = () => {
    socket = null;
    if (!loggedIn) return;
    say(t('lost'), true);
    setTimeout(() => loggedIn && api('GET', '/api/state').then((s) => { render(s); connectLive(); }).catch(() => {}), 2000);
  };
}

function nextText(next) {
  if (!next) return t('nextNone');
  if (next.window) return t('between', next.window[0].slice(0, 5), next.window[1].slice(0, 5));
  const at = new Date(next.at.replace(' ', 'T'));
  const day = at.toLocaleDateString(LANG, { weekday: 'short' });
  return t('nextAt', next.on ? t('onAt') : t('offAt'), `${day} ${next.at.slice(11)}`, next.cause);
}

const modeText = (mode) => (typeof mode === 'number' ? `(${mode})` : mode);

// The state into the page: relay cards, contacts, port, clock.
function render(s) {
  state = s;
  $('clock').textContent = s.time;
  const box = $('relays');
  if (box.children.length !== s.relays.length) {
    box.replaceChildren(...s.relays.map((r) => {
      const card = el('article', { className: 'card relay', id: `relay-${r.relay}` });
      const buttons = el('div', { className: 'buttons' },
        ...[['on', { on: true }], ['off', { on: false }], ['toggle', { toggle: true }]].map(([key, body]) =>
          el('button', { type: 'button', textContent: t(key), className: `do-${key}`,
            onclick: () => change('POST', `/api/relays/${r.relay}`, body).then(render).catch(() => {}) })));
      card.append(el('header', {}, el('h2'), el('span', { className: 'state', role: 'status' })),
        el('p', { className: 'mode' }), el('p', { className: 'next' }), buttons);
      return card;
    }));
  }
  for (const r of s.relays) {
    const card = $(`relay-${r.relay}`);
    card.querySelector('h2').textContent = r.name ? `${r.relay} · ${r.name}` : t('relayName', r.relay);
    const st = card.querySelector('.state');
    st.textContent = r.on ? t('stateOn') : t('stateOff');
    st.classList.toggle('on', r.on);
    card.dataset.on = r.on;
    card.querySelector('.mode').textContent = modeText(r.mode);
    card.querySelector('.next').textContent = nextText(r.next);
    for (const b of card.querySelectorAll('button')) b.disabled = !r.canToggle;
  }
  $('k1-name').textContent = names[6] || 'K1';
  $('k2-name').textContent = names[7] || 'K2';
  $('k1').textContent = s.inputs.K1 ? t('closed') : t('open');
  $('k2').textContent = s.inputs.K2 ? t('closed') : t('open');
  $('port-status').textContent = `${s.port.device || `COM ${s.port.com}`}, ${s.port.chip}: ${s.port.open ? t('portOpen') : t('portClosed')}`;
  const adapter = $('adapter-status');
  adapter.textContent = s.port.connected ? t('connected') : t('notConnected');
  adapter.className = s.port.connected ? '' : 'bad';
  $('remote-status').textContent = s.remote.on ? t('remoteUp') : t('remoteDown');
  renderPort(s.port);
}

let lastPort = { com: 1 };

function renderPort(port) {
  lastPort = port;
  const com = $('com');
  // A device given on the command line is shown, not chosen.
  let fixed = com.querySelector('option[value="device"]');
  if (port.device && !fixed) {
    fixed = el('option', { value: 'device' });
    com.append(fixed);
  }
  if (fixed) fixed.textContent = port.device || '';
  if (port.device) com.value = 'device';
  else if (document.activeElement !== com) com.value = String(port.com);
  if (document.activeElement !== $('chip')) $('chip').value = port.chip;
  com.disabled = !!port.device || port.locked;
  $('chip').disabled = port.locked;
  $('port-hint').textContent = port.locked ? t('lockedHint') : '';
}

async function loadNames() {
  names = (await api('GET', '/api/names')).names;
  const box = $('names');
  box.replaceChildren(...names.flatMap((n, i) => {
    const id = `name-${i}`;
    const label = i < 6 ? t('relayName', i + 1) : t('inputName', i === 6 ? 'K1' : 'K2');
    return [el('label', { htmlFor: id, textContent: label }), el('input', { id, value: n, maxLength: 100 })];
  }));
  if (state) render(state);
}

async function loadSetup() {
  const [remote] = await Promise.all([api('GET', '/api/remote'), loadNames(), loadSettings()]);
  $('remote-on').checked = remote.on;
  $('remote-port').value = remote.port;
  $('remote-password').value = remote.password;
}

// A relay's settings as a form; every change goes to the board at once.
let settings = null;
async function loadSettings() {
  settings = await api('GET', `/api/relays/${shownRelay}/settings`);
  const picker = $('relay-picker');
  picker.replaceChildren(...[1, 2, 3, 4, 5, 6].map((n) => el('button', {
    type: 'button', textContent: names[n - 1] ? `${n} · ${names[n - 1]}` : t('relayName', n),
    ariaPressed: String(n === shownRelay), onclick: () => { shownRelay = n; loadSettings(); },
  })));
  const form = $('settings-form');
  const focused = document.activeElement?.id;
  const modes = MODES.slice(0, shownRelay === 6 ? 11 : 10);
  const field = (id, label, input) => el('div', {}, el('label', { htmlFor: id, textContent: label }), Object.assign(input, { id }));
  const select = (options, value) => {
    const s = el('select', {}, ...options.map((o) => el('option', { value: o, textContent: o })));
    if (typeof value === 'number') s.append(el('option', { value: `#${value}`, textContent: `(${value})` }));
    s.value = typeof value === 'number' ? `#${value}` : value;
    return s;
  };
  const fromSelect = (v) => (v.startsWith('#') ? Number(v.slice(1)) : v);
  // A selector's change shows other fields once the board has taken it; a refused value goes back.
  const bind = (input, set, redraw = false) => {
    input.addEventListener('change', () => {
      set(input);
      change('PUT', `/api/relays/${shownRelay}/settings`, settings)
        .then(() => redraw && loadSettings(), () => loadSettings());
    });
    return input;
  };

  const parts = [field('mode', t('mode'), bind(select(modes, settings.mode), (i) => { settings.mode = fromSelect(i.value); }, true))];
  const mode = settings.mode;
  if (mode === 'Timer') {
    settings.programs.forEach((p, i) => {
      const id = (k) => `p${i}-${k}`;
      const row = el('div', { className: 'row' },
        field(id('day'), t('day'), bind(select(DAYS, p.day), (x) => { p.day = fromSelect(x.value); }, true)),
        p.day === 'Date' ? field(id('date'), t('date'), bind(el('input', { type: typeof p.date === 'number' ? 'number' : 'date', value: p.date }),
          (x) => { p.date = x.type === 'number' ? Number(x.value) : x.value; })) : null,
        field(id('start'), t('start'), bind(el('input', { type: 'time', step: 1, value: p.start }), (x) => { p.start = fullTime(x.value); })),
        field(id('end'), t('end'), bind(el('input', { type: 'time', step: 1, value: p.end }), (x) => { p.end = fullTime(x.value); })));
      parts.push(el('fieldset', {}, el('legend', { textContent: `${t('program')} ${i + 1}${i === settings.selectedProgram ? ` (${t('shown')})` : ''}` }), row));
    });
  } else if (mode === 'Sec. - Timer') {
    const s = settings.secondsTimer;
    parts.push(el('fieldset', {}, el('legend', { textContent: t('secondsTimer') }), el('div', { className: 'row' },
      el('label', { className: 'check' }, bind(el('input', { type: 'checkbox', id: 'repeat', checked: s.repeat }), (x) => { s.repeat = x.checked; }), t('repeat')),
      field('start-after', t('startAfter'), bind(el('input', { type: 'number', step: 1, value: s.startAfter }), (x) => { s.startAfter = Number(x.value) || 0; })),
      field('end-after', t('endAfter'), bind(el('input', { type: 'number', step: 1, value: s.endAfter }), (x) => { s.endAfter = Number(x.value) || 0; })))));
  } else if (mode === 'Random') {
    settings.windows.forEach((w, i) => {
      const id = (k) => `w${i}-${k}`;
      parts.push(el('fieldset', {}, el('legend', { textContent: `${t('window')} ${i + 1}${i === settings.selectedWindow ? ` (${t('shown')})` : ''}` }),
        el('div', { className: 'row' },
          field(id('max'), t('maxMinutes'), bind(el('input', { type: 'number', step: 1, value: w.maxMinutes }), (x) => { w.maxMinutes = Number(x.value) || 0; })),
          field(id('start'), t('start'), bind(el('input', { type: 'time', step: 1, value: w.start }), (x) => { w.start = fullTime(x.value); })),
          field(id('end'), t('end'), bind(el('input', { type: 'time', step: 1, value: w.end }), (x) => { w.end = fullTime(x.value); })))));
    });
  }
  form.replaceChildren(...parts);
  if (focused && $(focused)) $(focused).focus();
}
const fullTime = (v) => (v.length === 5 ? `${v}:00` : v);

async function loadPlan() {
  const days = Number($('plan-days').value);
  const plan = await api('GET', `/api/plan?days=${days}`);
  drawPlan(plan, days);
}

// The coming days as one bar per relay: on stretches filled, random windows outlined.
function drawPlan(plan, days) {
  const ns = 'http://www.w3.org/2000/svg';
  const svg = (tag, attrs, text) => {
    const e = document.createElementNS(ns, tag);
    for (const [k, v] of Object.entries(attrs)) e.setAttribute(k, v);
    if (text !== undefined) e.textContent = text;
    return e;
  };
  const left = 90, width = 900, row = 34, top = 22;
  const height = top + plan.relays.length * row + 4;
  const chart = svg('svg', { viewBox: `0 0 ${left + width + 10} ${height}`, role: 'img', 'aria-label': t('plan') });
  const x = (sec) => left + (sec / plan.seconds) * width;
  const start = new Date(plan.from.replace(' ', 'T'));
  const midnight = new Date(start); midnight.setHours(24, 0, 0, 0);
  for (let d = 0; d < days; ++d) {
    const sec = (midnight - start) / 1000 + d * 86400;
    const day = new Date(midnight.getTime() + (d - 1) * 86400000);
    const from = d === 0 ? 0 : sec - 86400;
    chart.append(svg('text', { x: x(from) + 3, y: 14 }, day.toLocaleDateString(LANG, { weekday: 'short', day: 'numeric', month: 'numeric' })));
    if (sec < plan.seconds) chart.append(svg('line', { x1: x(sec), x2: x(sec), y1: top - 4, y2: height, stroke: '#9aa3ad' }));
  }
  const notes = [];
  plan.relays.forEach((r, i) => {
    const y = top + i * row;
    chart.append(svg('text', { x: 4, y: y + row / 2 + 4 }, r.name ? `${r.relay} ${r.name}`.slice(0, 14) : t('relayName', r.relay)));
    chart.append(svg('rect', { x: left, y: y + 6, width, height: row - 12, fill: '#eef1f4', stroke: '#c9ced3' }));
    for (const [a, b, w] of r.windows)
      chart.append(svg('rect', { x: x(a), y: y + 6, width: Math.max(1, x(b) - x(a)), height: row - 12, fill: '#ffe9a8', stroke: '#a66f00', class: 'window' }, `${t('window')} ${w}`));
    for (const [a, b] of r.on)
      chart.append(svg('rect', { x: x(a), y: y + 8, width: Math.max(1, x(b) - x(a)), height: row - 16, fill: '#1b7a36', class: 'on' }));
    if (r.summary) notes.push(`${t('relayName', r.relay)}: ${r.summary}`);
  });
  $('plan-chart').replaceChildren(chart);
  $('plan-notes').replaceChildren(...notes.map((n) => el('li', { textContent: n })));
}

async function loadLog() {
  const { lines } = await api('GET', '/api/log?lines=200');
  $('log-lines').replaceChildren(...lines.map((l) => el('li', { textContent: l })));
}
function addLogLine(line) {
  const list = $('log-lines');
  list.prepend(el('li', { textContent: line }));
  while (list.children.length > 500) list.lastChild.remove();
}

async function enter() {
  loggedIn = true;
  await loadNames();
  render(await api('GET', '/api/state'));
  show(view);
  connectLive();
}

function init() {
  document.documentElement.lang = LANG;
  for (const e of document.querySelectorAll('[data-t]')) e.textContent = t(e.dataset.t);
  $('com').append(...[1, 2, 3, 4, 5, 6, 7, 8].map((n) => el('option', { value: String(n), textContent: `COM ${n}` })));
  for (const b of document.querySelectorAll('#tabs [data-view]')) b.onclick = () => show(b.dataset.view);
  $('login-form').onsubmit = async (event) => {
    event.preventDefault();
    try {
      await api('POST', '/api/login', { password: $('password').value });
      $('password').value = '';
      say('');
      await enter();
    } catch (e) {
      say(e.status === 429 ? t('wait', e.retryAfter || 1) : e.status === 401 ? t('wrong') : e.message, true);
    }
  };
  $('logout').onclick = async () => { await api('POST', '/api/logout', {}).catch(() => {}); showLogin(); };
  const port = () => {
    const com = $('com').value === 'device' ? lastPort.com : Number($('com').value);
    change('PUT', '/api/port', { com, chip: $('chip').value }).catch(() => {});
  };
  $('com').onchange = port;
  $('chip').onchange = port;
  for (const [id, path] of [['start', '/api/port/start'], ['stop', '/api/port/stop'], ['reset', '/api/reset']])
    $(id).onclick = () => change('POST', path, {}).then(render).catch(() => {});
  $('remote-form').onsubmit = (event) => {
    event.preventDefault();
    change('PUT', '/api/remote', { on: $('remote-on').checked, port: $('remote-port').value, password: $('remote-password').value }).catch(() => {});
  };
  $('names-form').onsubmit = (event) => {
    event.preventDefault();
    change('PUT', '/api/names', { names: names.map((_, i) => $(`name-${i}`).value) }).then(loadNames).catch(() => {});
  };
  $('plan-days').onchange = loadPlan;
  api('GET', '/api/state').then(() => enter()).catch(() => showLogin());
}

init();
