// Palettes: each of the set's shown as a swatch and exported in other programs' formats; new ones made by matpal.
import {convertAll} from "./conversion.js";
import {$, blobUrl, downloadLink, element, labelled, release, save, showResult} from "./dom.js";
import {pngImages} from "./intake.js";
import {count, log} from "./log.js";
import {baseName, isPal, lines, paletteName, reasonFor, resultFiles} from "./names.js";
import {isCancel, paletteFiles, palettes, run, state, task, textures} from "./state.js";
import {swatch} from "./swatch.js";
import {pageWords} from "./words.js";

// Where the pictures of a palette to make go in the virtual directory, apart from the set's files.
const MAKE_DIR = ".page-make";

// matpal reads a name with a slash as a palette file; a root file gets "./" so that "-x.pal" is no option.
const source = (path) => (path.includes("/") ? path : `./${path}`);

const FORMATS = [
    ["png", ".png", "picture (PNG)"], ["gpl", ".gpl", "GIMP (.gpl)"], ["act", ".act", "Photoshop (.act)"],
    ["jasc", ".jasc.pal", "JASC-PAL"], ["riff", ".riff.pal", "Microsoft RIFF"], ["iff", ".pal", "pal/ (IFF)"],
];

async function exportPalette(path, format) {
    const [, extension] = FORMATS.find(([id]) => id === format);
    const out = `.page-export${extension}`;
    const result = await run("matpal", ["export", source(path), "-f", format, "-o", out], paletteFiles(), log);
    const bytes = resultFiles(result).get(out);
    if (!bytes) throw new Error(reasonFor("matpal", result.stderr, source(path)) || lines(result.stderr).join(" "));
    return {bytes, name: baseName(path).replace(/\.pal$/i, "") + extension};
}

export function showPalettes() {
    const box = $("palettes");
    for (const node of [...box.children]) release(node);
    for (const select of [$("art-palette"), $("make-from")]) {
        const chosen = select.value;
        select.replaceChildren(...(select.id === "make-from" && palettes().length ? [new Option("—", "")] : []));
        // before a set is open, a menu of its palettes says so (and still takes its room)
        if (palettes().length === 0) select.append(new Option(textures().length ? "the set has no palette" : "open a set first", ""));
        select.disabled = palettes().length === 0;
        // matpal takes --from as a palette name, which only names the files under pal/
        for (const path of palettes()) {
            if (select.id !== "make-from" || !paletteName(path).dir) select.append(new Option(path, path));
        }
        if (palettes().includes(chosen)) select.value = chosen;
    }
    if (palettes().length === 0) {
        box.append(element("p", "none", textures().length ? "No palette files in the set." : "Open a set to see its palettes here."));
    }
    for (const path of palettes()) {
        const card = element("figure", "palette");
        card.dataset.name = path;
        const place = element("div", "swatch");  // the swatch, once matpal has given the colour table
        const caption = element("figcaption");
        const format = element("select", "format");
        format.setAttribute("aria-label", `Format to export ${path} in`);
        for (const [id, , label] of FORMATS) format.append(new Option(label, id));
        const button = element("button", "export", "Export");
        button.setAttribute("aria-label", `Export ${path}`);
        button.addEventListener("click", () => task(async () => {
            try {
                const {bytes, name} = await exportPalette(path, format.value);
                save(name, bytes, "application/octet-stream");
            } catch (error) {
                if (isCancel(error)) throw error;
                card.querySelector(".reason").textContent = error.message;
            }
        }));
        caption.append(element("span", "name", path), format, button, element("span", "reason"));
        card.append(place, caption);
        box.append(card);
        task(async () => {
            try {
                // the colour table as Photoshop's .act holds it: 256 entries of red, green and blue
                const {bytes} = await exportPalette(path, "act");
                const [grid, told, colours] = swatch(bytes.subarray(0, 768), path);
                place.replaceWith(grid);
                caption.prepend(colours, told);
            } catch (error) {
                if (isCancel(error)) throw error;
                card.classList.add("bad");
                card.querySelector(".reason").textContent = error.message;
            }
        });
    }
}

let makeImages = [];

export async function pickMakeImages(items) {
    makeImages = await pngImages(items);
    $("make-picked").textContent = makeImages.length ? makeImages.map(({name}) => name).join(", ") : "no PNG picture";
    $("make-run").disabled = makeImages.length === 0;
}

export async function makePalette() {
    const name = $("make-name").value.trim();
    if (!name) return showResult("make-results", "failure", "make", "give the palette a name");
    if (palettes().some((path) => path.toLowerCase() === `pal/${name}.pal`.toLowerCase()) && !$("make-force").checked) {
        return showResult("make-results", "failure", name,
            `the set has a palette ${name} already: tick “replace an existing one” to replace it`);
    }
    const files = paletteFiles();
    const operands = makeImages.map(({name: image}, i) => `${MAKE_DIR}/${i}/${image}`);
    makeImages.forEach(({bytes}, i) => { files[operands[i]] = bytes; });
    const colours = $("make-colours").value.trim();
    const keep = $("make-keep").value.trim();
    const from = $("make-from").value;
    const args = ["make", ...(colours ? [`--colours=${colours}`] : []), ...(keep ? [`--keep=${keep}`] : []),
        ...(from ? [`--from=${paletteName(from).name}`] : []), ...($("make-force").checked ? ["--force"] : []),
        "--", name, ...operands];
    let result;
    try {
        result = await run("matpal", args, files, log);
    } catch (error) {
        if (isCancel(error)) throw error;
        return showResult("make-results", "failure", name, error.message);
    }
    const made = [...resultFiles(result)].filter(([path]) => isPal(path));  // pal/NAME.pal (a backup ends in .bak)
    if (result.status !== 0 || made.length === 0) {
        showResult("make-results", "failure", name, pageWords(lines(result.stderr).map((l) => l.replace(/^matpal: /, "")).join("\n")));
        return;
    }
    const replaced = made.some(([path]) => state.files.has(path));
    for (const [path, bytes] of made) {
        state.files.set(path, bytes);
        showResult("make-results", "built", path, `fitted to ${count(makeImages.length, "picture")}`,
            labelled(downloadLink("download", baseName(path), blobUrl($("make-results"), bytes, "application/octet-stream")),
                `download ${baseName(path)}`));
    }
    showPalettes();
    if (replaced) await convertAll();  // the textures that name the palette now show its new colours
}
