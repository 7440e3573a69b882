"""Runs mat2png, the libpng floor and the Pillow peer alternately on each workload.

Usage: bench.py BUILD_DIR CORPUS_DIR RUNS [WORKLOAD...]
The tools take turns converting one copy of a workload; the PNGs are removed before every run,
outside the timing. A round runs each tool once, back to back, and the ratios are the medians of the
ratios within a round, so that a slow spell of the machine weighs on both sides of a ratio. The
tiny workload, whose runs take half a second, gets three times the rounds. Prints a Markdown
table and exits non-zero when a run fails or mat2png's pixels differ from the floor's.
"""
import glob
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from PIL import Image

WORKLOADS = ["tiny", "typical", "large"]


def timed(command, cwd):
    """Wall seconds, peak resident KiB and CPU seconds (user and system) of one run."""
    # GNU time forks from a small process: a child forked from Python would count Python's pages
    report = os.path.join(cwd, "peak.txt")
    start = time.perf_counter()
    result = subprocess.run(["/usr/bin/time", "-f", "%M %U %S", "-o", report] + command, cwd=cwd, stdout=subprocess.DEVNULL)
    seconds = time.perf_counter() - start
    if result.returncode != 0:
        sys.exit(f"{command[0]} failed in {cwd}")
    with open(report) as f:
        peak, user, system = f.read().split()[-3:]
    return seconds, int(peak), float(user) + float(system)


def pngs(directory):
    return sorted(os.path.basename(p) for p in glob.glob(os.path.join(directory, "mat", "*.png")))


def same_pixels(first, second):
    """Names of the PNGs that differ in name, mode, size or any pixel."""
    if pngs(first) != pngs(second):
        return ["(the sets of files)"]
    differ = []
    for name in pngs(first):
        with Image.open(os.path.join(first, "mat", name)) as a, Image.open(os.path.join(second, "mat", name)) as b:
            if (a.mode, a.size, a.tobytes()) != (b.mode, b.size, b.tobytes()):
                differ.append(name)
    return differ


def main():
    build, corpus, runs = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), int(sys.argv[3])
    here = os.path.dirname(os.path.abspath(__file__))
    tools = {
        "mat2png": [os.path.join(build, "mat2png")],
        "floor": [os.path.join(build, "bench", "bench_floor")],
        "peer": ["/usr/bin/python3", os.path.join(here, "peer.py")],
    }
    # tmpfs: on ext4, creating files right after deleting as many costs up to a millisecond per
    # file (it passes over inodes freed in the last half minute), which would drown what is measured
    scratch = tempfile.mkdtemp(prefix="mat2png-bench-", dir="/dev/shm" if os.path.isdir("/dev/shm") else corpus)
    rows, failed = [], False
    for workload in sys.argv[4:] or WORKLOADS:
        source = os.path.join(corpus, workload)
        files = len(glob.glob(os.path.join(source, "mat", "*.mat")))
        # the timed runs take turns in one copy, so that the file system's state is the same for all
        shared = os.path.join(scratch, workload, "shared")
        dirs = {tool: os.path.join(scratch, workload, tool) for tool in tools}
        for directory in [shared] + list(dirs.values()):
            shutil.rmtree(directory, ignore_errors=True)
            shutil.copytree(source, directory)
        times = {tool: [] for tool in tools}
        cpu = {tool: [] for tool in tools}
        peaks = {tool: 0 for tool in tools}
        order = list(tools)
        rounds = runs * 3 if workload == "tiny" else runs
        for run in range(rounds):
            for tool in order[run % 3:] + order[:run % 3]:
                for png in glob.glob(os.path.join(shared, "mat", "*.png")):
                    os.remove(png)
                seconds, peak, busy = timed(tools[tool], shared)
                times[tool].append(seconds)
                cpu[tool].append(busy)
                peaks[tool] = max(peaks[tool], peak)
        # one more, untimed run of each tool in its own copy gives the images to compare
        for tool in tools:
            timed(tools[tool], dirs[tool])
        for tool in ("mat2png", "peer"):
            differ = same_pixels(dirs[tool], dirs["floor"])
            if differ:
                failed = True
                print(f"{workload}: {tool} differs from the floor in {len(differ)} files, e.g. {differ[0]}")
        def ratio(series, a, b):
            return statistics.median(x / y for x, y in zip(series[a], series[b]))

        for tool in tools:
            median = statistics.median(times[tool])
            rows.append((workload, rounds, tool, median, ratio(times, tool, "floor"), ratio(times, "mat2png", tool),
                         ratio(cpu, tool, "floor"), peaks[tool] / 1024, files / median))
        rows.append(None)
    print(f"\nWorking copies in {os.path.dirname(scratch)}. Tools alternating; PNG pixels of mat2png and the peer checked against the floor. Ratios are")
    print("medians over the rounds; wall time decides, CPU time (user + system) is shown beside it.\n")
    print("| workload | rounds | tool | median s | tool/floor | mat2png/tool | CPU tool/floor | peak MiB | files/s |")
    print("| --- | ---: | --- | ---: | ---: | ---: | ---: | ---: | ---: |")
    for row in rows:
        if row:
            print("| %s | %d | %s | %.3f | %.3f | %.3f | %.3f | %.1f | %.0f |" % row)
    shutil.rmtree(scratch)
    sys.exit(1 if failed else 0)


main()
