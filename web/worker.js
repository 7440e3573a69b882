// The Web Worker that holds one instance of the programs' core (createCore, the module built from src/web) and runs
// its calls one at a time, in the order they come, each over a fresh virtual working directory; the messages are
// protocol.js's.
import {byText} from "./names.js";
import {checkedArgs, checkedPath} from "./protocol.js";

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
            postMessage({id: call.id, line: [name, text]});
        }
    };
}

const newStream = () => ({bytes: [], lineStart: 0});

// The directories of `path` under `root`, made as needed.
function makeParents(FS, root, path) {
    let at = root;
    for (const part of path.split("/").slice(0, -1)) {
        at += "/" + part;
        if (!FS.analyzePath(at).exists) FS.mkdir(at);
    }
}

// A fresh directory holding `files`, made the working directory; gives each file's node as written.
function enter(files) {
    const FS = core.FS;
    const root = "/run" + ++serial;
    FS.mkdir(root);
    const written = new Map();
    // written in name order, which is the order a folder lists them in here: a browser has no other
    for (const [path, bytes] of Object.entries(files || {}).sort(([a], [b]) => byText(a, b))) {
        checkedPath(path);
        makeParents(FS, root, path);
        // the message's copy is this worker's own: the file keeps it instead of a second copy
        FS.writeFile(root + "/" + path, bytes, {canOwn: true});
        const node = FS.lookupPath(root + "/" + path).node;
        written.set(path, {bytes, node, contents: node.contents, timestamp: node.timestamp});
    }
    FS.chdir(root);
    return {root, written};
}

// A file is as it was written while it is the same node holding the same bytes untouched: the programs write a new
// file and rename it over the old one, and a write into a file changes its time.
const untouched = (node, was) => was && node === was.node && node.contents === was.contents
    && node.usedBytes === was.bytes.length && node.timestamp === was.timestamp;

function sameBytes(a, b) {
    if (!a || a.length !== b.length) return false;
    for (let i = 0; i < a.length; ++i) if (a[i] !== b[i]) return false;
    return true;
}

// Every regular file under `root` created or changed since `written` (enter's), by its path relative to it: a file
// written again with the bytes it had is not changed.
function changedFiles(root, written) {
    const FS = core.FS;
    const found = {};
    const walk = (dir, prefix) => {
        for (const name of FS.readdir(dir)) {
            if (name === "." || name === "..") continue;
            const full = dir + "/" + name;
            const node = FS.lookupPath(full, {follow: false}).node;
            if (FS.isDir(node.mode)) walk(full, prefix + name + "/");
            if (!FS.isFile(node.mode)) continue;
            const was = written.get(prefix + name);
            if (untouched(node, was)) continue;
            const bytes = FS.readFile(full);
            // a file put in its place leaves the bytes written first as they were
            if (!(was && node !== was.node && sameBytes(was.bytes, bytes))) found[prefix + name] = bytes;
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

// Words packed one after another, each ended by a NUL, as the core takes a list.
function packed(words) {
    const bytes = [];
    for (const word of words) bytes.push(...encoder.encode(word), 0);
    return bytes;
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
    const {root, written} = enter(files);
    try {
        return body(root, written);
    } finally {
        core.FS.chdir("/");
        removeTree(root);
    }
}

// The outline of the MAT file at `path` in the working directory, or {error}.
function outline(path) {
    const pathAt = allocate(encoder.encode(path));
    try {
        return JSON.parse(core.UTF8ToString(core._web_describe(pathAt)));
    } finally {
        core._free(pathAt);
    }
}

function run(id, program, args, files, described) {
    args = checkedArgs(args);
    call = {id, stdout: newStream(), stderr: newStream()};
    let milliseconds = 0;  // in the core, for the page's timings
    const result = withDirectory(files, (root, written) => {
        const programAt = allocate(encoder.encode(program));
        const argsAt = allocate(packed(args));
        let status;
        const start = performance.now();
        try {
            status = core._web_run(programAt, argsAt, args.length);
            milliseconds = performance.now() - start;
        } finally {
            core._free(programAt);
            core._free(argsAt);
        }
        const changed = changedFiles(root, written);
        const items = JSON.parse(core.UTF8ToString(core._web_records()));
        const outlines = {};
        for (const path of described || []) outlines[path] = outline(path);
        return {status, files: changed, items, outlines, milliseconds};
    });
    // a last line without its newline is still a line
    for (const name of ["stdout", "stderr"]) {
        const stream = call[name];
        if (stream.lineStart < stream.bytes.length)
            postMessage({id, line: [name, decoder.decode(new Uint8Array(stream.bytes.slice(stream.lineStart)))]});
    }
    for (const name of ["stdout", "stderr"]) {
        const bytes = new Uint8Array(call[name].bytes);
        result[name] = decoder.decode(bytes);
        result[name + "Bytes"] = bytes;
    }
    call = null;
    return result;
}

function describe(path, files) {
    checkedPath(path);
    return withDirectory(files, () => {
        const found = outline(path);
        if (found.error !== undefined) throw new Error(found.error);
        return found;
    });
}

// What png2mat makes of image names: the MAT file each rebuilds or creates, and the alpha image that goes with it.
function images(names, output) {
    names = checkedArgs(names);
    const namesAt = allocate(packed(names));
    const outputAt = allocate(encoder.encode(checkedArgs([output])[0]));
    try {
        return JSON.parse(core.UTF8ToString(core._web_images(namesAt, names.length, outputAt)));
    } finally {
        core._free(namesAt);
        core._free(outputAt);
    }
}

const operations = {
    run: (data) => run(data.id, data.program, data.args, data.files, data.describe),
    describe: (data) => describe(data.path, data.files),
    images: (data) => images(data.names, data.output),
};

onmessage = (event) => {
    const {id, op} = event.data;
    if (!core) {
        postMessage({id, error: "the core is not loaded"});
        return;
    }
    try {
        if (!Object.hasOwn(operations, op)) throw new Error("no operation named " + op);
        const result = operations[op](event.data);
        const transfer = [];
        if (result.files) for (const bytes of Object.values(result.files)) transfer.push(bytes.buffer);
        postMessage({id, result}, transfer);
    } catch (error) {
        call = null;
        const message = {id, error: String(error && error.message ? error.message : error)};
        // an abort leaves the core unusable: the page puts a fresh worker in this one's place
        if (error instanceof WebAssembly.RuntimeError || (error && error.name === "ExitStatus")) message.fatal = String(error);
        postMessage(message);
    }
};

// The core's loader would fetch its own data: URL first, which the page's policy refuses (and reports) before the
// loader decodes it itself: without fetch it decodes at once. Nothing in a worker fetches anything.
self.fetch = undefined;

createCore({
    preRun: [(module) => module.FS.init(() => null, streamSink("stdout"), streamSink("stderr"))],
    print: () => {},
    printErr: () => {},
}).then(
    (module) => {
        core = module;
        postMessage({ready: true});
    },
    (error) => postMessage({fatal: "the core did not load: " + error}),
);
