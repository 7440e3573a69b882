// The page people use: every conversion goes through window.matTools (the project's core in Web Workers); these
// modules only gather files, show results and pack downloads. Text from files reaches the DOM as textContent only.
import "./core.js";
import {artIn} from "./art.js";
import {convertAll} from "./conversion.js";
import {$, revoke, save} from "./dom.js";
import {imagesZipName, matZipEntries, matZipName, withFailures} from "./downloads.js";
import {cardOf} from "./gallery.js";
import {startGalleryView} from "./gallery-view.js";
import {droppedFiles, pickedFiles, readAll, setLayout} from "./intake.js";
import {count, say} from "./log.js";
import {byText, isMat, isPal, isPng} from "./names.js";
import {placePalettes} from "./palette-places.js";
import {makePalette, pickMakeImages, showPalettes} from "./palettes.js";
import {busy, cancel, describe, palettes, state, task, textures} from "./state.js";
import {closeViewer, startViewer} from "./viewer.js";
import {zip} from "./zip.js";

function showStatus(text, className) {
    $("status").textContent = text;
    $("status").className = className;
}

// Nothing of the last set stays: its art results, built MAT files and made palettes, and their links.
function forgetResults() {
    state.images.clear();
    state.outputs.clear();
    state.built.clear();
    state.artFailures.clear();
    closeViewer();
    for (const list of [$("art-results"), $("make-results")]) {
        revoke(list);
        list.replaceChildren();
    }
    $("art-download").disabled = true;
}

// Palette files picked outside pal/ (Files… cannot pick folders) that MAT files name, but where the programs do
// not find them, are moved to where they look; the cards name them as picked.
async function placePicked(files) {
    state.picked = new Map();
    const loose = [...files.keys()].filter((path) => isPal(path) && !path.startsWith("pal/"));
    if (loose.length === 0) return;
    const known = Object.fromEntries([...files].filter(([path]) => isPal(path)));
    // every worker outlines some of the MAT files
    const outlines = await Promise.all([...files.keys()].filter(isMat)
        .map((path) => describe(path, {...known, [path]: files.get(path)}).catch(() => null)));
    const missing = outlines.filter((info) => info && !info.palette.embedded && info.palette.file === null)
        .map((info) => info.palette.name);
    for (const [picked, place] of placePalettes(missing, loose)) {
        if (files.has(place)) continue;
        files.set(place, files.get(picked));
        state.picked.set(place, picked);
    }
    for (const picked of new Set(state.picked.values())) files.delete(picked);
}

async function openSet(items) {
    performance.mark("set picked");
    const layout = setLayout(items);
    const wanted = layout.items.filter(({path}) => isMat(path) || isPal(path));
    if (wanted.length === 0) return say(`No MAT or palette file among the ${count(items.length, "file")} given.`);
    state.generation += 1;
    const read = await readAll(wanted);
    const files = new Map(wanted.map(({path}, k) => [path, read[k]]));
    await placePicked(files);
    state.files = new Map([...files].sort(([a], [b]) => byText(a, b)));
    performance.mark("set read");
    state.setName = layout.name;
    forgetResults();
    const aside = items.length - wanted.length;
    const opened = `${layout.name}: ${count(textures().length, "MAT file")}, ${count(palettes().length, "palette")}` +
        (aside ? ` (${count(aside, "other file")} left aside)` : "");
    say(`Opened ${opened}`);
    showStatus(opened, "ready");
    showPalettes();
    await convertAll();
}

// A zip of ENTRIES, [path, bytes or Blob], read one by one.
async function saveZip(name, entries) {
    try {
        const read = [];
        for (const [path, data] of entries) read.push([path, data instanceof Blob ? new Uint8Array(await data.arrayBuffer()) : data]);
        save(name, zip(read));
    } catch (error) {
        say(`${name}: ${error.message}`);
    }
}

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
    startViewer();
    startGalleryView();
    showPalettes();  // before a set is open, its menus say so
    window.matTools.ready.then(() => showStatus("Ready: open a set.", "ready"),
        (error) => showStatus(`The converter did not start: ${error.message}`, "error"));

    onPick("files", openSet);
    onPick("folder", openSet);
    $("mode").addEventListener("change", () => { if (textures().length) convertAll(); });
    $("cancel").addEventListener("click", cancel);
    $("show-alpha").addEventListener("change", () => document.body.classList.toggle("show-alpha", $("show-alpha").checked));
    $("download-all").addEventListener("click", () => saveZip(imagesZipName(state.setName, $("mode").value === "indexed"),
        withFailures(state.images, state.failures)));
    onPick("art-files", artIn);
    $("art-download").addEventListener("click", () => saveZip(matZipName(state.setName), withFailures(
        matZipEntries(state.built, (path) => (cardOf(path) ? cardOf(path).usesPalette : null), state.files), state.artFailures)));
    onPick("make-files", pickMakeImages);
    $("make-run").addEventListener("click", () => task(makePalette));

    dropZone($("art"), artIn);
    dropZone($("make"), pickMakeImages);
    // Anywhere else: a set (and never the browser leaving the page for the file); PNGs alone are art for it.
    dropZone(document.body, (items) => (items.every(({path}) => isPng(path)) && textures().length ? artIn(items)
        : openSet(items)));
}

start();
