// Paths of the set and what the programs print about them.

export const isMat = (path) => /\.mat$/i.test(path);
export const isPal = (path) => /\.pal$/i.test(path);
export const isPng = (path) => /\.png$/i.test(path);
export const baseName = (path) => path.slice(path.lastIndexOf("/") + 1);
export const dirName = (path) => (path.includes("/") ? path.slice(0, path.lastIndexOf("/")) : ".");
// Names in the order of their UTF-16 code units, one order whatever the reader's language (as sort() gives it).
export const byText = (a, b) => (a < b ? -1 : a > b ? 1 : 0);

// The programs print names from files with every byte outside printable ASCII as \xNN.
const encoder = new TextEncoder();
export function terminalText(text) {
    let shown = "";
    for (const byte of encoder.encode(text)) {
        shown += byte >= 0x20 && byte < 0x7f ? String.fromCharCode(byte)
            : "\\x" + byte.toString(16).toUpperCase().padStart(2, "0");
    }
    return shown;
}

export const lines = (text) => text.split("\n").filter((line) => line !== "");

// The reason the program gave for SUBJECT on standard error ("program: SUBJECT: REASON").
export function reasonFor(program, stderr, subject) {
    for (const form of new Set([subject, terminalText(subject)])) {
        const start = `${program}: ${form}: `;
        const line = lines(stderr).find((l) => l.startsWith(start));
        if (line) return line.slice(start.length);
    }
    return null;
}

// Paths in a result may come as "./x": the set's own form has none.
export const normal = (path) => path.replace(/^(\.\/)+/, "");

export function resultFiles(result) {
    const files = new Map();
    for (const [path, bytes] of Object.entries(result.files || {})) files.set(normal(path), bytes);
    return files;
}

// The name png2mat --palette takes for a palette file of the set, and the folder to search for it.
export function paletteName(path) {
    const stem = path.replace(/\.pal$/i, "");
    if (stem.startsWith("pal/")) return {name: stem.slice(4).replaceAll("/", "\\"), dir: null};
    return {name: baseName(stem), dir: dirName(path)};
}
