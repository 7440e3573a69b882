"use strict";
// The page people use: every conversion goes through window.matTools (the project's core in a Web Worker); this
// file only gathers files, shows results and packs downloads. Text from files reaches the DOM as textContent only.
(() => {
const $ = (id) => document.getElementById(id);

const isMat = (path) => /\.mat$/i.test(path);
const isPal = (path) => /\.pal$/i.test(path);
const isPng = (path) => /\.png$/i.test(path);
const baseName = (path) => path.slice(path.lastIndexOf("/") + 1);
const dirName = (path) => (path.includes("/") ? path.slice(0, path.lastIndexOf("/")) : ".");

// Where the page's own inputs go in the virtual directory, apart from the set's files.
const ART_DIR = ".page-art";
const MAKE_DIR = ".page-make";

const state = {
    files: new Map(),     // the set: relative path -> bytes (MAT and palette files)
    setName: "textures",
    images: new Map(),    // what mat2png wrote: path -> bytes
    built: new Map(),     // MAT files png2mat wrote: path -> bytes
    generation: 0,        // bumped by cancel and by opening a set: older work stops
    conversion: 0,        // bumped by each conversion: an older one stops showing its results
    busy: 0,
};

class Cancelled extends Error {
    constructor() { super("cancelled"); }
}
const isCancel = (error) => error instanceof Cancelled || (error && error.message === "cancelled");

// ---- the console log -------------------------------------------------------------------------------------------

const LOG_LINES = 3000;  // enough to read back; a long run must not grow the page without end
const logged = [];
// Lines are added once per frame: thousands of files print thousands of lines, each would lay the page out again.
function log(stream, line) {
    if (logged.length === 0) requestAnimationFrame(showLog);
    logged.push([stream, line]);
}
function showLog() {
    const box = $("log-lines");
    for (const [stream, line] of logged.splice(0).slice(-LOG_LINES)) {
        const entry = document.createElement("span");
        entry.className = stream;
        entry.textContent = line + "\n";
        box.append(entry);
    }
    while (box.childElementCount > LOG_LINES) box.firstElementChild.remove();
}
const say = (line) => log("page", line);
const count = (n, one, many = `${one}s`) => `${n} ${n === 1 ? one : many}`;

// ---- the core: calls go to the worker as they come (it takes them one by one, in order) -------------------

// Work under way (tasks and calls waiting for the core): Cancel is offered, and body[data-busy] tells scripts.
function busy(change) {
    state.busy += change;
    $("cancel").disabled = state.busy === 0;
    document.body.dataset.busy = String(state.busy);
}

// Not waiting for one answer before the next call spares a round trip through this busy thread per call
// (a describe follows each texture). A call made before a cancel gives nothing after it.
async function core(call) {
    const generation = state.generation;
    busy(1);
    try {
        await window.matTools.ready;
        if (generation !== state.generation) throw new Cancelled();
        const result = await call();
        if (generation !== state.generation) throw new Cancelled();
        return result;
    } finally {
        busy(-1);
    }
}

const run = (program, args, files) => core(() => window.matTools.run(program, args, files, log));
const describe = (path, files) => core(() => window.matTools.describe(path, files));

function cancel() {
    state.generation += 1;
    window.matTools.cancel();
    say("Cancelled.");
}

// A task counts as busy while it runs; its errors go to the log instead of being lost.
async function task(work) {
    busy(1);
    try {
        return await work();
    } catch (error) {
        if (!isCancel(error)) say(`Error: ${error && error.message ? error.message : error}`);
    } finally {
        busy(-1);
    }
}

// ---- console lines ---------------------------------------------------------------------------------------------

// The programs print names from files with every byte outside printable ASCII as \xNN.
const encoder = new TextEncoder();
function terminalText(text) {
    let shown = "";
    for (const byte of encoder.encode(text)) {
        shown += byte >= 0x20 && byte < 0x7f ? String.fromCharCode(byte)
            : "\\x" + byte.toString(16).toUpperCase().padStart(2, "0");
    }
    return shown;
}

const lines = (text) => text.split("\n").filter((line) => line !== "");

// The reason the program gave for SUBJECT on standard error ("program: SUBJECT: REASON").
function reasonFor(program, stderr, subject) {
    for (const form of new Set([subject, terminalText(subject)])) {
        const start = `${program}: ${form}: `;
        const line = lines(stderr).find((l) => l.startsWith(start));
        if (line) return line.slice(start.length);
    }
    return null;
}

// The names after "Could not process ", as printed (raw or escaped): true when NAME is among them.
function failedIn(stdout, name) {
    const printed = new Set(lines(stdout).filter((l) => l.startsWith("Could not process "))
        .map((l) => l.slice("Could not process ".length)));
    return printed.has(name) || printed.has(terminalText(name));
}

// Paths in a result may come as "./x": the set's own form has none.
const normal = (path) => path.replace(/^(\.\/)+/, "");

function resultFiles(result) {
    const files = new Map();
    for (const [path, bytes] of Object.entries(result.files || {})) files.set(normal(path), bytes);
    return files;
}

// ---- files in ----------------------------------------------------------------------------------------------

const readBytes = async (file) => new Uint8Array(await file.arrayBuffer());

// Dropped items with their paths inside the dropped folders (entries must be taken before the first await).
async function droppedFiles(dataTransfer) {
    const entries = [...dataTransfer.items].map((item) => item.webkitGetAsEntry && item.webkitGetAsEntry())
        .filter(Boolean);
    if (entries.length === 0) return [...dataTransfer.files].map((file) => ({path: file.name, file}));
    const found = [];
    const walk = async (entry, prefix) => {
        if (entry.isFile) {
            found.push({path: prefix + entry.name, file: await new Promise((ok, fail) => entry.file(ok, fail))});
        } else if (entry.isDirectory) {
            const reader = entry.createReader();
            for (;;) {
                const batch = await new Promise((ok, fail) => reader.readEntries(ok, fail));
                if (batch.length === 0) break;
                for (const child of batch) await walk(child, `${prefix}${entry.name}/`);
            }
        }
    };
    for (const entry of entries) await walk(entry, "");
    return found;
}

// The PNG images among ITEMS, by name (art and pictures are taken by their names alone).
async function pngImages(items) {
    const images = [];
    for (const {path, file} of items) if (isPng(path)) images.push({name: baseName(path), bytes: await readBytes(file)});
    return images;
}

const pickedFiles = (input) => [...input.files].map((file) => ({path: file.webkitRelativePath || file.name, file}));

// One folder picked or dropped whole is the set itself: its name goes, so that mat/ and pal/ are at the top
// (a folder named mat stays, so that pal/ beside it is still where the command line looks).
function setLayout(items) {
    const tops = new Set(items.map(({path}) => (path.includes("/") ? path.split("/")[0] : null)));
    if (tops.size !== 1 || tops.has(null)) return {name: "textures", items};
    const [top] = tops;
    if (/^(mat|pal)$/i.test(top)) return {name: top, items};
    return {name: top, items: items.map(({path, file}) => ({path: path.slice(top.length + 1), file}))};
}

async function openSet(items) {
    const layout = setLayout(items);
    const wanted = layout.items.filter(({path}) => isMat(path) || isPal(path));
    if (wanted.length === 0) return say(`No MAT or palette file among the ${count(items.length, "file")} given.`);
    state.generation += 1;
    const files = new Map();
    for (const {path, file} of wanted) files.set(path, await readBytes(file));  // one at a time: no long task
    state.files = new Map([...files].sort(([a], [b]) => (a < b ? -1 : a > b ? 1 : 0)));
    state.setName = layout.name;
    state.images.clear();
    const aside = items.length - wanted.length;
    const opened = `${layout.name}: ${count(textures().length, "MAT file")}, ${count(palettes().length, "palette")}` +
        (aside ? ` (${count(aside, "other file")} left aside)` : "");
    say(`Opened ${opened}`);
    showStatus(opened, "ready");
    showPalettes();
    await convertAll();
}

const textures = () => [...state.files.keys()].filter(isMat);
const palettes = () => [...state.files.keys()].filter(isPal);
const paletteFiles = () => Object.fromEntries(palettes().map((path) => [path, state.files.get(path)]));

// ---- gallery ---------------------------------------------------------------------------------------------------

const urls = new Map();  // element -> blob URLs it shows, released when it goes
function blobUrl(owner, bytes, type) {
    const url = URL.createObjectURL(new Blob([bytes], {type}));
    if (!urls.has(owner)) urls.set(owner, []);
    urls.get(owner).push(url);
    return url;
}
function release(element) {
    for (const url of urls.get(element) || []) URL.revokeObjectURL(url);
    urls.delete(element);
    element.remove();
}

// Width and height from a PNG's IHDR, to size its picture before it has loaded.
function pngSize(bytes) {
    const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
    return bytes.length >= 24 ? {width: view.getUint32(16), height: view.getUint32(20)} : {width: 1, height: 1};
}

// Whole factors only, so that every texel stays a square of equal pixels.
const scaleFor = ({width, height}) => Math.max(1, Math.min(16, Math.floor(192 / Math.max(width, height, 1))));

function element(tag, className, text) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined) node.textContent = text;
    return node;
}

