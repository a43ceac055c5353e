// The page's Web Worker, around the WebAssembly module (module.cpp). Every job runs here, on
// the worker's own thread, so the page never waits on it. The page posts one job at a time:
//   {op: 'describe', files, name}                  the set that `name` begins
//   {op: 'check', files, name}                     test, restoring as it decodes
//   {op: 'pack', files, name, split}               pack `name`, whole or into volumes
// with the files the user chose; the worker answers {type: 'progress', step, percent} while it
// works and {type: 'result', result, output} at the end, output being a Blob of the bytes the
// job wrote (what the test decoded, or the packed stream), or null. Cancel is the page ending
// the worker.
var Module = typeof Module !== 'undefined' ? Module : {};
(function () {
  var isWorker = typeof importScripts === 'function' && typeof postMessage === 'function';

  // The bytes a job writes, gathered into Blobs of PIECE bytes: the worker holds at most one
  // piece of them, and the browser may keep a Blob outside the tab's memory.
  var PIECE = 8 * 1024 * 1024;
  var piece = null;
  var used = 0;
  var blobs = [];
  function flush() {
    if (used) blobs.push(new Blob([piece.subarray(0, used)]));
    used = 0;
  }
  Module.onOutput = Module.onOutput || function (view) {
    for (var at = 0; at < view.length;) {
      if (!piece) piece = new Uint8Array(PIECE);
      var n = Math.min(view.length - at, PIECE - used);
      piece.set(view.subarray(at, at + n), used);
      used += n;
      at += n;
      if (used === PIECE) flush();
    }
  };
  Module.onProgress = Module.onProgress || function (step, percent) {
    if (isWorker) postMessage({ type: 'progress', step: step, percent: percent });
  };
  if (!isWorker) return;

  // The module is inside this script: the loader would first try to fetch it from its data
  // URL, which the page's policy refuses. Without fetch it decodes the module in place, and
  // nothing in the worker can make a request at all.
  self.fetch = undefined;

  var ready = false;
  var queue = [];
  Module.onRuntimeInitialized = function () {
    ready = true;
    postMessage({ type: 'ready' });
    while (queue.length) run(queue.shift());
  };

  // Reading a chosen file costs a call into the browser per read, and the C library reads a
  // kilobyte or two at a time: the worker reads READ_AHEAD bytes at once and answers the
  // reads that follow from them.
  var READ_AHEAD = 1024 * 1024;
  var ahead = { file: null, start: 0, bytes: new Uint8Array(0) };
  var bytesRead = 0; // by the module in this job, from all the files
  function readAhead(stream, buffer, offset, length, position) {
    var file = stream.node.contents;
    var end = Math.min(position + length, file.size);
    if (position >= end) return 0;
    bytesRead += end - position;
    if (ahead.file !== file || position < ahead.start || end > ahead.start + ahead.bytes.length) {
      var stop = Math.min(file.size, position + Math.max(length, READ_AHEAD));
      ahead = { file: file, start: position,
                bytes: new Uint8Array(WORKERFS.reader.readAsArrayBuffer(file.slice(position, stop))) };
    }
    buffer.set(ahead.bytes.subarray(position - ahead.start, end - ahead.start), offset);
    return end - position;
  }

  // The files the user chose, mounted in /in and read in place, as the current folder.
  function mount(files) {
    FS.chdir('/');
    try { FS.unmount('/in'); } catch (e) { /* nothing mounted yet */ }
    try { FS.mkdir('/in'); } catch (e) { /* it exists */ }
    FS.mount(WORKERFS, { files: files }, '/in');
    if (!WORKERFS.reader) WORKERFS.reader = new FileReaderSync();
    WORKERFS.stream_ops.read = readAhead;
    ahead = { file: null, start: 0, bytes: new Uint8Array(0) };
    FS.chdir('/in');
  }

  function run(job) {
    used = 0; blobs = []; bytesRead = 0;
    Module.ccall('pw_set_language', null, ['number'], [job.lang === 'ja' ? 1 : 0]);
    mount(job.files);
    var text;
    if (job.op === 'describe')
      text = Module.ccall('pw_describe_set', 'string', ['string'], [job.name]);
    else if (job.op === 'check')
      text = Module.ccall('pw_check', 'string', ['string'], [job.name]);
    else if (job.op === 'pack')
      text = Module.ccall('pw_pack', 'string', ['string', 'string'], [job.name, job.split || '']);
    flush();
    ahead = { file: null, start: 0, bytes: new Uint8Array(0) };
    var output = blobs.length ? new Blob(blobs) : null;
    blobs = [];
    // The module's memory after the job and the bytes it read, for the page to show that a
    // large file streamed through once.
    postMessage({ type: 'result', op: job.op, result: JSON.parse(text), output: output,
                  memory: HEAPU8.length, read: bytesRead });
  }

  self.onmessage = function (event) {
    if (ready) run(event.data); else queue.push(event.data);
  };
})();
