"""Benchmarks update runs (-u): 100,000 tiny files (32 x 32; every fourth with an alpha plane, every
other one naming one of eight palettes), all current, and with one file edited, against the floor
(bench/update_floor.cpp: mat/ listed and the status of every MAT file and its two images taken);
peak memory at 10,000 and 100,000 files; and the progress line's cost on the tiny set.

Usage: update.py BUILD_DIR CORPUS_DIR RUNS
Tools and floor take turns in a shuffled order within each round; ratios are medians of the ratios
within a round. The one-file edits: mat/m000000.mat is given a newer time (mat2png -u converts it);
mat/m000001.mat.png is replaced by the image of another texture (png2mat -u rebuilds the MAT), and
an untimed mat2png -u brings the set back to current after it. Progress: mat2png -q on the tiny set
with standard error on a pseudo-terminal, drawing the line or with --no-progress, 3 x RUNS rounds.
"""
import os
import pty
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time


def run(command, cwd, stderr=subprocess.DEVNULL):
    start = time.perf_counter()
    result = subprocess.run(command, cwd=cwd, stdout=subprocess.DEVNULL, stderr=stderr)
    seconds = time.perf_counter() - start
    if result.returncode != 0:
        sys.exit(f"{command} failed in {cwd}")
    return seconds


def peak_kib(command, cwd):
    """Peak resident set of one run (no workers are started when every file is current)."""
    out = subprocess.run(["/usr/bin/time", "-f", "%M"] + command, cwd=cwd, stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE, text=True).stderr
    return int(out.strip().splitlines()[-1])


def on_terminal(command, cwd):
    """Seconds of one run with standard error on a pseudo-terminal, drained while it runs."""
    master, slave = pty.openpty()
    drain = threading.Thread(target=lambda: [None for _ in iter(lambda: _read(master), b"")])
    drain.start()
    seconds = run(command, cwd, stderr=slave)
    os.close(slave)
    drain.join()
    os.close(master)
    return seconds


def _read(fd):
    try:
        return os.read(fd, 65536)
    except OSError:
        return b""


def main():
    build, corpus, runs = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), int(sys.argv[3])
    mat2png, png2mat = os.path.join(build, "mat2png"), os.path.join(build, "png2mat")
    floor, make = os.path.join(build, "bench", "update_floor"), os.path.join(build, "bench", "make_corpus")
    scratch = tempfile.mkdtemp(prefix="update-bench-", dir="/dev/shm" if os.path.isdir("/dev/shm") else corpus)
    try:
        sets = {}
        for count in (10000, 100000):
            where = os.path.join(scratch, str(count))
            subprocess.run([make, where, "many", str(count)], check=True)
            start = time.perf_counter()
            run([mat2png, "-q"], where)
            sets[count] = (where, time.perf_counter() - start)
        many, full = sets[100000]
        print(f"mat2png converting all 100,000: {full:.1f} s ({1000 * full / 100000:.3f} ms a file)")

        def edit_mat(r):
            os.utime(os.path.join(many, "mat/m000000.mat"), (2e9 + r, 2e9 + r))

        def edit_image(r):
            shutil.copyfile(os.path.join(many, f"mat/m00000{3 + 2 * (r % 2)}.mat.png"), os.path.join(many, "mat/m000001.mat.png"))
            os.utime(os.path.join(many, "mat/m000001.mat.png"), (3e9 + r, 3e9 + r))

        tools = {
            "floor": ([floor], None),
            "mat2png -u": ([mat2png, "-u"], None),
            "png2mat -u": ([png2mat, "-u"], None),
            "mat2png -u, one MAT newer": ([mat2png, "-u"], edit_mat),
            "png2mat -u, one image edited": ([png2mat, "-u"], edit_image),
        }
        times = {name: [] for name in tools}
        for r in range(runs):
            order = list(tools)
            random.shuffle(order)
            for name in order:
                command, edit = tools[name]
                if edit:
                    edit(r)
                times[name].append(run(command, many))
                if edit:
                    run([mat2png, "-u"], many)  # current again for the next tool
        rows = []
        for name in tools:
            ratio = statistics.median(t / f for t, f in zip(times[name], times["floor"]))
            rows.append((name, statistics.median(times[name]), ratio))
        print("\n| tool, 100,000 files | median s | tool/floor |\n| --- | ---: | ---: |")
        for name, seconds, ratio in rows:
            target = "" if name == "floor" else (" ✓" if ratio <= 3 else " ✗") + " (≤ 3)"
            print(f"| {name} | {seconds:.3f} | {ratio:.2f}{target} |")

        print("\n| peak memory, KiB | 10,000 files | 100,000 files |\n| --- | ---: | ---: |")
        for name, command in (("floor", [floor]), ("mat2png -u", [mat2png, "-u"]), ("png2mat -u", [png2mat, "-u"])):
            print(f"| {name} | {peak_kib(command, sets[10000][0])} | {peak_kib(command, many)} |")

        tiny = os.path.join(scratch, "tiny")
        shutil.copytree(os.path.join(corpus, "tiny"), tiny)
        shown, hidden = [], []
        for r in range(3 * runs):
            pair = [(shown, [mat2png, "-q"]), (hidden, [mat2png, "-q", "--no-progress"])]
            random.shuffle(pair)
            for into, command in pair:
                into.append(on_terminal(command, tiny))
        ratio = statistics.median(s / h for s, h in zip(shown, hidden))
        print(f"\nprogress line on tiny (2,000 files, -q, standard error a terminal): {statistics.median(shown):.3f} s "
              f"against {statistics.median(hidden):.3f} s with --no-progress, ratio {ratio:.3f} over {3 * runs} rounds")
    finally:
        shutil.rmtree(scratch)


if __name__ == "__main__":
    main()
