// The management pages of vkt: one script, no framework. It talks to /api/v1 with the session cookie
// and repeats the session's CSRF value on every change; the views are drawn from the API's answers
// and the sites' list is redrawn in place, so that a poll never wipes what the operator typed or chose.
'use strict';

const POLL_MS = 5000;
const PAGE_SIZE = 50;
const READ_TIMEOUT_MS = 10000;
const READ_TRIES = 4;
const STATES = ['down', 'degraded', 'unknown', 'up'];
const RANK = { viewer: 0, operator: 1, admin: 2 };

const app = { me: null, csrf: '', sites: [], loaded: false, selected: new Set(), page: 0, timer: 0, rows: new Map() };

// ---- small helpers ------------------------------------------------------------------------------

/** An element with attributes (`text` sets its text, `on<event>` a listener) and children. */
function el(tag, attrs = {}, ...children) {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(attrs)) {
    if (value === undefined || value === null || value === false) continue;
    if (name === 'text') node.textContent = value;
    else if (name.startsWith('on')) node.addEventListener(name.slice(2), value);
    else node.setAttribute(name, value === true ? '' : String(value));
  }
  for (const child of children.flat()) if (child !== null && child !== undefined) node.append(child);
  return node;
}

function svg(tag, attrs = {}, text) {
  const node = document.createElementNS('http://www.w3.org/2000/svg', tag);
  for (const [name, value] of Object.entries(attrs)) node.setAttribute(name, String(value));
  if (text !== undefined) node.textContent = text;
  return node;
}

/** A labelled input: the label names it, an error paragraph below it describes it when set. */
function field(label, name, attrs = {}) {
  const id = 'f-' + name;
  const input = el(attrs.tag || 'input', { id, name, 'aria-describedby': id + '-error', ...attrs, tag: null });
  return el('div', { class: 'field' }, el('label', { for: id, text: label }), input,
    el('p', { class: 'error', id: id + '-error' }));
}

function actionHeader() {
  return el('th', { scope: 'col' }, el('span', { class: 'visually-hidden', text: 'Action' }));
}

function roleSelect(name) {
  return field('Role', name, { tag: 'select' });
}

function fillRoles(select) {
  for (const role of ['viewer', 'operator', 'admin']) select.append(el('option', { value: role, text: role }));
}

function may(role) {
  return app.me && RANK[app.me.role] >= RANK[role];
}

function note(text, bad = false) {
  const box = document.getElementById('note');
  box.textContent = text;
  box.className = bad ? 'bad' : 'good';
  app.notedAt = Date.now();
}

function pathOf(code) {
  return '/api/v1/sites/' + encodeURIComponent(code);
}

function rttText(site) {
  return typeof site.rtt_ms === 'number' ? Math.round(site.rtt_ms * 1000).toLocaleString('en') + ' µs' : '–';
}

/** Calls the API; a change carries the CSRF header. Answers {status, data}; 401 shows the sign-in. */
async function api(method, path, body) {
  const headers = {};
  if (body !== undefined) headers['Content-Type'] = 'application/json';
  if (method !== 'GET') headers['X-CSRF-Token'] = app.csrf;
  // A request that may be made twice (a read, a whole new value, a sign-in) is sent again when its
  // connection was dropped before an answer, as a loaded daemon's may be.
  const repeatable = method === 'GET' || method === 'PUT' || method === 'PATCH' || path === '/api/v1/session';
  let answer;
  for (let attempt = 1; !answer; ++attempt) {
    try {
      answer = await fetch(path, { method, headers, credentials: 'same-origin', body: body === undefined ? undefined : JSON.stringify(body) });
    } catch (e) {
      if (!repeatable || attempt === 3) return { status: 0, data: { error: 'the server cannot be reached' } };
      await new Promise((done) => setTimeout(done, 1000 * attempt));
    }
  }
  const text = await answer.text();
  let data = {};
  try { data = text ? JSON.parse(text) : {}; } catch (e) { data = { error: text }; }
  if (answer.status === 401 && path !== '/api/v1/session') signedOut();
  return { status: answer.status, data };
}

/** POST a new site. A request whose answer was lost (a connection dropped on a loaded machine) is
 *  sent again, as is one the server was too busy for (503); when the server then says the code is
 *  taken, the site it holds is read back, and one with the address asked for is the lost request's. */
async function createSite(body) {
  let reply = await api('POST', '/api/v1/sites', body);
  for (let attempt = 1; (reply.status === 0 || reply.status === 503) && attempt < 3; ++attempt) {
    await new Promise((done) => setTimeout(done, 1000 * attempt));
    reply = await api('POST', '/api/v1/sites', body);
    if (reply.status === 409) {
      const there = await api('GET', pathOf(body.code));
      if (there.status === 200 && there.data.address === body.address) reply = { status: 201, data: there.data };
    }
  }
  return reply;
}

/** GET `path` with a bounded wait, tried again after a failure, a time-out or a 5xx answer (a busy
 *  daemon answers late, a connection may be dropped under load). Resolves to {status, ok, text} of the
 *  first answer below 500 or of the last try; rejects with the reason of the last failure. */
async function readPatiently(path) {
  let why = '';
  for (let attempt = 1; attempt <= READ_TRIES; ++attempt) {
    const abort = new AbortController();
    const timer = setTimeout(() => abort.abort(), READ_TIMEOUT_MS);
    try {
      const answer = await fetch(path, { credentials: 'same-origin', signal: abort.signal });
      const text = await answer.text();
      if (answer.status < 500 || attempt === READ_TRIES) return { status: answer.status, ok: answer.ok, text };
      why = 'the server answered ' + answer.status;
    } catch (e) {
      why = e.name === 'AbortError' ? 'no answer within ' + READ_TIMEOUT_MS / 1000 + ' s' : 'the server cannot be reached';
    } finally {
      clearTimeout(timer);
    }
    if (attempt < READ_TRIES) await new Promise((r) => setTimeout(r, 1000 * attempt));
  }
  throw new Error(why);
}