function downloadLink(label, name, url) {
    const link = element("a", "download", label);
    link.href = url;
    link.download = name;
    return link;
}

const cards = new Map();  // MAT path -> its element in the gallery
function placeInGallery(name, node) {
    const old = cards.get(name);
    if (old && old.isConnected) {
        old.replaceWith(node);
        release(old);
    } else {
        $("gallery").append(node);
    }
    cards.set(name, node);
}

// An indexed image holds no transparency: the alpha image beside it gives each pixel's opacity.
async function withAlpha(colour, alpha) {
    const options = {colorSpaceConversion: "none", premultiplyAlpha: "none"};
    const [picture, mask] = await Promise.all([colour, alpha].map((bytes) =>
        createImageBitmap(new Blob([bytes], {type: "image/png"}), options)));
    const canvas = document.createElement("canvas");
    canvas.width = picture.width;
    canvas.height = picture.height;
    const context = canvas.getContext("2d", {willReadFrequently: true});
    context.drawImage(mask, 0, 0);
    const opacity = context.getImageData(0, 0, canvas.width, canvas.height).data;
    context.clearRect(0, 0, canvas.width, canvas.height);
    context.drawImage(picture, 0, 0);
    const pixels = context.getImageData(0, 0, canvas.width, canvas.height);
    for (let i = 3; i < pixels.data.length; i += 4) pixels.data[i] = opacity[i - 1];
    context.putImageData(pixels, 0, 0);
    return canvas;
}

