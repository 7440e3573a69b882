// Where Files… puts a picked palette so that the MAT files naming it find it.
import assert from "node:assert/strict";
import {test} from "node:test";

import {placePalettes} from "../../../web/palette-places.js";

test("a picked palette goes to pal/ under the name's folders, matched by the name's last parts", () => {
    const cases = [
        // the name alone, its folders missing from what was picked
        [["water\\Glass"], ["Glass.pal"], [["Glass.pal", "pal/water/Glass.pal"]]],
        // case ignored
        [["water\\Glass"], ["GLASS.PAL"], [["GLASS.PAL", "pal/water/Glass.pal"]]],
        // the picked path with more of the name wins over the name alone
        [["water\\Glass"], ["Glass.pal", "water/Glass.pal"], [["water/Glass.pal", "pal/water/Glass.pal"]]],
        // a folder that differs rules it out
        [["water\\Glass"], ["lava/Glass.pal"], []],
        [["water\\Glass"], ["lava/Glass.pal", "Glass.pal"], [["Glass.pal", "pal/water/Glass.pal"]]],
        // another name, nothing
        [["rock"], ["rocks.pal", "Glass.pal"], []],
        // two names, one file each; a name asked twice is placed once
        [["rock", "deep\\sea\\blue", "rock"], ["blue.pal", "rock.pal"],
            [["rock.pal", "pal/rock.pal"], ["blue.pal", "pal/deep/sea/blue.pal"]]],
        // a picked path deeper than the name: its last parts are the name's
        [["sea\\blue"], ["x/y/sea/blue.pal"], [["x/y/sea/blue.pal", "pal/sea/blue.pal"]]],
        [[], ["rock.pal"], []],
    ];
    for (const [names, picked, places] of cases) {
        assert.deepEqual(placePalettes(names, picked), places, `${names} among ${picked}`);
    }
});
