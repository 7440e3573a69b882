// The samples of the PNG files the programs write: 8-bit grey (alpha planes) and colour-mapped (indexed images),
// one byte per pixel with the rows from the top, and the colour map. Anything else is refused with a reason.

const SIGNATURE = [137, 80, 78, 71, 13, 10, 26, 10];

const paeth = (a, b, c) => {
    const p = a + b - c;
    const pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
};

// {width, height, samples (Uint8Array, width × height), palette (Uint8Array of RGB triples, or null)}
export async function pngSamples(png) {
    const bytes = png instanceof Blob ? new Uint8Array(await png.arrayBuffer()) : png;
    if (bytes.length < 8 || SIGNATURE.some((value, i) => bytes[i] !== value)) throw new Error("not a PNG file");
    const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
    let header = null;
    let palette = null;
    const data = [];
    for (let at = 8; at + 12 <= bytes.length;) {
        const length = view.getUint32(at);
        if (length > bytes.length - at - 12) throw new Error("a chunk runs past the end of the file");
        const type = String.fromCharCode(...bytes.subarray(at + 4, at + 8));
        const body = bytes.subarray(at + 8, at + 8 + length);
        if (type === "IHDR" && length >= 13) {
            header = {width: view.getUint32(at + 8), height: view.getUint32(at + 12), depth: body[8], colour: body[9],
                interlace: body[12]};
        } else if (type === "PLTE") {
            palette = body;
        } else if (type === "IDAT") {
            data.push(body);
        } else if (type === "IEND") {
            break;
        }
        at += 12 + length;
    }
    if (!header) throw new Error("no image header");
    const {width, height} = header;
    if (header.depth !== 8 || (header.colour !== 0 && header.colour !== 3) || header.interlace !== 0) {
        throw new Error("not an 8-bit grey or colour-mapped image without interlacing");
    }
    const stream = new Blob(data).stream().pipeThrough(new DecompressionStream("deflate"));
    const raw = new Uint8Array(await new Response(stream).arrayBuffer());
    const stride = width + 1;
    if (raw.length < stride * height) throw new Error("the image data is shorter than the image");
    const samples = new Uint8Array(width * height);
    for (let y = 0; y < height; y++) {
        const filter = raw[y * stride];
        const row = raw.subarray(y * stride + 1, (y + 1) * stride);
        const line = samples.subarray(y * width, (y + 1) * width);
        const above = y > 0 ? samples.subarray((y - 1) * width, y * width) : new Uint8Array(width);
        if (filter > 4) throw new Error(`row ${y} has filter ${filter}, which PNG does not define`);
        for (let x = 0; x < width; x++) {
            const a = x > 0 ? line[x - 1] : 0, b = above[x], c = x > 0 ? above[x - 1] : 0;
            const predicted = [0, a, b, (a + b) >> 1, paeth(a, b, c)][filter];
            line[x] = (row[x] + predicted) & 0xff;
        }
    }
    return {width, height, samples, palette: header.colour === 3 ? palette : null};
}