function describeText(info) {
    const palette = info.palette.embedded ? "embedded palette"
        : `palette ${info.palette.name} (${info.palette.file === null ? "not found" : info.palette.file})`;
    return `${info.width} × ${info.height} · type ${info.type} · ${palette}`;
}

function showTexture(path, colour, alpha, indexed) {
    const card = element("figure", "texture");
    card.dataset.name = path;
    const size = pngSize(colour);
    const scale = scaleFor(size);
    const view = element("div", "view checker");
    const picture = element("img");
    picture.alt = path;
    const colourUrl = blobUrl(card, colour, "image/png");  // one blob serves the picture and its download
    picture.src = colourUrl;
    const plane = alpha ? element("img", "alpha-plane") : null;
    const alphaUrl = alpha ? blobUrl(card, alpha, "image/png") : null;
    if (plane) {
        plane.alt = `${path} alpha`;
        plane.src = alphaUrl;
    }
    for (const node of [picture, plane]) {
        if (!node) continue;
        node.width = size.width * scale;
        node.height = size.height * scale;
    }
    view.append(picture);
    if (plane) view.append(plane);
    if (plane && indexed) {
        withAlpha(colour, alpha).then((canvas) => {
            canvas.style.width = `${size.width * scale}px`;
            canvas.style.height = `${size.height * scale}px`;
            picture.replaceWith(canvas);
        }).catch(() => {});  // the opaque image stays: its pixels are right, only the preview lacks transparency
    }
    const caption = element("figcaption");
    caption.append(element("span", "name", path), element("span", "info", `${size.width} × ${size.height}`));
    const actions = element("span", "actions");
    actions.append(downloadLink("PNG", `${baseName(path)}.png`, colourUrl));
    if (alpha) {
        actions.append(downloadLink("alpha", `${baseName(path)}_alpha.png`, alphaUrl));
        const toggle = element("button", "toggle-alpha", "α");
        toggle.title = "show the alpha plane";
        toggle.setAttribute("aria-pressed", "false");
        toggle.addEventListener("click", () => {
            toggle.setAttribute("aria-pressed", String(card.classList.toggle("show-alpha")));
        });
        actions.append(toggle);
    } else {
        actions.append(element("span", "no-alpha", "no alpha"));
    }
    if (scale > 1) actions.append(element("span", "scale", `×${scale}`));
    caption.append(actions);
    card.append(view, caption);
    placeInGallery(path, card);
    return card;
}

