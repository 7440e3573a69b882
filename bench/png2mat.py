"""Benchmarks png2mat: the typical set rebuilt from its PNGs against the floor, written as RGB and as
indexed images (mat2png --indexed, against the floor's indexed decode), and a 2048 x 2048 image
whose pixels are 100,000 distinct colours that are not in the palette against one of palette colours; and
the cost of fsync: the typical set with every MAT rewritten, on disk, against the same binary under eatmydata.

Usage: png2mat.py BUILD_DIR CORPUS_DIR RUNS
The typical set is converted by mat2png first; png2mat (one job, like the floor) and the floor take
turns, and the ratio is the median of the ratios within a round. Every MAT must come back unchanged.
The large images are written here (RGB, no library needed) beside the first opaque MAT of the large
set; png2mat rewrites that MAT on every run, so it is restored before each, outside the timing.
"""
import os
import random
import resource
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time
import zlib


def timed(command, cwd):
    """Wall seconds and CPU seconds (user and system, workers included) of one run."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    result = subprocess.run(command, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    seconds = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if result.returncode != 0:
        sys.exit(f"{command} failed in {cwd}")
    return seconds, after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime


def write_png(path, width, height, pixels):
    """An 8-bit RGB PNG of `pixels` (bytes, top row first)."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    stride = 3 * width
    raw = b"".join(b"\0" + pixels[y * stride:(y + 1) * stride] for y in range(height))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))


def embedded_palette(mat):
    with open(mat, "rb") as f:
        data = f.read()
    at = data.index(b"CMAP") + 8
    return {data[at + 3 * n:at + 3 * n + 3] for n in range(256)}


def rewrite_on_disk(png2mat, corpus, typical, runs):
    """The typical set (images made by mat2png) with one opaque pixel of every MAT given another colour, so that
    png2mat rewrites each one, keeping a backup: in a folder on disk beside the corpus, not tmpfs, where fsync has a disk to wait for.
    Each round restores the changed files and syncs everything before the timed run. Rows: tool, files written,
    median s, median CPU s, the median ratio to the same jobs under eatmydata, and the median difference per file."""
    work = os.path.join(os.path.dirname(corpus), "png2mat-on-disk")
    shutil.rmtree(work, ignore_errors=True)
    shutil.copytree(typical, work)
    mats = os.path.join(work, "mat")
    changed = {}
    for name in sorted(os.listdir(os.path.join(corpus, "typical", "mat"))):
        with open(os.path.join(mats, name), "rb") as f:
            data = bytearray(f.read())
        # the first opaque pixel (a transparent one keeps its index) takes an entry of another colour
        if b"CMAP" in data:
            table = data[data.index(b"CMAP") + 8:][:768]
        else:
            at = data.index(b"NAME") + 8
            palette = data[at:data.index(b"\0", at)].decode().replace("\\", "/")
            with open(os.path.join(work, "pal", palette + ".pal"), "rb") as f:
                table = f.read().split(b"CMAP", 1)[1][4:772]
        pixels = data.index(b"PXLS") + 8
        at = pixels + (data[data.index(b"ALPH") + 8:].index(0) if b"ALPH" in data else 0)
        colour = table[3 * data[at]:3 * data[at] + 3]
        data[at] = next(n for n in range(256) if table[3 * n:3 * n + 3] != colour)
        changed[name] = bytes(data)
    commands = {"png2mat -j 1": [png2mat, "-q", "-j", "1"], "eatmydata png2mat -j 1": ["eatmydata", png2mat, "-q", "-j", "1"],
                "png2mat": [png2mat, "-q"], "eatmydata png2mat": ["eatmydata", png2mat, "-q"]}
    times = {tool: [] for tool in commands}
    cpu = {tool: [] for tool in commands}
    written = {}
    for run in range(runs):
        order = list(commands)
        for tool in order[run % 4:] + order[:run % 4]:
            for name, data in changed.items():
                with open(os.path.join(mats, name), "wb") as f:
                    f.write(data)
                if os.path.exists(os.path.join(mats, name + ".bak")):
                    os.remove(os.path.join(mats, name + ".bak"))
            os.sync()
            seconds, busy = timed(commands[tool], work)
            times[tool].append(seconds)
            cpu[tool].append(busy)
            written[tool] = sum(1 for name in os.listdir(mats) if name.endswith(".bak"))
            if written[tool] != len(changed):
                sys.exit(f"{tool} rewrote {written[tool]} of {len(changed)} files")
    shutil.rmtree(work)
    rows = []
    for tool in ("png2mat -j 1", "png2mat"):
        plain = times["eatmydata " + tool]
        ratio = statistics.median(t / p for t, p in zip(times[tool], plain))
        per_file = statistics.median(t - p for t, p in zip(times[tool], plain)) / written[tool] * 1000
        for name in (tool, "eatmydata " + tool):
            rows.append((name, written[name], statistics.median(times[name]), statistics.median(cpu[name]),
                         ratio if name == tool else 1.0, per_file if name == tool else 0.0))
    return rows


