// The page's worker, after the compiled core: runs the page's commands one
// after another, posts what they show and waits for what they ask.

let answerQuestion = null;

function varnookPost(message, transfer = []) {
  if (message.type === 'document') {
    message.lineStarts = lineStarts(new Uint8Array(message.bytes)).buffer;
    transfer.push(message.lineStarts);
  }
  postMessage(message, transfer);
}

// Where each line of the document begins, for the page's long-document view.
function lineStarts(bytes) {
  const starts = [0];
  for (let at = bytes.indexOf(10); at !== -1; at = bytes.indexOf(10, at + 1)) {
    if (at + 1 < bytes.length) {
      starts.push(at + 1);
    }
  }
  return Uint32Array.from(starts);
}

function varnookAsk(question) {
  return new Promise((resolve) => {
    answerQuestion = resolve;
    postMessage({ type: 'ask', question });
  });
}

function withBytes(bytes, use) {
  const at = _malloc(Math.max(1, bytes.length));
  HEAPU8.set(bytes, at);
  try {
    return use(at, bytes.length);
  } finally {
    _free(at);
  }
}

const commands = {
  start(message) {
    FS.mkdirTree('/settings');
    if (message.config) {
      FS.writeFile('/settings/config.ini', message.config);
    }
    ccall('web_start', null, ['string'], [message.language]);
  },
  // The file the user gives takes the place of every earlier one: the page
  // holds one file (and what is written from it) at a time.
  file(message) {
    FS.mkdirTree('/files');
    for (const name of FS.readdir('/files')) {
      if (name !== '.' && name !== '..') {
        FS.unlink('/files/' + name);
      }
    }
    FS.writeFile('/files/' + message.name, new Uint8Array(message.bytes));
  },
  options(message) {
    ccall('web_options', null, ['number', 'number', 'string', 'string', 'number', 'string'],
      [message.readHp ? 1 : 0, message.lineNumbers ? 1 : 0, message.start, message.step, message.writeTxt ? 1 : 0,
        message.codePage]);
  },
  edited(message) {
    withBytes(new TextEncoder().encode(message.text), (at, size) => _web_edited(at, size));
  },
  async read(message) {
    await ccall('web_read', null, ['string', 'string'], [message.name, message.volumeFile || ''], { async: true });
  },
  async write(message) {
    const written = await ccall('web_write', 'number', ['string'], [message.intoImage || ''], { async: true });
    return { written: written === 1 };
  },
  async export(message) {
    await ccall('web_export', null, ['string'], [message.image], { async: true });
  },
  async extract(message) {
    await ccall('web_extract', null, ['string', 'string'], [message.image, message.name], { async: true });
  },
};

const runtimeReady = new Promise((resolve) => {
  if (runtimeInitialized) {
    resolve();
  } else {
    Module.onRuntimeInitialized = resolve;
  }
});
let queue = runtimeReady;

onmessage = (event) => {
  const message = event.data;
  if (message.type === 'answer') {
    const answer = answerQuestion;
    answerQuestion = null;
    answer(message.value);
    return;
  }
  queue = queue.then(async () => {
    let result = {};
    try {
      result = (await commands[message.type](message)) || {};
    } catch (error) {
      result = { error: String(error) };
    }
    postMessage(Object.assign({ type: 'done', command: message.type, id: message.id }, result));
  });
};