function showFailure(path, reason) {
    const card = element("div", "failure");
    card.dataset.name = path;
    card.append(element("span", "name", path), element("span", "reason", reason));
    placeInGallery(path, card);
}

function showPassedOver(path) {
    const card = element("div", "passed-over");
    card.dataset.name = path;
    card.append(element("span", "name", path), element("span", "reason", "an animation (form ANIM), passed over"));
    placeInGallery(path, card);
}

// ---- converting ---------------------------------------------------------------------------------------------

const CHUNK_FILES = 24;
const CHUNK_BYTES = 8 << 20;

// Operands in chunks that grow from one file, so that the first textures show at once.
function chunks(paths) {
    const out = [];
    let size = 1;
    for (let i = 0; i < paths.length;) {
        const chunk = [];
        let bytes = 0;
        while (i < paths.length && chunk.length < size && (chunk.length === 0 || bytes < CHUNK_BYTES)) {
            bytes += state.files.get(paths[i]).length;
            chunk.push(paths[i++]);
        }
        out.push(chunk);
        size = Math.min(CHUNK_FILES, size * 2);
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
}

const indexed = () => $("mode").value === "indexed";

// Converts CHUNK in one run and shows each file; gives how many became textures, failed or were passed over.
async function convertChunk(chunk, live) {
    const files = paletteFiles();
    for (const path of chunk) files[path] = state.files.get(path);
    const result = await run("mat2png", [...(indexed() ? ["-i"] : []), "--", ...chunk], files);
    if (!live()) throw new Cancelled();
    const written = resultFiles(result);
    const tally = {textures: 0, failures: 0, passed: 0};
    for (const path of chunk) {
        const colour = written.get(`${path}.png`);
        if (colour) {
            const alpha = written.get(`${path}_alpha.png`) || null;
            state.images.set(`${path}.png`, colour);
            if (alpha) state.images.set(`${path}_alpha.png`, alpha);
            else state.images.delete(`${path}_alpha.png`);
            const card = showTexture(path, colour, alpha, indexed());
            tally.textures += 1;
            const single = {...paletteFiles(), [path]: state.files.get(path)};
            describe(path, single).then((info) => { card.querySelector(".info").textContent = describeText(info); })
                .catch((error) => { if (!isCancel(error)) say(`${path}: ${error.message}`); });
        } else if (failedIn(result.stdout, path)) {
            showFailure(path, reasonFor("mat2png", result.stderr, path) || "could not be processed");
            tally.failures += 1;
        } else {
            showPassedOver(path);
            tally.passed += 1;
        }
    }
    return tally;
}

async function convert(paths) {
    counts.done = 0;
    counts.total = paths.length;
    counts.textures = counts.failures = counts.passed = 0;
    showProgress(false);
    const generation = state.generation;
    const conversion = ++state.conversion;
    const live = () => generation === state.generation && conversion === state.conversion;
    const add = (tally) => { for (const key of Object.keys(tally)) counts[key] += tally[key]; };
    for (const chunk of chunks(paths)) {
        try {
            add(await convertChunk(chunk, live));
        } catch (error) {
            if (isCancel(error) || !live()) break;
            // The core itself failed (out of memory, a crash): each file alone, so one bad file costs only itself.
            for (const path of chunk) {
                try {
                    add(await (chunk.length > 1 ? convertChunk([path], live) : Promise.reject(error)));
                } catch (alone) {
                    if (isCancel(alone) || !live()) break;
                    showFailure(path, alone.message || String(alone));
                    counts.failures += 1;
                }
            }
        }
        if (!live()) break;
        counts.done += chunk.length;
        showProgress(false);
    }
    if (conversion !== state.conversion) return;  // a newer conversion shows its own progress
    showProgress(true, !live());
    $("download-all").disabled = state.images.size === 0;
}

async function convertAll() {
    state.conversion += 1;  // the gallery is emptied now: a conversion still running must not add to it
    for (const node of [...$("gallery").children]) release(node);
    cards.clear();
    state.images.clear();
    $("download-all").disabled = true;
    await task(() => convert(textures()));
}

// ---- downloads -----------------------------------------------------------------------------------------------

function save(name, data, type) {
    const link = document.createElement("a");
    link.href = URL.createObjectURL(data instanceof Blob ? data : new Blob([data], {type}));
    link.download = name;
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);  // the download reads the blob after click returns
}

const CRC_TABLE = (() => {
    const table = new Uint32Array(256);
    for (let n = 0; n < 256; n++) {
        let c = n;
        for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
        table[n] = c >>> 0;
    }
    return table;
})();

