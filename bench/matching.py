"""Benchmarks png2mat's colour matching on 2048 x 2048 images, each side run in turn within a round:
- perceptual matching (the default) against --match=rgb, on an image of 300,000 distinct colours in random
  places, none of them in the palette, so that every one is searched for once;
- --dither against ImageMagick's Floyd-Steinberg remap (convert -dither FloydSteinberg -remap), PNG in and
  file out, on a photographic-looking image (ImageMagick's plasma fractal, 4 million distinct colours) with a
  256-colour palette ImageMagick makes for it (-colors 256).

Usage: matching.py BUILD_DIR RUNS. Ratios are medians of the ratios within a round; CPU time is user and system.
"""
import os
import random
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile

from png2mat import timed, write_png  # the same timing and PNG writer as png2mat's benchmark

CONVERT = "/usr/bin/convert"


def chunk(kind, data):
    return kind + struct.pack(">I", len(data)) + data + b"\0" * (len(data) % 2)


def write_mat(path, side, table):
    """A MAT of side x side pixels of index 0 with the colour table `table` (768 bytes)."""
    def form(kind, children):
        return b"FORM" + struct.pack(">I", len(children) + 4) + kind + children
    frame = chunk(b"INFO", struct.pack("<iii", side, side, 0)) + form(b"PAL ", chunk(b"CMAP", table)) + chunk(b"PXLS", bytes(side * side))
    with open(path, "wb") as f:
        f.write(form(b"BITM", form(b"FRAM", frame)))


def series(runs, commands, prepare):
    """Per tool the wall and CPU seconds of each round, the tools taking turns."""
    wall = {tool: [] for tool in commands}
    cpu = {tool: [] for tool in commands}
    for run in range(runs):
        order = list(commands)
        for tool in order[run % len(order):] + order[:run % len(order)]:
            prepare()
            command, cwd = commands[tool]
            seconds, busy = timed(command, cwd)
            wall[tool].append(seconds)
            cpu[tool].append(busy)
    return wall, cpu


def main():
    build, runs = os.path.abspath(sys.argv[1]), int(sys.argv[2])
    png2mat = os.path.join(build, "png2mat")
    scratch = tempfile.mkdtemp(prefix="matching-bench-", dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    side = 2048
    photo, palette = os.path.join(scratch, "photo.png"), os.path.join(scratch, "palette.png")
    subprocess.run([CONVERT, "-seed", "1", "-size", f"{side}x{side}", "plasma:fractal", photo], check=True)
    subprocess.run([CONVERT, photo, "-colors", "256", "-unique-colors", palette], check=True)
    table = subprocess.run([CONVERT, palette, "-depth", "8", "rgb:-"], check=True, capture_output=True).stdout
    table = (table + table[:3] * 256)[:768]  # fewer than 256 colours: the first repeats
    entries = {table[i:i + 3] for i in range(0, 768, 3)}
    rng = random.Random(1)
    off = set()
    while len(off) < 300000:
        colour = bytes(rng.randrange(256) for _ in range(3))
        if colour not in entries:
            off.add(colour)

    work = os.path.join(scratch, "work")
    os.makedirs(os.path.join(work, "mat"))
    mat = os.path.join(work, "mat", "big.mat")
    restore = lambda: write_mat(mat, side, table)
    rows = []

    write_png(mat + ".png", side, side, b"".join(rng.choices(sorted(off), k=side * side)))
    wall, cpu = series(runs, {"png2mat --match=rgb": ([png2mat, "-q", "--no-backup", "--match=rgb"], work),
                              "png2mat (perceptual)": ([png2mat, "-q", "--no-backup"], work)}, restore)
    rows.append(("300,000 colours off the palette", wall, cpu, "png2mat --match=rgb"))

    shutil.copyfile(photo, mat + ".png")
    out = os.path.join(scratch, "remapped.png")
    wall, cpu = series(runs, {"ImageMagick FS remap": ([CONVERT, photo, "-dither", "FloydSteinberg", "-remap", palette, out], scratch),
                              "png2mat --dither": ([png2mat, "-q", "--no-backup", "--dither"], work)}, restore)
    rows.append(("photographic, 4.2 million colours", wall, cpu, "ImageMagick FS remap"))
    shutil.rmtree(scratch)

    print(f"\n{runs} rounds, tools taking turns, working copies on tmpfs; ratios are medians over the rounds.\n")
    print("| 2048 x 2048 image | tool | median s | CPU s | time / reference | CPU / reference |")
    print("| --- | --- | ---: | ---: | ---: | ---: |")
    for label, wall, cpu, reference in rows:
        for tool in wall:
            ratio = statistics.median(t / r for t, r in zip(wall[tool], wall[reference]))
            cpu_ratio = statistics.median(t / r for t, r in zip(cpu[tool], cpu[reference]))
            print("| %s | %s | %.3f | %.3f | %.3f | %.3f |" % (label, tool, statistics.median(wall[tool]),
                                                           statistics.median(cpu[tool]), ratio, cpu_ratio))


main()
