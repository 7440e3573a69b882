// The viewer (#viewer, a <dialog>): one texture at a whole-factor zoom, never smoothed, beside its alpha plane and,
// for art brought back, the texture as it was; tiled 3 × 3 on demand; the palette index and colour under the pointer.
// Each canvas holds the texture's own pixels (nine copies when tiled) and is enlarged by CSS, so a zoom costs no
// memory; image-rendering keeps every texel a square.
import {$} from "./dom.js";
import {entryText} from "./palette-entries.js";
import {greyOf, rgbaOf} from "./pixels.js";
import {pngSamples} from "./png-samples.js";


const state = {
    entries: [],      // what next and previous go through: {name, colour, alpha, info, indexed(), before}
    at: 0,
    shown: null,      // {pixels, alpha, before, width, height, indices: Promise<{samples, palette}> | null}
    opener: null,     // the element focused when the viewer opened, focused again when it closes
    token: 0,         // bumped per texture shown: a slower decode of an earlier one shows nothing
};

const tiled = () => $("viewer-tile").checked;
const figures = () => ({
    picture: document.querySelector("#viewer .viewer-picture"),
    alpha: document.querySelector("#viewer .viewer-alpha"),
    before: document.querySelector("#viewer .viewer-before"),
});

// The whole factor the stage can show the texture at, or one over a whole factor for one larger than the stage.
function fitZoom(width, height, copies) {
    const stage = $("viewer-stage");
    const panes = 1 + (state.shown.alpha ? 1 : 0) + (state.shown.before ? 1 : 0);
    const room = Math.max(64, (stage.clientWidth - 16 * panes) / (panes > 1 && innerWidth > 700 ? panes : 1));
    const high = Math.max(64, innerHeight * 0.6);
    const fit = Math.min(room / (width * copies), high / (height * copies));
    return fit >= 1 ? Math.min(16, Math.floor(fit)) : 1 / Math.ceil(1 / fit);
}

function paint(canvas, pixels, copies, zoom) {
    canvas.width = pixels.width * copies;
    canvas.height = pixels.height * copies;
    const context = canvas.getContext("2d");
    for (let y = 0; y < copies; y++) {
        for (let x = 0; x < copies; x++) context.putImageData(pixels, x * pixels.width, y * pixels.height);
    }
    canvas.style.width = `${canvas.width * zoom}px`;
    canvas.style.height = `${canvas.height * zoom}px`;
}

function draw() {
    const shown = state.shown;
    if (!shown) return;
    const copies = tiled() ? 3 : 1;
    const chosen = $("viewer-zoom").value;
    const zoom = chosen === "fit" ? fitZoom(shown.width, shown.height, copies) : Number(chosen);
    const {picture, alpha, before} = figures();
    paint(picture.querySelector("canvas"), shown.pixels, copies, zoom);
    picture.classList.add("checker");
    alpha.hidden = !shown.alpha;
    if (shown.alpha) paint(alpha.querySelector("canvas"), shown.alpha, copies, zoom);
    before.hidden = !shown.before;
    if (shown.before) paint(before.querySelector("canvas"), shown.before, copies, zoom);
    const factor = zoom >= 1 ? `${zoom}×` : `1/${Math.round(1 / zoom)}`;
    $("viewer-info").textContent = [state.shown.info, `shown at ${factor}`, tiled() ? "tiled 3 × 3" : null,
        `${state.at + 1} of ${state.entries.length}`].filter(Boolean).join(" · ");
}

async function show(at) {
    const entry = state.entries[at];
    state.at = at;
    const token = ++state.token;
    $("viewer-title").textContent = entry.name;
    $("viewer-pixel").textContent = "Point at the texture to see a pixel's palette index and colour.";
    const [pixels, alpha, before] = await Promise.all([
        rgbaOf(entry.colour, entry.alpha),
        entry.alpha ? greyOf(entry.alpha) : null,
        entry.before ? rgbaOf(entry.before.colour, entry.before.alpha) : null,
    ]);
    if (token !== state.token) return;
    state.shown = {pixels, alpha, before, width: pixels.width, height: pixels.height, info: entry.info,
        indices: null, entry};
    figures().before.querySelector("figcaption").textContent = entry.before ? `before (${entry.before.note})` : "before";
    draw();
}

// The pixel under the pointer on CANVAS, in the texture's own coordinates.
function pixelAt(canvas, event) {
    const box = canvas.getBoundingClientRect();
    const x = Math.floor(((event.clientX - box.left) / box.width) * canvas.width);
    const y = Math.floor(((event.clientY - box.top) / box.height) * canvas.height);
    if (x < 0 || y < 0 || x >= canvas.width || y >= canvas.height) return null;
    return {x: x % state.shown.width, y: y % state.shown.height};
}

async function point(event) {
    const canvas = event.target.closest("canvas");
    const shown = state.shown;
    if (!canvas || !shown) return;
    const at = pixelAt(canvas, event);
    if (!at) return;
    shown.indices ||= shown.entry.indexed().then(pngSamples).catch(() => null);
    const indices = await shown.indices;
    if (shown !== state.shown) return;
    const i = at.y * shown.width + at.x;
    const opacity = shown.pixels.data[4 * i + 3];
    const parts = [`x ${at.x}, y ${at.y}`];
    if (indices && indices.palette && indices.width === shown.width && indices.height === shown.height) {
        const index = indices.samples[i];
        parts.push(`index ${index}`, entryText(indices.palette, index));
    } else {
        const [r, g, b] = shown.pixels.data.subarray(4 * i, 4 * i + 3);
        parts.push(`colour (${r}, ${g}, ${b})`);
    }
    if (shown.alpha) parts.push(`alpha ${opacity}`);
    $("viewer-pixel").textContent = parts.join(" · ");
}

function step(by) {
    if (state.entries.length === 0) return;
    show((state.at + by + state.entries.length) % state.entries.length);
}

// Opens the viewer on ENTRIES[AT]; next and previous go through ENTRIES in their order.
export function openViewer(entries, at) {
    state.entries = entries;
    state.opener = document.activeElement;
    const dialog = $("viewer");
    if (!dialog.open) dialog.showModal();
    show(at);
}

export function closeViewer() {
    if ($("viewer").open) $("viewer").close();
}

export function startViewer() {
    const dialog = $("viewer");
    $("viewer-zoom").addEventListener("change", draw);
    $("viewer-tile").addEventListener("change", draw);
    $("viewer-next").addEventListener("click", () => step(1));
    $("viewer-previous").addEventListener("click", () => step(-1));
    $("viewer-close").addEventListener("click", () => dialog.close());
    dialog.addEventListener("close", () => {
        state.shown = null;
        state.token += 1;
        if (state.opener && state.opener.isConnected) state.opener.focus();
    });
    dialog.addEventListener("keydown", (event) => {
        if (event.target.closest("select, input") || event.altKey || event.ctrlKey || event.metaKey) return;
        const moves = {ArrowRight: 1, ArrowLeft: -1};
        if (event.key in moves) {
            event.preventDefault();
            step(moves[event.key]);
        }
    });
    $("viewer-stage").addEventListener("pointermove", point);
    addEventListener("resize", () => { if (dialog.open && $("viewer-zoom").value === "fit") draw(); });
}