function crc32(bytes) {
    let crc = 0xffffffff;
    for (let i = 0; i < bytes.length; i++) crc = CRC_TABLE[(crc ^ bytes[i]) & 0xff] ^ (crc >>> 8);
    return (crc ^ 0xffffffff) >>> 0;
}

// A zip of stored entries (the PNGs are compressed already), names in UTF-8, dated now; past 65,535 entries
// zip64's end records give the count.
function zip(entries) {
    const now = new Date();
    const time = (now.getHours() << 11) | (now.getMinutes() << 5) | (now.getSeconds() >> 1);
    const date = ((now.getFullYear() - 1980) << 9) | ((now.getMonth() + 1) << 5) | now.getDate();
    const parts = [];
    const central = [];
    let offset = 0;
    for (const [path, bytes] of entries) {
        const name = encoder.encode(path);
        const local = new DataView(new ArrayBuffer(30));
        local.setUint32(0, 0x04034b50, true);
        local.setUint16(4, 20, true);       // version needed: 2.0
        local.setUint16(6, 0x0800, true);   // names in UTF-8; method 0: stored
        local.setUint16(10, time, true);
        local.setUint16(12, date, true);
        local.setUint32(14, crc32(bytes), true);
        local.setUint32(18, bytes.length, true);
        local.setUint32(22, bytes.length, true);
        local.setUint16(26, name.length, true);
        const entry = new DataView(new ArrayBuffer(46));
        entry.setUint32(0, 0x02014b50, true);
        entry.setUint16(4, 20, true);       // made by: 2.0
        new Uint8Array(entry.buffer).set(new Uint8Array(local.buffer, 4, 26), 6);  // the same fields as the local header
        entry.setUint32(42, offset, true);
        parts.push(local, name, bytes);
        central.push(entry, name);
        offset += 30 + name.length + bytes.length;
    }
    const size = central.reduce((sum, part) => sum + part.byteLength, 0);
    if (offset + size > 0xffffffff) throw new Error("the files come to more than 4 GB, more than a zip here holds");
    const records = [];
    if (entries.length > 0xffff) {
        const record = new DataView(new ArrayBuffer(76));
        record.setUint32(0, 0x06064b50, true);       // zip64 end of central directory
        record.setBigUint64(4, 44n, true);
        record.setUint16(12, 45, true);
        record.setUint16(14, 45, true);
        record.setBigUint64(24, BigInt(entries.length), true);
        record.setBigUint64(32, BigInt(entries.length), true);
        record.setBigUint64(40, BigInt(size), true);
        record.setBigUint64(48, BigInt(offset), true);
        record.setUint32(56, 0x07064b50, true);      // its locator
        record.setBigUint64(64, BigInt(offset + size), true);
        record.setUint32(72, 1, true);
        records.push(record);
    }
    const end = new DataView(new ArrayBuffer(22));
    end.setUint32(0, 0x06054b50, true);
    end.setUint16(8, Math.min(entries.length, 0xffff), true);
    end.setUint16(10, Math.min(entries.length, 0xffff), true);
    end.setUint32(12, size, true);
    end.setUint32(16, offset, true);
    return new Blob([...parts, ...central, ...records, end], {type: "application/zip"});
}

function saveZip(name, entries) {
    try {
        save(name, zip(entries));
    } catch (error) {
        say(`${name}: ${error.message}`);
    }
}

// ---- art back in ---------------------------------------------------------------------------------------------

// The texture an image is named after: X.mat.png or X.png for a MAT file X.mat of the set (mat/ first).
function textureFor(imageName) {
    const stem = imageName.replace(/\.png$/i, "").replace(/\.mat$/i, "");
    const matches = textures().filter((path) => baseName(path).replace(/\.mat$/i, "") === stem);
    return matches.find((path) => path.startsWith("mat/")) || matches[0] || null;
}

// The name png2mat --palette takes for a palette file of the set, and the folder to search for it.
function paletteName(path) {
    const stem = path.replace(/\.pal$/i, "");
    if (stem.startsWith("pal/")) return {name: stem.slice(4).replaceAll("/", "\\"), dir: null};
    return {name: baseName(stem), dir: dirName(path)};
}

function showResult(list, className, label, text, download) {
    const item = element("li", className);
    item.append(element("span", "name", label), element("span", "reason", text));
    if (download) item.append(download);
    $(list).append(item);
    return item;
}

