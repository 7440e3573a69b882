// A texture's pixels as the page shows them: its image with the alpha plane as opacity, the alpha plane as grey, and
// how many pixels differ between two versions of it (art brought back).
import {pngSamples} from "./png-samples.js";

// RGBA pixels (ImageData) of COLOUR (a PNG, Blob or bytes) with ALPHA's samples (a grey PNG, or null) as opacity.
export async function rgbaOf(colour, alpha) {
    const options = {colorSpaceConversion: "none", premultiplyAlpha: "none"};
    const picture = await createImageBitmap(colour instanceof Blob ? colour : new Blob([colour], {type: "image/png"}), options);
    const canvas = new OffscreenCanvas(picture.width, picture.height);
    const context = canvas.getContext("2d", {willReadFrequently: true});
    context.drawImage(picture, 0, 0);
    picture.close();
    const pixels = context.getImageData(0, 0, canvas.width, canvas.height);
    if (alpha) {
        const plane = await pngSamples(alpha);
        if (plane.width === pixels.width && plane.height === pixels.height) {
            for (let i = 0; i < plane.samples.length; i++) pixels.data[4 * i + 3] = plane.samples[i];
        }
    }
    return pixels;
}

// The alpha plane ALPHA as opaque grey pixels.
export async function greyOf(alpha) {
    const plane = await pngSamples(alpha);
    const pixels = new ImageData(plane.width, plane.height);
    for (let i = 0; i < plane.samples.length; i++) {
        const value = plane.samples[i];
        pixels.data[4 * i] = pixels.data[4 * i + 1] = pixels.data[4 * i + 2] = value;
        pixels.data[4 * i + 3] = 255;
    }
    return pixels;
}

// The pixels whose colour or opacity differ between BEFORE and AFTER ({colour, alpha}); every pixel when the size
// changed.
export async function changedPixels(before, after) {
    const [a, b] = await Promise.all([rgbaOf(before.colour, before.alpha), rgbaOf(after.colour, after.alpha)]);
    if (a.width !== b.width || a.height !== b.height) return b.width * b.height;
    let changed = 0;
    for (let i = 0; i < a.data.length; i += 4) {
        if (a.data[i] !== b.data[i] || a.data[i + 1] !== b.data[i + 1] || a.data[i + 2] !== b.data[i + 2]
            || a.data[i + 3] !== b.data[i + 3]) changed += 1;
    }
    return changed;
}