/** What a section shows when its read failed for good: the reason, announced, and a way to try again. */
function readFailed(what, error, again) {
  return el('div', {}, el('p', { role: 'alert', class: 'error', text: what + ' cannot be read: ' + error.message + '.' }),
    el('button', { type: 'button', text: 'Try again', onclick: again }));
}

/** Shows a refusal beside its field when it names one, else in the note. */
function showError(form, reply) {
  for (const p of form.querySelectorAll('.error')) p.textContent = '';
  for (const input of form.querySelectorAll('[aria-invalid]')) input.removeAttribute('aria-invalid');
  const message = reply.data.error || 'refused (' + reply.status + ')';
  const input = reply.data.field && form.querySelector('[name="' + reply.data.field + '"]');
  if (input) {
    input.setAttribute('aria-invalid', 'true');
    document.getElementById(input.id + '-error').textContent = message;
    input.focus();
  }
  note(message, true);
}

function show(title, ...content) {
  const main = document.getElementById('main');
  app.shown = (app.shown || 0) + 1;
  main.replaceChildren(el('h1', { text: title }), ...content.filter((c) => c !== null && c !== undefined));
  document.title = title + ' – vkt';
}

// ---- session ------------------------------------------------------------------------------------

function signedOut() {
  app.me = null;
  app.csrf = '';
  clearTimeout(app.timer);
  app.timer = 0;
  drawNav();
  signInView();
}

function signInView() {
  const form = el('form', { class: 'card narrow', novalidate: true },
    field('User name', 'user', { autocomplete: 'username', required: true }),
    field('Password', 'password', { type: 'password', autocomplete: 'current-password', required: true }),
    el('button', { type: 'submit', text: 'Sign in' }));
  form.addEventListener('submit', async (event) => {
    event.preventDefault();
    const reply = await api('POST', '/api/v1/session', { user: form.user.value, password: form.password.value });
    if (reply.status !== 200) return showError(form, reply);
    signedIn(reply.data);
    note('Signed in as ' + reply.data.user + '.');
  });
  show('Sign in', form);
  form.user.focus();
}

function signedIn(data) {
  app.me = { user: data.user, role: data.role };
  app.csrf = data.csrf;
  drawNav();
  if (!app.timer) app.timer = setTimeout(pollLoop, POLL_MS);
  route();
}

function drawNav() {
  const nav = document.getElementById('nav');
  const who = document.getElementById('who');
  nav.replaceChildren();
  who.replaceChildren();
  if (!app.me) return;
  const links = [['#/', 'Sites', 'viewer'], ['#/add', 'Add site', 'admin'], ['#/paste', 'Paste a list', 'admin'],
    ['#/maintenance', 'Maintenance', 'viewer'], ['#/accounts', 'Users and tokens', 'admin']];
  for (const [href, text, role] of links) if (may(role)) nav.append(el('li', {}, el('a', { href, text })));
  who.append(app.me.user + ' (' + app.me.role + ') ', el('button', {
    type: 'button', class: 'link', text: 'Sign out', onclick: async () => {
      await api('DELETE', '/api/v1/session');
      signedOut();
      note('Signed out.');
    },
  }));
}

// ---- routes -------------------------------------------------------------------------------------