function artOptions() {
    return [...($("art-match").value === "rgb" ? ["--match=rgb"] : []), ...($("art-dither").checked ? ["--dither"] : [])];
}

// Lines and written files of one png2mat run, told per operand.
function artOutcome(result, operand, matPath, label) {
    const written = resultFiles(result);
    const bytes = written.get(matPath);
    if (bytes) {
        state.built.set(matPath, bytes);
        state.files.set(matPath, bytes);
        // A note such as "N pixels not in the palette, mapped to the nearest colour" comes with a written file.
        const note = reasonFor("png2mat", result.stderr, operand);
        showResult("art-results", "built", matPath, `from ${label}${note ? `: ${note}` : ""}`,
            downloadLink("MAT", baseName(matPath), blobUrl($("art-results"), bytes, "application/octet-stream")));
        return matPath;
    }
    if (failedIn(result.stdout, operand)) {
        const reason = reasonFor("png2mat", result.stderr, operand) || reasonFor("png2mat", result.stderr, matPath)
            || "could not be processed";
        showResult("art-results", "failure", label, reason);
    } else {
        showResult("art-results", "unchanged", matPath, `from ${label}: the same bytes as before`);
    }
    return null;
}

// png2mat over the art ENTRIES, each one's outcome shown; a refused command line (status 64), or a run the core
// could not finish (a picture too large for the page's memory), is one failure for them all.
async function runArt(args, files, entries) {
    let result;
    try {
        result = await run("png2mat", args, files);
    } catch (error) {
        if (isCancel(error)) throw error;
        showResult("art-results", "failure", entries.map(({label}) => label).join(", "), error.message);
        return [];
    }
    if (result.status === 64) {
        showResult("art-results", "failure", entries.map(({label}) => label).join(", "),
            lines(result.stderr).map((line) => line.replace(/^png2mat: /, "")).join(" "));
        return [];
    }
    return entries.map(({operand, matPath, label}) => artOutcome(result, operand, matPath, label)).filter(Boolean);
}

// Edited images of the set's textures, each put beside its MAT file as png2mat finds it: X.mat.png.
async function rebuildTextures(rebuild) {
    const files = paletteFiles();
    for (const {texture, colour, alpha} of rebuild) {
        files[texture] = state.files.get(texture);
        files[`${texture}.png`] = colour;
        if (alpha) files[`${texture}_alpha.png`] = alpha;
    }
    const operands = [...new Set(rebuild.map(({texture}) => `${texture}.png`))];
    const entries = rebuild.map(({texture, name}) => ({operand: `${texture}.png`, matPath: texture, label: name}));
    return runArt(["--no-backup", ...artOptions(), "--", ...operands], files, entries);
}

// New art, kept apart in the virtual directory and made into MAT files in the set's mat/ (or its top folder).
async function newTextures(fresh) {
    const choice = $("art-palette").value;
    if (!choice) {
        for (const {name} of fresh) {
            showResult("art-results", "failure", name, "the set holds no palette for a new texture");
        }
        return [];
    }
    const {name, dir} = paletteName(choice);
    const out = textures().some((path) => path.startsWith("mat/")) || !textures().length ? "mat" : ".";
    const files = paletteFiles();
    // The type of new files is the one most MAT files in their folder have: those files go along.
    for (const path of textures()) if (dirName(path) === out) files[path] = state.files.get(path);
    if (out === "mat" && !textures().length) files["mat/.keep"] = new Uint8Array();  // -o needs the folder
    for (const {name: image, colour, alpha} of fresh) {
        files[`${ART_DIR}/${image}`] = colour;
        if (alpha) files[`${ART_DIR}/${image.replace(/\.png$/i, "")}_alpha.png`] = alpha;
    }
    const type = $("art-type").value.trim();
    const args = ["--no-backup", `--palette=${name}`, ...(dir ? [`--palette-dir=${dir}`] : []),
        ...($("art-embed").checked ? ["--embed-palette"] : []), ...(type ? [`--type=${type}`] : []),
        ...artOptions(), "-o", out, "--", ...fresh.map(({name: image}) => `${ART_DIR}/${image}`)];
    return runArt(args, files, fresh.map(({name: image}) => ({
        operand: `${ART_DIR}/${image}`,
        matPath: normal(`${out}/${image.replace(/\.png$/i, "").replace(/\.mat$/i, "")}.mat`),
        label: image,
    })));
}

