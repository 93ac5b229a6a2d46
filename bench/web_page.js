'use strict';
// How long the browser page stops answering while it reads and writes a
// long program: the longest gap between the ticks of a 10 ms timer on its
// main thread (a probe pinging its event loop), and the whole command's time.
// Usage: node bench/web_page.js PAGE PROGRAM.asc REPETITIONS

const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { chromium } = require('playwright-core');

const [pagePath, program, repetitions = '3'] = process.argv.slice(2);
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

(async () => {
  const browser = await chromium.launch({ executablePath: '/usr/bin/chromium-headless-shell',
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update'] });
  const runs = { read: [], write: [], readTime: [], writeTime: [] };
  for (let run = 0; run < Number(repetitions); run++) {
    const page = await (await browser.newContext({ acceptDownloads: true })).newPage();
    await page.goto('file://' + path.resolve(pagePath));
    await page.getByRole('button', { name: 'Read File' }).and(page.locator(':enabled')).waitFor();
    await page.evaluate(() => {
      window.longest = 0;
      let last = performance.now();
      setInterval(() => {
        const now = performance.now();
        window.longest = Math.max(window.longest, now - last);
        last = now;
      }, 10);
    });
    await page.getByRole('radiogroup', { name: 'Read' }).getByRole('radio', { name: 'HP BASIC ASCII' }).check();
    await page.getByRole('radiogroup', { name: 'Write' }).getByRole('radio', { name: 'TXT' }).check();
    const measure = async (label, act) => {
      await page.evaluate(() => { window.longest = 0; });
      const start = Date.now();
      await act();
      runs[label + 'Time'].push(Date.now() - start);
      await page.waitForTimeout(100); // the tick after the last task
      runs[label].push(await page.evaluate(() => window.longest));
    };
    await measure('read', async () => {
      const chooser = page.waitForEvent('filechooser');
      await page.getByRole('button', { name: 'Read File' }).click();
      await (await chooser).setFiles(program);
      await page.waitForFunction((name) => document.title.startsWith(name), path.basename(program), { timeout: 120000 });
    });
    await measure('write', async () => {
      const download = page.waitForEvent('download', { timeout: 120000 });
      await page.getByRole('button', { name: 'Write File' }).click();
      await page.getByRole('dialog', { name: 'Write File' }).getByRole('button', { name: 'Save' }).click();
      await (await download).saveAs(path.join(os.tmpdir(), 'varnook-bench-download'));
    });
    await page.close();
  }
  await browser.close();
  fs.rmSync(path.join(os.tmpdir(), 'varnook-bench-download'), { force: true });
  const size = (fs.statSync(program).size / 1e6).toFixed(0);
  console.log(`${size} MB program, median of ${repetitions}:`);
  console.log(`  read:  longest freeze ${median(runs.read).toFixed(0)} ms, command ${median(runs.readTime)} ms`);
  console.log(`  write: longest freeze ${median(runs.write).toFixed(0)} ms, command ${median(runs.writeTime)} ms`);
})();