def main():
    build, corpus, runs = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), int(sys.argv[3])
    png2mat, floor = os.path.join(build, "png2mat"), os.path.join(build, "bench", "png2mat_floor")
    scratch = tempfile.mkdtemp(prefix="png2mat-bench-", dir="/dev/shm" if os.path.isdir("/dev/shm") else corpus)
    rows = []

    def row(label, tool, times, cpu):
        ratio = statistics.median(t / f for t, f in zip(times[tool], times["floor"]))
        cpu_ratio = statistics.median(t / f for t, f in zip(cpu[tool], cpu["floor"]))
        return (label, tool, statistics.median(times[tool]), ratio, statistics.median(cpu[tool]), cpu_ratio)

    for kind, option in (("typical", []), ("typical indexed", ["--indexed"])):
        typical = os.path.join(scratch, kind.replace(" ", "-"))
        shutil.copytree(os.path.join(corpus, "typical"), typical)
        timed([os.path.join(build, "mat2png"), "-q"] + option, typical)
        times = {"png2mat -j 1": [], "png2mat": [], "floor": []}
        cpu = {tool: [] for tool in times}
        commands = {"png2mat -j 1": [png2mat, "-q", "-j", "1"], "png2mat": [png2mat, "-q"], "floor": [floor] + option}
        for run in range(runs):
            order = list(commands)
            for tool in order[run % 3:] + order[:run % 3]:
                seconds, busy = timed(commands[tool], typical)
                times[tool].append(seconds)
                cpu[tool].append(busy)
        for name in os.listdir(os.path.join(corpus, "typical", "mat")):
            with open(os.path.join(corpus, "typical", "mat", name), "rb") as a, open(os.path.join(typical, "mat", name), "rb") as b:
                if a.read() != b.read():
                    sys.exit(f"png2mat changed {name}")
        files = len(os.listdir(os.path.join(corpus, "typical", "mat")))
        for tool in commands:
            rows.append(row("%s (%d files, unchanged)" % (kind, files), tool, times, cpu))

    synced = rewrite_on_disk(png2mat, corpus, os.path.join(scratch, "typical"), runs)

    big = os.path.join(scratch, "big")
    os.makedirs(os.path.join(big, "mat"))
    source = os.path.join(corpus, "large", "mat", "t0001.mat")
    palette = embedded_palette(source)
    rng = random.Random(1)
    off = set()
    while len(off) < 100000:
        colour = bytes(rng.randrange(256) for _ in range(3))
        if colour not in palette:
            off.add(colour)
    side = 2048
    images = {"palette colours": sorted(palette), "100,000 colours off the palette": sorted(off)}
    for label, choices in images.items():
        write_png(os.path.join(big, "mat", "big.mat.png"), side, side, b"".join(rng.choices(choices, k=side * side)))
        series = {"png2mat -j 1": [], "floor": []}
        busy = {tool: [] for tool in series}
        for run in range(runs):
            for tool in series:
                shutil.copyfile(source, os.path.join(big, "mat", "big.mat"))
                command = [png2mat, "-q", "-j", "1", "--no-backup"] if tool != "floor" else [floor]
                seconds, cpu_seconds = timed(command, big)
                series[tool].append(seconds)
                busy[tool].append(cpu_seconds)
        for tool in series:
            rows.append(row("2048 x 2048, " + label, tool, series, busy))
    shutil.rmtree(scratch)

    print(f"\n{runs} rounds, tools taking turns, working copies on tmpfs; ratios are medians over the rounds.\n")
    print("| workload | tool | median s | tool/floor | CPU s | CPU tool/floor |")
    print("| --- | --- | ---: | ---: | ---: | ---: |")
    for line in rows:
        print("| %s | %s | %.3f | %.3f | %.3f | %.3f |" % line)
    print("\nEvery MAT of the typical set rewritten (with its backup), on disk: fsync's cost, against the same")
    print("binary under eatmydata, which makes fsync do nothing; medians over the rounds.\n")
    print("| tool | files written | median s | CPU s | s / without fsync | ms per file |")
    print("| --- | ---: | ---: | ---: | ---: | ---: |")
    for line in synced:
        print("| %s | %d | %.3f | %.3f | %.3f | %.2f |" % line)


if __name__ == "__main__":
    main()
