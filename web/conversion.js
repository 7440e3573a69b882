// Converting the set: mat2png over its MAT files in chunks, each file's outcome shown in the gallery as it comes.
import {$} from "./dom.js";
import {clearGallery, describeCard, pngSize, showFailure, showPassedOver, showTexture} from "./gallery.js";
import {pickedAs, showSummary} from "./summary.js";
import {count, log, say} from "./log.js";
import {normal, resultFiles} from "./names.js";
import {Cancelled, isCancel, paletteFiles, run, state, task, textures} from "./state.js";

export const CHUNK_FILES = 24;
export const CHUNK_BYTES = 8 << 20;

// PATHS in chunks that grow from one file, so that the first textures show at once; a chunk stops growing at
// CHUNK_FILES files or once it holds CHUNK_BYTES (SIZE gives a file's bytes).
export function chunks(paths, size) {
    const out = [];
    let most = 1;
    for (let i = 0; i < paths.length;) {
        const chunk = [];
        let bytes = 0;
        while (i < paths.length && chunk.length < most && (chunk.length === 0 || bytes < CHUNK_BYTES)) {
            bytes += size(paths[i]);
            chunk.push(paths[i++]);
        }
        out.push(chunk);
        most = Math.min(CHUNK_FILES, most * 2);
    }
    return out;
}

const counts = {done: 0, total: 0, textures: 0, failures: 0, passed: 0};
function showProgress(finished, stopped) {
    $("progress").max = Math.max(1, counts.total);
    $("progress").value = counts.done;
    const parts = [`${counts.done} of ${count(counts.total, "file")}`, `${counts.textures} converted`];
    if (counts.failures) parts.push(`${counts.failures} failed`);
    if (counts.passed) parts.push(`${counts.passed} passed over`);
    $("counts").textContent = parts.join(", ") + (stopped ? " (cancelled)." : finished ? "." : "…");
    $("counts").dataset.state = finished ? "done" : "running";
    $("counts").dataset.failed = String(counts.failures);
    if (finished) showSummary(counts);
}

const indexed = () => $("mode").value === "indexed";

// mat2png over CHUNK, each file's MAT outlined by the same call; its lines are kept for the caller.
function runChunk(chunk) {
    const files = paletteFiles();
    for (const path of chunk) files[path] = state.files.get(path);
    const lines = [];
    const result = run("mat2png", [...(indexed() ? ["-i"] : []), "--", ...chunk], files, (stream, line) => lines.push([stream, line]),
        {describe: chunk});
    return {lines, result};
}

// PATH failed for REASON: kept for failed.txt, and shown.
function failed(path, reason) {
    state.failures.set(path, reason);
    showFailure(path, reason);
}

// Shows what became of each file of CHUNK from RESULT's records; gives how many became textures, failed or were
// passed over.
function showChunk(chunk, result) {
    const written = resultFiles(result);
    const records = new Map(result.items.map((record) => [record.name, record]));
    const tally = {textures: 0, failures: 0, passed: 0};
    for (const path of chunk) {
        const record = records.get(path);
        const outline = result.outlines[path] || {};
        if (record && record.outcome === "written") {
            // mat2png names its outputs in this order: the image, then the alpha image when the file has an alpha plane
            const [colourPath, alphaPath] = record.outputs.map(normal);
            // the PNG bytes are kept once, in the page: the picture, its download and the zip read them there
            const colour = written.get(colourPath), alpha = alphaPath ? written.get(alphaPath) : null;
            const size = pngSize(colour);
            for (const old of state.outputs.get(path) || []) state.images.delete(old);
            state.outputs.set(path, alphaPath ? [colourPath, alphaPath] : [colourPath]);
            state.images.set(colourPath, colour);
            if (alpha) state.images.set(alphaPath, alpha);
            const card = showTexture(path, {colourPath, colour, alphaPath, alpha, size, indexed: indexed(),
                indexedImage: indexed() ? async () => colour : () => indexedImage(path)});
            state.failures.delete(path);
            if (outline.error === undefined) describeCard(card, outline, pickedAs);
            else say(`${path}: ${outline.error}`);
            tally.textures += 1;
        } else if (!record || record.outcome === "failed") {
            failed(path, record ? record.reason : `not converted (exit status ${result.status})`);
            tally.failures += 1;
        } else {
            // the core says why a file is passed over (an animation), unless notes printed for it say so
            showPassedOver(path, record.notes.length ? record.notes.join(" ") : outline.error || "nothing written");
            tally.passed += 1;
        }
    }
    return tally;
}

