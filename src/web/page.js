'use strict';
// The page: the window's controls and dialogs. The commands run in a worker
// (the core in WebAssembly), so that long programs never freeze the page.

const $ = (id) => document.getElementById(id);
// The most UTF-8 the text area takes: a longer document is shown read-only,
// a line at a time, as a text area that size takes seconds to lay out.
const kEditableLimit = 256 * 1024;
const kConfigKey = 'varnook/config.ini';

const worker = new Worker(URL.createObjectURL(new Blob([$('workerSource').textContent], { type: 'text/javascript' })));
const textArea = $('txtData');
const longView = $('longDocument');
const state = {
  fileName: '', // the file the document holds, as the title names it
  modified: false,
  editsUnsent: false,
  running: 0, // commands not yet done
  image: '', // the disk image whose catalogue is shown
  long: null, // the long document: { bytes, starts, lineHeight }
};

// ---- talking to the worker ---------------------------------------------------

let nextId = 1;
const pending = new Map();

function send(message, transfer = []) {
  message.id = nextId++;
  worker.postMessage(message, transfer);
  return new Promise((resolve) => pending.set(message.id, resolve));
}

async function command(message, transfer = []) {
  state.running++;
  updateEnabled();
  try {
    return await send(message, transfer);
  } finally {
    state.running--;
    updateEnabled();
  }
}

const fromWorker = {
  ready(message) {
    const select = $('codePage');
    for (const name of message.codePages) {
      select.add(new Option(name, name));
    }
    select.value = message.codePage;
    $(message.readHp ? 'opReadHp' : 'opReadTxt').checked = true;
    $(message.writeTxt ? 'opWriteTxt' : 'opWriteHp').checked = true;
    $('chkLineNum').checked = message.lineNumbers;
    $('txtStart').value = message.start;
    $('txtStep').value = message.step;
    state.ready = true;
    updateEnabled();
    sendOptions();
    $('opReadHp').checked ? $('opReadHp').focus() : $('opReadTxt').focus();
  },
  status(message) {
    $('status').textContent = message.text;
  },
  progress(message) {
    if ('maximum' in message) {
      $('progress').max = Math.max(1, message.maximum);
    }
    if ('value' in message) {
      $('progress').value = message.value;
    }
  },
  // A number field shown as the command read it, and remembered so.
  field(message) {
    $(message.field).value = message.text;
    sendOptions();
  },
  busy(message) {
    $('window').setAttribute('aria-busy', message.busy ? 'true' : 'false');
  },
  document(message) {
    showDocument(new Uint8Array(message.bytes), new Uint32Array(message.lineStarts));
  },
  documentFile(message) {
    state.fileName = message.name;
    setModified(false);
  },
  volume(message) {
    showVolume(message);
  },
  download(message) {
    const link = document.createElement('a');
    link.href = URL.createObjectURL(new Blob([message.bytes], { type: 'application/octet-stream' }));
    link.download = message.name;
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
  },
  config(message) {
    try {
      localStorage.setItem(kConfigKey, message.text);
    } catch {
      // Storage refused (private window, file:// in some browsers): forgotten.
    }
  },
  async ask(message) {
    worker.postMessage({ type: 'answer', value: await answer(message.question) });
  },
  done(message) {
    const resolve = pending.get(message.id);
    pending.delete(message.id);
    resolve(message);
    if (message.error) {
      converterStopped(message.error);
    }
  },
};

worker.onmessage = (event) => fromWorker[event.data.type](event.data);
worker.onerror = (event) => converterStopped(event.message);

// The WebAssembly stopped (out of memory beyond what a page may have, or a
// fault): nothing more can run, and the user is told so once.
function converterStopped(reason) {
  if (!state.stopped) {
    state.stopped = true;
    updateEnabled();
    showMessage({ alert: true, text: `Varnook stopped: ${reason}\nReload the page to go on; the document is as it was.`,
      buttons: [{ label: 'OK', value: 'OK', isDefault: true }], cancelValue: 'OK' });
  }
}

// ---- the document ------------------------------------------------------------

