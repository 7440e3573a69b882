// Files coming in: picked or dropped, with their paths inside picked or dropped folders, and the set's layout.
import {baseName, isPng} from "./names.js";

export const readBytes = async (file) => new Uint8Array(await file.arrayBuffer());

// The bytes of each item's file, in the items' order, IN_FLIGHT reads under way at all times: read one by one, each
// waits for a turn of the event loop (15 s for 2,000 files); in batches, each batch waits for its slowest file.
export async function readAll(items, inFlight = 64) {
    const read = new Array(items.length);
    let next = 0;
    const reader = async () => {
        while (next < items.length) {
            const at = next++;
            read[at] = await readBytes(items[at].file);
        }
    };
    await Promise.all(Array.from({length: Math.min(inFlight, items.length)}, reader));
    return read;
}

// Dropped items with their paths inside the dropped folders (entries must be taken before the first await).
export async function droppedFiles(dataTransfer) {
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

export const pickedFiles = (input) => [...input.files].map((file) => ({path: file.webkitRelativePath || file.name, file}));

// The PNG images among ITEMS, by name (art and pictures are taken by their names alone).
export async function pngImages(items) {
    const pictures = items.filter(({path}) => isPng(path));
    const read = await readAll(pictures);
    return pictures.map(({path}, k) => ({name: baseName(path), bytes: read[k]}));
}

// One folder picked or dropped whole is the set itself: its name goes, so that mat/ and pal/ are at the top
// (a folder named mat stays, so that pal/ beside it is still where the command line looks).
export function setLayout(items) {
    const tops = new Set(items.map(({path}) => (path.includes("/") ? path.split("/")[0] : null)));
    if (tops.size !== 1 || tops.has(null)) return {name: "textures", items};
    const [top] = tops;
    if (/^(mat|pal)$/i.test(top)) return {name: top, items};
    return {name: top, items: items.map(({path, ...rest}) => ({...rest, path: path.slice(top.length + 1)}))};
}
