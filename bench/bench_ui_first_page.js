// How long the first page of the sites' list takes to appear in headless Chromium: from the click on
// "Sign in", and from the start of a load of /ui/ with the session open, to the first row drawn. Run
// against `bench_web ui SITES` (bench_ui_first_page.sh does both).
// node bench_ui_first_page.js NPM_DIR BASE_URL USER PASSWORD [RUNS]
const [, , npmDir, base, user, password, runsText] = process.argv;
const puppeteer = require(require.resolve('puppeteer-core', { paths: [npmDir] }));
const runs = Number(runsText || 5);

const firstRow = (page) => page.waitForFunction(() => document.querySelector('#sites-body a'), { timeout: 120000, polling: 'mutation' });

async function main() {
  const browser = await puppeteer.launch({ executablePath: '/usr/bin/chromium', headless: true, args: ['--no-sandbox', '--disable-dev-shm-usage', '--disable-gpu'] });
  const page = await browser.newPage();
  await page.setViewport({ width: 1400, height: 900 });
  await page.goto(base + '/ui/', { waitUntil: 'load' });
  await page.waitForSelector('#f-user');
  await page.type('#f-user', user);
  await page.type('#f-password', password);
  let start = Date.now();
  await page.click('form button[type=submit]');
  await firstRow(page);
  const signIn = Date.now() - start;
  const loads = [];
  for (let i = 0; i < runs; ++i) {
    start = Date.now();
    await page.goto(base + '/ui/', { waitUntil: 'domcontentloaded' });
    await firstRow(page);
    loads.push(Date.now() - start);
    if (process.env.VERBOSE) console.log(await page.evaluate(() => performance.getEntriesByType('resource').map((e) => e.name.replace(/^.*\/\/[^/]*/, '') + ' ' + Math.round(e.startTime) + '+' + Math.round(e.duration)).join('\n')));
  }
  const whole = await page.evaluate(() => document.getElementById('page-of').textContent);
  loads.sort((a, b) => a - b);
  console.log(`first page after "Sign in": ${signIn} ms`);
  console.log(`first page on loading /ui/ signed in: median ${loads[Math.floor(loads.length / 2)]} ms, best ${loads[0]} ms, worst ${loads[loads.length - 1]} ms over ${runs} loads; target 1000 ms`);
  console.log(`the list once complete: ${whole}`);
  await browser.close();
}

main().catch((e) => { console.error(e); process.exit(1); });