async function artIn(items) {
    const images = await pngImages(items);
    if (images.length === 0) return showResult("art-results", "failure", "art", "no PNG image among the files given");
    const names = new Set(images.map((image) => image.name));
    const alphaOf = new Map();
    const art = [];
    for (const image of images) {
        const owner = /^(.*)_alpha\.png$/i.exec(image.name);
        if (owner && names.has(`${owner[1]}.png`)) alphaOf.set(`${owner[1]}.png`, image.bytes);
        else art.push(image);
    }
    const rebuild = [];
    const fresh = [];
    for (const image of art) {
        const texture = textureFor(image.name);
        const alphaAlone = /^(.*\.mat)_alpha\.png$/i.exec(image.name);
        const owner = alphaAlone && textureFor(alphaAlone[1]);
        if (owner && state.images.has(`${owner}.png`)) {
            // an edited alpha image alone: the colour image as converted goes along
            const colour = state.images.get(`${owner}.png`);
            rebuild.push({texture: owner, name: image.name, colour, alpha: image.bytes});
        } else if (texture) {
            rebuild.push({texture, name: image.name, colour: image.bytes, alpha: alphaOf.get(image.name)});
        } else {
            fresh.push({name: image.name, colour: image.bytes, alpha: alphaOf.get(image.name)});
        }
    }
    const changed = [...(rebuild.length ? await rebuildTextures(rebuild) : []),
        ...(fresh.length ? await newTextures(fresh) : [])];
    $("art-download").disabled = state.built.size === 0;
    // The rebuilt and new textures as mat2png now shows them, beside the run of the set (if one goes on).
    const generation = state.generation;
    if (changed.length) await convertChunk([...new Set(changed)], () => generation === state.generation);
}

// ---- palettes --------------------------------------------------------------------------------------------------

// matpal reads a name with a slash as a palette file; a root file gets "./" so that "-x.pal" is no option.
const source = (path) => (path.includes("/") ? path : `./${path}`);

const FORMATS = [
    ["png", ".png", "picture (PNG)"], ["gpl", ".gpl", "GIMP (.gpl)"], ["act", ".act", "Photoshop (.act)"],
    ["jasc", ".jasc.pal", "JASC-PAL"], ["riff", ".riff.pal", "Microsoft RIFF"], ["iff", ".pal", "pal/ (IFF)"],
];

async function exportPalette(path, format) {
    const [, extension] = FORMATS.find(([id]) => id === format);
    const out = `.page-export${extension}`;
    const result = await run("matpal", ["export", source(path), "-f", format, "-o", out], paletteFiles());
    const bytes = resultFiles(result).get(out);
    if (!bytes) throw new Error(reasonFor("matpal", result.stderr, source(path)) || lines(result.stderr).join(" "));
    return {bytes, name: baseName(path).replace(/\.pal$/i, "") + extension};
}

function showPalettes() {
    const box = $("palettes");
    for (const node of [...box.children]) release(node);
    for (const select of [$("art-palette"), $("make-from")]) {
        const chosen = select.value;
        select.replaceChildren(...(select.id === "make-from" ? [new Option("—", "")] : []));
        // matpal takes --from as a palette name, which only names the files under pal/
        for (const path of palettes()) {
            if (select.id !== "make-from" || !paletteName(path).dir) select.append(new Option(path, path));
        }
        if (palettes().includes(chosen)) select.value = chosen;
    }
    if (palettes().length === 0) box.append(element("p", "none", "No palette files in the set."));
    for (const path of palettes()) {
        const card = element("figure", "palette");
        card.dataset.name = path;
        const swatch = element("img", "swatch");
        swatch.alt = `${path} swatch`;
        swatch.width = swatch.height = 128;
        const caption = element("figcaption");
        const format = element("select", "format");
        for (const [id, , label] of FORMATS) format.append(new Option(label, id));
        const button = element("button", "export", "Export");
        button.addEventListener("click", () => task(async () => {
            try {
                const {bytes, name} = await exportPalette(path, format.value);
                save(name, bytes, "application/octet-stream");
            } catch (error) {
                if (isCancel(error)) throw error;
                card.querySelector(".reason").textContent = error.message;
            }
        }));
        caption.append(element("span", "name", path), format, button, element("span", "reason"));
        card.append(swatch, caption);
        box.append(card);
        task(async () => {
            try {
                const {bytes} = await exportPalette(path, "png");
                swatch.src = blobUrl(card, bytes, "image/png");
            } catch (error) {
                if (isCancel(error)) throw error;
                card.classList.add("bad");
                card.querySelector(".reason").textContent = error.message;
            }
        });
    }
}

