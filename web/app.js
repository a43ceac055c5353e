// The page: chooses the files, hands each job to the Web Worker (worker-pre.js and the module)
// and shows what the job answers. Every decision about a packed file (its set, its volumes,
// whether it is sound, what it restores, what a pack writes) is the module's; the page only
// shows it and offers the bytes to save.
'use strict';

(function () {
  var $ = function (id) { return document.getElementById(id); };
  var lang = (navigator.languages && navigator.languages[0] || navigator.language || 'en')
    .toLowerCase().indexOf('ja') === 0 ? 'ja' : 'en';

  // Texts from the program's catalogue (texts.js), with their printf placeholders filled.
  function t(name) {
    var entry = PACKTOOL_TEXTS[name];
    return entry ? entry[lang === 'ja' ? 1 : 0] : name;
  }
  function fmt(text) {
    var args = Array.prototype.slice.call(arguments, 1);
    return text.replace(/%(%|-?\d*(?:\.\d+)?(?:ll|l)?[sdu])/g, function (all, conversion) {
      return conversion === '%' ? '%' : String(args.shift());
    });
  }
  function applyTexts() {
    document.documentElement.lang = lang;
    document.title = t('IDS_WEB_TITLE');
    document.querySelectorAll('[data-text]').forEach(function (element) {
      element.textContent = t(element.getAttribute('data-text'));
    });
    $('language').value = lang;
  }

  // --- The worker: one job at a time; Cancel ends the worker, the next job starts a new one.
  var worker = null;
  var job = null;
  var workerUrl = URL.createObjectURL(new Blob([PACKTOOL_WORKER_SOURCE], { type: 'text/javascript' }));
  var stepNames = ['IDS_WEB_STEP_CHECK', 'IDS_WEB_STEP_RESTORE', 'IDS_STATE_COMPRESSING'];

  function startWorker() {
    worker = new Worker(workerUrl);
    worker.onerror = workerFailed;
    worker.onmessage = function (event) {
      var message = event.data;
      if (message.type === 'progress') {
        $('progress').value = message.percent;
        $('progress-label').textContent = t(stepNames[message.step]) + ' ' + message.percent + '%';
      } else if (message.type === 'result' && job) {
        var done = job;
        job = null;
        window.packtoolModuleMemory = message.memory;
        window.packtoolBytesRead = message.read;
        showBusy(false);
        done.resolve(message);
      }
    };
  }
  // A worker that fails (the module could not start, or stopped on an error) ends the job
  // with the browser's message; the next job starts a new worker.
  function workerFailed(event) {
    event.preventDefault();
    if (worker) worker.terminate();
    worker = null;
    if (!job) return;
    var failed = job;
    job = null;
    showBusy(false);
    failed.reject(new Error(event.message || 'worker'));
  }
  function runJob(request) {
    if (!worker) startWorker();
    request.lang = lang;
    showBusy(true);
    return new Promise(function (resolve, reject) {
      job = { resolve: resolve, reject: reject };
      worker.postMessage(request);
    });
  }
  function cancelJob() {
    if (!job) return;
    worker.terminate();
    worker = null;
    var cancelled = job;
    job = null;
    showBusy(false);
    cancelled.reject(new Error('cancelled'));
  }
  function showBusy(busy) {
    $('progress-panel').hidden = !busy;
    document.body.setAttribute('aria-busy', busy ? 'true' : 'false');
    document.querySelectorAll('#restore input, #pack-form input, #pack-form select, #pack-button')
      .forEach(function (control) { control.disabled = busy; });
    if (busy) {
      $('progress').value = 0;
      $('progress-label').textContent = t('IDS_WEB_PROGRESS');
      $('cancel').focus();
    }
  }

  // --- Showing results.
  function clear(element) { while (element.firstChild) element.removeChild(element.firstChild); }
  function line(parent, text, className) {
    var p = document.createElement('p');
    p.textContent = text.replace(/\r\n/g, '\n').replace(/^\n+|\n+$/g, '');
    if (className) p.className = className;
    parent.appendChild(p);
    return p;
  }
  // A link that saves blob under name; the Blob stays on the link for as long as it is shown.
  function saveLink(parent, blob, name, label, className) {
    var a = document.createElement('a');
    a.href = URL.createObjectURL(blob);
    a.download = name;
    a.textContent = label;
    a.className = 'button ' + (className || 'save');
    a.dataset.file = name;
    a.packtoolBlob = blob;
    parent.appendChild(a);
    return a;
  }
  function forgetLinks(parent) {
    parent.querySelectorAll('a[href^="blob:"]').forEach(function (a) { URL.revokeObjectURL(a.href); });
    clear(parent);
  }
  function cancelled(parent) {
    return function (error) {
      line(parent, error && error.message !== 'cancelled' ? error.message : t('IDS_JOB_CANCELLED'), 'verdict bad');
    };
  }

  // --- Restore.
  // The first file of the set: a name whose extension begins with 0 (.0KX, .0RV), else the
  // one file given that is no manifest.
  function packedFileAmong(files) {
    var names = files.map(function (file) { return file.name; });
    var first = names.filter(function (name) { return /\.0[^.]*$/i.test(name); });
    if (first.length) return first.sort()[0];
    var others = names.filter(function (name) { return !/\.sha256$/i.test(name); });
    return others.length === 1 ? others[0] : null;
  }

  function restore(chosen) {
    // One file per name: the same file dropped twice, or from a folder and on its own.
    var seen = {};
    var files = chosen.filter(function (file) {
      if (seen[file.name]) return false;
      seen[file.name] = true;
      return true;
    });
    var setView = $('restore-set'), report = $('restore-report'), save = $('restore-save');
    clear(setView); clear(report); forgetLinks(save);
    var name = packedFileAmong(files);
    if (!name) {
      line(report, t('IDS_WEB_NO_PACKED_FILE'), 'verdict bad');
      return Promise.resolve();
    }
    return runJob({ op: 'describe', files: files, name: name }).then(function (message) {
      showSet(setView, name, message.result);
      return runJob({ op: 'check', files: files, name: name });
    }).then(function (message) {
      showCheck(report, save, message);
    }, cancelled(report));
  }

  function showSet(view, name, set) {
    if (!set.isSet) {
      line(view, fmt(t('IDS_WEB_SINGLE_NAMED'), name));
      return;
    }
    line(view, fmt(t('IDS_WEB_SET_NAMED'), name, set.count));
    var list = document.createElement('ul');
    list.id = 'volumes';
    set.volumes.forEach(function (volume, index) {
      var item = document.createElement('li');
      if (volume.found) {
        item.textContent = fmt(t('IDS_WEB_VOLUME_FOUND'), volume.found);
      } else {
        item.textContent = fmt(t('IDS_WEB_VOLUME_MISSING'), volume.expected, index + 1, set.count);
        item.className = 'missing';
      }
      list.appendChild(item);
    });
    view.appendChild(list);
  }

  function showCheck(report, save, message) {
    var result = message.result;
    result.warnings.forEach(function (warning) {
      line(report, fmt(t('IDS_CLI_WARNING'), warning), 'warning');
    });
    line(report, result.text, 'verdict ' + (result.verdict === 'sound' ? 'sound' : 'bad')).id = 'verdict';
    result.manifestLines.forEach(function (text) {
      line(report, text, result.manifestMatches ? '' : 'verdict bad');
    });
    if (result.invalid) line(report, result.invalid, 'verdict bad');
    // The bytes the test decoded: the project file of a sound set, what a damaged stream
    // decoded, or nothing to keep.
    var output = message.output || new Blob([]);
    if (result.sound) {
      line(report, fmt(t('IDS_WEB_RESTORED_BYTES'), result.project, output.size));
      saveLink(save, output, result.project, fmt(t('IDS_WEB_SAVE'), result.project)).focus();
      return;
    }
    line(report, t('IDS_WEB_NOT_RESTORED'));
    if (result.keepable) {
      var brokenName = result.project + '.broken';
      var keep = document.createElement('button');
      keep.type = 'button';
      keep.id = 'keep-broken';
      keep.textContent = fmt(t('IDS_WEB_KEEP_BROKEN'), brokenName);
      keep.addEventListener('click', function () {
        keep.remove();
        saveLink(save, output, brokenName, fmt(t('IDS_WEB_SAVE'), brokenName), 'broken').focus();
      });
      save.appendChild(keep);
    }
  }

  // Files from a drop: folders are read one level deep, as the set lies in one folder.
  // Chromium's handles read a dropped folder also on a page opened from a file path, where
  // its entries refuse to; other browsers give entries. Rejects when a folder cannot be read.
  // Both kinds must be asked for while the drop event runs.
  function filesFromDrop(dataTransfer) {
    var items = Array.prototype.slice.call(dataTransfer.items || []);
    var entries = items.map(function (item) { return item.webkitGetAsEntry && item.webkitGetAsEntry(); });
    if (!entries.some(function (entry) { return entry && entry.isDirectory; }))
      return Promise.resolve(Array.prototype.slice.call(dataTransfer.files));
    var lists;
    if (items.every(function (item) { return item.getAsFileSystemHandle; })) {
      lists = items.map(function (item) { return item.getAsFileSystemHandle().then(filesOfHandle); });
    } else {
      lists = entries.map(filesOfEntry);
    }
    return Promise.all(lists).then(function (found) { return [].concat.apply([], found); });
  }
  function filesOfHandle(handle) {
    if (!handle) return [];
    if (handle.kind === 'file') return handle.getFile().then(function (file) { return [file]; });
    var iterator = handle.values(), files = [];
    return (function next() {
      return iterator.next().then(function (step) {
        if (step.done) return Promise.all(files);
        if (step.value.kind === 'file') files.push(step.value.getFile());
        return next();
      });
    })();
  }
  function filesOfEntry(entry) {
    if (!entry) return [];
    if (entry.isFile) return new Promise(function (resolve, reject) { entry.file(function (f) { resolve([f]); }, reject); });
    return new Promise(function (resolve, reject) {
      var reader = entry.createReader(), found = [];
      (function more() {
        reader.readEntries(function (batch) {
          if (!batch.length) {
            Promise.all(found.filter(function (e) { return e.isFile; }).map(function (e) {
              return new Promise(function (done, failed) { e.file(done, failed); });
            })).then(resolve, reject);
            return;
          }
          found = found.concat(batch);
          more();
        }, reject);
      })();
    });
  }

  // --- Pack.
  function pack(event) {
    event.preventDefault();
    var file = $('pack-file').files[0];
    if (!file) return;
    var report = $('pack-report'), save = $('pack-save');
    clear(report); forgetLinks(save);
    var split = '';
    if (document.querySelector('input[name=split]:checked').value === 'volumes')
      split = $('pack-size').value === 'other' ? $('pack-other').value.trim() : $('pack-size').value;
    runJob({ op: 'pack', files: [file], name: file.name, split: split }).then(function (message) {
      var result = message.result;
      if (result.error) {
        line(report, result.error, 'verdict bad');
        return;
      }
      var stream = message.output || new Blob([]);
      // The module names the files and their sizes; volume 0 of a set begins with its header.
      var offset = 0, total = 0;
      var outputs = result.files.map(function (planned, index) {
        var parts = [];
        var take = planned.size;
        if (index === 0 && result.header.length) {
          parts.push(new Uint8Array(result.header));
          take -= result.header.length;
        }
        parts.push(stream.slice(offset, offset + take));
        offset += take;
        total += planned.size;
        return { name: planned.name, blob: new Blob(parts) };
      });
      line(report, fmt(t('IDS_WEB_PACKED'), file.name, result.projectBytes, outputs.length, total), 'verdict sound');
      if (window.showDirectoryPicker && outputs.length > 1) {
        var all = document.createElement('button');
        all.type = 'button';
        all.id = 'save-all';
        all.textContent = t('IDS_WEB_SAVE_ALL_FOLDER');
        all.addEventListener('click', function () { saveIntoFolder(outputs, report); });
        save.appendChild(all);
      }
      outputs.forEach(function (output) {
        saveLink(save, output.blob, output.name, fmt(t('IDS_WEB_SAVE'), output.name));
      });
      save.firstChild.focus();
    }, cancelled(report));
  }

  function saveIntoFolder(outputs, report) {
    window.showDirectoryPicker({ mode: 'readwrite' }).then(function (folder) {
      return outputs.reduce(function (previous, output) {
        return previous.then(function () {
          return folder.getFileHandle(output.name, { create: true }).then(function (handle) {
            return handle.createWritable();
          }).then(function (writable) {
            return writable.write(output.blob).then(function () { return writable.close(); });
          });
        });
      }, Promise.resolve());
    }).then(function () {
      line(report, fmt(t('IDS_WEB_SAVED_FOLDER'), outputs.length));
    }, function (error) {
      if (error && error.name !== 'AbortError') line(report, String(error), 'verdict bad');
    });
  }

  // --- Wiring.
  function init() {
    applyTexts();
    $('language').addEventListener('change', function () { lang = this.value; applyTexts(); });
    $('cancel').addEventListener('click', cancelJob);
    document.addEventListener('keydown', function (event) {
      if (event.key === 'Escape') cancelJob();
    });
    ['restore-files', 'restore-folder'].forEach(function (id) {
      $(id).addEventListener('change', function () {
        if (this.files.length) restore(Array.prototype.slice.call(this.files));
      });
    });
    var drop = $('drop');
    drop.addEventListener('dragover', function (event) { event.preventDefault(); drop.classList.add('over'); });
    drop.addEventListener('dragleave', function () { drop.classList.remove('over'); });
    drop.addEventListener('drop', function (event) {
      event.preventDefault();
      drop.classList.remove('over');
      filesFromDrop(event.dataTransfer).then(restore, function () {
        clear($('restore-set')); clear($('restore-report')); forgetLinks($('restore-save'));
        line($('restore-report'), t('IDS_WEB_FOLDER_UNREADABLE'), 'verdict bad');
      });
    });
    drop.addEventListener('keydown', function (event) {
      if (event.key === 'Enter' || event.key === ' ') { event.preventDefault(); $('restore-files').click(); }
    });
    $('pack-form').addEventListener('submit', pack);
    $('pack-size').addEventListener('change', function () {
      document.querySelector('input[name=split][value=volumes]').checked = true;
      if (this.value === 'other') $('pack-other').focus();
    });
    $('pack-other').addEventListener('input', function () {
      document.querySelector('input[name=split][value=volumes]').checked = true;
      $('pack-size').value = 'other';
    });
    document.body.dataset.ready = 'true';
  }
  init();
})();
