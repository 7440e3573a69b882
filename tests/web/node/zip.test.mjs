// The page's zip writer, read back by Python's zipfile (a real reader), with zip64's end records past 65,535 entries.
import assert from "node:assert/strict";
import {execFileSync} from "node:child_process";
import {mkdtempSync, rmSync, writeFileSync} from "node:fs";
import {tmpdir} from "node:os";
import {join} from "node:path";
import {test} from "node:test";

import {crc32, dosTime, zipParts} from "../../../web/zip.js";

const bytes = (text) => new TextEncoder().encode(text);

// Python's reading of a zip: each entry's name, size, CRC, date and content (hex), and testzip's verdict.
function readBack(parts) {
    const folder = mkdtempSync(join(tmpdir(), "zip-test-"));
    try {
        const path = join(folder, "a.zip");
        writeFileSync(path, Buffer.concat(parts.map((part) => new Uint8Array(part.buffer, part.byteOffset, part.byteLength))));
        const script = `import json, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
print(json.dumps({"bad": z.testzip(), "entries": [[i.filename, i.file_size, i.CRC, list(i.date_time), i.compress_type,
    z.read(i).hex() if i.file_size < 64 else None] for i in z.infolist()]}))`;
        return JSON.parse(execFileSync("python3", ["-c", script, path], {maxBuffer: 1 << 28}).toString());
    } finally {
        rmSync(folder, {recursive: true});
    }
}

test("CRC-32 of known strings", () => {
    for (const [text, crc] of [["", 0], ["a", 0xe8b7be43], ["123456789", 0xcbf43926],
        ["The quick brown fox jumps over the lazy dog", 0x414fa339]]) {
        assert.equal(crc32(bytes(text)), crc, text);
    }
});

test("entries come back with their names (UTF-8), bytes, CRCs and date", () => {
    const when = new Date(2026, 11, 7, 22, 3, 59);
    const entries = [["mat/hero.mat.png", bytes("\x89PNG not really")], ["mat/h\u00e9ros.mat_alpha.png", bytes("alpha")],
        ["empty", new Uint8Array()], ["a/b/c/d.png", new Uint8Array(300000).map((_, i) => i * 7)]];
    const read = readBack(zipParts(entries, when));
    assert.equal(read.bad, null);
    assert.deepEqual(read.entries.map(([name, size, crc, date, method, hex]) => [name, size, crc, date, method, hex]),
        entries.map(([name, data]) => [name, data.length, crc32(data), [2026, 12, 7, 22, 3, 58], 0,
            data.length < 64 ? Buffer.from(data).toString("hex") : null]));
});

test("dates are kept as DOS holds them: years from 1980, seconds halved", () => {
    assert.deepEqual(dosTime(new Date(1980, 0, 1, 0, 0, 0)), {time: 0, date: (1 << 5) | 1});
    assert.deepEqual(dosTime(new Date(2107, 11, 31, 23, 59, 59)), {time: (23 << 11) | (59 << 5) | 29, date: (127 << 9) | (12 << 5) | 31});
});

test("an empty zip is a zip", () => {
    assert.deepEqual(readBack(zipParts([])), {bad: null, entries: []});
});

test("65,535 entries fit the plain end record; one more takes zip64's", () => {
    for (const count of [0xffff, 0x10000]) {
        const entries = Array.from({length: count}, (_, i) => [`f${i}`, new Uint8Array([i & 0xff])]);
        const parts = zipParts(entries);
        const zip64 = parts.some((part) => part.byteLength === 76 && new DataView(part.buffer).getUint32(0, true) === 0x06064b50);
        assert.equal(zip64, count > 0xffff, `zip64 records at ${count}`);
        const read = readBack(parts);
        assert.equal(read.bad, null);
        assert.equal(read.entries.length, count);
        assert.deepEqual(read.entries.at(-1).slice(0, 3), [`f${count - 1}`, 1, crc32(new Uint8Array([(count - 1) & 0xff]))]);
    }
});
