"use strict";
// The Web Worker that holds the programs' core (createCore, the module built from src/web) and runs
// one call at a time over a fresh virtual working directory. Messages in: {id, op: "run", program,
// args, files} or {id, op: "describe", path, files}; out: {ready}, {id, line: [stream, text]},
// {id, result} or {id, error}, and {fatal} when the core can no longer be used.

const decoder = new TextDecoder();
const encoder = new TextEncoder();
let core = null;
let serial = 0;
let call = null; // the call being run: its id and what each stream has printed

// A stream's bytes, each complete line posted as soon as it is printed.
function streamSink(name) {
  return (byte) => {
    if (!call) return;
    const stream = call[name];
    stream.bytes.push(byte);
    if (byte === 10) {
      const text = decoder.decode(new Uint8Array(stream.bytes.slice(stream.lineStart, stream.bytes.length - 1)));
      stream.lineStart = stream.bytes.length;
      postMessage({ id: call.id, line: [name, text] });
    }
  };
}

function newStream() {
  return { bytes: [], lineStart: 0 };
}

// The directories of `path` under `root`, made as needed.
function makeParents(FS, root, path) {
  const parts = path.split("/").slice(0, -1);
  let at = root;
  for (const part of parts) {
    at += "/" + part;
    if (!FS.analyzePath(at).exists) FS.mkdir(at);
  }
}

function checkedPath(path) {
  if (typeof path !== "string" || path === "" || path.startsWith("/") || path.split("/").some((p) => p === "" || p === "." || p === ".."))
    throw new Error("not a relative path: " + path);
  return path;
}

// A fresh directory holding `files`, made the working directory.
function enter(files) {
  const FS = core.FS;
  const root = "/run" + ++serial;
  FS.mkdir(root);
  // written in name order, which is the order a folder lists them in here: a browser has no other
  for (const [path, bytes] of Object.entries(files || {}).sort(([a], [b]) => (a < b ? -1 : a > b ? 1 : 0))) {
    checkedPath(path);
    makeParents(FS, root, path);
    FS.writeFile(root + "/" + path, bytes);
  }
  FS.chdir(root);
  return root;
}

// Every regular file under `root` by its path relative to it.
function listFiles(root) {
  const FS = core.FS;
  const found = {};
  const walk = (dir, prefix) => {
    for (const name of FS.readdir(dir)) {
      if (name === "." || name === "..") continue;
      const full = dir + "/" + name;
      const mode = FS.lstat(full).mode;
      if (FS.isDir(mode)) walk(full, prefix + name + "/");
      else if (FS.isFile(mode)) found[prefix + name] = FS.readFile(full);
    }
  };
  walk(root, "");
  return found;
}

function removeTree(path) {
  const FS = core.FS;
  for (const name of FS.readdir(path)) {
    if (name === "." || name === "..") continue;
    const full = path + "/" + name;
    if (FS.isDir(FS.lstat(full).mode)) removeTree(full);
    else FS.unlink(full);
  }
  FS.rmdir(path);
}

function sameBytes(a, b) {
  if (!a || a.length !== b.length) return false;
  for (let i = 0; i < a.length; ++i) if (a[i] !== b[i]) return false;
  return true;
}

// A string copied into the core's memory, NUL-ended; freed by the caller.
function allocate(bytes) {
  const at = core._malloc(bytes.length + 1);
  if (!at) throw new Error("out of memory");
  core.HEAPU8.set(bytes, at);
  core.HEAPU8[at + bytes.length] = 0;
  return at;
}

function withDirectory(files, body) {
  const root = enter(files);
  try {
    return body(root);
  } finally {
    core.FS.chdir("/");
    removeTree(root);
  }
}

function run(id, program, args, files) {
  call = { id, stdout: newStream(), stderr: newStream() };
  const packed = [];
  for (const arg of args) packed.push(...encoder.encode(String(arg)), 0);
  const result = withDirectory(files, (root) => {
    const programAt = allocate(encoder.encode(program));
    const argsAt = allocate(packed);
    let status;
    try {
      status = core._web_run(programAt, argsAt, args.length);
    } finally {
      core._free(programAt);
      core._free(argsAt);
    }
    const changed = {};
    for (const [path, bytes] of Object.entries(listFiles(root))) if (!sameBytes(files[path], bytes)) changed[path] = bytes;
    return { status, files: changed };
  });
  // a last line without its newline is still a line
  for (const name of ["stdout", "stderr"]) {
    const stream = call[name];
    if (stream.lineStart < stream.bytes.length)
      postMessage({ id, line: [name, decoder.decode(new Uint8Array(stream.bytes.slice(stream.lineStart)))] });
  }
  const stdoutBytes = new Uint8Array(call.stdout.bytes);
  result.stdout = decoder.decode(stdoutBytes);
  result.stdoutBytes = stdoutBytes;
  const stderrBytes = new Uint8Array(call.stderr.bytes);
  result.stderr = decoder.decode(stderrBytes);
  result.stderrBytes = stderrBytes;
  call = null;
  return result;
}

function describe(path, files) {
  checkedPath(path);
  return withDirectory(files, () => {
    const pathAt = allocate(encoder.encode(path));
    let text;
    try {
      text = core.UTF8ToString(core._web_describe(pathAt));
    } finally {
      core._free(pathAt);
    }
    const outline = JSON.parse(text);
    if (outline.error !== undefined) throw new Error(outline.error);
    return outline;
  });
}

onmessage = (event) => {
  const { id, op } = event.data;
  if (!core) {
    postMessage({ id, error: "the core is not loaded" });
    return;
  }
  try {
    const result = op === "run" ? run(id, event.data.program, event.data.args, event.data.files) : describe(event.data.path, event.data.files);
    const transfer = [];
    if (result.files) for (const bytes of Object.values(result.files)) transfer.push(bytes.buffer);
    postMessage({ id, result }, transfer);
  } catch (error) {
    call = null;
    postMessage({ id, error: String(error && error.message ? error.message : error) });
    // an abort leaves the core unusable: the page starts a fresh worker
    if (error instanceof WebAssembly.RuntimeError || (error && error.name === "ExitStatus")) postMessage({ fatal: String(error) });
  }
};

createCore({
  preRun: [(module) => module.FS.init(() => null, streamSink("stdout"), streamSink("stderr"))],
  print: () => {},
  printErr: () => {},
}).then(
  (module) => {
    core = module;
    postMessage({ ready: true });
  },
  (error) => postMessage({ fatal: "the core did not load: " + error }),
);
