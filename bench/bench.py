"""Runs mat2png, the libpng floor and the Pillow peer alternately on each workload.

Usage: bench.py BUILD_DIR CORPUS_DIR RUNS [WORKLOAD...]
Each tool converts its own copy of a workload; the PNGs are removed before every run, outside
the timing. Prints a Markdown table and exits non-zero when a run fails or mat2png's pixels
differ from the floor's.
"""
import glob
import os
import shutil
import statistics
import subprocess
import sys
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
    rows, failed = [], False
    for workload in sys.argv[4:] or WORKLOADS:
        source = os.path.join(corpus, workload)
        files = len(glob.glob(os.path.join(source, "mat", "*.mat")))
        dirs = {}
        for tool in tools:
            dirs[tool] = os.path.join(corpus, "run", workload, tool)
            shutil.rmtree(dirs[tool], ignore_errors=True)
            shutil.copytree(source, dirs[tool])
        times = {tool: [] for tool in tools}
        cpu = {tool: [] for tool in tools}
        peaks = {tool: 0 for tool in tools}
        order = list(tools)
        for run in range(runs):
            for tool in order[run % 3:] + order[:run % 3]:
                for png in glob.glob(os.path.join(dirs[tool], "mat", "*.png")):
                    os.remove(png)
                seconds, peak, busy = timed(tools[tool], dirs[tool])
                times[tool].append(seconds)
                cpu[tool].append(busy)
                peaks[tool] = max(peaks[tool], peak)
        for tool in ("mat2png", "peer"):
            differ = same_pixels(dirs[tool], dirs["floor"])
            if differ:
                failed = True
                print(f"{workload}: {tool} differs from the floor in {len(differ)} files, e.g. {differ[0]}")
        median = {tool: statistics.median(times[tool]) for tool in tools}
        busy = {tool: statistics.median(cpu[tool]) for tool in tools}
        for tool in tools:
            rows.append((workload, tool, median[tool], median[tool] / median["floor"],
                         median["mat2png"] / median[tool], busy[tool] / busy["floor"], peaks[tool] / 1024,
                         files / median[tool]))
        rows.append(None)
    print(f"\n{runs} runs per tool and workload, alternating; PNG pixels of mat2png and the peer checked against the floor.\n")
    print("Wall time decides; the CPU time (user + system) ratio is less disturbed by other load on the machine.\n")
    print("| workload | tool | median s | tool/floor | mat2png/tool | CPU tool/floor | peak MiB | files/s |")
    print("| --- | --- | ---: | ---: | ---: | ---: | ---: | ---: |")
    for row in rows:
        if row:
            print("| %s | %s | %.3f | %.3f | %.3f | %.3f | %.1f | %.0f |" % row)
    sys.exit(1 if failed else 0)


main()