function setModified(modified) {
  state.modified = modified;
  const name = state.fileName ? state.fileName + (modified ? '*' : '') + ' - Varnook' : 'Varnook' + (modified ? '*' : '');
  document.title = name;
}

function showDocument(bytes, starts) {
  state.editsUnsent = false;
  if (bytes.length <= kEditableLimit) {
    state.long = null;
    textArea.value = new TextDecoder().decode(bytes).replaceAll('\r\n', '\n');
    textArea.hidden = false;
    longView.hidden = true;
    $('longNote').hidden = true;
    textArea.setSelectionRange(0, 0);
    textArea.scrollTop = 0;
    return;
  }
  textArea.value = '';
  textArea.hidden = true;
  longView.hidden = false;
  $('longNote').hidden = false;
  const probe = document.createElement('div');
  probe.textContent = 'X';
  $('longDocumentLines').replaceChildren(probe);
  const lineHeight = probe.getBoundingClientRect().height || 19;
  state.long = { bytes, starts, lineHeight, decoder: new TextDecoder() };
  $('longDocumentLines').style.height = starts.length * lineHeight + 'px';
  longView.scrollTop = 0;
  renderLongDocument();
}

// Only the lines in sight are made.
function renderLongDocument() {
  const long = state.long;
  if (!long) {
    return;
  }
  const first = Math.floor(longView.scrollTop / long.lineHeight);
  const last = Math.min(long.starts.length, first + Math.ceil(longView.clientHeight / long.lineHeight) + 1);
  const lines = [];
  for (let line = first; line < last; line++) {
    const end = line + 1 < long.starts.length ? long.starts[line + 1] : long.bytes.length;
    const div = document.createElement('div');
    div.style.top = line * long.lineHeight + 'px';
    div.textContent = long.decoder.decode(long.bytes.subarray(long.starts[line], end)).replace(/\r?\n$/, '');
    lines.push(div);
  }
  $('longDocumentLines').replaceChildren(...lines);
}

longView.addEventListener('scroll', () => requestAnimationFrame(renderLongDocument));
new ResizeObserver(renderLongDocument).observe(longView);
textArea.addEventListener('input', () => {
  state.editsUnsent = true;
  if (!state.modified) {
    setModified(true);
  }
});

async function sendEdits() {
  if (state.editsUnsent) {
    state.editsUnsent = false;
    await send({ type: 'edited', text: textArea.value });
  }
}

// ---- the volume --------------------------------------------------------------

function showVolume(volume) {
  state.image = volume.image;
  $('volumeCaption').textContent = `${volume.image}: volume ${volume.label || '(no label)'}, ${volume.container}, ` +
    `${volume.files.length} ${volume.files.length === 1 ? 'file' : 'files'}, ${volume.free} of ${volume.blocks} blocks free`;
  // A capture is read, never written: its volume can be saved as a plain image.
  const capture = volume.container !== 'disk image';
  $('cmdWriteIntoImage').textContent = `Write Into ${volume.image}`;
  $('cmdWriteIntoImage').hidden = capture;
  $('cmdExportImage').hidden = !capture;
  const rows = volume.files.map((file) => {
    const row = document.createElement('tr');
    const nameCell = document.createElement('td');
    const open = document.createElement('button');
    open.type = 'button';
    open.textContent = file.name;
    open.dataset.unreadable = String(!file.readable);
    open.title = file.readable ? `Read ${file.name} into the document` : file.why;
    open.addEventListener('click', () => readFromVolume(file.name));
    nameCell.append(open);
    row.append(nameCell);
    for (const [text, kind] of [[file.type, ''], [String(file.blocks), 'blocks'], [file.date, ''], [file.why, 'note']]) {
      const cell = document.createElement('td');
      cell.textContent = text;
      cell.className = kind;
      row.append(cell);
    }
    const extractCell = document.createElement('td');
    const extract = document.createElement('button');
    extract.type = 'button';
    extract.textContent = 'Extract';
    extract.setAttribute('aria-label', `Extract ${file.name}`);
    extract.title = `Download ${file.name} in the LIF exchange form`;
    extract.addEventListener('click', () => command({ type: 'extract', image: state.image, name: file.name }));
    extractCell.append(extract);
    row.append(extractCell);
    return row;
  });
  $('volumeFiles').replaceChildren(...rows);
  $('volume').hidden = false;
  updateEnabled();
}