// A chunk's lines in the log after the names of its files, which the programs' lines (such as "type 3") leave out.
function logChunk(chunk, lines) {
    say(`Converting ${chunk.join(", ")}:`);
    for (const [stream, line] of lines) log(stream, line);
}

// Converts CHUNK in one run and shows each file, its lines logged first.
export async function convertChunk(chunk, live) {
    const {lines, result} = runChunk(chunk);
    const done = await result;
    if (!live()) throw new Cancelled();
    logChunk(chunk, lines);
    return showChunk(chunk, done);
}

// A run the core could not finish (out of memory, a crash): each file alone, so that one bad file costs only itself.
async function convertAlone(chunk, error, live, add) {
    for (const path of chunk) {
        try {
            add(await (chunk.length > 1 ? convertChunk([path], live) : Promise.reject(error)));
        } catch (alone) {
            if (isCancel(alone) || !live()) return;
            failed(path, alone.message || String(alone));
            counts.failures += 1;
        }
    }
}

// The chunks run on every worker at once, a few ahead of the one shown next; lines, records and cards are shown in
// the chunks' order, as one worker gives them.
async function convert(paths) {
    counts.done = 0;
    counts.total = paths.length;
    counts.textures = counts.failures = counts.passed = 0;
    showProgress(false);
    const generation = state.generation;
    const conversion = ++state.conversion;
    const live = () => generation === state.generation && conversion === state.conversion;
    const add = (tally) => { for (const key of Object.keys(tally)) counts[key] += tally[key]; };
    const queue = chunks(paths, (path) => state.files.get(path).length);
    const ahead = [];
    const depth = 2 * window.matTools.workers;
    let next = 0;
    const refill = () => {
        while (next < queue.length && ahead.length < depth) {
            const chunk = queue[next++];
            const started = runChunk(chunk);
            started.result.catch(() => {});  // waited for in turn
            ahead.push({chunk, ...started});
        }
    };
    try {
        await convertInTurn(ahead, refill, live, add);
    } finally {
        // a conversion that ends by a fault of the page's own still says it has ended
        if (conversion === state.conversion) {  // a newer conversion shows its own progress
            showProgress(true, !live());
            $("download-all").disabled = state.images.size === 0;
        }
    }
}

// The chunks under way, shown as each one's turn comes.
async function convertInTurn(ahead, refill, live, add) {
    refill();
    while (ahead.length && live()) {
        const {chunk, lines, result} = ahead.shift();
        let done = null;
        try {
            done = await result;
        } catch (error) {
            if (isCancel(error) || !live()) break;
            await convertAlone(chunk, error, live, add);
        }
        if (!live()) break;
        refill();
        if (done) {
            logChunk(chunk, lines);
            add(showChunk(chunk, done));
        }
        counts.done += chunk.length;
        showProgress(false);
    }
}

// The image of PATH as mat2png writes it with its palette (-i), for the palette index of a pixel.
async function indexedImage(path) {
    const files = {...paletteFiles(), [path]: state.files.get(path)};
    const result = await run("mat2png", ["-i", "--", path], files);
    const record = result.items.find((item) => item.name === path);
    if (!record || record.outcome !== "written") throw new Error(record ? record.reason : "not converted");
    return resultFiles(result).get(normal(record.outputs[0]));
}

export async function convertAll() {
    state.conversion += 1;  // the gallery is emptied now: a conversion still running must not add to it
    clearGallery();
    state.failures.clear();
    state.images.clear();
    state.outputs.clear();
    $("download-all").disabled = true;
    await task(() => convert(textures()));
}
