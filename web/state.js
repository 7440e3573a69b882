// What the page holds of the open set, and its calls to the core: counted as work under way, and dropped once a
// cancel or a new set makes them stale.
import {$} from "./dom.js";
import {say} from "./log.js";
import {isMat, isPal} from "./names.js";

export const state = {
    files: new Map(),     // the set: relative path -> bytes (MAT and palette files)
    setName: "textures",
    images: new Map(),    // what mat2png wrote: path -> PNG bytes
    outputs: new Map(),   // MAT path -> the paths mat2png wrote for it: its image, and its alpha image if any
    built: new Map(),     // MAT files png2mat wrote: path -> bytes
    failures: new Map(),  // MAT files the last conversion could not convert: path -> reason
    artFailures: new Map(),  // images of art brought back that png2mat could not take: name -> reason
    picked: new Map(),    // a palette Files… placed under pal/ -> the name it was picked as
    generation: 0,        // bumped by cancel and by opening a set: older work stops
    conversion: 0,        // bumped by each conversion: an older one stops showing its results
    busy: 0,
};

export const textures = () => [...state.files.keys()].filter(isMat);
export const palettes = () => [...state.files.keys()].filter(isPal);
export const paletteFiles = () => Object.fromEntries(palettes().map((path) => [path, state.files.get(path)]));

export class Cancelled extends Error {
    constructor() {
        super("cancelled");
        this.name = "AbortError";
    }
}
export const isCancel = (error) => error instanceof Cancelled || (error && error.name === "AbortError");

// Work under way (tasks and calls waiting for the core): Cancel is offered, and body[data-busy] tells scripts.
export function busy(change) {
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

export const run = (program, args, files, onLine, options) =>
    core(() => window.matTools.run(program, args, files, onLine, options));
export const describe = (path, files) => core(() => window.matTools.describe(path, files));
export const images = (names, output) => core(() => window.matTools.images(names, output));

export function cancel() {
    state.generation += 1;
    window.matTools.cancel();
    say("Cancelled.");
}

// A task counts as busy while it runs; its errors go to the log instead of being lost.
export async function task(work) {
    busy(1);
    try {
        return await work();
    } catch (error) {
        if (!isCancel(error)) say(`Error: ${error && error.message ? error.message : error}`);
    } finally {
        busy(-1);
    }
}
