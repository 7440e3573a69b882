// The programs' refusals in the page's words: no option names, no pointer to --help.
import assert from "node:assert/strict";
import {test} from "node:test";

import {pageWords} from "../../../web/words.js";

test("options become the page's controls, and --help advice goes", () => {
    const cases = [
        ["pal/new.pal exists; --force replaces it, keeping it as pal/new.pal.bak",
            "pal/new.pal exists: tick “replace an existing one” to replace it"],
        ["sky.png: there is no MAT file mat/sky.mat beside it, so no palette to map its colours to; --palette=NAME creates one",
            "sky.png: there is no MAT file mat/sky.mat beside it, so no palette to map its colours to; choose a palette for new textures to make one"],
        ["option '--from' needs '--keep=RANGES'\nTry 'matpal --help' for more information.",
            "“from” needs “Keep entries”"],
        ["invalid entries '300' in --keep: give entries 0 to 255 such as 0-15,240-255",
            "invalid entries '300' in “Keep entries”: give entries 0 to 255 such as 0-15,240-255"],
        ["300 colours do not fit in the 224 entries --keep leaves free", "300 colours do not fit in the 224 entries “Keep entries” leaves free"],
        ["option '--type' needs '--palette=NAME'", "“type” needs a palette for new textures"],
        // what is no option stays
        ["mat/a--b.mat: not an IFF file", "mat/a--b.mat: not an IFF file"],
    ];
    for (const [said, shown] of cases) assert.equal(pageWords(said), shown);
});