function hideVolume() {
  state.image = '';
  $('volume').hidden = true;
}

// ---- dialogs -----------------------------------------------------------------

// Shows the message dialog; resolves with the value of the button chosen,
// or cancelValue for Esc.
function showMessage({ alert = false, caption = 'Varnook', text, field = null, buttons, cancelValue }) {
  const dialog = $('message');
  dialog.setAttribute('role', alert ? 'alertdialog' : 'dialog');
  $('messageCaption').textContent = caption;
  $('messageText').textContent = text;
  $('messageField').hidden = !field;
  const input = $('messageInput');
  if (field) {
    $('messageFieldLabel').textContent = field.label;
    input.value = field.value;
    $('messageVerdict').textContent = field.verdict || '';
  }
  return new Promise((resolve) => {
    const finish = (value) => {
      dialog.onclose = null;
      dialog.close();
      resolve(value);
    };
    const made = buttons.map(({ label, value }) => {
      const button = document.createElement('button');
      button.type = 'button';
      button.textContent = label;
      button.addEventListener('click', () => finish(field && value !== cancelValue ? input.value : value));
      return button;
    });
    $('messageButtons').replaceChildren(...made);
    const preferred = made[Math.max(0, buttons.findIndex((button) => button.isDefault))];
    input.onkeydown = (event) => {
      if (event.key === 'Enter') {
        event.preventDefault();
        preferred.click();
      }
    };
    dialog.oncancel = (event) => {
      event.preventDefault();
      finish(cancelValue);
    };
    dialog.showModal();
    if (field) {
      input.focus();
      input.select();
    } else {
      preferred.focus();
    }
  });
}

// The worker's questions, in the window's words and with its buttons.
function answer(question) {
  switch (question.kind) {
  case 'alert':
    return showMessage({ alert: true, text: question.text, buttons: [{ label: 'OK', value: 'OK', isDefault: true }],
      cancelValue: 'OK' });
  case 'question':
    return showMessage({ text: question.text, cancelValue: 'No', buttons: [
      { label: 'Yes', value: 'Yes', isDefault: !question.noByDefault },
      { label: 'No', value: 'No', isDefault: question.noByDefault }] });
  case 'save':
    return showMessage({ caption: 'Write File', text: 'The file is downloaded under this name.',
      field: { label: 'File name', value: question.name }, cancelValue: null,
      buttons: [{ label: 'Save', value: 'save', isDefault: true }, { label: 'Cancel', value: null }] });
  case 'volumeName':
    return showMessage({ text: question.text, field: { label: 'Name', value: question.name, verdict: question.verdict },
      cancelValue: null, buttons: [{ label: 'OK', value: 'ok', isDefault: true }, { label: 'Cancel', value: null }] });
  default:
    return Promise.resolve(null);
  }
}

// Edits not yet written are written first, or dropped, as the user says;
// false when the user cancels.
async function setAsideEdits() {
  if (!state.modified) {
    return true;
  }
  const choice = await showMessage({ text: 'The document has changes that were not written. Write them first?',
    cancelValue: 'Cancel', buttons: [
      { label: 'Write', value: 'Write', isDefault: true }, { label: 'Discard', value: 'Discard' },
      { label: 'Cancel', value: 'Cancel' }] });
  if (choice === 'Write') {
    return writeDocument('');
  }
  return choice === 'Discard';
}

// ---- the commands --------------------------------------------------------------

async function readFile(file) {
  const bytes = await file.arrayBuffer();
  hideVolume();
  await command({ type: 'file', name: file.name, bytes }, [bytes]);
  await command({ type: 'read', name: file.name });
}

async function readFromVolume(name) {
  if (await setAsideEdits()) {
    await command({ type: 'read', name: state.image, volumeFile: name });
  }
}

async function writeDocument(intoImage) {
  await sendEdits();
  const result = await command({ type: 'write', intoImage });
  return result.written;
}

async function cmdReadClick() {
  if (await setAsideEdits()) {
    $('fileChooser').value = '';
    $('fileChooser').click();
  }
}

