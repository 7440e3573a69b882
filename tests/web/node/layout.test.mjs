// The pure parts of the page's intake and conversion: the set's layout and the chunks the files are run in.
import assert from "node:assert/strict";
import {test} from "node:test";

import {chunks, CHUNK_BYTES, CHUNK_FILES} from "../../../web/conversion.js";
import {readAll, setLayout} from "../../../web/intake.js";

test("one folder picked whole is the set, its name taken off unless it is mat/ or pal/", () => {
    const paths = (layout) => ({name: layout.name, paths: layout.items.map(({path}) => path)});
    const cases = [
        [["samples/mat/a.mat", "samples/pal/a.pal"], {name: "samples", paths: ["mat/a.mat", "pal/a.pal"]}],
        [["mat/a.mat", "mat/b.mat"], {name: "mat", paths: ["mat/a.mat", "mat/b.mat"]}],
        [["PAL/x.pal"], {name: "PAL", paths: ["PAL/x.pal"]}],
        [["a.mat", "b.pal"], {name: "textures", paths: ["a.mat", "b.pal"]}],
        [["one/a.mat", "two/b.mat"], {name: "textures", paths: ["one/a.mat", "two/b.mat"]}],
        [["set/a.mat", "loose.mat"], {name: "textures", paths: ["set/a.mat", "loose.mat"]}],
        [["s p\u00e9/mat/a b.mat"], {name: "s p\u00e9", paths: ["mat/a b.mat"]}],
        [[], {name: "textures", paths: []}],
    ];
    for (const [given, expected] of cases) assert.deepEqual(paths(setLayout(given.map((path) => ({path, file: null})))), expected, given.join());
});

test("a layout keeps each item's file with its path", () => {
    const items = [{path: "x/mat/a.mat", file: "A"}, {path: "x/pal/b.pal", file: "B"}];
    assert.deepEqual(setLayout(items).items, [{path: "mat/a.mat", file: "A"}, {path: "pal/b.pal", file: "B"}]);
});

test("chunks grow from one file, doubling up to the most files, and stop at the most bytes", () => {
    const names = (n) => Array.from({length: n}, (_, i) => `f${i}`);
    const sizes = (chunked) => chunked.map((chunk) => chunk.length);
    assert.deepEqual(sizes(chunks(names(0), () => 1)), []);
    assert.deepEqual(sizes(chunks(names(1), () => 1)), [1]);
    assert.deepEqual(sizes(chunks(names(100), () => 1)), [1, 2, 4, 8, 16, 24, 24, 21]);
    // every file in order, once
    assert.deepEqual(chunks(names(100), () => 1).flat(), names(100));
    // large files: a chunk closes once it holds CHUNK_BYTES, yet never stays empty
    const half = CHUNK_BYTES / 2;
    assert.deepEqual(sizes(chunks(names(12), () => half)), [1, 2, 2, 2, 2, 2, 1]);
    assert.deepEqual(sizes(chunks(names(3), () => CHUNK_BYTES * 4)), [1, 1, 1]);
    assert.equal(Math.max(...sizes(chunks(names(1000), () => 0))), CHUNK_FILES);
});

test("a folder's files are read in their order, so many at a time and never more", async () => {
    for (const [count, inFlight] of [[0, 4], [1, 4], [10, 3], [10, 64]]) {
        let reading = 0, most = 0;
        // each file takes its own time, so that reads end out of order
        const items = Array.from({length: count}, (_, n) => ({path: `mat/${n}.mat`, file: {arrayBuffer: async () => {
            most = Math.max(most, ++reading);
            await new Promise((done) => setTimeout(done, (n * 7) % 5));
            reading -= 1;
            return new Uint8Array([n]).buffer;
        }}}));
        const read = await readAll(items, inFlight);
        assert.deepEqual(read.map((bytes) => bytes[0]), items.map((_, n) => n), `${count} files`);
        assert.equal(most, Math.min(count, inFlight), `${count} files, ${inFlight} at once`);
    }
});

test("a file that cannot be read fails the whole read", async () => {
    const items = [{path: "a", file: {arrayBuffer: async () => new ArrayBuffer(1)}},
        {path: "b", file: {arrayBuffer: async () => { throw new DOMException("gone", "NotReadableError"); }}}];
    await assert.rejects(readAll(items, 2), {name: "NotReadableError"});
});
