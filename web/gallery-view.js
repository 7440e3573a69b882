// What of the gallery is shown, and in which order: #filter narrows by name (case ignored), #failed-only keeps the
// failures, #sort orders by name, size, type or palette. Cards carry what they are sorted by as data attributes
// (data-name, data-pixels, data-type, data-palette), set as the core tells them.
import {$} from "./dom.js";
import {byText} from "./names.js";

const cards = () => [...$("gallery").children];

// WANTED: the filter's text in lower case; FAILEDONLY: whether only failures are shown.
function visible(card, wanted, failedOnly) {
    const name = (card.dataset.name || "").toLocaleLowerCase();
    return (!wanted || name.includes(wanted)) && (!failedOnly || card.classList.contains("failure"));
}

const byName = (a, b) => byText(a.dataset.name || "", b.dataset.name || "");
// A card without the key (a failure, or one the core has not described yet) goes after those with it.
const number = (key) => (a, b) => (Number(a.dataset[key] ?? Infinity) - Number(b.dataset[key] ?? Infinity)) || byName(a, b);
const text = (key) => (a, b) => {
    const [x, y] = [a.dataset[key], b.dataset[key]];
    if (x === y) return byName(a, b);
    if (x === undefined || y === undefined) return x === undefined ? 1 : -1;
    return x < y ? -1 : 1;
};
const ORDERS = {name: byName, size: number("pixels"), type: number("type"), palette: text("palette")};

let pending = false;

// Puts the cards in the chosen order and shows those that pass the filter; once per frame however often asked.
export function refreshGallery() {
    if (pending) return;
    pending = true;
    requestAnimationFrame(() => {
        pending = false;
        const all = cards();
        // failures first, in the document as on the screen, then in the order chosen
        const order = ORDERS[$("sort").value] || byName;
        const failed = (card) => (card.classList.contains("failure") ? 0 : 1);
        const sorted = [...all].sort((a, b) => failed(a) - failed(b) || order(a, b));
        if (sorted.some((card, i) => card !== all[i])) $("gallery").append(...sorted);
        // the controls read once, not once per card
        const wanted = $("filter").value.trim().toLocaleLowerCase(), failedOnly = $("failed-only").checked;
        let shown = 0;
        for (const card of sorted) {
            const show = visible(card, wanted, failedOnly);
            if (card.hidden === show) card.hidden = !show;  // thousands of cards: only those that change are touched
            shown += show ? 1 : 0;
        }
        const narrowed = wanted || failedOnly;
        $("shown").textContent = narrowed ? `${shown} of ${all.length} shown.` : "";
    });
}

// The textures shown, in their order: what the viewer goes through.
export const shownTextures = () => cards().filter((card) => !card.hidden && card.classList.contains("texture"));

export function startGalleryView() {
    for (const id of ["filter", "failed-only", "sort"]) {
        $(id).addEventListener(id === "filter" ? "input" : "change", refreshGallery);
    }
}