$('fileChooser').addEventListener('change', () => {
  const file = $('fileChooser').files[0];
  if (file) {
    readFile(file);
  }
});
$('cmdRead').addEventListener('click', cmdReadClick);
$('cmdWrite').addEventListener('click', () => writeDocument(''));
$('cmdWriteIntoImage').addEventListener('click', () => writeDocument(state.image));
$('cmdExportImage').addEventListener('click', () => command({ type: 'export', image: state.image }));
$('cmdVer').addEventListener('click', () => $('about').showModal());

document.addEventListener('keydown', (event) => {
  if ((event.ctrlKey || event.metaKey) && !event.altKey && !document.querySelector('dialog[open]') &&
      (event.key === 'o' || event.key === 's')) {
    event.preventDefault();
    const button = $(event.key === 'o' ? 'cmdRead' : 'cmdWrite');
    if (!button.disabled) {
      button.click();
    }
  }
});

// A file dropped anywhere on the page is read as Read File reads it.
let dragDepth = 0;
document.addEventListener('dragenter', (event) => {
  if (event.dataTransfer.types.includes('Files')) {
    dragDepth++;
    $('dropHint').hidden = false;
  }
});
document.addEventListener('dragleave', () => {
  dragDepth = Math.max(0, dragDepth - 1);
  $('dropHint').hidden = dragDepth > 0 ? false : true;
});
document.addEventListener('dragover', (event) => {
  if (event.dataTransfer.types.includes('Files')) {
    event.preventDefault();
    event.dataTransfer.dropEffect = 'copy';
  }
});
document.addEventListener('drop', async (event) => {
  dragDepth = 0;
  $('dropHint').hidden = true;
  const file = event.dataTransfer.files[0];
  if (!file) {
    return;
  }
  event.preventDefault();
  if (state.running === 0 && (await setAsideEdits())) {
    readFile(file);
  }
});

window.addEventListener('beforeunload', (event) => {
  if (state.modified) {
    event.preventDefault();
  }
});

// ---- the options -----------------------------------------------------------------

function updateEnabled() {
  const idle = state.ready && state.running === 0 && !state.stopped;
  const readTxt = $('opReadTxt').checked;
  const numbering = readTxt && $('chkLineNum').checked;
  for (const id of ['cmdRead', 'cmdWrite', 'opReadHp', 'opReadTxt', 'opWriteHp', 'opWriteTxt', 'codePage']) {
    $(id).disabled = !idle;
  }
  // Typing while a command runs would be lost when it ends.
  textArea.readOnly = !idle;
  $('chkLineNum').disabled = !idle || !readTxt;
  $('txtStart').disabled = !idle || !numbering;
  $('txtStep').disabled = !idle || !numbering;
  for (const button of document.querySelectorAll('#volume button')) {
    button.disabled = !idle || button.dataset.unreadable === 'true';
  }
}

function sendOptions() {
  send({ type: 'options', readHp: $('opReadHp').checked, lineNumbers: $('chkLineNum').checked,
    start: $('txtStart').value, step: $('txtStep').value, writeTxt: $('opWriteTxt').checked,
    codePage: $('codePage').value });
}

for (const id of ['opReadHp', 'opReadTxt', 'opWriteHp', 'opWriteTxt', 'chkLineNum', 'codePage', 'txtStart', 'txtStep']) {
  $(id).addEventListener('change', () => {
    updateEnabled();
    sendOptions();
  });
}

// Start and Step take digits as they are typed; the whole text is selected
// when the field is entered.
for (const id of ['txtStart', 'txtStep']) {
  const field = $(id);
  field.addEventListener('beforeinput', (event) => {
    if (event.inputType === 'insertText' && /[^0-9]/.test(event.data || '')) {
      event.preventDefault();
    }
  });
  field.addEventListener('focus', () => setTimeout(() => field.select(), 0));
}

let storedConfig = null;
try {
  storedConfig = localStorage.getItem(kConfigKey);
} catch {
  // No storage: the defaults.
}
updateEnabled();
send({ type: 'start', config: storedConfig, language: navigator.language || '' });
