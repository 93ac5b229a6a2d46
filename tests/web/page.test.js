'use strict';
// The browser page, driven in headless Chromium as a user would: by the
// controls' names. What it downloads must be the bytes varnook-convert
// makes of the same input with the same options.

const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { chromium } = require('playwright-core');

const root = path.resolve(__dirname, '../..');
const pageUrl = 'file://' + path.resolve(process.env.VARNOOK_PAGE || path.join(root, 'build-web/varnook.html'));
const convert = process.env.VARNOOK_CONVERT || path.join(root, 'build/bin/varnook-convert');
const example = (name) => path.join(root, 'examples', name);
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'varnook-web-'));
const inWork = (name, bytes) => {
  fs.writeFileSync(path.join(work, name), bytes);
  return path.join(work, name);
};
const cli = (...args) => execFileSync(convert, args);

let browser;
const requests = [];
const consoleErrors = []; // a request the page's policy refused shows here
before(async () => {
  browser = await chromium.launch({
    executablePath: process.env.VARNOOK_CHROMIUM || '/usr/bin/chromium-headless-shell',
    // No background traffic: every request the tests see is the page's.
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
      '--disable-sync', '--no-first-run'],
  });
});
after(async () => {
  await browser.close();
  fs.rmSync(work, { recursive: true, force: true });
  // The page, its worker (a blob) and nothing else: it works offline.
  assert.deepEqual(requests.filter((url) => !url.startsWith(pageUrl) && !url.startsWith('blob:')), []);
  assert.deepEqual(consoleErrors, []);
});

async function openPage(context) {
  context = context || await browser.newContext({ acceptDownloads: true });
  const page = await context.newPage();
  page.setDefaultTimeout(10000);
  page.on('request', (request) => requests.push(request.url()));
  page.on('console', (message) => message.type() === 'error' && consoleErrors.push(message.text()));
  page.on('pageerror', (error) => assert.fail(error.message));
  await page.goto(pageUrl);
  await page.getByRole('button', { name: 'Read File' }).and(page.locator(':enabled')).waitFor();
  return page;
}

async function setOptions(page, { read, write, lineNumbers = false, start, step, codePage }) {
  if (read) {
    await page.getByRole('radiogroup', { name: 'Read' }).getByRole('radio', { name: read }).check();
  }
  if (write) {
    await page.getByRole('radiogroup', { name: 'Write' }).getByRole('radio', { name: write }).check();
  }
  if (read === 'TXT') {
    await page.getByRole('checkbox', { name: 'Insert LineNumber' }).setChecked(lineNumbers);
  }
  if (start) {
    await page.getByRole('textbox', { name: 'Start' }).fill(start);
    await page.getByRole('textbox', { name: 'Start' }).blur();
  }
  if (step) {
    await page.getByRole('textbox', { name: 'Step' }).fill(step);
    await page.getByRole('textbox', { name: 'Step' }).blur();
  }
  if (codePage) {
    await page.getByRole('combobox', { name: 'Code page' }).selectOption(codePage);
  }
}

async function readFile(page, file) {
  const chooser = page.waitForEvent('filechooser');
  await page.getByRole('button', { name: 'Read File' }).click();
  await (await chooser).setFiles(file);
}

// Clicks the button and takes the download it starts: its name and bytes.
async function download(page, click) {
  const started = page.waitForEvent('download');
  await click();
  const file = await started;
  const saved = path.join(work, 'download-' + file.suggestedFilename());
  await file.saveAs(saved);
  return { name: file.suggestedFilename(), bytes: fs.readFileSync(saved) };
}

async function writeFile(page) {
  return download(page, async () => {
    await page.getByRole('button', { name: 'Write File' }).click();
    await page.getByRole('dialog', { name: 'Write File' }).getByRole('button', { name: 'Save' }).click();
  });
}

const unnumbered = inWork('katakana.txt', Buffer.from('PRINT "\xb1\xb2\xb3"\r\nEND\r\n', 'latin1'));
// Over 256 KB: shown read-only, a line at a time.
const long = inWork('long.txt', Buffer.from('PRINT "LINE";I\r\n'.repeat(20000)));
const conversions = [
  // the worked example both ways
  { input: example('SWEEP.asc'), read: 'HP BASIC ASCII', write: 'TXT', codePage: 'windows-1252', offered: 'SWEEP.txt',
    args: ['convert', '--to', 'txt', '--code-page', 'windows-1252'] },
  { input: example('sweep.txt'), read: 'TXT', write: 'HP BASIC ASCII', codePage: 'windows-1252', offered: 'sweep.asc',
    args: ['convert', '--to', 'hp', '--code-page', 'windows-1252'] },
  { input: unnumbered, read: 'TXT', write: 'HP BASIC ASCII', codePage: 'windows-932', lineNumbers: true, start: '100',
    step: '5', offered: 'katakana.asc',
    args: ['convert', '--to', 'hp', '--code-page', 'windows-932', '--line-numbers', '--start', '100', '--step', '5'] },
  { input: example('TESTMENU.asc'), read: 'HP BASIC ASCII', write: 'TXT', codePage: 'hp-roman8',
    offered: 'TESTMENU.txt', args: ['convert', '--to', 'txt', '--code-page', 'hp-roman8'] },
  { input: example('dvmread.txt'), read: 'TXT', write: 'TXT', codePage: 'UTF-8', offered: 'dvmread.txt',
    args: ['convert', '--from', 'txt', '--to', 'txt', '--code-page', 'UTF-8'] },
  { input: long, read: 'TXT', write: 'HP BASIC ASCII', lineNumbers: true, start: '1', step: '1', offered: 'long.asc',
    firstLine: '1 PRINT "LINE";I',
    args: ['convert', '--to', 'hp', '--code-page', 'UTF-8', '--line-numbers', '--start', '1', '--step', '1'] },
];

