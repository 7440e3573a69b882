// Art back in: edited and new PNG images made into MAT files by png2mat, and shown as mat2png then shows them.
import {convertChunk} from "./conversion.js";
import {$, blobUrl, downloadLink, element, labelled, showResult} from "./dom.js";
import {cardOf} from "./gallery.js";
import {pngImages} from "./intake.js";
import {baseName, dirName, lines, normal, paletteName, resultFiles} from "./names.js";
import {images, isCancel, paletteFiles, palettes, run, state, textures} from "./state.js";
import {count, log} from "./log.js";
import {changedPixels} from "./pixels.js";
import {pageWords} from "./words.js";

// Where the page puts the images given, apart from the set's files.
const ART_DIR = ".page-art";

function artOptions() {
    return [...($("art-match").value === "rgb" ? ["--match=rgb"] : []), ...($("art-dither").checked ? ["--dither"] : [])];
}

// The options that make new textures, when the set has a palette for them; without one, png2mat says why it cannot.
function newTextureOptions() {
    const choice = $("art-palette").value;
    if (!choice) return [];
    const {name, dir} = paletteName(choice);
    const type = $("art-type").value.trim();
    return [`--palette=${name}`, ...(dir ? [`--palette-dir=${dir}`] : []), ...($("art-embed").checked ? ["--embed-palette"] : []),
        ...(type ? [`--type=${type}`] : [])];
}

// One image's outcome, from its record.
function artOutcome(record, label, written) {
    const notes = record.notes.join(" ");
    if (record.outcome === "written") {
        const matPath = normal(record.outputs[0]);
        const bytes = written.get(matPath);
        state.built.set(matPath, bytes);
        state.files.set(matPath, bytes);
        // a note such as "N pixels not in the palette, mapped to the nearest colour" comes with a written file
        const link = labelled(downloadLink("MAT", baseName(matPath), blobUrl($("art-results"), bytes, "application/octet-stream")),
            `MAT: ${baseName(matPath)}`);
        showResult("art-results", "built", matPath, `from ${label}${notes ? `: ${notes}` : ""}`, link);
        return matPath;
    }
    if (record.outcome === "failed") {
        state.artFailures.set(label, record.reason);
        showResult("art-results", "failure", label, pageWords(record.reason));
    }
    else showResult("art-results", "unchanged", label, notes || "nothing written: the MAT file holds these pixels already");
    return null;
}

// The images given, as png2mat takes them from one folder with the set's texture folder as its output: each image
// rebuilds or creates the MAT file the core names, with the alpha image it names. An alpha image alone, of a
// texture the page has converted, takes that texture's image along.
// Each texture rebuilt or made marked on its card, with the pixels that changed from BEFORE (its images as they
// were, for those the set had) and what png2mat said of it (NOTES); the viewer shows the two side by side. The first
// is scrolled to.
async function markChanged(changed, before, notes) {
    let first = null;
    for (const path of changed) {
        const card = cardOf(path);
        if (!card || !card.classList.contains("texture")) continue;
        const was = before.get(path);
        const pixels = was ? await changedPixels(was, card.viewerEntry) : null;
        const told = was ? `${count(pixels, "pixel")} changed` : "a new texture";
        card.classList.add("changed");
        card.querySelector("figcaption").prepend(element("span", "changes", told));
        if (notes.get(path)) card.querySelector("figcaption").append(element("span", "note", notes.get(path)));
        if (was) card.viewerEntry.before = {...was, note: told};
        first ||= card;
    }
    if (first) first.scrollIntoView({block: "center"});
}

// The images of PATHS as the page shows them now, for those the set has: {colour, alpha}.
function imagesNow(paths) {
    const now = new Map();
    for (const path of paths) {
        const [colour, alpha] = (state.outputs.get(path) || []).map((image) => state.images.get(image));
        if (colour) now.set(path, {colour, alpha: alpha || null});
    }
    return now;
}

export async function artIn(items) {
    const given = await pngImages(items);
    if (given.length === 0) return showResult("art-results", "failure", "art", "no PNG image among the files given");
    if (textures().length === 0 && palettes().length === 0) {
        return showResult("art-results", "failure", given.map(({name}) => name).join(", "),
            "Open a set first: images come back into its textures, or become new ones in one of its palettes.");
    }
    const out = textures().some((path) => path.startsWith("mat/")) || !textures().length ? "mat" : ".";
    const told = await images(given.map(({name}) => name), out === "." ? "" : `${out}/`);
    const files = paletteFiles();
    // the MAT files of the output folder: those rebuilt, and those whose commonest type new files take
    for (const path of textures()) if (dirName(path) === out) files[path] = state.files.get(path);
    if (out === "mat" && !textures().length) files["mat/.keep"] = new Uint8Array();  // -o needs the folder
    const operands = [];
    given.forEach(({name, bytes}, i) => {
        files[`${ART_DIR}/${name}`] = bytes;
        const {image, colour} = told[i];
        if (!image) return;  // an alpha image beside its colour image goes along with it
        const outputs = colour && state.outputs.get(normal(colour.mat));
        if (outputs && state.files.has(normal(colour.mat)) && !given.some((other) => other.name === colour.name)) {
            files[`${ART_DIR}/${colour.name}`] = state.images.get(outputs[0]);  // the image as the page converted it
            operands.push({operand: `${ART_DIR}/${colour.name}`, label: name});
        } else {
            operands.push({operand: `${ART_DIR}/${name}`, label: name});
        }
    });
    const args = ["--no-backup", ...newTextureOptions(), ...artOptions(), "-o", out, "--", ...operands.map(({operand}) => operand)];
    let result;
    try {
        result = await run("png2mat", args, files, log);
    } catch (error) {
        if (isCancel(error)) throw error;
        showResult("art-results", "failure", operands.map(({label}) => label).join(", "), error.message);
        return;
    }
    const written = resultFiles(result);
    const records = new Map(result.items.map((record) => [record.name, record]));
    const changed = [];
    const notes = new Map();  // a MAT file built -> what png2mat said of it
    for (const {operand, label} of operands) {
        const record = records.get(operand);
        if (!record) {
            // no record: the command line was refused (status 64), and its lines say why
            const refused = pageWords(lines(result.stderr).map((line) => line.replace(/^png2mat: /, "")).join("\n"));
            state.artFailures.set(label, refused);
            showResult("art-results", "failure", label, refused);
            continue;
        }
        const made = artOutcome(record, label, written);
        if (made) {
            changed.push(made);
            notes.set(made, record.notes.join(" "));
        }
    }
    $("art-download").disabled = state.built.size === 0;
    // The rebuilt and new textures as mat2png now shows them, beside the run of the set (if one goes on).
    const generation = state.generation;
    if (changed.length === 0) return;
    const rebuilt = [...new Set(changed)];  // two images may rebuild one texture
    const before = imagesNow(rebuilt);
    await convertChunk(rebuilt, () => generation === state.generation);
    await markChanged(rebuilt, before, notes);
}
