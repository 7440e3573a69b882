// The messages between the page and a worker holding the core, written once for both sides.
// To a worker: {id, op: "run", program, args, files, describe}, {id, op: "describe", path, files} or
// {id, op: "images", names, output}.
// From it: {ready}, {id, line: [stream, text]}, {id, result}, {id, error}, and {fatal} when its core is lost.

// A path inside the run's directory: relative, with no empty, "." or ".." part.
export function checkedPath(path) {
    if (typeof path !== "string" || path === "" || path.startsWith("/") || path.includes("\0")
        || path.split("/").some((p) => p === "" || p === "." || p === ".."))
        throw new TypeError("not a relative path: " + path);
    return path;
}

// The files of a call: relative path -> Uint8Array.
export function checkedFiles(files) {
    const copy = {};
    for (const [path, bytes] of Object.entries(files || {})) {
        checkedPath(path);
        if (!(bytes instanceof Uint8Array)) throw new TypeError("the file " + path + " is not a Uint8Array");
        copy[path] = bytes;
    }
    return copy;
}

// Arguments go to the core NUL-ended: one holding a NUL would be read as two.
export function checkedArgs(args) {
    return (args || []).map((arg) => {
        const text = String(arg);
        if (text.includes("\0")) throw new TypeError("an argument holds a NUL character: " + JSON.stringify(text));
        return text;
    });
}

// A run's `describe` lists MAT files to outline once the run is over, in its directory: a call spared per file.
export const runMessage = (id, program, args, files, options = {}) =>
    ({id, op: "run", program: String(program), args: checkedArgs(args), files: checkedFiles(files),
      describe: (options.describe || []).map((path) => checkedPath(String(path)))});
export const imagesMessage = (id, names, output) =>
    ({id, op: "images", names: checkedArgs(names).map((name) => (name.includes("/") ? checkedPath(name) : name)), output: checkedArgs([output])[0]});
export const describeMessage = (id, path, files) => ({id, op: "describe", path: checkedPath(String(path)), files: checkedFiles(files)});