test('conversions download the bytes varnook-convert writes', async () => {
  const page = await openPage();
  for (const row of conversions) {
    await setOptions(page, row);
    await readFile(page, row.input);
    await page.waitForFunction((name) => document.title.startsWith(name + ' - '), path.basename(row.input));
    if (row.firstLine) {
      const view = page.getByRole('textbox', { name: 'Document' });
      assert.equal(await view.getAttribute('aria-readonly'), 'true');
      assert.equal((await view.innerText()).split('\n')[0], row.firstLine);
    }
    const written = await writeFile(page);
    assert.equal(written.name, row.offered);
    assert.deepEqual(written.bytes, cli(...row.args, row.input), path.basename(row.input));
  }
});

test('a disk image shows its volume, reads, extracts and takes the document back', async () => {
  const page = await openPage();
  const image = example('EXAMPLES.lif');
  await setOptions(page, { read: 'HP BASIC ASCII', write: 'TXT', codePage: 'windows-1252' });
  await readFile(page, image);
  const volume = page.getByRole('table', { name: 'Volume' });
  const listed = cli('list', image).toString();
  const names = await volume.getByRole('row').locator('td:first-child').allInnerTexts();
  assert.ok(names.length > 1);
  for (const name of names) {
    assert.match(listed, new RegExp('^' + name + ' ', 'm'));
  }
  await volume.getByRole('button', { name: 'SWEEP', exact: true }).click();
  await page.waitForFunction(() => document.title === 'SWEEP in EXAMPLES.lif - Varnook');
  const text = cli('read', image, 'SWEEP', '--to', 'txt', '--code-page', 'windows-1252').toString('latin1');
  assert.equal(await page.getByRole('textbox', { name: 'Document' }).inputValue(), text.replaceAll('\r\n', '\n'));

  const extracted = await download(page, () => volume.getByRole('button', { name: 'Extract SWEEP' }).click());
  assert.equal(extracted.name, 'SWEEP');
  assert.deepEqual(extracted.bytes, cli('extract', image, 'SWEEP'));

  await page.getByRole('textbox', { name: 'Document' }).press('Control+End');
  await page.getByRole('textbox', { name: 'Document' }).type('190   ! END OF SWEEP\n');
  assert.match(await page.title(), /^SWEEP in EXAMPLES\.lif\* - Varnook$/);
  const changed = await download(page, async () => {
    await page.getByRole('button', { name: 'Write Into EXAMPLES.lif' }).click();
    const dialog = page.getByRole('dialog');
    assert.equal(await dialog.getByRole('textbox', { name: 'Name' }).inputValue(), 'SWEEP');
    await dialog.getByRole('textbox', { name: 'Name' }).fill('SWEEP2');
    await dialog.getByRole('button', { name: 'OK' }).click();
  });
  assert.equal(changed.name, 'EXAMPLES.lif');
  const changedImage = inWork('changed.lif', changed.bytes);
  cli('check', changedImage);
  assert.equal(cli('read', changedImage, 'SWEEP2', '--to', 'txt').toString('latin1'),
    text + '190   ! END OF SWEEP\r\n');
  await volume.getByRole('button', { name: 'SWEEP2', exact: true }).waitFor();
});

test('a capture shows its volume and is saved as the plain image varnook-convert exports', async () => {
  const page = await openPage();
  const capture = path.join(work, 'EXAMPLES.td0');
  execFileSync(path.join(path.dirname(convert), 'varnook_bench'), ['--make-capture', example('EXAMPLES.lif'), capture]);
  await setOptions(page, { read: 'HP BASIC ASCII' });
  await readFile(page, capture);
  await page.getByRole('table', { name: 'Volume' }).getByRole('button', { name: 'SINEPLOT', exact: true }).waitFor();
  assert.match(await page.getByRole('heading').innerText(), /EXAMPLES\.td0: volume EXAMPL, TeleDisk capture/);
  assert.equal(await page.getByRole('button', { name: /^Write Into/ }).count(), 0);
  const plain = await download(page, () => page.getByRole('button', { name: 'Save As Plain Image' }).click());
  assert.equal(plain.name, 'EXAMPLES.lif');
  cli('export', capture, '-o', path.join(work, 'exported.lif'));
  assert.deepEqual(plain.bytes, fs.readFileSync(path.join(work, 'exported.lif')));
});

