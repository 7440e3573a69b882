// The gallery: a card per MAT file of the set (its picture, alpha plane and downloads), a failure or one passed over.
import {$, element, labelled, lazyBlobUrl, lazyDownloadLink, release} from "./dom.js";
import {refreshGallery, shownTextures} from "./gallery-view.js";
import {baseName} from "./names.js";
import {rgbaOf} from "./pixels.js";
import {openViewer} from "./viewer.js";

// Width and height from a PNG's IHDR, to size its picture before it has loaded.
export function pngSize(bytes) {
    const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
    return bytes.length >= 24 ? {width: view.getUint32(16), height: view.getUint32(20)} : {width: 1, height: 1};
}

// Whole factors only, so that every texel stays a square of equal pixels: up to fill a box of THUMBNAIL CSS pixels,
// or down, for a larger texture, to fit it.
const THUMBNAIL = 256;
export function scaleFor({width, height}) {
    const side = Math.max(width, height, 1);
    return side <= THUMBNAIL ? Math.min(16, Math.floor(THUMBNAIL / side)) : 1 / Math.ceil(side / THUMBNAIL);
}

const cards = new Map();  // MAT path -> its element in the gallery
function placeInGallery(name, node) {
    const old = cards.get(name);
    if (old && old.isConnected) {
        if (watcher) watcher.unobserve(old);
        old.replaceWith(node);
        release(old);
    } else {
        $("gallery").append(node);
    }
    cards.set(name, node);
    refreshGallery();
}

export const cardOf = (name) => cards.get(name);

export function clearGallery() {
    if (watcher) watcher.disconnect();
    for (const node of [...$("gallery").children]) release(node);
    cards.clear();
}

// An indexed image holds no transparency: the alpha image beside it gives each pixel's opacity.
async function withAlpha(colour, alpha) {
    const pixels = await rgbaOf(colour, alpha);
    const canvas = document.createElement("canvas");
    canvas.width = pixels.width;
    canvas.height = pixels.height;
    canvas.getContext("2d").putImageData(pixels, 0, 0);
    return canvas;
}

// What the core says of a MAT file, on its card and as what the gallery sorts it by; PICKED gives the name a file of
// the set was picked as.
export function describeCard(card, info, picked = (path) => path) {
    const palette = info.palette.embedded ? "embedded palette"
        : `palette ${info.palette.name} (${info.palette.file === null ? "not found" : picked(info.palette.file)})`;
    card.querySelector(".info").textContent = `${info.width} × ${info.height} · type ${info.type} · ${palette}`;
    card.dataset.type = String(info.type);
    card.dataset.palette = info.palette.embedded ? "" : info.palette.name;
    card.usesPalette = info.palette.embedded ? null : info.palette;
    refreshGallery();
}

// Pictures are decoded only near the viewport: a card's images get their source as it comes near, and lose it
// (and their decoded pixels, and the Blob behind it) when it is far away again. Their PNG bytes stay in the page.
const NEAR = "1500px";
let watcher = null;
function watch(card, show) {
    watcher ||= new IntersectionObserver((entries) => {
        for (const entry of entries) entry.target.showPictures(entry.isIntersecting);
    }, {rootMargin: NEAR});
    card.showPictures = show;
    watcher.observe(card);
}

// The card of the MAT file PATH: its image COLOUR (PNG bytes of SIZE) written as COLOUR_PATH, its alpha image ALPHA
// if any.
// INDEXED_IMAGE gives the texture's image as mat2png writes it with its palette (the viewer's palette index).
export function showTexture(path, {colourPath, colour, alphaPath, alpha, size, indexed, indexedImage}) {
    const card = element("figure", "texture");
    card.dataset.name = path;
    card.dataset.pixels = String(size.width * size.height);
    const scale = scaleFor(size);
    const view = element("button", "view checker");
    view.type = "button";
    view.setAttribute("aria-label", `Open ${path} in the viewer`);
    card.viewerEntry = {name: path, colour, alpha, info: "", before: null, indexed: indexedImage};
    view.addEventListener("click", () => {
        const shown = shownTextures();
        card.viewerEntry.info = card.querySelector(".info").textContent;
        openViewer(shown.map((c) => c.viewerEntry), Math.max(0, shown.indexOf(card)));
    });
    const picture = element("img");
    picture.alt = path;
    // one blob URL serves the picture and its download, made only while the card is near or when the link is used
    const colourUrl = lazyBlobUrl(card, colour, "image/png");
    const plane = alpha ? element("img", "alpha-plane") : null;
    const alphaUrl = alpha ? lazyBlobUrl(card, alpha, "image/png") : null;
    if (plane) plane.alt = `${path} alpha`;
    const links = [lazyDownloadLink("PNG", baseName(colourPath), colourUrl)];
    if (alpha) links.push(lazyDownloadLink("alpha", baseName(alphaPath), alphaUrl));
    let composite = null;  // the indexed image with its alpha applied, made when first shown
    watch(card, (near) => {
        for (const [node, url] of [[picture, colourUrl], [plane, alphaUrl]]) {
            if (!node) continue;
            if (near) node.src = url.get();
            else node.removeAttribute("src");
        }
        for (const link of links) link.near(near);
        if (!near) for (const url of [colourUrl, alphaUrl]) if (url) url.drop();
        if (near && plane && indexed && !composite) {
            composite = withAlpha(colour, alpha).then((canvas) => {
                canvas.style.width = `${size.width * scale}px`;
                canvas.style.height = `${size.height * scale}px`;
                picture.replaceWith(canvas);
            }).catch(() => {});  // the opaque image stays: its pixels are right, only the preview lacks transparency
        }
    });
    for (const node of [picture, plane]) {
        if (!node) continue;
        node.width = Math.max(1, Math.round(size.width * scale));
        node.height = Math.max(1, Math.round(size.height * scale));
    }
    view.append(picture);
    if (plane) view.append(plane);
    const caption = element("figcaption");
    caption.append(element("span", "name", path), element("span", "info", `${size.width} × ${size.height}`));
    const actions = element("span", "actions");
    actions.append(labelled(links[0], `PNG: ${baseName(colourPath)}`));
    if (alpha) {
        actions.append(labelled(links[1], `alpha: ${baseName(alphaPath)}`));
        const toggle = element("button", "toggle-alpha", "α");
        toggle.title = "show the alpha plane";
        toggle.setAttribute("aria-label", `Show the alpha plane of ${path}`);
        toggle.setAttribute("aria-pressed", "false");
        toggle.addEventListener("click", () => {
            toggle.setAttribute("aria-pressed", String(card.classList.toggle("show-alpha")));
        });
        actions.append(toggle);
    } else {
        actions.append(element("span", "no-alpha", "no alpha"));
    }
    if (scale !== 1) actions.append(element("span", "scale", scale > 1 ? `×${scale}` : `1/${Math.round(1 / scale)}`));
    caption.append(actions);
    card.append(view, caption);
    placeInGallery(path, card);
    return card;
}

export function showFailure(path, reason) {
    const card = element("div", "failure");
    card.dataset.name = path;
    card.append(element("span", "name", path), element("span", "reason", reason));
    placeInGallery(path, card);
}

// A file the program passed over, with the reason the core gives (filled in later when it comes from describe).
export function showPassedOver(path, reason) {
    const card = element("div", "passed-over");
    card.dataset.name = path;
    card.append(element("span", "name", path), element("span", "reason", reason));
    placeInGallery(path, card);
    return card;
}
