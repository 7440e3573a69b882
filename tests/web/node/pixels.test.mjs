// The viewer's reading of the programs' PNG files (every row filter, grey and colour-mapped, damage refused) and
// the palettes' used and unused entries.
import assert from "node:assert/strict";
import {test} from "node:test";
import {deflateSync} from "node:zlib";

import {entryText, paletteEntries} from "../../../web/palette-entries.js";
import {pngSamples} from "../../../web/png-samples.js";

function chunk(type, body) {
    const out = Buffer.alloc(12 + body.length);
    out.writeUInt32BE(body.length, 0);
    out.write(type, 4, "latin1");
    Buffer.from(body).copy(out, 8);
    return out;  // the CRC is left 0: the reader does not check it (the programs wrote the file)
}

// A PNG of SAMPLES (rows of bytes), each row filtered with FILTERS[y] as an encoder would.
function png(width, rows, {colour = 3, depth = 8, filters = [], palette = new Uint8Array(768)} = {}) {
    const paeth = (a, b, c) => {
        const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
        return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
    };
    const raw = [];
    rows.forEach((row, y) => {
        const filter = filters[y % filters.length] ?? 0;
        raw.push(filter);
        row.forEach((value, x) => {
            const a = x ? row[x - 1] : 0, b = y ? rows[y - 1][x] : 0, c = x && y ? rows[y - 1][x - 1] : 0;
            raw.push((value - [0, a, b, (a + b) >> 1, paeth(a, b, c)][filter] + 256) & 0xff);
        });
    });
    const header = Buffer.alloc(13);
    header.writeUInt32BE(width, 0);
    header.writeUInt32BE(rows.length, 4);
    header.set([depth, colour, 0, 0, 0], 8);
    const data = deflateSync(Buffer.from(raw));
    return new Uint8Array(Buffer.concat([Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]), chunk("IHDR", header),
        ...(colour === 3 ? [chunk("PLTE", palette)] : []),
        chunk("IDAT", data.subarray(0, 7)), chunk("IDAT", data.subarray(7)), chunk("IEND", [])]));
}

const picture = Array.from({length: 7}, (_, y) => Array.from({length: 9}, (_, x) => (x * 37 + y * 91 + x * y * 13) & 0xff));

test("every row filter gives back the samples, over IDAT chunks split anywhere", async () => {
    for (const filters of [[0], [1], [2], [3], [4], [0, 1, 2, 3, 4]]) {
        const palette = Uint8Array.from({length: 768}, (_, i) => (i * 7) & 0xff);
        const image = await pngSamples(png(9, picture, {filters, palette}));
        assert.deepEqual([image.width, image.height], [9, 7]);
        assert.deepEqual([...image.samples], picture.flat(), `filters ${filters}`);
        assert.deepEqual([...image.palette], [...palette]);
    }
    const grey = await pngSamples(new Blob([png(9, picture, {colour: 0, filters: [4, 3]})]));
    assert.deepEqual([...grey.samples], picture.flat());
    assert.equal(grey.palette, null);
});

test("what the programs never write, and damage, are refused with a reason", async () => {
    const good = png(9, picture);
    const cases = [
        [good.subarray(1), /not a PNG/],
        [png(9, picture, {colour: 2}), /8-bit grey or colour-mapped/],
        [png(9, picture, {depth: 4}), /8-bit grey or colour-mapped/],
        [(() => { const b = good.slice(); b[33 + 768 + 12 + 3] = 0x7f; return b; })(), /past the end/],
        [new Uint8Array([...good.subarray(0, 8), ...chunk("IEND", [])]), /no image header/],
        [good.subarray(0, 20), /past the end/],
        [png(9, picture, {filters: [0, 5]}), /row 1 has filter 5/],
    ];
    for (const [bytes, reason] of cases) await assert.rejects(pngSamples(bytes), reason);
    // a header that promises more rows than the data holds
    const short = png(9, picture);
    short.set([0, 0, 0, 8], 8 + 8 + 4);
    await assert.rejects(pngSamples(short), /shorter than the image/);
});

test("a palette's colours: repeats and the black fill at its end are unused", () => {
    const table = (entries) => Uint8Array.from(Array.from({length: 256}, (_, i) => entries[i] ?? [0, 0, 0]).flat());
    const cases = [
        // 64 fitted colours, the rest black
        [Array.from({length: 64}, (_, i) => [i + 1, 2 * i, 100]), 64, [64, 255], [0, 63]],
        // black among the colours: it stays, the fill goes
        [[[9, 9, 9], [0, 0, 0], [5, 6, 7]], 3, [3, 255], [0, 1, 2]],
        // a full table of distinct colours
        [Array.from({length: 256}, (_, i) => [i, 255 - i, i >> 1]), 256, [], [0, 255]],
        // all black: one colour, entry 0
        [[], 1, [1, 255], [0]],
        // a repeat in the middle, kept entries at the end
        [[...Array.from({length: 16}, (_, i) => [i * 9, 1, 1]), [0, 1, 1], ...Array(223).fill([0, 0, 0]),
            ...Array.from({length: 16}, (_, i) => [1, i * 9 + 1, 1])], 33, [16, 100], [0, 17, 240, 255]],
    ];
    for (const [entries, colours, unused, used] of cases) {
        const result = paletteEntries(table(entries));
        assert.equal(result.colours, colours);
        for (const i of unused) assert.equal(result.unused[i], true, `entry ${i} unused`);
        for (const i of used) assert.equal(result.unused[i], false, `entry ${i} used`);
    }
    assert.equal(entryText(table([[255, 16, 0], [1, 2, 3]]), 1), "#010203 (1, 2, 3)");
    assert.equal(entryText(table([[255, 16, 0]]), 0), "#ff1000 (255, 16, 0)");
});
