// Drives the pages under /ui/ in headless Chromium (puppeteer-core and @axe-core/puppeteer from
// build/npm): signs in, adds a site through "Add site" and waits until the board shows it probed,
// pastes a list (first with a line at fault, which writes nothing), acknowledges two silent sites
// together, makes a maintenance window and ends it through its confirmation, changes a site's address,
// tags two sites and puts them in maintenance through the bulk bar, deletes one through its
// confirmation, changes a user's role, and runs axe-core on
// every page at 390 and 1,400 px, where no page may scroll sideways.
// node ui_browser.js NPM_DIR BASE_URL USER PASSWORD SHOT_DIR SILENT1 SILENT2
// prints one line per check ("ok ..." or "FAIL ...") and a line "axe: ..." with the findings.
const [, , npmDir, base, user, password, shotDir, silent1, silent2] = process.argv;
const load = (name) => require(require.resolve(name, { paths: [npmDir] }));
const puppeteer = load('puppeteer-core');
const { AxePuppeteer } = load('@axe-core/puppeteer');

const results = [];
const axeCounts = { pages: 0, findings: 0, serious: 0, passes: 0, ids: new Set() };
function check(name, ok, detail = '') {
  results.push(ok);
  console.log((ok ? 'ok   ' : 'FAIL ') + name + (ok || !detail ? '' : ': ' + detail));
}

async function waitFor(page, fn, arg, seconds = 60) {
  try {
    await page.waitForFunction(fn, { timeout: seconds * 1000, polling: 250 }, arg);
    return true;
  } catch (e) {
    return false;
  }
}

async function textOf(page) {
  return page.evaluate(() => document.querySelector('main').innerText);
}

/** axe-core on the page as it stands, and no sideways scrolling at either width. */
async function audit(page, name) {
  for (const width of [390, 1400]) {
    await page.setViewport({ width, height: 900 });
    await new Promise((r) => setTimeout(r, 150));
    const wide = await page.evaluate(() => document.documentElement.scrollWidth - document.documentElement.clientWidth);
    check(`${name} fits ${width} px`, wide <= 0, `${wide} px too wide`);
    await page.screenshot({ path: `${shotDir}/${name}-${width}.png`, fullPage: true });
    const axe = await new AxePuppeteer(page).analyze();
    const bad = axe.violations.filter((v) => v.impact === 'serious' || v.impact === 'critical');
    axeCounts.pages += 1;
    axeCounts.findings += axe.violations.length;
    for (const v of axe.violations) axeCounts.ids.add(v.id + ' (' + v.impact + ')');
    axeCounts.serious += bad.length;
    axeCounts.passes += axe.passes.length;
    check(`${name} at ${width} px has no serious axe finding`, bad.length === 0,
      bad.map((v) => v.id + ' ' + v.nodes.map((n) => n.target.join(' ')).join(', ')).join('; '));
  }
  await page.setViewport({ width: 1400, height: 900 });
}

async function go(page, hash, ready) {
  await page.evaluate((h) => { location.hash = h; }, hash);
  return waitFor(page, ready);
}

