// The page's module under Node.js (bench/web_bench.sh): times implode and explode of each file
// given with the module's pw_bench, which runs the same timing code as the native side.
// Usage: node --no-experimental-fetch bench/web_bench.js build-web/web/packtool-worker.js FILE...
'use strict';
const fs = require('fs');
const path = require('path');
const [modulePath, ...files] = process.argv.slice(2);
function run(Module) {
  for (const file of files) {
    const name = '/' + path.basename(file);
    Module.FS.writeFile(name, fs.readFileSync(file));
    for (const implode of [1, 0]) {
      const result = JSON.parse(Module.ccall('pw_bench', 'string', ['string', 'number', 'number'], [name, implode, 10]));
      console.log(JSON.stringify({ file, op: implode ? 'implode' : 'explode', ms: result.ms,
                                   bytes: result.bytes, outputBytes: result.outputBytes }));
    }
    Module.FS.unlink(name);
  }
}
// The module starts asynchronously: run once it has, or at once if it already has.
const module_ = require(path.resolve(modulePath));
if (module_.calledRun) run(module_);
else module_.onRuntimeInitialized = () => run(module_);
