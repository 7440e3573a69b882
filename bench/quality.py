"""Measures png2mat's colour mapping against ImageMagick and netpbm on the same images and palettes.

Usage: quality.py BUILD_DIR WORK_DIR ROUNDS PICTURE
WORK_DIR holds what make_textures wrote (set/, tiling/, photo.png, pal/, and NAME.png and NAME.ppm per palette).
Every tool maps every image of the set to every palette; bench_quality measures the results (plain and
seen CIEDE2000, and pixels off the palette). png2mat creates MAT files (--palette) that mat2png turns
back into PNGs. Then png2mat --dither and ImageMagick's Floyd-Steinberg remap take turns on the
photograph, ROUNDS times per palette. On the tiling set, the dithering tools' seen error along the edges,
where copies of a tiled texture meet, against inside. Prints Markdown tables; writes the side-by-side PICTURE.
Exits non-zero when a tool fails, not when a target is missed.
"""
import os
import resource
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

PALETTES = ["fitted", "general", "badfit"]
FITTING = ["fitted", "general"]  # the palettes made for the set or for any image
CONVERT = "/usr/bin/convert"  # never the stand-in on PATH
PEERS = {  # name: shell command, given {src} {out} {png} {ppm}
    "convert -dither None": CONVERT + " {src} -dither None -remap {png} {out}",
    "convert -dither FloydSteinberg": CONVERT + " {src} -dither FloydSteinberg -remap {png} {out}",
    "pnmremap": "pngtopnm {src} | pnmremap -quiet -nofloyd -mapfile={ppm} | pnmtopng > {out}",
    "pnmremap -floyd": "pngtopnm {src} | pnmremap -quiet -floyd -norandom -mapfile={ppm} | pnmtopng > {out}",
}
PLAIN_PEERS = ["convert -dither None", "pnmremap"]  # the undithered ones
# the seams: the tiling set on the palette fitted to it and on the general one, the dithering tools and, for
# how the pictures' edges differ from their middles whatever the tool, png2mat without dithering
SEAM_PALETTES = {"fitted": "tiling", "general": "general"}
SEAM_TOOLS = ["png2mat --dither", "convert -dither FloydSteinberg", "pnmremap -floyd", "png2mat"]
OURS = {"png2mat --match=rgb": ["--match=rgb"], "png2mat": ["--match=perceptual"], "png2mat --dither": ["--dither"]}
TOOLS = list(PEERS) + list(OURS)
# the picture: image, palette, crop (x, y) of CROP x CROP pixels
CROPS = [("sky", "general", 150, 150), ("sign", "fitted", 100, 64), ("skin", "badfit", 40, 40)]
CAPTIONS = {"convert -dither None": "convert", "convert -dither FloydSteinberg": "convert FS", "png2mat --match=rgb": "png2mat rgb"}
CROP, ZOOM = 48, 3


