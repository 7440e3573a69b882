"""Fits 256-entry palettes to picture sets, ours against peers, on the same pixels in the same run.

Usage: palette.py BUILD_DIR WORK_DIR ROUNDS PICTURE
WORK_DIR/sets/SET/*.png are the sets (make_sets). Our fit is `matpal make`, which reads a set's pictures;
the peers read the same pictures laid side by side in one image. Every palette
is then measured by bench_palette_measure: each pixel of the set takes its nearest entry by CIEDE2000, and
the mean CIEDE2000 per pixel is reported. Our fit and pngquant take turns ROUNDS times per set for the times.
Also measures what keeping 32 entries of a general palette costs. Prints Markdown tables; writes PICTURE.
Exits non-zero when a tool fails, not when a target is missed.
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from PIL import Image, ImageDraw, ImageFont

CONVERT = "/usr/bin/convert"  # never the stand-in on PATH
KEEP = "0-15,240-255"  # the entries kept from the general palette
PICTURE_SET, PICTURE_IMAGE, CROP = "photo", "face", (96, 120, 96, 96)  # x, y, width, height
ZOOM = 2


def run(command, **options):
    result = subprocess.run(command, shell=isinstance(command, str), stdout=subprocess.PIPE, stderr=subprocess.PIPE, **options)
    if result.returncode != 0:
        sys.exit(f"failed ({result.returncode}): {command}\n{result.stderr.decode(errors='replace')}")
    return result.stdout


def timed(command):
    start = time.perf_counter()
    run(command)
    return time.perf_counter() - start


def colours_of(path):
    """The distinct colours of an image, as palette bytes."""
    image = Image.open(path).convert("RGB")
    return b"".join(bytes(c) for _, c in sorted(image.getcolors(1 << 24)))


def plte_of(path):
    """The PLTE of an indexed PNG, as many entries as it has."""
    image = Image.open(path)
    if image.mode != "P":
        return colours_of(path)
    palette = image.getpalette()
    used = max(index for _, index in image.getcolors(256)) + 1
    return bytes(palette[:3 * max(used, len(palette) // 3)])


def peers(montage, scratch):
    """{peer: palette bytes} for one side-by-side image."""
    made = {}
    out = os.path.join(scratch, "pngquant.png")
    run(["pngquant", "--speed", "1", "--nofs", "256", "--force", "-o", out, montage])
    made["pngquant --speed 1 --nofs 256"] = plte_of(out)
    out = os.path.join(scratch, "convert.png")
    run([CONVERT, montage, "+dither", "-colors", "256", out])
    made["convert +dither -colors 256"] = colours_of(out)
    out = os.path.join(scratch, "pnmcolormap.ppm")
    run(f"pngtopnm '{montage}' | pnmcolormap 256 > '{out}'", executable="/bin/bash")
    made["pnmcolormap 256"] = colours_of(out)
    source = Image.open(montage).convert("RGB")
    for name, method in [("Pillow median cut", Image.Quantize.MEDIANCUT), ("Pillow fast octree", Image.Quantize.FASTOCTREE)]:
        out = os.path.join(scratch, name.replace(" ", "_") + ".png")
        source.quantize(256, method=method, dither=Image.Dither.NONE).save(out)
        made[name] = colours_of(out)
    return made


def sheet(pictures):
    """The pictures in rows, a row for each run of pictures of one height; the sets are made so that no gap is left."""
    rows = []
    for p in pictures:
        if not rows or rows[-1][-1].height != p.height:
            rows.append([])
        rows[-1].append(p)
    widths = [sum(p.width for p in row) for row in rows]
    if len(set(widths)) != 1:
        sys.exit(f"the pictures leave gaps in the sheet: rows {widths} wide")
    side = Image.new("RGB", (widths[0], sum(row[0].height for row in rows)))
    top = 0
    for row in rows:
        left = 0
        for p in row:
            side.paste(p, (left, top))
            left += p.width
        top += row[0].height
    return side


def measure(build, palette, images, mapped=None):
    """Mean CIEDE2000 per pixel of the images through the palette (bytes or a file); writes mapped if asked."""
    command = [os.path.join(build, "bench", "bench_palette_measure")] + ([f"--map={mapped}"] if mapped else []) + [palette] + images
    pixels, total = run(command).split()
    return float(total) / int(pixels), int(pixels)


def general_palette(path):
    """16 greys, a 6 x 6 x 6 cube, 24 greys: a palette made for any picture."""
    entries = [(v * 17,) * 3 for v in range(16)]
    entries += [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    entries += [(8 + v * 10,) * 3 for v in range(24)]
    with open(path, "wb") as f:
        f.write(bytes(c for entry in entries for c in entry))


def swatch(palette, size=6):
    entries = [tuple(palette[i:i + 3]) for i in range(0, len(palette), 3)]
    image = Image.new("RGB", (16 * size, 16 * size), "white")
    draw = ImageDraw.Draw(image)
    for n, colour in enumerate(entries[:256]):
        draw.rectangle([n % 16 * size, n // 16 * size, n % 16 * size + size - 1, n // 16 * size + size - 1], fill=colour)
    return image


def picture(build, sets, palettes, errors, scratch, path):
    """For one set: the source crop, then per palette the crop mapped through it and its swatch, captioned."""
    source = os.path.join(sets, PICTURE_SET, PICTURE_IMAGE + ".png")
    x, y, w, h = CROP
    font = ImageFont.truetype("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 11)
    cells = []
    for name, palette in [("source", None)] + list(palettes.items()):
        if palette is None:
            image = Image.open(source).convert("RGB")
        else:
            mapped = os.path.join(scratch, "mapped.png")
            measure(build, palette, [source], mapped)
            image = Image.open(mapped).convert("RGB")
        crop = image.crop((x, y, x + w, y + h)).resize((w * ZOOM, h * ZOOM), Image.NEAREST)
        cell = Image.new("RGB", (w * ZOOM + 8, h * ZOOM + 16 * 6 + 44), "white")
        cell.paste(crop, (4, 4))
        if palette is not None:
            cell.paste(swatch(open(palette, "rb").read()), (4 + (w * ZOOM - 96) // 2, h * ZOOM + 8))
        draw = ImageDraw.Draw(cell)
        caption = "source" if palette is None else name.replace(" --speed 1 --nofs 256", "").replace(" +dither -colors 256", "")
        draw.text((4, h * ZOOM + 16 * 6 + 12), caption, fill="black", font=font)
        if palette is not None:
            draw.text((4, h * ZOOM + 16 * 6 + 26), f"ΔE00 {errors[name]:.3f} (set)", fill="black", font=font)
        cells.append(cell)
    sheet = Image.new("RGB", (sum(c.width for c in cells), cells[0].height), "white")
    left = 0
    for cell in cells:
        sheet.paste(cell, (left, 0))
        left += cell.width
    sheet.save(path, optimize=True)


def main():
    build, work, rounds, picture_path = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    sets_dir = os.path.join(work, "sets")
    sets = sorted(d for d in os.listdir(sets_dir) if os.path.isdir(os.path.join(sets_dir, d)))
    scratch = tempfile.mkdtemp(prefix="palette-bench-", dir="/dev/shm" if os.path.isdir("/dev/shm") else work)
    load = open("/proc/loadavg").read().split()[0]
    results, times, keeps, picture_palettes, counts = {}, {}, {}, {}, {}
    matpal = os.path.join(build, "matpal")

    def make(out, images, *options):
        """`matpal make` in the scratch folder; its palette's 768 colours go to `out`, as the peers' do."""
        run([matpal, "-C", scratch, "make", "fit", "--force", *options, *images])
        with open(os.path.join(scratch, "pal", "fit.pal"), "rb") as f:
            colours = f.read()[20:20 + 768]
        with open(out, "wb") as f:
            f.write(colours)

    try:
        general = os.path.join(scratch, "general.pal")
        general_palette(general)
        # --from takes a palette name: the general palette imported as pal/general.pal (768 bytes read as a colour table)
        run([matpal, "-C", scratch, "import", general, "general"])
        for s in sets:
            images = sorted(os.path.join(sets_dir, s, f) for f in os.listdir(os.path.join(sets_dir, s)) if f.endswith(".png"))
            # the peers read the pictures side by side in one sheet, our fit reads them one by one
            montage = os.path.join(scratch, s + ".png")
            side = sheet([Image.open(i).convert("RGB") for i in images])
            side.save(montage, compress_level=1)
            counts[s] = (len(images), len(side.getcolors(1 << 24)))
            ours = os.path.join(scratch, s + "-ours.pal")
            palettes = {"matpal make": ours}
            make(ours, images)
            for name, table in peers(montage, scratch).items():
                palettes[name] = os.path.join(scratch, f"{s}-{len(palettes)}.pal")
                with open(palettes[name], "wb") as f:
                    f.write(table)
            results[s] = {name: measure(build, palette, images) for name, palette in palettes.items()}
            if s == PICTURE_SET:
                picture_palettes = palettes
                for name, palette in palettes.items():  # keep them past the next set
                    shutil.copy(palette, palette + ".keep")
                    palettes[name] = palette + ".keep"
            # the times: ours on the pictures, pngquant on the same side by side, taking turns
            times[s] = []
            quant = ["pngquant", "--speed", "1", "--nofs", "256", "--force", "-o", os.path.join(scratch, "t.png"), montage]
            for r in range(rounds):
                pair = {}
                for tool in (["ours", "pngquant"] if r % 2 == 0 else ["pngquant", "ours"]):
                    pair[tool] = timed([matpal, "-C", scratch, "make", "t", "--force"] + images) if tool == "ours" else timed(quant)
                times[s].append((pair["ours"], pair["pngquant"]))
            # keeping 32 entries of the general palette, against fitting all 256 or only the 224 left
            kept = os.path.join(scratch, s + "-kept.pal")
            kept_time = timed([matpal, "-C", scratch, "make", "kept", "--force", f"--keep={KEEP}", "--from=general"] + images)
            make(kept, images, f"--keep={KEEP}", "--from=general")
            free224 = os.path.join(scratch, s + "-224.pal")
            make(free224, images, "--colours=224")
            keeps[s] = {"free": results[s]["matpal make"][0], "kept": measure(build, kept, images)[0], "224": measure(build, free224, images)[0],
                        "time": kept_time / statistics.median(t[0] for t in times[s])}
        picture(build, sets_dir, picture_palettes, {n: results[PICTURE_SET][n][0] for n in picture_palettes}, scratch, picture_path)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)

    ours = "matpal make"
    summary = []
    for s in sets:
        r = results[s]
        peer_names = [n for n in r if n != ours]
        best = min(peer_names, key=lambda n: r[n][0])
        print(f"### {s}: {counts[s][0]} pictures, {r[ours][1]:,} pixels, {counts[s][1]:,} colours\n")
        print("| palette | mean CIEDE2000 | ours / this |\n| --- | ---: | ---: |")
        for name in [ours] + sorted(peer_names, key=lambda n: r[n][0]):
            print(f"| {name} | {r[name][0]:.4f} | {r[ours][0] / r[name][0]:.3f} |")
        print()
        summary.append((s, r[ours][0], best, r[best][0], r["pngquant --speed 1 --nofs 256"][0]))

    def mark(ok):
        return "✓" if ok else "✗"
    print("### Summary\n")
    print("| set | ours | best peer | best peer's | ours / best peer (≤ 0.93) | ours / pngquant | time ours | time pngquant | time ratio (≤ 2.5) |")
    print("| --- | ---: | --- | ---: | ---: | ---: | ---: | ---: | ---: |")
    ratios, time_ratios = [], []
    for s, mine, best, theirs, quant in summary:
        ratio = mine / theirs
        ratios.append(ratio)
        t_ours, t_quant = statistics.median(t[0] for t in times[s]), statistics.median(t[1] for t in times[s])
        t_ratio = statistics.median(o / q for o, q in times[s])
        time_ratios.append(t_ratio)
        print(f"| {s} | {mine:.4f} | {best} | {theirs:.4f} | {ratio:.3f} {mark(ratio <= 0.93)} | {mine / quant:.3f} | "
              f"{t_ours:.2f} s | {t_quant:.2f} s | {t_ratio:.2f} {mark(t_ratio <= 2.5)} |")
    mean_ours = statistics.mean(x[1] for x in summary)
    mean_best = statistics.mean(x[3] for x in summary)
    print(f"\nMean over the sets: ours {mean_ours:.4f} against the best peers' {mean_best:.4f}: ratio of the means "
          f"{mean_ours / mean_best:.3f}, mean of the ratios {statistics.mean(ratios):.3f} {mark(mean_ours / mean_best <= 0.90 and statistics.mean(ratios) <= 0.90)} (≤ 0.90). "
          f"Times: median of {rounds} runs each, taking turns, wall clock; ours reads the set's PNGs, pngquant the same pixels side by side "
          f"and writes its result. Load average {load} before, {open('/proc/loadavg').read().split()[0]} after.")
    print(f"\n### Keeping entries {KEEP} of a general palette (16 greys, a 6 × 6 × 6 cube, 24 greys)\n")
    print("| set | 256 fitted | 224 fitted, 32 kept | kept / 256 fitted | 224 fitted alone | kept / 224 alone | time kept / time 256 fitted |")
    print("| --- | ---: | ---: | ---: | ---: | ---: | ---: |")
    for s in sets:
        k = keeps[s]
        print(f"| {s} | {k['free']:.4f} | {k['kept']:.4f} | {k['kept'] / k['free']:.3f} | {k['224']:.4f} | {k['kept'] / k['224']:.3f} | {k['time']:.2f} |")
    print("\nThe time with kept entries is one run against the median of the timed runs of the free fit.")


if __name__ == "__main__":
    main()
