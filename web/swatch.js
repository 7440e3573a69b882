// A palette's 256 entries as a 16 × 16 grid, unused entries hatched instead of shown black; the entry under the
// pointer, or the one chosen with the arrow keys while the grid has focus, is told with its index and value.
import {entryText, paletteEntries} from "./palette-entries.js";

const CELL = 10;  // CSS pixels a side

function drawCells(canvas, table, unused, chosen) {
    const context = canvas.getContext("2d");
    for (let i = 0; i < 256; i++) {
        const x = (i % 16) * CELL, y = Math.floor(i / 16) * CELL;
        if (unused[i]) {
            context.fillStyle = "#f2f3f5";
            context.fillRect(x, y, CELL, CELL);
            context.strokeStyle = "#9aa3ad";
            context.beginPath();
            context.moveTo(x + 1, y + CELL - 1);
            context.lineTo(x + CELL - 1, y + 1);
            context.stroke();
        } else {
            context.fillStyle = `rgb(${table[3 * i]} ${table[3 * i + 1]} ${table[3 * i + 2]})`;
            context.fillRect(x, y, CELL, CELL);
        }
    }
    if (chosen !== null) {
        context.strokeStyle = "#ffffff";
        context.lineWidth = 2;
        context.strokeRect((chosen % 16) * CELL + 1, Math.floor(chosen / 16) * CELL + 1, CELL - 2, CELL - 2);
        context.strokeStyle = "#000000";
        context.lineWidth = 1;
        context.strokeRect((chosen % 16) * CELL + 0.5, Math.floor(chosen / 16) * CELL + 0.5, CELL - 1, CELL - 1);
    }
}

// The swatch of TABLE (768 bytes) for the palette NAME: [its grid, the line that tells an entry, the colour count].
export function swatch(table, name) {
    const {colours, unused} = paletteEntries(table);
    const grid = document.createElement("div");
    grid.className = "swatch";
    grid.tabIndex = 0;
    grid.setAttribute("role", "group");
    grid.setAttribute("aria-label", `${name}: ${colours} colours; the arrow keys go through its entries`);
    const canvas = document.createElement("canvas");
    canvas.width = canvas.height = 16 * CELL;
    canvas.setAttribute("aria-hidden", "true");
    grid.append(canvas);
    const told = document.createElement("span");
    told.className = "entry";
    told.setAttribute("aria-live", "polite");
    const count = document.createElement("span");
    count.className = "colours";
    count.textContent = colours === 256 ? "256 colours" : `${colours} colours, ${256 - colours} entries unused`;
    let chosen = null;
    const tell = (index) => {
        chosen = index;
        drawCells(canvas, table, unused, chosen);
        told.textContent = index === null ? "" : `entry ${index}: ${unused[index] ? "unused, " : ""}${entryText(table, index)}`;
    };
    drawCells(canvas, table, unused, null);
    canvas.addEventListener("pointermove", (event) => {
        const box = canvas.getBoundingClientRect();
        const x = Math.floor(((event.clientX - box.left) / box.width) * 16);
        const y = Math.floor(((event.clientY - box.top) / box.height) * 16);
        if (x >= 0 && x < 16 && y >= 0 && y < 16) tell(y * 16 + x);
    });
    grid.addEventListener("focus", () => tell(chosen ?? 0));
    grid.addEventListener("keydown", (event) => {
        const moves = {ArrowRight: 1, ArrowLeft: -1, ArrowDown: 16, ArrowUp: -16, Home: -256, End: 256};
        if (!(event.key in moves)) return;
        event.preventDefault();
        tell(Math.max(0, Math.min(255, (chosen ?? 0) + moves[event.key])));
    });
    return [grid, told, count];
}