test('a failure is an alert naming the file and the reason varnook-convert gives', async () => {
  const page = await openPage();
  const bad = inWork('bad.txt', Buffer.from('PRINT "\xff"\r\n', 'latin1'));
  const refused = spawnSync(convert, ['convert', '--from', 'txt', '--to', 'txt', '--code-page', 'UTF-8', bad]);
  assert.notEqual(refused.status, 0);
  const reason = refused.stderr.toString().trim().split(bad + ': ').pop();
  await setOptions(page, { read: 'TXT', codePage: 'UTF-8' });
  await readFile(page, bad);
  const alert = page.getByRole('alertdialog');
  assert.equal(await alert.locator('#messageText').innerText(), 'Could not read bad.txt.\n' + reason[0].toUpperCase() +
    reason.slice(1) + '.');
  await alert.getByRole('button', { name: 'OK' }).click();
  assert.equal(await page.title(), 'Varnook');
  assert.equal(await page.getByRole('status').innerText(), 'Reading failed');
});

test('a file of the other kind is asked about, then read as what it is', async () => {
  const page = await openPage();
  await setOptions(page, { read: 'HP BASIC ASCII' });
  await readFile(page, example('sweep.txt'));
  const question = page.getByRole('dialog');
  assert.match(await question.innerText(), /sweep\.txt is not an HP BASIC ASCII program file\. Read it as text\?/);
  await question.getByRole('button', { name: 'Yes' }).click();
  await page.waitForFunction(() => document.title === 'sweep.txt - Varnook');
  assert.equal(await page.getByRole('textbox', { name: 'Document' }).inputValue(),
    fs.readFileSync(example('sweep.txt'), 'latin1').replaceAll('\r\n', '\n'));
});

test('a dropped file is read; unwritten edits are asked about first', async () => {
  const page = await openPage();
  const drop = (name, bytes) => page.evaluate(([name, bytes]) => {
    const transfer = new DataTransfer();
    transfer.items.add(new File([new Uint8Array(bytes)], name));
    document.getElementById('txtData').dispatchEvent(new DragEvent('drop', { dataTransfer: transfer, bubbles: true }));
  }, [name, [...fs.readFileSync(example(name))]]);
  await setOptions(page, { read: 'HP BASIC ASCII' });
  await drop('SWEEP.asc');
  await page.waitForFunction(() => document.title === 'SWEEP.asc - Varnook');
  await page.getByRole('textbox', { name: 'Document' }).type('X');
  await drop('DVMREAD.asc');
  const question = page.getByRole('dialog');
  assert.match(await question.innerText(), /changes that were not written/);
  assert.deepEqual(await question.getByRole('button').allInnerTexts(), ['Write', 'Discard', 'Cancel']);
  await question.getByRole('button', { name: 'Cancel' }).click();
  assert.equal(await page.title(), 'SWEEP.asc* - Varnook');
  await drop('DVMREAD.asc');
  await page.getByRole('dialog').getByRole('button', { name: 'Discard' }).click();
  await page.waitForFunction(() => document.title === 'DVMREAD.asc - Varnook');
});

test("the code page follows the browser's language; the options and the code page are remembered", async () => {
  const context = await browser.newContext({ locale: 'ja-JP' });
  let page = await openPage(context);
  assert.equal(await page.getByRole('combobox', { name: 'Code page' }).inputValue(), 'windows-932');
  await setOptions(page, { read: 'TXT', write: 'HP BASIC ASCII', lineNumbers: true, start: '500', step: '20',
    codePage: 'ibm-850' });
  // Kept once the worker has written them to config.ini.
  await page.waitForFunction(() => /CodePage=ibm-850/.test(localStorage.getItem('varnook/config.ini')));
  await page.close();
  page = await openPage(context);
  assert.ok(await page.getByRole('radiogroup', { name: 'Read' }).getByRole('radio', { name: 'TXT' }).isChecked());
  assert.ok(await page.getByRole('radiogroup', { name: 'Write' }).getByRole('radio', { name: 'HP BASIC ASCII' })
    .isChecked());
  assert.ok(await page.getByRole('checkbox', { name: 'Insert LineNumber' }).isChecked());
  assert.equal(await page.getByRole('textbox', { name: 'Start' }).inputValue(), '500');
  assert.equal(await page.getByRole('textbox', { name: 'Step' }).inputValue(), '20');
  assert.equal(await page.getByRole('combobox', { name: 'Code page' }).inputValue(), 'ibm-850');
});
