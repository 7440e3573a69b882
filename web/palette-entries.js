// What a colour table's 256 entries hold. An entry is unused when it repeats an earlier entry's colour (matching
// takes the first) or is black in the run of black that ends the table (the fill of a palette fitted to fewer
// colours, as matpal make and import leave it).

// {colours: the number of used entries, unused: one boolean per entry}
export function paletteEntries(table) {
    const count = Math.floor(table.length / 3);
    const unused = new Array(count).fill(false);
    const seen = new Set();
    for (let i = 0; i < count; i++) {
        const key = (table[3 * i] << 16) | (table[3 * i + 1] << 8) | table[3 * i + 2];
        if (seen.has(key)) unused[i] = true;
        seen.add(key);
    }
    for (let i = count - 1; i > 0 && table[3 * i] === 0 && table[3 * i + 1] === 0 && table[3 * i + 2] === 0; i--) {
        unused[i] = true;
    }
    return {colours: unused.filter((flag) => !flag).length, unused};
}

const hex = (value) => value.toString(16).padStart(2, "0");

// "#rrggbb (r, g, b)" for entry INDEX of TABLE.
export function entryText(table, index) {
    const [r, g, b] = table.subarray(3 * index, 3 * index + 3);
    return `#${hex(r)}${hex(g)}${hex(b)} (${r}, ${g}, ${b})`;
}
