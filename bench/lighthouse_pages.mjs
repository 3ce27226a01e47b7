// Lighthouse's accessibility score of every page under /ui/ and of /status on the admin port, at
// mobile and desktop settings, in one headless Chromium signed in through the page. A measurement,
// not a test: Lighthouse is installed apart (npm i --prefix /tmp/lh lighthouse).
// node bench/lighthouse_pages.mjs LIGHTHOUSE_DIR NPM_DIR API_BASE ADMIN_BASE USER PASSWORD SITE_CODE [REPORT_DIR]
import { createRequire } from 'node:module';
import { writeFileSync } from 'node:fs';

const [, , lhDir, npmDir, api, admin, user, password, code, reportDir] = process.argv;
const require = createRequire(import.meta.url);
const lighthouse = (await import(require.resolve('lighthouse', { paths: [lhDir] }))).default;
const desktop = (await import(require.resolve('lighthouse/core/config/desktop-config.js', { paths: [lhDir] }))).default;
const puppeteer = require(require.resolve('puppeteer-core', { paths: [npmDir] }));

const browser = await puppeteer.launch({ executablePath: process.env.CHROME_PATH || '/usr/bin/chromium', headless: true,
  args: ['--no-sandbox', '--disable-dev-shm-usage', '--disable-gpu', '--remote-debugging-port=0'] });
const port = Number(new URL(browser.wsEndpoint()).port);

async function score(name, url) {
  const line = [name.padEnd(12)];
  for (const [form, config] of [['mobile', undefined], ['desktop', desktop]]) {
    const flags = { port, output: 'json', logLevel: 'error', onlyCategories: ['accessibility'], disableStorageReset: true };
    const result = await lighthouse(url, flags, config);
    const lhr = result.lhr;
    const failed = Object.values(lhr.audits).filter((a) => a.score === 0 && a.scoreDisplayMode === 'binary').map((a) => a.id);
    line.push(`${form} ${Math.round(lhr.categories.accessibility.score * 100)}${failed.length ? ' (' + failed.join(', ') + ')' : ''}`);
    if (reportDir) writeFileSync(`${reportDir}/${name}-${form}.json`, JSON.stringify(lhr));
  }
  console.log(line.join('  '));
}

await score('signin', api + '/ui/');
const page = await browser.newPage();
await page.goto(api + '/ui/', { waitUntil: 'load' });
await page.waitForSelector('#f-user');
await page.type('#f-user', user);
await page.type('#f-password', password);
await page.click('form button[type=submit]');
await page.waitForSelector('#sites-body a');
for (const [name, hash] of [['sites', '#/'], ['site', '#/site/' + code], ['add', '#/add'], ['edit', '#/edit/' + code],
  ['paste', '#/paste'], ['maintenance', '#/maintenance'], ['accounts', '#/accounts']])
  await score(name, api + '/ui/' + hash);
await score('status', admin + '/status');
await browser.close();
