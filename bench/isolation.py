"""Times mat2png on one CPU: its default, which converts in one worker process there (so that a crash
costs only its file), against -j 1, which converts in the process itself.

Usage: isolation.py BUILD_DIR CORPUS_DIR RUNS [WORKLOAD...] (default: tiny, whose files are the
quickest, so that the worker's cost per file weighs most)

This process pins itself, and so the tools it starts, to the first CPU it may use, as `taskset -c`
would: mat2png sees one CPU. The two take turns in one copy of the workload, the first of a round
alternating; tiny gets three times the rounds, as in bench.py, and the ratios are the medians of the
ratios within a round. The quiet-machine checks are bench.py's, on that CPU alone: a round waits (up
to 10 s) for it to be quiet, and one in which other processes took more than 5 % of it is run again,
up to twice the rounds in all; the least disturbed rounds count. One more run of each, in its own
copy under bench_peak, counts the processes and checks that both write the same images.
"""
import glob
import os
import shutil
import statistics
import sys
import tempfile
import time

# before bench is imported: it takes the CPUs it may use, for the quiet checks, when loaded
os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})
import bench  # noqa: E402


def main():
    build, corpus, runs = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), int(sys.argv[3])
    bench.become_subreaper()
    mat2png = os.path.join(build, "mat2png")
    probe = os.path.join(build, "bench", "bench_peak")
    tools = {"mat2png -j 1": [[mat2png, "-j", "1"]], "mat2png": [[mat2png]]}
    names = list(tools)
    scratch = tempfile.mkdtemp(prefix="mat2png-isolation-", dir="/dev/shm" if os.path.isdir("/dev/shm") else corpus)
    rows, failed = [], False
    for workload in sys.argv[4:] or ["tiny"]:
        began = time.perf_counter()
        source = os.path.join(corpus, workload)
        dirs = {name: os.path.join(scratch, workload, name.replace(" ", "")) for name in ["shared"] + names}
        for directory in dirs.values():
            shutil.copytree(source, directory)
        shared = dirs["shared"]
        rounds = runs * 3 if workload == "tiny" else runs
        done = []
        while len(done) < 2 * rounds and sum(others <= bench.QUIET for others, _ in done) < rounds:
            bench.wait_for_quiet(10)
            order = names if len(done) % 2 == 0 else names[::-1]
            measured, capacity, taken = {}, 0.0, 0.0
            for tool in order:
                for png in glob.glob(os.path.join(shared, "mat", "*.png")):
                    os.remove(png)
                seconds, busy, others = bench.timed(tools[tool], shared)
                measured[tool] = (seconds, busy)
                capacity += seconds
                taken += others
            done.append((taken / capacity, measured))
        used = sorted(done, key=lambda r: r[0])[:rounds]
        times = {tool: [m[tool][0] for _, m in used] for tool in names}
        cpu = {tool: [m[tool][1] for _, m in used] for tool in names}
        memory = {tool: bench.peaks(tools[tool], dirs[tool], probe) for tool in names}
        differ = bench.differences(bench.images(dirs["mat2png"]), bench.images(dirs["mat2png -j 1"]))
        if differ:
            failed = True
            print(f"{workload}: mat2png and mat2png -j 1 differ in {len(differ)} files, e.g. {differ[0]}")

        def ratio(series, tool):
            return statistics.median(x / y for x, y in zip(series[tool], series["mat2png -j 1"]))

        for tool in names:
            rows.append((workload, tool, len(memory[tool]), statistics.median(times[tool]), ratio(times, tool),
                         statistics.median(cpu[tool]), ratio(cpu, tool), f"{len(used)}/{len(done)}",
                         100 * max(others for others, _ in used)))
        print(f"{workload}: {len(done)} rounds in {time.perf_counter() - began:.0f} s, others took "
              + " ".join(f"{100 * others:.0f}" for others, _ in done) + " % of the CPU", file=sys.stderr)
    print(f"\nOne CPU (CPU {min(bench.AVAILABLE)}, {bench.model()}): mat2png's default (one worker) against -j 1,")
    print("taking turns; ratios are medians of the ratios within a round."
          + ("" if failed else " The images of both are the same.") + "\n")
    print("| workload | tool | processes | median s | time / -j 1 | CPU s | CPU / -j 1 | rounds used/run | others' CPU %, worst used round |")
    print("| --- | --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: |")
    for row in rows:
        print("| %s | %s | %d | %.3f | %.3f | %.3f | %.3f | %s | %.1f |" % row)
    shutil.rmtree(scratch)
    sys.exit(1 if failed else 0)


main()
