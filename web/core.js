// window.matTools: mat2png, png2mat and matpal in Web Workers, each with its own instance of the core, over a
// virtual working directory per call. The worker's source (the core module and worker.js) comes as
// MAT_TOOLS_WORKER_SOURCE, put before this bundle by scripts/inline-page.py; a worker starts from a Blob URL, so that
// the page works from a file.
import {describeMessage, imagesMessage, runMessage} from "./protocol.js";

const cancelled = () => new DOMException("cancelled", "AbortError");

// How many workers: one per core, at most 8, fewer where the machine says its memory is short (a worker's core
// grows up to 2 GB on a large picture); the page's address may ask for a number (mat2png.html?workers=1).
export function workerCount(cores = navigator.hardwareConcurrency, memory = navigator.deviceMemory, asked = null) {
    if (asked !== null && /^[1-8]$/.test(asked)) return Number(asked);
    const byCores = Math.max(1, Math.min(8, cores || 1));
    return memory ? Math.max(1, Math.min(byCores, Math.floor(memory / 2))) : byCores;
}

// A message as posted: its files copied, each copy's buffer moved to the worker instead of cloned (cloning a chunk's
// megabytes took the page's thread longer than copying them); the caller's bytes stay as they were. A file whose
// buffer is gone fails as cloning it would.
function transferable(message) {
    if (!message.files) return [message, []];
    const files = {};
    for (const [path, bytes] of Object.entries(message.files)) {
        if (bytes.buffer.detached) throw new DOMException(`the bytes of ${path} are detached`, "DataCloneError");
        files[path] = bytes.slice();
    }
    return [{...message, files}, Object.values(files).map((bytes) => bytes.buffer)];
}

// Calls handed to a worker at once: the next waits in the worker, so that it starts as the last ends instead of after
// a round trip through the page's thread, which is busy showing what came back.
const AHEAD = 2;

class Pool {
    constructor(size) {
        this.queue = [];            // calls not yet handed to a worker: {message, resolve, reject, onLine}
        this.slots = [];
        this.failure = null;        // why the core cannot load: every call rejects with it
        this.nextId = 1;
        this.ready = new Promise((resolve, reject) => { this.loaded = resolve; this.unloadable = reject; });
        this.ready.catch(() => {});  // a failed start is also reported through the calls that wait for it
        for (let i = 0; i < size; ++i) this.slots.push(this.start());
    }

    start() {
        const url = URL.createObjectURL(new Blob([MAT_TOOLS_WORKER_SOURCE], {type: "text/javascript"}));
        const slot = {worker: new Worker(url), ready: false, calls: []};  // calls: handed to it, in order
        URL.revokeObjectURL(url);
        slot.worker.onmessage = (event) => this.message(slot, event.data);
        slot.worker.onerror = (event) => {
            event.preventDefault();
            this.lost(slot, "the worker failed: " + (event.message || "unknown error"));
        };
        return slot;
    }

    message(slot, data) {
        if (data.ready) {
            slot.ready = true;
            this.loaded();
            return this.dispatch();
        }
        // a worker runs its calls in the order they were handed to it: what it says is of the first
        const call = slot.calls[0];
        if (data.fatal) {
            // the call that broke the core fails with its own reason, not the next one handed to the worker
            if (call && call.id === data.id) {
                slot.calls.shift();
                call.reject(new Error(data.error));
            }
            return this.lost(slot, data.fatal);
        }
        if (!call || call.id !== data.id) return;
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
        slot.calls.shift();
        if (data.error !== undefined) {
            call.reject(new Error(data.error));
            return this.dispatch();
        }
        // each call's time from posting to its result, and its time in the core, for a benchmark to read
        if (call.message.op === "run") {
            performance.measure(`${call.message.program} call`, {start: call.posted, end: performance.now()});
            performance.measure(`${call.message.program} core`, {start: call.posted, duration: data.result.milliseconds});
        }
        call.resolve(data.result);
        this.dispatch();
    }

    // A worker whose core is gone: the call it was running fails with the reason, those waiting behind it go back to
    // the front of the queue, and a fresh worker takes its place; a core that never loaded says so once, and every
    // call rejects with it.
    lost(slot, reason) {
        slot.worker.terminate();
        if (this.failure || !this.slots.includes(slot)) return;  // told already
        const [call, ...waiting] = slot.calls;
        slot.calls = [];
        this.queue.unshift(...waiting);
        if (!slot.ready && !this.slots.some((other) => other.ready)) {
            this.failure = new Error(reason);
            this.unloadable(this.failure);
            for (const other of this.slots) other.worker.terminate();
            this.slots = [];
            for (const waiting of this.queue.splice(0)) waiting.reject(this.failure);
            if (call) call.reject(this.failure);
            return;
        }
        if (call) call.reject(new Error(reason));
        this.replace(slot);
        this.dispatch();
    }