async function main() {
  const browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--ignore-certificate-errors', '--disable-dev-shm-usage', '--disable-gpu'],
  });
  const page = await browser.newPage();
  const cspErrors = [];
  page.on('console', (m) => { if (/Content.Security.Policy/i.test(m.text())) cspErrors.push(m.text()); });
  page.on('dialog', (d) => { page.lastDialog = d.message(); d.accept(); });
  page.setDefaultTimeout(60000);
  await page.setViewport({ width: 1400, height: 900 });
  // Other tests make and remove network namespaces beside this one; Chromium takes each of those for a
  // change of network and aborts the navigation under way (net::ERR_NETWORK_CHANGED): it is tried again.
  let answer;
  for (let attempt = 1; ; ++attempt) {
    try {
      answer = await page.goto(base + '/ui/', { waitUntil: 'load' });
      break;
    } catch (e) {
      if (attempt >= 5 || !/ERR_NETWORK_CHANGED/.test(String(e))) throw e;
      await new Promise((r) => setTimeout(r, 1000));
    }
  }
  const policy = answer.headers()['content-security-policy'] || '';
  check('the page forbids inline script and style', /script-src 'self'/.test(policy) && /style-src 'self'/.test(policy) && !/unsafe-inline/.test(policy), policy);
  // The headers are what is checked here: a fetch cut off on a loaded machine (the API's threads yield
  // to everything else) is tried again.
  const assets = await page.evaluate(async () => Promise.all([document.querySelector('script').src, document.querySelector('link').href]
    .map(async (url) => {
      for (let attempt = 1; ; ++attempt) {
        try {
          return url + ' ' + (await fetch(url)).headers.get('cache-control');
        } catch (e) {
          if (attempt === 3) throw e;
          await new Promise((done) => setTimeout(done, 1000));
        }
      }
    })));
  check('the script and style sheet are named by their hash and kept for good',
    assets.every((a) => /\/ui\/app\.[0-9a-f]{12}\.(js|css) public, max-age=31536000, immutable$/.test(a)), assets.join('; '));
  await waitFor(page, () => document.querySelector('h1')?.textContent === 'Sign in');
  await audit(page, 'signin');

  // Sign in through the labelled fields (on a loaded machine the form may be drawn again once the
  // page's first reads are answered: it is waited for, and its text is shown when it does not come).
  if (!await waitFor(page, () => document.getElementById('f-user') && document.getElementById('f-password'))) {
    check('the sign-in form is shown', false, await page.evaluate(() => document.body.innerText.slice(0, 500)));
  }
  const labelled = await page.evaluate(() => ['User name', 'Password'].map((t) => {
    const label = [...document.querySelectorAll('label')].find((l) => l.textContent === t);
    return label && document.getElementById(label.htmlFor) ? document.getElementById(label.htmlFor).name : null;
  }));
  check('sign-in fields are labelled "User name" and "Password"', labelled.join() === 'user,password', labelled.join());
  await page.type('#f-user', user);
  await page.type('#f-password', password);
  await page.click('form button[type=submit]');
  // A loaded machine may take a while: the password's hash is costly and the API's threads yield.
  check('signed in', await waitFor(page, () => document.querySelector('h1')?.textContent === 'Sites' && document.querySelectorAll('#sites-body a').length > 0, undefined, 120),
    await page.evaluate(() => document.getElementById('note')?.textContent || ''));
  const cookies = await browser.cookies();
  const session = cookies.find((c) => c.name === 'vkt_session');
  check('session cookie is HttpOnly, Secure, SameSite=Strict', session && session.httpOnly && session.secure && session.sameSite === 'Strict', JSON.stringify(session));
  check('silent sites come first', await page.evaluate(() => document.querySelector('#sites-body tr').className === 'state-down'));
  await audit(page, 'sites');

  // What the operator typed survives the next polls.
  await page.type('#f-q', 'SILENT');
  await new Promise((r) => setTimeout(r, 11000));
  check('a poll keeps the filter typed', await page.evaluate(() => document.getElementById('f-q').value === 'SILENT' && document.querySelectorAll('#sites-body tr').length === 2));

  // Two silent sites acknowledged together.
  await page.click(`#sites-body input[value="${silent1}"]`);
  await page.click(`#sites-body input[value="${silent2}"]`);
  await page.type('#f-bulk-comment', 'both on it');
  await page.evaluate(() => [...document.querySelectorAll('#bulk button')].find((b) => b.textContent === 'Acknowledge').click());
  check('two silent sites acknowledged', await waitFor(page, () => /2 sites acknowledged/.test(document.getElementById('note').textContent)),
    await page.evaluate(() => document.getElementById('note').textContent));
  check('the board shows both acknowledged', await waitFor(page, () => [...document.querySelectorAll('#sites-body tr')].filter((r) => /acknowledged/.test(r.innerText)).length === 2));
  await page.evaluate(() => { const q = document.getElementById('f-q'); q.value = ''; q.dispatchEvent(new Event('input', { bubbles: true })); });

  // A site added through "Add site" is probed by the next scan.
  await go(page, '#/add', () => document.querySelector('h1')?.textContent === 'Add site');
  const fields = await page.evaluate(() => [...document.querySelectorAll('main label')].map((l) => l.textContent).join('|'));
  check('"Add site" has its labelled fields', fields === 'Code|Name|Address|Down time (minutes)|E-mail|Tags', fields);
  await audit(page, 'add');
  await page.type('#f-code', 'UI1');
  await page.type('#f-name', 'Added in the page');
  await page.type('#f-address', '127.0.0.1');
  await page.evaluate(() => [...document.querySelectorAll('main button')].find((b) => b.textContent === 'Save').click());
  check('"Save" opens the new site', await waitFor(page, () => document.querySelector('h1')?.textContent === 'Site UI1'));
  let probed = false;
  for (let i = 0; i < 24 && !probed; ++i) {
    await go(page, '#/', () => document.querySelector('h1')?.textContent === 'Sites');
    await go(page, '#/site/UI1', () => document.querySelector('dl.facts'));
    probed = /State\s+up/.test(await textOf(page)) && /\d µs/.test(await textOf(page));
    if (!probed) await new Promise((r) => setTimeout(r, 5000));
  }
  check('the new site is probed without a restart', probed, await textOf(page));
  check('the site page lists its outages and links their CSV', await waitFor(page, () => {
    const link = [...document.querySelectorAll('main a')].find((a) => a.textContent === 'Outages (CSV)');
    return link && /outages\.csv\?code=UI1$/.test(link.href) && /No outage in the last 30 days/.test(document.querySelector('main').innerText);
  }), await textOf(page));
  const csv = await page.evaluate(() => fetch('/status/outages.csv?code=SILENT1').then(async (r) => r.status + ' ' + (await r.text()).replace(/^\uFEFF/, '').slice(0, 20)));
  check('the outages CSV is served on this port, the session standing for the [Web] login', csv.startsWith('200 code,name,address'), csv);
  const anonymous = await page.evaluate(() => fetch('/status/outages.csv?code=SILENT1', { credentials: 'omit' }).then((r) => r.status));
  check('without the session the [Web] login is asked for', anonymous === 401, String(anonymous));
  await audit(page, 'site');

  // A read of the outages that fails is tried again; one that keeps failing says so, and is tried
  // again on request.
  let failing = 0;
  await page.setRequestInterception(true);
  const interceptor = (r) => {
    if (failing > 0 && r.url().includes('/status/outages.csv')) { --failing; r.abort('connectionreset'); } else r.continue();
  };
  page.on('request', interceptor);
  const outagesShown = () => /No outage in the last 30 days/.test(document.querySelector('main').innerText);
  failing = 1;
  await go(page, '#/', () => document.querySelector('h1')?.textContent === 'Sites');
  await go(page, '#/site/UI1', () => document.querySelector('dl.facts'));
  check('a failed read of the outages is tried again', await waitFor(page, outagesShown) && failing === 0, await textOf(page));
  failing = 100;
  await go(page, '#/', () => document.querySelector('h1')?.textContent === 'Sites');
  await go(page, '#/site/UI1', () => document.querySelector('dl.facts'));
  check('reads that keep failing are announced', await waitFor(page, () => /The outages cannot be read: the server cannot be reached/
    .test(document.querySelector('main [role=alert]')?.textContent || '')), await textOf(page));
  failing = 0;
  await page.evaluate(() => [...document.querySelectorAll('main button')].find((b) => b.textContent === 'Try again').click());
  check('"Try again" reads them', await waitFor(page, outagesShown), await textOf(page));
  page.off('request', interceptor);
  await page.setRequestInterception(false);

  // A list pasted: a line at fault is shown with its error and nothing is written; then three lines.
  await go(page, '#/paste', () => document.querySelector('h1')?.textContent === 'Paste a list');
  await page.type('#f-list', 'P1 127.0.0.1 Pasted one\nP2 bad_host\nUI1 127.0.0.1');
  await page.evaluate(() => document.querySelector('main form button').click());
  await waitFor(page, () => document.querySelector('#preview table'));
  const refused = await page.evaluate(() => [...document.querySelectorAll('#preview tbody tr')].map((r) => r.lastChild.textContent));
  check('the preview names each line\'s error', refused[0] === 'to add' && /bad_host/.test(refused[1]) && /already/.test(refused[2]), refused.join(' | '));
  check('a list with errors cannot be added', await page.evaluate(() => document.querySelector('#preview > button').disabled));
  await page.evaluate(() => { const t = document.getElementById('f-list'); t.value = ''; t.dispatchEvent(new Event('input')); });
  await page.type('#f-list', 'P1 127.0.0.1 Pasted one\nP2 127.0.0.1\nP3 localhost Third site');
  await page.evaluate(() => document.querySelector('main form button').click());
  await waitFor(page, () => document.querySelector('#preview > button') && !document.querySelector('#preview > button').disabled);
  await audit(page, 'paste');
  await page.evaluate(() => document.querySelector('#preview > button').click());
  check('three pasted sites added', await waitFor(page, () => /3 of 3 sites added/.test(document.getElementById('note').textContent)),
    await page.evaluate(() => document.getElementById('note').textContent + ' [' +
      [...document.querySelectorAll('#preview tbody tr')].map((r) => r.lastChild.textContent).join(', ') + ']'));

  // A window made in the form and ended through its confirmation.
  await go(page, '#/maintenance', () => document.querySelector('h1')?.textContent === 'Maintenance');
  await page.type('#f-code', 'P1');
  await page.type('#f-reason', 'cabling');
  await page.type('#f-minutes', '30');
  await page.evaluate(() => [...document.querySelectorAll('main button')].find((b) => b.textContent === 'Make window').click());
  check('window made', await waitFor(page, () => [...document.querySelectorAll('main button')].some((b) => b.textContent === 'End now')));
  await audit(page, 'maintenance');
  await page.evaluate(() => [...document.querySelectorAll('main button')].find((b) => b.textContent === 'End now').click());
  check('"End now" asks first, naming the site', await waitFor(page, () => /has ended/.test(document.getElementById('note').textContent)) && /P1/.test(page.lastDialog || ''),
    page.lastDialog);

  // An address changed through "Edit": the daemon's next scan probes the new one.
  await go(page, '#/edit/UI1', () => document.getElementById('f-address')?.value === '127.0.0.1');
  await page.evaluate(() => { const a = document.getElementById('f-address'); a.value = ''; });
  await page.type('#f-address', '127.0.0.2');
  await page.evaluate(() => [...document.querySelectorAll('main button')].find((b) => b.textContent === 'Save').click());
  check('"Save" of an edit shows the new address', await waitFor(page, () => document.querySelector('h1')?.textContent === 'Site UI1' &&
    /Address\s+127\.0\.0\.2/.test(document.querySelector('main').innerText)), await textOf(page));

  // Two sites tagged, then put in maintenance, through the bulk bar.
  const pick = async (...codes) => {
    await go(page, '#/', () => document.querySelector('h1')?.textContent === 'Sites' && document.querySelector('#sites-body input[value="P1"]'));
    for (const code of codes) await page.click(`#sites-body input[value="${code}"]`);
    return page.evaluate(() => document.getElementById('bulk-count').textContent);
  };
  const bulkButton = (text) => page.evaluate((t) => [...document.querySelectorAll('#bulk button')].find((b) => b.textContent === t).click(), text);
  const noted = () => page.evaluate(() => document.getElementById('note').textContent);
  check('an action done leaves the selection', (await pick('P1', 'P2')) === '2 selected', await noted());
  await page.type('#f-bulk-tag', 'lab');
  await bulkButton('Add tag');
  check('two sites tagged', await waitFor(page, () => /2 sites tagged lab/.test(document.getElementById('note').textContent)), await noted());
  await waitFor(page, () => [...document.getElementById('f-tag').options].some((o) => o.value === 'lab'));
  await page.select('#f-tag', 'lab');
  const byTag = await page.evaluate(() => [...document.querySelectorAll('#sites-body tr a')].map((a) => a.textContent).join());
  check('the board filters by the new tag', byTag === 'P1,P2', byTag);
  const apiByTag = await page.evaluate(() => fetch('/api/v1/sites?tag=lab').then((r) => r.json()).then((j) => j.sites.map((s) => s.code + ':' + s.tags.join('+')).join()));
  check('the API filters by the new tag', apiByTag === 'P1:lab,P2:lab', apiByTag);
  await page.select('#f-tag', '');
  await pick('P1', 'P2');
  await page.type('#f-bulk-comment', 'rack move');
  await bulkButton('Put in maintenance');
  check('two sites put in maintenance', await waitFor(page, () => /2 sites put in maintenance/.test(document.getElementById('note').textContent)), await noted());
  check('the board shows both in maintenance', await waitFor(page, () => ['P1', 'P2'].every((c) =>
    /maintenance/.test(document.querySelector(`#sites-body input[value="${c}"]`)?.closest('tr').innerText || ''))), await textOf(page));

  // A site deleted from its page through the confirmation that names it.
  await go(page, '#/site/P3', () => [...document.querySelectorAll('main button')].some((b) => b.textContent === 'Delete'));
  page.lastDialog = '';
  await page.evaluate(() => [...document.querySelectorAll('main button')].find((b) => b.textContent === 'Delete').click());
  check('"Delete" asks first, naming the site', await waitFor(page, () => /Site P3 deleted/.test(document.getElementById('note').textContent)) &&
    /P3 \(Third site\)/.test(page.lastDialog || ''), page.lastDialog);
  check('the board no longer lists it', await waitFor(page, () => document.querySelector('h1')?.textContent === 'Sites' &&
    document.querySelector('#sites-body input[value="P2"]') && !document.querySelector('#sites-body input[value="P3"]')));

  await go(page, '#/accounts', () => document.querySelector('h1')?.textContent === 'Users and tokens' && document.querySelectorAll('main table').length === 2);
  // A user added as viewer and made an operator through the role's control in the list.
  await page.type('#f-name', 'vera');
  await page.type('#f-password', 'long enough');
  await page.select('#f-role', 'viewer');
  await page.evaluate(() => [...document.querySelectorAll('main button')].find((b) => b.textContent === 'Add user').click());
  check('user added', await waitFor(page, () => document.querySelector('select[aria-label="Role of vera"]')), await noted());
  await page.select('select[aria-label="Role of vera"]', 'operator');
  await page.click('button[aria-label="Change role of vera"]');
  check('the role changed in the list', await waitFor(page, () => /vera is operator now/.test(document.getElementById('note').textContent) &&
    document.querySelector('select[aria-label="Role of vera"]')?.value === 'operator'), await noted());
  await audit(page, 'accounts');

  check('no Content-Security-Policy violation', cspErrors.length === 0, cspErrors.join('; '));
  console.log(`axe: ${axeCounts.findings} findings, ${axeCounts.serious} serious or critical, ${axeCounts.passes} rules passed over ${axeCounts.pages} page views; ${[...axeCounts.ids].join(', ') || 'none'}`);
  await browser.close();
  return results.every(Boolean) ? 0 : 1;
}

main().then((code) => process.exit(code), (e) => { console.log('FAIL ' + (e.stack || e)); process.exit(1); });
