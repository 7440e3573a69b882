// What the page's zips hold besides the files themselves: their names (images of a run as RGB or indexed), the
// palette files the MAT files name, and failed.txt when some file of the run failed.

export const imagesZipName = (set, indexed) => `${set}-${indexed ? "indexed" : "png"}.zip`;
export const matZipName = (set) => `${set}-mat.zip`;

// A line per failed file, "NAME: REASON", names as they are but for control characters (a line stays a line).
export function failedText(failures) {
    const oneLine = (text) => text.replace(/[\x00-\x1f\x7f]/g, (c) => `\\x${c.charCodeAt(0).toString(16).toUpperCase().padStart(2, "0")}`);
    return [...failures].map(([name, reason]) => `${oneLine(name)}: ${oneLine(reason)}\n`).join("");
}

// ENTRIES ([path, bytes or Blob]) with failed.txt after them when FAILURES ([name, reason]) has any.
export function withFailures(entries, failures) {
    const list = [...failures];
    return list.length ? [...entries, ["failed.txt", new TextEncoder().encode(failedText(list))]] : [...entries];
}

// The MAT files BUILT ([path, bytes]) and the palette files they name: USES gives a MAT file's palette as the core
// found it ({name, file}, or null for an embedded one), FILES the set's bytes. A palette found outside pal/ goes in
// as pal/NAME.pal, where the command line looks for it.
export function matZipEntries(built, uses, files) {
    const entries = new Map(built);
    for (const [path] of built) {
        const palette = uses(path);
        if (!palette || palette.file === null || !files.has(palette.file)) continue;
        const place = palette.file.startsWith("pal/") ? palette.file : `pal/${palette.name.replaceAll("\\", "/")}.pal`;
        entries.set(place, files.get(palette.file));
    }
    return [...entries];
}