    replace(slot) {
        const at = this.slots.indexOf(slot);
        if (at >= 0) this.slots[at] = this.start();
    }

    // Hands queued calls to idle workers; a message that cannot be posted rejects its call.
    dispatch() {
        for (const slot of this.slots) {
            while (slot.ready && slot.calls.length < AHEAD && this.queue.length) {
                const call = this.queue.shift();
                try {
                    call.posted = performance.now();
                    const [message, transfer] = transferable(call.message);
                    slot.worker.postMessage(message, transfer);
                    slot.calls.push(call);
                } catch (error) {
                    call.reject(error);
                }
            }
        }
    }

    post(makeMessage, onLine) {
        if (this.failure) return Promise.reject(this.failure);
        return new Promise((resolve, reject) => {
            const id = this.nextId++;
            this.queue.push({id, message: makeMessage(id), resolve, reject, onLine});
            this.dispatch();
        });
    }

    // How many workers are loading their core, running a call, idle; how many calls wait (in the page, or in a worker
    // behind the call it runs).
    counts() {
        const loading = this.slots.filter((slot) => !slot.ready).length;
        const running = this.slots.filter((slot) => slot.calls.length).length;
        const behind = this.slots.reduce((sum, slot) => sum + Math.max(0, slot.calls.length - 1), 0);
        return {workers: this.slots.length, loading, running, idle: this.slots.length - loading - running,
                queued: this.queue.length + behind};
    }

    // Every call under way or waiting rejects with an AbortError; the workers running one end and are replaced.
    cancel() {
        for (const waiting of this.queue.splice(0)) waiting.reject(cancelled());
        for (const slot of [...this.slots]) {
            if (!slot.calls.length) continue;
            slot.worker.terminate();
            for (const call of slot.calls.splice(0)) call.reject(cancelled());
            this.replace(slot);
        }
    }
}

// The pool is made on first use, so that a script can set how many workers before then.
let pool = null;
const thePool = () => (pool ||= new Pool(matTools.workers));

// A call of the message MAKE gives (protocol.js's, its id set when it is queued); one whose message cannot be made
// (a bad argument) rejects instead of throwing.
function call(make, onLine) {
    try {
        const message = make();
        return thePool().post((id) => ({...message, id}), onLine);
    } catch (error) {
        return Promise.reject(error);
    }
}

export const matTools = {
    workers: workerCount(navigator.hardwareConcurrency, navigator.deviceMemory, new URLSearchParams(location.search).get("workers")),
    get ready() { return thePool().ready; },
    // Runs "mat2png", "png2mat" or "matpal" with `args` over `files` (relative path -> Uint8Array) and resolves to
    // {status, stdout, stderr, stdoutBytes, stderrBytes, files, items}, files holding every path created or changed,
    // items a record per file the program took up: {name, outcome ("written", "failed", "passed over" or
    // "up to date"), reason (a failure's, else null), notes (its other diagnostics), outputs (the paths written)}.
    // With options.describe (MAT paths among the files), outlines holds each one's outline as describe gives it,
    // or {error}.
    run(program, args, files, onLine, options) {
        return call(() => runMessage(0, program, args, files, options), onLine);
    },
    // The outline of one MAT file among `files`: {width, height, type, palette}.
    describe(path, files) {
        return call(() => describeMessage(0, path, files));
    },
    // What png2mat makes of image `names` (all in one folder) with its outputs in `output` ("mat/", "" for the top):
    // for each {name, image, mat, alpha, colour}: whether a folder of them takes it as an image, the MAT file it
    // rebuilds or creates, its alpha image, and for an alpha image's name its colour image {name, mat}, else null.
    images(names, output = "") {
        return call(() => imagesMessage(0, names, output));
    },
    // {workers, loading, running, idle, queued}: what the workers are doing.
    counts() {
        return thePool().counts();
    },
    // Stops every call at once: each rejects with a DOMException named "AbortError".
    cancel() {
        if (pool) pool.cancel();
    },
};

window.matTools = matTools;