def run(command, cwd=None):
    result = subprocess.run(command, cwd=cwd, shell=isinstance(command, str), executable="/bin/bash" if isinstance(command, str) else None,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if result.returncode != 0:
        sys.exit(f"failed ({result.returncode}): {command}\n{result.stderr}")
    return result.stdout


def bash(command):
    return run("set -o pipefail; " + command)


def png2mat_outputs(build, work, scratch, folder, palette, images, options, tag):
    """Creates a MAT file per image with png2mat and converts it back with mat2png; the result PNGs."""
    directory = os.path.join(scratch, f"{folder}-{palette}-{tag}")
    os.makedirs(os.path.join(directory, "mat"))
    os.makedirs(os.path.join(directory, "pal"))
    shutil.copy(os.path.join(work, "pal", palette + ".pal"), os.path.join(directory, "pal"))
    for image in images:
        shutil.copy(os.path.join(work, folder, image + ".png"), os.path.join(directory, "mat", image + ".mat.png"))
    run([os.path.join(build, "png2mat"), "-q", "--palette=" + palette] + options, cwd=directory)
    for image in images:
        os.remove(os.path.join(directory, "mat", image + ".mat.png"))  # what comes back must be mat2png's
    run([os.path.join(build, "mat2png"), "-q"], cwd=directory)
    return {image: os.path.join(directory, "mat", image + ".mat.png") for image in images}


def quality(build, work, scratch, folder, images, palettes, tools):
    """{palette: {tool: (pixels, plain sum, seen sum, off-palette pixels, [(edge, interior) seen mean per image])}}
    for the images of WORK/FOLDER, and the result paths."""
    measures, outputs = {}, {}
    for palette in palettes:
        png, ppm = os.path.join(work, palette + ".png"), os.path.join(work, palette + ".ppm")
        for tool in tools:
            if tool in OURS:
                outputs[palette, tool] = png2mat_outputs(build, work, scratch, folder, palette, images, OURS[tool], f"ours{len(outputs)}")
                continue
            directory = os.path.join(scratch, f"{folder}-{palette}-{len(outputs)}")
            os.makedirs(directory)
            paths = {}
            for image in images:
                paths[image] = os.path.join(directory, image + ".png")
                src = os.path.join(work, folder, image + ".png")
                bash(PEERS[tool].format(src=shlex.quote(src), out=shlex.quote(paths[image]), png=shlex.quote(png), ppm=shlex.quote(ppm)))
            outputs[palette, tool] = paths
        measures[palette] = {}
        for tool in tools:
            pairs = [p for image in images for p in (os.path.join(work, folder, image + ".png"), outputs[palette, tool][image])]
            lines = run([os.path.join(build, "bench", "bench_quality"), png] + pairs).split("\n")
            totals, bands = [0, 0.0, 0.0, 0], []
            for line in filter(None, lines):
                values = line.split()
                for i in range(4):
                    totals[i] += float(values[i]) if i in (1, 2) else int(values[i])
                pixels, seen, edge, edge_seen = int(values[0]), float(values[2]), int(values[4]), float(values[5])
                bands.append((edge_seen / edge, (seen - edge_seen) / (pixels - edge)))
            measures[palette][tool] = tuple(totals) + (bands,)
    return measures, outputs


def speed(build, work, scratch, rounds):
    """{palette: [((png2mat wall, CPU seconds), (convert wall, CPU seconds))] per round}, taking turns."""
    times = {}
    photo = os.path.join(work, "photo.png")
    for palette in PALETTES:
        directory = os.path.join(scratch, f"speed-{palette}")
        os.makedirs(os.path.join(directory, "mat"))
        os.makedirs(os.path.join(directory, "pal"))
        shutil.copy(os.path.join(work, "pal", palette + ".pal"), os.path.join(directory, "pal"))
        shutil.copy(photo, os.path.join(directory, "mat", "photo.mat.png"))
        mat = os.path.join(directory, "mat", "photo.mat")
        ours = [os.path.join(build, "png2mat"), "-q", "--palette=" + palette, "--dither"]
        theirs = [CONVERT, photo, "-dither", "FloydSteinberg", "-remap", os.path.join(work, palette + ".png"), os.path.join(directory, "im.png")]
        times[palette] = []
        for r in range(rounds):
            pair = {}
            for tool in (["ours", "theirs"] if r % 2 == 0 else ["theirs", "ours"]):
                if tool == "ours" and os.path.exists(mat):
                    os.remove(mat)
                before = resource.getrusage(resource.RUSAGE_CHILDREN)
                start = time.perf_counter()
                run(ours if tool == "ours" else theirs, cwd=directory)
                after = resource.getrusage(resource.RUSAGE_CHILDREN)
                pair[tool] = (time.perf_counter() - start, after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime)
                if tool == "ours" and not os.path.exists(mat):
                    sys.exit("png2mat created no MAT file from the photograph")
            times[palette].append((pair["ours"], pair["theirs"]))
    return times


def picture(outputs, work, scratch, path):
    """Rows of crops, zoomed by pixel replication: the source, then every tool, each labelled."""
    rows = []
    for n, (image, palette, x, y) in enumerate(CROPS):
        cells = []
        for label, source in [("source", os.path.join(work, "set", image + ".png"))] + [(t, outputs[palette, t][image]) for t in TOOLS]:
            cell = os.path.join(scratch, f"cell{n}-{len(cells)}.png")
            caption = f"{image}, {palette} palette" if label == "source" else CAPTIONS.get(label, label)
            run([CONVERT, source, "-crop", f"{CROP}x{CROP}+{x}+{y}", "+repage", "-scale", f"{ZOOM * 100}%",
                 "-gravity", "south", "-background", "white", "-splice", "0x16", "-font", "DejaVu-Sans", "-pointsize", "11",
                 "-fill", "black", "-annotate", "+0+2", caption, "-bordercolor", "white", "-border", "2", cell])
            cells.append(cell)
        row = os.path.join(scratch, f"row{n}.png")
        run([CONVERT] + cells + ["+append", row])
        rows.append(row)
    run([CONVERT] + rows + ["-append", "-strip", "-define", "png:compression-level=9", path])


def main():
    build, work, rounds, picture_path = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    images = sorted(name[:-4] for name in os.listdir(os.path.join(work, "set")) if name.endswith(".png"))
    tiles = sorted(name[:-4] for name in os.listdir(os.path.join(work, "tiling")) if name.endswith(".png"))
    load = open("/proc/loadavg").read().split()
    scratch = tempfile.mkdtemp(prefix="quality-bench-", dir="/dev/shm" if os.path.isdir("/dev/shm") else work)
    try:
        measures, outputs = quality(build, work, scratch, "set", images, PALETTES, TOOLS)
        seams, _ = quality(build, work, scratch, "tiling", tiles, list(SEAM_PALETTES.values()), SEAM_TOOLS)
        times = speed(build, work, scratch, rounds)
        picture(outputs, work, scratch, picture_path)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)

    pixels = measures[PALETTES[0]][TOOLS[0]][0]
    print(f"{len(images)} images, {pixels:,} pixels; mean CIEDE2000 per pixel, plain and seen (after a Gaussian blur of sigma 1 in linear light)\n")
    print("| tool | " + " | ".join(f"{p} plain | {p} seen" for p in PALETTES) + " | off-palette pixels |")
    print("| --- |" + " ---: | ---: |" * len(PALETTES) + " ---: |")
    for tool in TOOLS:
        cells = [f"{measures[p][tool][1] / pixels:.3f} | {measures[p][tool][2] / pixels:.3f}" for p in PALETTES]
        print(f"| {tool} | " + " | ".join(cells) + f" | {sum(measures[p][tool][3] for p in PALETTES)} |")

    def mean_plain(tool):
        return statistics.mean(measures[p][tool][1] / pixels for p in PALETTES)

    def mark(ok):
        return "✓" if ok else "✗"
    best = min(PLAIN_PEERS, key=mean_plain)
    ratio = mean_plain("png2mat") / mean_plain(best)
    print(f"\n| target | ratio | |\n| --- | ---: | --- |")
    print(f"| png2mat plain / best undithered peer ({best}), mean over the palettes, ≤ 0.90 | {ratio:.3f} | {mark(ratio <= 0.90)} |")
    for p in PALETTES:
        seen = measures[p]["png2mat --dither"][2]
        if p in FITTING:
            r = seen / measures[p]["convert -dither FloydSteinberg"][2]
            print(f"| png2mat --dither seen / convert -dither FloydSteinberg, {p}, ≤ 0.88 | {r:.3f} | {mark(r <= 0.88)} |")
        r = seen / measures[p]["pnmremap -floyd"][2]
        print(f"| png2mat --dither seen / pnmremap -floyd, {p}, ≤ 1 | {r:.3f} | {mark(r <= 1)} |")
    for p in PALETTES:
        r = statistics.median(ours[0] / theirs[0] for ours, theirs in times[p])
        ours, theirs = statistics.median(t[0][0] for t in times[p]), statistics.median(t[1][0] for t in times[p])
        print(f"| time png2mat --dither / convert -dither FloydSteinberg -remap, 2048 × 2048, {p} ({ours:.2f} s against {theirs:.2f} s), ≤ 1 | {r:.3f} | {mark(r <= 1)} |")
    print(f"\nSpeed: median of {len(times[PALETTES[0]])} rounds, the two tools taking turns; CPU time ratios (user and system): " +
          ", ".join(f"{p} {statistics.median(o[1] / t[1] for o, t in times[p]):.3f}" for p in PALETTES) +
          f". Load average {load[0]} before, {open('/proc/loadavg').read().split()[0]} after.")
    tile_pixels = seams["general"][SEAM_TOOLS[0]][0]
    print(f"\nSeams: {len(tiles)} pictures that tile, {tile_pixels:,} pixels; seen CIEDE2000 in the band 2 px wide along the four "
          "edges (where copies meet) and inside it, each the mean over the pictures of the mean per pixel, and their ratio\n")
    print("| tool | " + " | ".join(f"{p} edge | {p} inside | {p} ratio" for p in SEAM_PALETTES) + " |")
    print("| --- |" + " ---: | ---: | ---: |" * len(SEAM_PALETTES))
    seam = {}
    for tool in SEAM_TOOLS:
        cells = []
        for name, palette in SEAM_PALETTES.items():
            bands = seams[palette][tool][4]
            edge, inside = statistics.mean(b[0] for b in bands), statistics.mean(b[1] for b in bands)
            seam[name, tool] = edge / inside
            cells.append(f"{edge:.4f} | {inside:.4f} | {edge / inside:.3f}")
        print(f"| {tool} | " + " | ".join(cells) + " |")
    print(f"\n| target | ratio | |\n| --- | ---: | --- |")
    for name in SEAM_PALETTES:
        r = seam[name, "png2mat --dither"]
        print(f"| png2mat --dither seen at the edges / inside, tiling set, {name}, ≤ 1.00 | {r:.3f} | {mark(r <= 1.0)} |")
    off = {t: sum(measures[p][t][3] for p in PALETTES) for t in TOOLS}
    if any(off.values()):
        print("\nColours off the palette: " + ", ".join(f"{t}: {n}" for t, n in off.items() if n))


if __name__ == "__main__":
    main()