let makeImages = [];

async function pickMakeImages(items) {
    makeImages = await pngImages(items);
    $("make-picked").textContent = makeImages.length ? makeImages.map(({name}) => name).join(", ") : "no PNG picture";
    $("make-run").disabled = makeImages.length === 0;
}

async function makePalette() {
    const name = $("make-name").value.trim();
    if (!name) return showResult("make-results", "failure", "make", "give the palette a name");
    const files = paletteFiles();
    const operands = makeImages.map(({name: image}, i) => `${MAKE_DIR}/${i}/${image}`);
    makeImages.forEach(({bytes}, i) => { files[operands[i]] = bytes; });
    const colours = $("make-colours").value.trim();
    const keep = $("make-keep").value.trim();
    const from = $("make-from").value;
    const args = ["make", ...(colours ? [`--colours=${colours}`] : []), ...(keep ? [`--keep=${keep}`] : []),
        ...(from ? [`--from=${paletteName(from).name}`] : []), ...($("make-force").checked ? ["--force"] : []),
        "--", name, ...operands];
    let result;
    try {
        result = await run("matpal", args, files);
    } catch (error) {
        if (isCancel(error)) throw error;
        return showResult("make-results", "failure", name, error.message);
    }
    const made = [...resultFiles(result)].filter(([path]) => isPal(path));  // pal/NAME.pal (a backup ends in .bak)
    if (result.status !== 0 || made.length === 0) {
        showResult("make-results", "failure", name, lines(result.stderr).map((l) => l.replace(/^matpal: /, "")).join(" "));
        return;
    }
    const replaced = made.some(([path]) => state.files.has(path));
    for (const [path, bytes] of made) {
        state.files.set(path, bytes);
        showResult("make-results", "built", path, `fitted to ${count(makeImages.length, "picture")}`,
            downloadLink("download", baseName(path), blobUrl($("make-results"), bytes, "application/octet-stream")));
    }
    showPalettes();
    if (replaced) await convertAll();  // the textures that name the palette now show its new colours
}

// ---- wiring ---------------------------------------------------------------------------------------------------

function dropZone(zone, handle) {
    zone.addEventListener("dragover", (event) => { event.preventDefault(); zone.classList.add("over"); });
    zone.addEventListener("dragleave", () => zone.classList.remove("over"));
    zone.addEventListener("drop", (event) => {
        event.preventDefault();
        event.stopPropagation();
        zone.classList.remove("over");
        droppedFiles(event.dataTransfer).then((items) => task(() => handle(items)));
    });
}

function showStatus(text, className) {
    $("status").textContent = text;
    $("status").className = className;
}

// A picker hands its files over and is emptied, so that picking the same files again is seen.
function onPick(id, handle) {
    $(id).addEventListener("change", () => {
        const items = pickedFiles($(id));
        $(id).value = "";
        task(() => handle(items));
    });
}

function start() {
    busy(0);
    if (!window.matTools) {
        return showStatus("The converter is missing: open build-web/mat2png.html, made by scripts/web.sh.", "error");
    }
    window.matTools.ready.then(() => showStatus("Ready: open a set.", "ready"),
        (error) => showStatus(`The converter did not start: ${error.message}`, "error"));

    onPick("files", openSet);
    onPick("folder", openSet);
    $("mode").addEventListener("change", () => { if (textures().length) convertAll(); });
    $("cancel").addEventListener("click", cancel);
    $("show-alpha").addEventListener("change", () => document.body.classList.toggle("show-alpha", $("show-alpha").checked));
    $("download-all").addEventListener("click", () => saveZip(`${state.setName}-png.zip`, [...state.images]));
    onPick("art-files", artIn);
    $("art-download").addEventListener("click", () => saveZip(`${state.setName}-mat.zip`, [...state.built]));
    onPick("make-files", pickMakeImages);
    $("make-run").addEventListener("click", () => task(makePalette));

    dropZone($("art"), artIn);
    dropZone($("make"), pickMakeImages);
    // Anywhere else: a set (and never the browser leaving the page for the file); PNGs alone are art for it.
    dropZone(document.body, (items) => (items.every(({path}) => isPng(path)) && textures().length ? artIn(items)
        : openSet(items)));
}

start();
})();
