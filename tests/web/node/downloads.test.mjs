// What goes into the page's zips besides the files: names, failed.txt and the palettes MAT files name.
import assert from "node:assert/strict";
import {test} from "node:test";

import {failedText, imagesZipName, matZipEntries, matZipName, withFailures} from "../../../web/downloads.js";

test("zip names tell RGB images from indexed ones", () => {
    assert.deepEqual([imagesZipName("castle", false), imagesZipName("castle", true), matZipName("castle")],
        ["castle-png.zip", "castle-indexed.zip", "castle-mat.zip"]);
});

test("failed.txt has a line per failed file, names as they are, control characters escaped", () => {
    const failures = new Map([["mat/h\u00e9ros.mat", "a chunk runs past the end of the file"],
        ["mat/two\nlines.mat", "palette \"rock\" not found"], ["<b>.mat", "not an IFF file"]]);
    assert.equal(failedText(failures), "mat/h\u00e9ros.mat: a chunk runs past the end of the file\n"
        + "mat/two\\x0Alines.mat: palette \"rock\" not found\n<b>.mat: not an IFF file\n");
    const entries = [["mat/a.mat.png", new Uint8Array([1])]];
    assert.deepEqual(withFailures(entries, new Map()), entries);
    const [, [name, bytes]] = withFailures(entries, failures);
    assert.equal(name, "failed.txt");
    assert.equal(new TextDecoder().decode(bytes), failedText(failures));
});

test("the MAT zip carries each palette file its MAT files name, once, under pal/", () => {
    const files = new Map([["pal/rock.pal", new Uint8Array([1])], ["pal/water/Glass.pal", new Uint8Array([2])],
        ["loose.pal", new Uint8Array([3])], ["pal/unused.pal", new Uint8Array([4])]]);
    const uses = (path) => ({
        "mat/a.mat": {name: "rock", file: "pal/rock.pal"}, "mat/b.mat": {name: "rock", file: "pal/rock.pal"},
        "mat/c.mat": {name: "water\\Glass", file: "pal/water/Glass.pal"}, "mat/d.mat": null,
        "mat/e.mat": {name: "gone", file: null}, "f.mat": {name: "sub\\Loose", file: "loose.pal"},
    })[path];
    const built = ["mat/a.mat", "mat/b.mat", "mat/c.mat", "mat/d.mat", "mat/e.mat", "f.mat"].map((p) => [p, new Uint8Array([9])]);
    const entries = new Map(matZipEntries(built, uses, files));
    assert.deepEqual([...entries.keys()].sort(), ["f.mat", "mat/a.mat", "mat/b.mat", "mat/c.mat", "mat/d.mat", "mat/e.mat",
        "pal/rock.pal", "pal/sub/Loose.pal", "pal/water/Glass.pal"]);
    assert.deepEqual([...entries.get("pal/sub/Loose.pal")], [3]);
});
