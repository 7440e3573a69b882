"use strict";
// window.matTools: mat2png, png2mat and matpal in a Web Worker, over a virtual working directory.
// scripts/web.sh puts the worker's source (the core module and web/worker.js) before this script as
// MAT_TOOLS_WORKER_SOURCE; the worker starts from a Blob URL, so that the page works from a file.
(function () {
  let worker = null;
  let loaded = null; // resolves when the current worker's core is ready
  let nextId = 1;
  const pending = new Map(); // id -> {resolve, reject, onLine}

  function rejectAll(message) {
    for (const call of pending.values()) call.reject(new Error(message));
    pending.clear();
  }

  function start() {
    const url = URL.createObjectURL(new Blob([MAT_TOOLS_WORKER_SOURCE], { type: "text/javascript" }));
    worker = new Worker(url);
    URL.revokeObjectURL(url);
    loaded = new Promise((resolve, reject) => {
      worker.onmessage = (event) => {
        const data = event.data;
        if (data.ready) return resolve();
        if (data.fatal) {
          reject(new Error(data.fatal));
          rejectAll(data.fatal);
          restart();
          return;
        }
        const call = pending.get(data.id);
        if (!call) return;
        if (data.line) {
          if (call.onLine) {
            try {
              call.onLine(data.line[0], data.line[1]);
            } catch (error) {
              console.error(error);
            }
          }
          return;
        }
        pending.delete(data.id);
        if (data.error !== undefined) call.reject(new Error(data.error));
        else call.resolve(data.result);
      };
      worker.onerror = (event) => {
        event.preventDefault();
        const message = "the worker failed: " + (event.message || "unknown error");
        reject(new Error(message));
        rejectAll(message);
        restart();
      };
    });
    // a failed start is reported through the calls that wait for it
    loaded.catch(() => {});
    return loaded;
  }

  function restart() {
    if (worker) worker.terminate();
    start();
  }

  // A call is pending from the moment it is made, so that cancel() rejects it even before its worker is ready.
  function post(message, onLine) {
    return new Promise((resolve, reject) => {
      const id = nextId++;
      pending.set(id, { resolve, reject, onLine });
      loaded.then(
        () => {
          if (pending.has(id)) worker.postMessage(Object.assign({ id }, message));
        },
        (error) => {
          if (pending.delete(id)) reject(error);
        },
      );
    });
  }

  function checkedFiles(files) {
    const copy = {};
    for (const [path, bytes] of Object.entries(files || {})) {
      if (!(bytes instanceof Uint8Array)) throw new TypeError("the file " + path + " is not a Uint8Array");
      copy[path] = bytes;
    }
    return copy;
  }

  const ready = start();

  window.matTools = {
    ready,
    // Runs "mat2png", "png2mat" or "matpal" with `args` over `files` (relative path -> Uint8Array) and
    // resolves to {status, stdout, stderr, stdoutBytes, stderrBytes, files}, files holding every path created or changed.
    run(program, args, files, onLine) {
      return post({ op: "run", program: String(program), args: (args || []).map(String), files: checkedFiles(files) }, onLine);
    },
    // The outline of one MAT file among `files`: {width, height, type, palette}.
    describe(path, files) {
      return post({ op: "describe", path: String(path), files: checkedFiles(files) });
    },
    // Stops the running call at once: its worker ends, every pending call rejects with "cancelled", and a fresh one starts.
    cancel() {
      rejectAll("cancelled");
      restart();
    },
  };
})();