function route() {
  if (!app.me) return signInView();
  // A note stays for the view it led to (a saved site's page), not for the ones after it.
  if (Date.now() - (app.notedAt || 0) > 3000) note('');
  const hash = decodeURIComponent(location.hash.replace(/^#\/?/, ''));
  const [view, ...rest] = hash.split('/');
  const code = rest.join('/');
  const views = {
    '': sitesView, site: () => siteView(code), add: () => editView(null), edit: () => editView(code),
    paste: pasteView, maintenance: maintenanceView, accounts: accountsView,
  };
  (views[view] || sitesView)();
  document.getElementById('main').focus({ preventScroll: true });
}

/** Polls one after another: the next starts a pause after the last ended, a pause as long as twice
 *  that load at least, so that a long list is not asked for again before it is in. */
async function pollLoop() {
  const started = Date.now();
  await poll();
  if (app.me) app.timer = setTimeout(pollLoop, Math.max(POLL_MS, 2 * (Date.now() - started)));
}

async function poll() {
  if (!app.me) return;
  await loadSites();
  if (document.getElementById('sites-table')) drawRows();
}

/** The first page as the list shows it, before the whole list is in: the first sites by code from
 *  the API, and the first down and degraded ones from the board, which holds the states in memory
 *  (the API would read every row to find a state few sites are in). */
async function loadFirstPage() {
  const onBoard = (state) => readPatiently('/status.json?limit=' + PAGE_SIZE + '&state=' + state)
    .then((r) => (r.ok ? JSON.parse(r.text).sites || [] : []), () => []);
  const [page, down, degraded] = await Promise.all([api('GET', '/api/v1/sites?limit=' + PAGE_SIZE), onBoard('down'), onBoard('degraded')]);
  if (app.loaded || page.status !== 200) return false;
  const byCode = new Map();
  for (const site of [...down, ...degraded, ...(page.data.sites || [])]) byCode.set(site.code, site);
  app.sites = [...byCode.values()];
  return true;
}

/** Every site, following "next" while the API pages its list; one load at a time. */
function loadSites() {
  if (!app.loading) app.loading = loadAllSites().finally(() => { app.loading = null; });
  return app.loading;
}

async function loadAllSites() {
  const all = [];
  let path = '/api/v1/sites';
  for (let pages = 0; path && pages < 100; ++pages) {
    const reply = await api('GET', path);
    if (reply.status !== 200) return false;
    all.push(...(reply.data.sites || []));
    path = typeof reply.data.next === 'string' && reply.data.next ? reply.data.next : null;
  }
  app.sites = all;
  app.loaded = true;
  const codes = new Set(all.map((s) => s.code));
  for (const code of app.selected) if (!codes.has(code)) app.selected.delete(code);
  return true;
}

// ---- sites --------------------------------------------------------------------------------------

function stateOrder(a, b) {
  const rank = (s) => (s.state === 'down' ? 0 : s.state === 'degraded' ? 1 : 2);
  return rank(a) - rank(b) || (a.code < b.code ? -1 : a.code > b.code ? 1 : 0);
}

function filtered() {
  const state = document.getElementById('f-state').value;
  const tag = document.getElementById('f-tag').value;
  const text = document.getElementById('f-q').value.trim().toLowerCase();
  return app.sites.filter((s) => (!state || s.state === state) &&
    (!tag || (Array.isArray(s.tags) && s.tags.includes(tag))) &&
    (!text || [s.code, s.name, s.address].some((v) => String(v || '').toLowerCase().includes(text))))
    .sort(stateOrder);
}

function sitesView() {
  const stateBox = field('State', 'state', { tag: 'select' });
  stateBox.querySelector('select').append(el('option', { value: '', text: 'all' }),
    ...STATES.map((s) => el('option', { value: s, text: s })));
  const tagBox = field('Tag', 'tag', { tag: 'select' });
  tagBox.querySelector('select').append(el('option', { value: '', text: 'all' }));
  const filters = el('form', { role: 'search', class: 'filters', 'aria-label': 'Filter the sites' },
    stateBox, tagBox, field('Search', 'q', { type: 'search', placeholder: 'code, name or address' }));
  filters.addEventListener('submit', (e) => e.preventDefault());
  filters.addEventListener('input', () => { app.page = 0; drawRows(); });
  const table = el('table', { id: 'sites-table', class: 'sites' },
    el('caption', { class: 'visually-hidden', text: 'Sites, the silent first' }),
    el('thead', {}, el('tr', {},
      el('th', { scope: 'col' }, el('input', { type: 'checkbox', id: 'select-all', 'aria-label': 'Select all shown', onchange: selectAll })),
      ...['Code', 'Name', 'Address', 'State', 'RTT'].map((h) => el('th', { scope: 'col', text: h })))),
    el('tbody', { id: 'sites-body' }));
  app.rows = new Map();
  show('Sites', el('ul', { id: 'counts', class: 'counts', 'aria-label': 'Sites per state' }), filters,
    bulkBar(), el('div', { class: 'table-wrap' }, table),
    el('nav', { class: 'pager', 'aria-label': 'Pages' },
      el('button', { type: 'button', id: 'prev', text: 'Previous page', onclick: () => { app.page--; drawRows(); } }),
      el('span', { id: 'page-of' }),
      el('button', { type: 'button', id: 'next', text: 'Next page', onclick: () => { app.page++; drawRows(); } })));
  const whole = () => loadSites().then(() => document.getElementById('sites-table') && drawRows());
  if (app.loaded) {
    drawRows();
    whole();
  } else {
    // The whole list waits for the first page, which would share the daemon's time with it.
    loadFirstPage().then((shown) => shown && document.getElementById('sites-table') && drawRows()).finally(whole);
  }
}

function selectAll(event) {
  for (const box of document.querySelectorAll('#sites-body input[type=checkbox]')) {
    box.checked = event.target.checked;
    if (box.checked) app.selected.add(box.value); else app.selected.delete(box.value);
  }
  drawSelection();
}

function drawCounts() {
  const counts = document.getElementById('counts');
  if (!app.loaded) return counts.replaceChildren(el('li', { class: 'count', text: 'Counting the sites…' }));
  const per = Object.fromEntries(STATES.map((s) => [s, 0]));
  for (const s of app.sites) per[s.state] = (per[s.state] || 0) + 1;
  counts.replaceChildren(...STATES.map((s) => el('li', { class: 'count ' + s }, el('span', { class: 'n', text: per[s] }), ' ' + s)),
    el('li', { class: 'count' }, el('span', { class: 'n', text: app.sites.length }), ' in all'));
  const select = document.getElementById('f-tag');
  const tags = [...new Set(app.sites.flatMap((s) => (Array.isArray(s.tags) ? s.tags : [])))].sort();
  const have = [...select.options].slice(1).map((o) => o.value);
  if (tags.join('\n') !== have.join('\n')) {
    const chosen = select.value;
    select.replaceChildren(el('option', { value: '', text: 'all' }), ...tags.map((t) => el('option', { value: t, text: t })));
    select.value = tags.includes(chosen) ? chosen : '';
  }
}

/** One row per site, kept from draw to draw: its checkbox and focus stay where the operator left them. */
function rowFor(site) {
  let row = app.rows.get(site.code);
  if (!row) {
    const box = el('input', { type: 'checkbox', value: site.code, 'aria-label': 'Select ' + site.code });
    box.addEventListener('change', () => {
      if (box.checked) app.selected.add(site.code); else app.selected.delete(site.code);
      drawSelection();
    });
    row = el('tr', {}, el('td', { class: 'pick' }, box), el('td', { 'data-label': 'Code' }, el('a', { href: '#/site/' + encodeURIComponent(site.code), text: site.code })),
      el('td', { 'data-label': 'Name' }), el('td', { 'data-label': 'Address' }), el('td', { 'data-label': 'State' }), el('td', { 'data-label': 'RTT', class: 'num' }));
    app.rows.set(site.code, row);
  }
  const cells = row.children;
  const state = site.state + (site.maintenance ? ' (maintenance)' : '') + (site.acknowledged ? ' (acknowledged)' : '');
  for (const [i, text] of [[2, site.name], [3, site.address], [4, state], [5, rttText(site)]])
    if (cells[i].textContent !== text) cells[i].textContent = text;
  row.className = 'state-' + site.state;
  cells[0].firstChild.checked = app.selected.has(site.code);
  return row;
}

function drawRows() {
  drawCounts();
  const list = filtered();
  const pages = Math.max(1, Math.ceil(list.length / PAGE_SIZE));
  app.page = Math.min(Math.max(0, app.page), pages - 1);
  const shown = list.slice(app.page * PAGE_SIZE, (app.page + 1) * PAGE_SIZE);
  const body = document.getElementById('sites-body');
  const wanted = shown.map(rowFor);
  const keep = new Set(wanted);
  for (const row of [...body.children]) if (!keep.has(row)) row.remove();
  wanted.forEach((row, i) => { if (body.children[i] !== row) body.insertBefore(row, body.children[i] || null); });
  if (!shown.length) body.replaceChildren(el('tr', {}, el('td', { colspan: 6, text: app.loaded ? 'No site matches.' : 'Loading…' })));
  document.getElementById('page-of').textContent = app.loaded ? 'Page ' + (app.page + 1) + ' of ' + pages + ' (' + list.length + ' sites)'
    : 'Page 1; the rest of the list is loading…';
  document.getElementById('prev').disabled = app.page === 0;
  document.getElementById('next').disabled = app.page >= pages - 1;
  drawSelection();
}

function drawSelection() {
  const bar = document.getElementById('bulk');
  if (!bar) return;
  document.getElementById('bulk-count').textContent = app.selected.size + ' selected';
  for (const button of bar.querySelectorAll('button')) button.disabled = app.selected.size === 0;
}

function bulkBar() {
  if (!may('operator')) return null;
  const bar = el('form', { id: 'bulk', class: 'bulk', 'aria-label': 'With the selected sites' },
    el('p', { id: 'bulk-count', 'aria-live': 'polite' }),
    field('Comment', 'bulk-comment', { placeholder: 'on it' }),
    el('button', { type: 'button', text: 'Acknowledge', onclick: () => bulk('acknowledged', (code) => api('POST', pathOf(code) + '/ack', { comment: bar['bulk-comment'].value })) }),
    field('Maintenance (minutes)', 'bulk-minutes', { type: 'number', min: 1, value: 60 }),
    el('button', { type: 'button', text: 'Put in maintenance', onclick: () => bulk('put in maintenance', (code) => api('POST', '/api/v1/maintenance', { code, minutes: Number(bar['bulk-minutes'].value), reason: bar['bulk-comment'].value })) }));
  if (may('admin')) {
    bar.append(field('Tag', 'bulk-tag'),
      el('button', { type: 'button', text: 'Add tag', onclick: () => bulkTag(bar['bulk-tag'].value.trim()) }),
      el('button', { type: 'button', class: 'danger', text: 'Delete', onclick: bulkDelete }));
  }
  bar.addEventListener('submit', (e) => e.preventDefault());
  return bar;
}

/** Does `work` for each selected site, one after another, and says how it went. The sites it was
 *  done for leave the selection, so that the next action does not reach them unseen. */
async function bulk(what, work) {
  const codes = [...app.selected].sort();
  const failed = [];
  for (const code of codes) {
    const reply = await work(code);
    if (reply.status >= 300) failed.push(code + ': ' + (reply.data.error || reply.status));
    else app.selected.delete(code);
  }
  note(failed.length ? 'Not ' + what + ': ' + failed.join('; ') : codes.length + ' ' + (codes.length === 1 ? 'site' : 'sites') + ' ' + what + '.', failed.length > 0);
  await poll();
}

function bulkTag(tag) {
  if (!tag) return note('Type the tag to add first.', true);
  const byCode = new Map(app.sites.map((s) => [s.code, s]));
  bulk('tagged ' + tag, (code) => {
    const tags = Array.isArray(byCode.get(code)?.tags) ? byCode.get(code).tags : [];
    return api('PATCH', pathOf(code), { tags: [...new Set([...tags, tag])] });
  });
}

function bulkDelete() {
  const codes = [...app.selected].sort();
  if (!window.confirm('Delete ' + codes.length + (codes.length === 1 ? ' site: ' : ' sites: ') + codes.join(', ') + '?')) return;
  bulk('deleted', (code) => api('DELETE', pathOf(code)));
}

// ---- one site -----------------------------------------------------------------------------------

async function siteView(code) {
  show('Site ' + code, el('p', { text: 'Loading…' }));
  const mine = app.shown;
  // The outages are read beside the site and the board, not after them: a slow read holds up no other.
  const outageBox = outages(code);
  // The board adds since when, who probes and the chart; without it the page still shows the site.
  let boardError = null;
  const [reply, board] = await Promise.all([api('GET', pathOf(code)), readPatiently('/status.json?history=1&q=' + encodeURIComponent(code))
    .then((r) => {
      if (!r.ok) throw new Error('the server answered ' + r.status);
      return JSON.parse(r.text);
    }).catch((error) => { boardError = error; return { sites: [] }; })]);
  if (app.shown !== mine) return; // the operator went elsewhere meanwhile
  if (reply.status !== 200) return show('Site ' + code, el('p', { text: reply.data.error || 'not found' }));
  const site = reply.data;
  const seen = (board.sites || []).find((s) => s.code === code && s.address === site.address) || (board.sites || []).find((s) => s.code === code) || {};
  const facts = [['Name', site.name], ['Address', site.address], ['State', site.state + (site.maintenance ? ' (maintenance)' : '')],
    ['Since', seen.since || '–'], ['Probed by', seen.probed_by || site.daemon], ['RTT', rttText(site)],
    ['Cause', site.cause || '–'], ['Down time', site.downtime + ' minutes'], ['E-mail', site.email || '–'],
    ['Tags', Array.isArray(site.tags) && site.tags.length ? site.tags.join(', ') : '–']];
  if (site.acknowledged) facts.push(['Acknowledged', site.acknowledged.by + ' at ' + site.acknowledged.at + (site.acknowledged.comment ? ': ' + site.acknowledged.comment : '')]);
  if (site.uptime) {
    const order = ['24h', '7d', '30d', '90d', '365d'];
    const windows = Object.keys(site.uptime).sort((a, b) => (order.indexOf(a) + 1 || 99) - (order.indexOf(b) + 1 || 99));
    facts.push(['Uptime', windows.map((w) => w + ' ' + (site.uptime[w] === null ? '–' : site.uptime[w] + ' %')).join(', ')]);
  }
  const actions = el('p', { class: 'actions' });
  if (may('admin')) {
    actions.append(el('a', { class: 'button', href: '#/edit/' + encodeURIComponent(code), text: 'Edit' }), ' ',
      el('button', { type: 'button', class: 'danger', text: 'Delete', onclick: async () => {
        if (!window.confirm('Delete site ' + code + (site.name ? ' (' + site.name + ')' : '') + '?')) return;
        const gone = await api('DELETE', pathOf(code));
        if (gone.status !== 204) return note(gone.data.error || 'not deleted', true);
        note('Site ' + code + ' deleted.');
        location.hash = '#/';
      } }));
  }
  show('Site ' + code,
    el('dl', { class: 'facts' }, ...facts.map(([k, v]) => [el('dt', { text: k }), el('dd', { text: String(v) })])),
    actions,
    el('section', { 'aria-labelledby': 'chart-title' }, el('h2', { id: 'chart-title', text: 'Round-trip time, last 24 hours' }),
      boardError ? readFailed('The round-trip times', boardError, () => siteView(code))
        : seen.history && (seen.history.rtt_ms || []).some((v) => typeof v === 'number') ? chart(seen.history)
          : el('p', { text: 'No round-trip times in the last 24 hours yet.' })),
    el('section', { 'aria-labelledby': 'outage-title' }, el('h2', { id: 'outage-title', text: 'Outages' }),
      el('p', { text: site.state === 'down' ? 'Silent since ' + (seen.since || 'the last scan') + (site.notified ? '; contacts notified.' : '.') : 'No outage now.' }),
      outageBox),
    may('operator') && site.state === 'down' && !site.acknowledged ? ackForm(code) : null);
}

/** An SVG line of the buckets' round-trip times (ms, as the history keeps them) with a time axis; each
 *  bucket with an answer is a dot as well, so that a lone one shows; buckets with losses are marked red. */
function chart(history) {
  // Drawn at the width it is shown at, so that its labels keep their size on a phone.
  const W = Math.max(300, Math.min(900, document.getElementById('main').clientWidth - 32)), H = 220, L = 64, R = 12, T = 12, B = 36;
  const points = history.rtt_ms || [];
  const n = points.length;
  const step = (history.bucket_minutes || 5) * 60000;
  const end = Date.now();
  const max = Math.max(1, ...points.filter((v) => typeof v === 'number'));
  const x = (i) => L + (i / Math.max(1, n - 1)) * (W - L - R);
  const y = (ms) => T + (1 - ms / max) * (H - T - B);
  const ms = (v) => (v >= 10 ? Math.round(v) : Math.round(v * 10) / 10).toLocaleString('en') + ' ms';
  const root = svg('svg', { viewBox: `0 0 ${W} ${H}`, class: 'chart', role: 'img', 'aria-labelledby': 'chart-desc' });
  root.append(svg('title', { id: 'chart-desc' }, 'Round-trip times of the last 24 hours, up to ' + ms(max)));
  root.append(svg('line', { x1: L, y1: H - B, x2: W - R, y2: H - B, class: 'axis' }), svg('line', { x1: L, y1: T, x2: L, y2: H - B, class: 'axis' }));
  for (const f of [0, 0.5, 1]) root.append(svg('text', { x: L - 6, y: y(max * f) + 4, 'text-anchor': 'end', class: 'tick' }, ms(max * f)));
  const ticks = W < 500 ? 4 : 6;
  for (let i = 0; i < n; i += Math.max(1, Math.round(n / ticks))) {
    const when = new Date(end - (n - 1 - i) * step);
    const label = String(when.getHours()).padStart(2, '0') + ':' + String(when.getMinutes()).padStart(2, '0');
    root.append(svg('line', { x1: x(i), y1: H - B, x2: x(i), y2: H - B + 4, class: 'axis' }),
      svg('text', { x: x(i), y: H - B + 18, 'text-anchor': 'middle', class: 'tick' }, label));
  }
  let d = '';
  let gap = true;
  points.forEach((v, i) => {
    if (typeof v !== 'number') { gap = true; return; }
    d += (gap ? 'M' : 'L') + x(i).toFixed(1) + ',' + y(v).toFixed(1);
    gap = false;
    root.append(svg('circle', { cx: x(i).toFixed(1), cy: y(v).toFixed(1), r: 2, class: 'dot' }));
  });
  root.append(svg('path', { d, class: 'line' }));
  (history.lost || []).forEach((lost, i) => { if (lost > 0) root.append(svg('rect', { x: x(i) - 1, y: H - B - 6, width: 2, height: 6, class: 'lost' })); });
  return el('figure', {}, root, el('figcaption', { text: 'Time of day on the horizontal axis, round-trip time in ms on the vertical, one dot per ' + (history.bucket_minutes || 5) + ' minutes; red marks are lost probes.' }));
}

/** RFC 4180 text as rows of fields (a leading byte-order mark dropped). */
function parseCsv(text) {
  const rows = [];
  let row = [], value = '', quoted = false;
  for (let i = text.charCodeAt(0) === 0xfeff ? 1 : 0; i < text.length; ++i) {
    const c = text[i];
    if (quoted) {
      if (c === '"' && text[i + 1] === '"') { value += '"'; ++i; } else if (c === '"') quoted = false; else value += c;
    } else if (c === '"') quoted = true;
    else if (c === ',') { row.push(value); value = ''; }
    else if (c === '\n') { row.push(value.replace(/\r$/, '')); rows.push(row); row = []; value = ''; }
    else value += c;
  }
  if (value || row.length) rows.push([...row, value]);
  return rows;
}

function durationText(seconds) {
  const s = Number(seconds);
  return s >= 3600 ? Math.floor(s / 3600) + ' h ' + Math.round((s % 3600) / 60) + ' min' : s >= 60 ? Math.round(s / 60) + ' min' : s + ' s';
}

/** The site's outages of the last 30 days (from the outages CSV, with [History]) and links to both CSVs. */
function outages(code) {
  const box = el('div', { 'aria-busy': 'true' }, el('p', { text: 'Loading the outages…' }));
  const query = '?code=' + encodeURIComponent(code);
  const links = () => el('p', {}, el('a', { href: '/status/outages.csv' + query, text: 'Outages (CSV)' }), ' · ',
    el('a', { href: '/status/history.csv' + query, text: 'Hourly history (CSV)' }), ' · ',
    el('a', { href: '/status/history.csv' + query + '&step=day', text: 'Daily history (CSV)' }));
  const load = () => readPatiently('/status/outages.csv' + query).then((answer) => {
    if (answer.status === 404) return box.replaceChildren(el('p', { text: 'Outages are kept only with [History] in vkt.ini.' }));
    if (!answer.ok) throw new Error('the server answered ' + answer.status);
    const [head, ...rows] = parseCsv(answer.text);
    const at = (name) => head.indexOf(name);
    box.replaceChildren(rows.length ? el('div', { class: 'table-wrap' }, el('table', {},
      el('caption', { text: 'Outages of the last 30 days' }),
      el('thead', {}, el('tr', {}, ...['Start', 'End', 'Duration', 'Cause', 'Notified'].map((h) => el('th', { scope: 'col', text: h })))),
      el('tbody', {}, rows.map((r) => el('tr', {}, ...[['Start', r[at('start')]], ['End', r[at('end')] || 'lasting'],
        ['Duration', durationText(r[at('duration_seconds')])], ['Cause', r[at('cause')] || '–'], ['Notified', r[at('notified')]]]
        .map(([label, text]) => el('td', { 'data-label': label, text: String(text ?? '') }))))))) : el('p', { text: 'No outage in the last 30 days.' }),
    links());
  }).catch((error) => box.replaceChildren(readFailed('The outages', error, () => {
    box.replaceChildren(el('p', { text: 'Loading the outages…' }));
    load();
  }), links())).finally(() => box.removeAttribute('aria-busy'));
  load();
  return box;
}

function ackForm(code) {
  const form = el('form', { class: 'card' }, el('h2', { text: 'Acknowledge the outage' }),
    field('Comment', 'comment'), el('button', { type: 'submit', text: 'Acknowledge' }));
  form.addEventListener('submit', async (e) => {
    e.preventDefault();
    const reply = await api('POST', pathOf(code) + '/ack', { comment: form.comment.value });
    if (reply.status !== 200) return showError(form, reply);
    note('Outage of ' + code + ' acknowledged.');
    siteView(code);
  });
  return form;
}

// ---- add and edit -------------------------------------------------------------------------------

function tagList(text) {
  return text.split(/[\s,]+/).map((t) => t.trim()).filter(Boolean);
}

async function editView(code) {
  const form = el('form', { class: 'card', novalidate: true },
    field('Code', 'code', { required: true, readonly: code !== null }),
    field('Name', 'name'),
    field('Address', 'address', { required: true }),
    field('Down time (minutes)', 'downtime', { type: 'number', min: 0, value: 5, required: true }),
    field('E-mail', 'email', { type: 'email', autocomplete: 'off' }),
    field('Tags', 'tags', { placeholder: 'comma-separated' }),
    el('button', { type: 'submit', text: 'Save' }));
  show(code === null ? 'Add site' : 'Edit site ' + code, form);
  if (code !== null) {
    const reply = await api('GET', pathOf(code));
    if (reply.status !== 200) return note(reply.data.error || 'not found', true);
    for (const name of ['code', 'name', 'address', 'downtime', 'email']) form[name].value = reply.data[name] ?? '';
    form.tags.value = Array.isArray(reply.data.tags) ? reply.data.tags.join(', ') : '';
  }
  const hadTags = form.tags.value !== '';
  form.addEventListener('submit', async (e) => {
    e.preventDefault();
    const body = { name: form.name.value, address: form.address.value.trim(), downtime: Number(form.downtime.value), email: form.email.value.trim() };
    const tags = tagList(form.tags.value);
    // Tags go only where there are some, or were: a server without tags takes the rest all the same.
    if (tags.length || hadTags) body.tags = tags;
    if (code === null) body.code = form.code.value.trim();
    const reply = code === null ? await createSite(body) : await api('PATCH', pathOf(code), body);
    if (reply.status !== 200 && reply.status !== 201) return showError(form, reply);
    note('Site ' + reply.data.code + ' saved; the next scan probes it.');
    location.hash = '#/site/' + encodeURIComponent(reply.data.code);
  });
}

// ---- paste a list -------------------------------------------------------------------------------

const ADDRESS = /^(?:(?:25[0-5]|2[0-4]\d|1?\d?\d)\.){3}(?:25[0-5]|2[0-4]\d|1?\d?\d)$|^(?=.{1,253}$)(?:[A-Za-z0-9](?:[A-Za-z0-9-]{0,61}[A-Za-z0-9])?\.)*[A-Za-z0-9](?:[A-Za-z0-9-]{0,61}[A-Za-z0-9])?$/;

/** The lines as sites, each with its error (none when it may be added). */
function parseList(text) {
  const known = new Set(app.sites.map((s) => s.code));
  const seen = new Set();
  return text.split('\n').map((line, i) => ({ line: i + 1, text: line.trim() })).filter((l) => l.text && !l.text.startsWith('#')).map((l) => {
    const [code, address, ...name] = l.text.split(/\s+/);
    let error = '';
    if (!address) error = 'needs a code and an address';
    else if (code.includes('/') || code === '.' || code === '..') error = 'a code holds no "/" and is not "." or ".."';
    else if (!ADDRESS.test(address)) error = address + ' is neither a dotted IPv4 address nor a host name';
    else if (known.has(code)) error = 'a site has the code ' + code + ' already';
    else if (seen.has(code)) error = code + ' is twice in the list';
    seen.add(code);
    return { ...l, code, address: address || '', name: name.join(' '), error };
  });
}

function pasteView() {
  const form = el('form', { class: 'card', novalidate: true },
    field('Sites, one a line: code address [name]', 'list', { tag: 'textarea', rows: 8, spellcheck: 'false' }),
    field('Down time (minutes)', 'downtime', { type: 'number', min: 0, value: 5 }),
    el('button', { type: 'submit', text: 'Preview' }));
  const preview = el('section', { id: 'preview', 'aria-live': 'polite' });
  form.addEventListener('submit', async (e) => {
    e.preventDefault();
    await loadSites();
    drawPreview(preview, parseList(form.list.value), Number(form.downtime.value));
  });
  form.list.addEventListener('input', () => preview.replaceChildren());
  show('Paste a list', form, preview);
}

function drawPreview(preview, lines, downtime) {
  const bad = lines.filter((l) => l.error).length;
  const rows = lines.map((l) => el('tr', { class: l.error ? 'refused' : '' },
    ...[['Line', l.line], ['Code', l.code], ['Address', l.address], ['Name', l.name], ['Result', l.error || 'to add']]
      .map(([label, text]) => el('td', { 'data-label': label, text: String(text) }))));
  const add = el('button', { type: 'button', text: 'Add ' + lines.length + (lines.length === 1 ? ' site' : ' sites'), disabled: bad > 0 || lines.length === 0 });
  add.addEventListener('click', async () => {
    add.disabled = true;
    let done = 0;
    for (const [i, l] of lines.entries()) {
      const reply = await createSite({ code: l.code, address: l.address, name: l.name, downtime });
      rows[i].lastChild.textContent = reply.status === 201 ? 'added' : (reply.data.error || 'refused');
      if (reply.status === 201) ++done;
    }
    note(done + ' of ' + lines.length + ' sites added; the next scan probes them.', done < lines.length);
  });
  preview.replaceChildren(el('h2', { text: 'Preview' }),
    el('p', { text: bad ? bad + ' of ' + lines.length + ' lines have errors: mend them and preview again; nothing is written.' : lines.length + ' sites are ready; nothing is written until you add them.' }),
    el('div', { class: 'table-wrap' }, el('table', { class: 'preview' }, el('thead', {}, el('tr', {}, ...['Line', 'Code', 'Address', 'Name', 'Result'].map((h) => el('th', { scope: 'col', text: h })))), el('tbody', {}, rows))),
    add);
}

// ---- maintenance --------------------------------------------------------------------------------

async function maintenanceView() {
  const list = el('div', { class: 'table-wrap' });
  const content = [el('section', { 'aria-labelledby': 'windows-title' }, el('h2', { id: 'windows-title', text: 'Windows running and to come' }), list)];
  if (may('operator')) content.push(windowForm(), ackAnyForm());
  show('Maintenance', ...content);
  const reply = await api('GET', '/api/v1/maintenance?limit=1000');
  if (reply.status !== 200) return list.replaceChildren(el('p', { text: reply.data.error || 'no windows' }));
  const windows = reply.data.windows || [];
  if (!windows.length) return list.replaceChildren(el('p', { text: 'No window runs or is to come.' }));
  list.replaceChildren(el('table', {}, el('thead', {}, el('tr', {}, ...['Code', 'Reason', 'Start', 'End', 'Made by'].map((h) => el('th', { scope: 'col', text: h })), actionHeader())),
    el('tbody', {}, windows.map((w) => el('tr', {},
      ...[['Code', w.code], ['Reason', w.reason], ['Start', w.start + (w.weekly ? ' (weekly)' : '')], ['End', w.end], ['Made by', w.made_by]]
        .map(([label, text]) => el('td', { 'data-label': label, text })),
      el('td', {}, may('operator') ? el('button', { type: 'button', text: 'End now', 'aria-label': 'End now the window of ' + w.code, onclick: async () => {
        if (!window.confirm('End the maintenance window of ' + w.code + ' now?')) return;
        const ended = await api('DELETE', '/api/v1/maintenance/' + w.id);
        note(ended.status === 204 ? 'The window of ' + w.code + ' has ended.' : ended.data.error || 'not ended', ended.status !== 204);
        maintenanceView();
      } }) : null))))));
}

function windowForm() {
  const form = el('form', { class: 'card', novalidate: true }, el('h2', { text: 'Make a window' }),
    field('Code (or * for every site)', 'code', { required: true }), field('Reason', 'reason'),
    field('For minutes from now', 'minutes', { type: 'number', min: 1 }),
    el('p', { text: 'or from a start to an end:' }),
    field('Start', 'start', { type: 'datetime-local', step: 1 }), field('End', 'end', { type: 'datetime-local', step: 1 }),
    el('button', { type: 'submit', text: 'Make window' }));
  form.addEventListener('submit', async (e) => {
    e.preventDefault();
    const body = { code: form.code.value.trim(), reason: form.reason.value };
    for (const name of ['minutes', 'start', 'end']) if (form[name].value) body[name] = name === 'minutes' ? Number(form[name].value) : form[name].value;
    const reply = await api('POST', '/api/v1/maintenance', body);
    if (reply.status !== 201) return showError(form, reply);
    note('Window for ' + reply.data.code + ' made.');
    maintenanceView();
  });
  return form;
}

function ackAnyForm() {
  const form = el('form', { class: 'card', novalidate: true }, el('h2', { text: 'Acknowledge an outage' }),
    field('Code', 'ack-code', { required: true }), field('Comment', 'ack-comment'),
    el('button', { type: 'submit', text: 'Acknowledge' }));
  form.addEventListener('submit', async (e) => {
    e.preventDefault();
    const code = form['ack-code'].value.trim();
    const reply = await api('POST', pathOf(code) + '/ack', { comment: form['ack-comment'].value });
    if (reply.status !== 200) return showError(form, reply);
    note('Outage of ' + code + ' acknowledged.');
  });
  return form;
}

// ---- users and tokens ---------------------------------------------------------------------------

async function accountsView() {
  const users = el('div', { class: 'table-wrap' });
  const tokens = el('div', { class: 'table-wrap' });
  const secret = el('p', { id: 'secret', class: 'secret', 'aria-live': 'polite' });
  const userForm = el('form', { class: 'card', novalidate: true }, el('h3', { text: 'Add a user' }),
    field('User name', 'name', { autocomplete: 'off', required: true }),
    field('Password', 'password', { type: 'password', autocomplete: 'new-password', required: true }),
    roleSelect('role'), el('button', { type: 'submit', text: 'Add user' }));
  const tokenForm = el('form', { class: 'card', novalidate: true }, el('h3', { text: 'Add a token' }),
    field('Token name', 'token-name', { autocomplete: 'off', required: true }), roleSelect('token-role'),
    el('button', { type: 'submit', text: 'Add token' }));
  fillRoles(userForm.role);
  fillRoles(tokenForm['token-role']);
  userForm.addEventListener('submit', async (e) => {
    e.preventDefault();
    const reply = await api('POST', '/api/v1/users', { name: userForm.name.value.trim(), password: userForm.password.value, role: userForm.role.value });
    if (reply.status !== 201) return showError(userForm, reply);
    note('User ' + reply.data.name + ' added.');
    userForm.reset();
    drawAccounts(users, tokens);
  });
  tokenForm.addEventListener('submit', async (e) => {
    e.preventDefault();
    const reply = await api('POST', '/api/v1/tokens', { name: tokenForm['token-name'].value.trim(), role: tokenForm['token-role'].value });
    if (reply.status !== 201) return showError(tokenForm, reply);
    secret.replaceChildren('Token ' + reply.data.name + ' (shown once, copy it now): ', el('code', { text: reply.data.token }));
    tokenForm.reset();
    drawAccounts(users, tokens);
  });
  show('Users and tokens',
    el('section', { 'aria-labelledby': 'users-title' }, el('h2', { id: 'users-title', text: 'Users' }), users, userForm),
    el('section', { 'aria-labelledby': 'tokens-title' }, el('h2', { id: 'tokens-title', text: 'Tokens' }), secret, tokens, tokenForm));
  drawAccounts(users, tokens);
}

/** A user's role as a choice with its button: the change holds for their open sessions at once. */
function roleChanger(account, redraw) {
  const select = el('select', { 'aria-label': 'Role of ' + account.name });
  fillRoles(select);
  select.value = account.role;
  const form = el('form', { class: 'inline' }, select,
    el('button', { type: 'submit', text: 'Change role', 'aria-label': 'Change role of ' + account.name }));
  form.addEventListener('submit', async (e) => {
    e.preventDefault();
    if (select.value === account.role) return note(account.name + ' is ' + account.role + ' already.');
    const reply = await api('PATCH', '/api/v1/users/' + encodeURIComponent(account.name), { role: select.value });
    note(reply.status === 200 ? account.name + ' is ' + reply.data.role + ' now.' : reply.data.error || 'not changed', reply.status !== 200);
    redraw();
  });
  return form;
}

async function drawAccounts(users, tokens) {
  for (const [box, path, key, removeText] of [[users, '/api/v1/users', 'users', 'Remove'], [tokens, '/api/v1/tokens', 'tokens', 'Revoke']]) {
    const reply = await api('GET', path);
    if (reply.status !== 200) { box.replaceChildren(el('p', { text: reply.data.error || 'not available' })); continue; }
    if (!reply.data[key].length) { box.replaceChildren(el('p', { text: key === 'users' ? 'No user yet.' : 'No token yet.' })); continue; }
    box.replaceChildren(el('table', {}, el('thead', {}, el('tr', {}, ...['Name', 'Role'].map((h) => el('th', { scope: 'col', text: h })), actionHeader())),
      el('tbody', {}, reply.data[key].map((a) => el('tr', {}, el('td', { 'data-label': 'Name', text: a.name }),
        el('td', { 'data-label': 'Role' }, key === 'users' ? roleChanger(a, () => drawAccounts(users, tokens)) : a.role),
        el('td', {}, el('button', { type: 'button', class: 'danger', text: removeText, 'aria-label': removeText + ' ' + a.name, onclick: async () => {
          if (!window.confirm(removeText + ' ' + (key === 'users' ? 'user ' : 'token ') + a.name + '?')) return;
          const gone = await api('DELETE', path + '/' + encodeURIComponent(a.name));
          note(gone.status === 204 ? a.name + ' removed.' : gone.data.error || 'not removed', gone.status !== 204);
          drawAccounts(users, tokens);
        } })))))));
  }
}

// ---- start --------------------------------------------------------------------------------------

async function start() {
  window.addEventListener('hashchange', route);
  const reply = await api('GET', '/api/v1/session');
  if (reply.status === 200) signedIn(reply.data); else signedOut();
}

document.addEventListener('DOMContentLoaded', start);
