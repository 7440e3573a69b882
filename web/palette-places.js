// Files… cannot pick folders (on a phone it is the only way in): a palette file picked with the MAT files that name
// it goes where the programs look for a named palette, pal/ with the name's folders, when the lookup did not find it
// as picked. It is matched by the named path's last parts: its own name, then as many of its folders as the picked
// path has (case ignored, as the lookup ignores it).

const parts = (path) => path.toLowerCase().split(/[\\/]/).filter((part) => part !== "");

// How many of NAMED's last parts PICKED (a path ending in .pal) ends with; 0 when its name or a folder differs.
function agreement(named, picked) {
    const want = parts(named);
    const have = parts(picked.replace(/\.pal$/i, ""));
    let matched = 0;
    while (matched < want.length && matched < have.length) {
        if (want[want.length - 1 - matched] !== have[have.length - 1 - matched]) return matched === 0 ? 0 : -1;
        matched += 1;
    }
    return matched;
}

// For each palette NAME the lookup did not find ("water\Glass"), the picked palette file among PICKED that ends
// with most of its parts (the first of equals): [[picked path, the path in the set]].
export function placePalettes(names, picked) {
    const places = [];
    for (const name of new Set(names)) {
        let best = null, most = 0;
        for (const path of picked) {
            const score = agreement(name, path);
            if (score > most) [best, most] = [path, score];
        }
        if (best) places.push([best, `pal/${name.split("\\").filter(Boolean).join("/")}.pal`]);
    }
    return places;
}
