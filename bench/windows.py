"""Benchmarks the Windows mat2png (build-windows/mat2png.exe) under Wine against the native one of the
same commit (build-bench/mat2png, Release) on the typical set: `-j 1` against `-j 1`, and the default run
(every CPU) against the native default. Each run converts a fresh copy of the set on tmpfs; Wine's start
is in its time, its server kept running between runs as a user's session keeps it.
Usage: bench/windows.py ROUNDS CORPUS"""

import os
import pathlib
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
WINE = dict(os.environ, WINEPREFIX=str(ROOT / "build-windows" / "wine"), WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")


def timed(command, source, env=None):
    with tempfile.TemporaryDirectory(dir="/dev/shm", prefix="mat2png-windows-bench-") as tmp:
        shutil.copytree(source / "mat", pathlib.Path(tmp) / "mat")
        if (source / "pal").is_dir():
            shutil.copytree(source / "pal", pathlib.Path(tmp) / "pal")
        start = time.perf_counter()
        done = subprocess.run(command, cwd=tmp, capture_output=True, env=env)
        seconds = time.perf_counter() - start
        if done.returncode != 0:
            raise RuntimeError(f"{command}: status {done.returncode}: {done.stderr[:500]!r}")
        return seconds


def main():
    rounds, corpus = int(sys.argv[1]), pathlib.Path(sys.argv[2]) / "typical"
    native = str(ROOT / "build-bench" / "mat2png")
    windows = ["wine", str(ROOT / "build-windows" / "mat2png.exe")]
    subprocess.run(["wineserver", "-p"], env=WINE)  # already running is as good
    # Wine's first start also starts its services, which would hold a captured run's pipes open
    subprocess.run(["wine", "cmd", "/c", "exit"], env=WINE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    timed(windows + ["-q"], corpus, WINE)  # Wine's first run loads what later ones find loaded
    cases = {"-j 1": (["-j", "1"]), "default": ([])}
    times = {(case, side): [] for case in cases for side in ("native", "windows")}
    ratios = {case: [] for case in cases}
    for _ in range(rounds):
        for case, args in cases.items():
            n = timed([native, *args], corpus)
            w = timed(windows + args, corpus, WINE)
            times[case, "native"].append(n)
            times[case, "windows"].append(w)
            ratios[case].append(w / n)
    subprocess.run(["wineserver", "-k"], env=WINE)
    print("| mat2png, typical | Windows (Wine) | native | ratio |")
    print("| --- | ---: | ---: | ---: |")
    for case in cases:
        print(f"| {case} | {statistics.median(times[case, 'windows']):.2f} s | {statistics.median(times[case, 'native']):.2f} s | "
              f"{statistics.median(ratios[case]):.2f} (from {min(ratios[case]):.2f} to {max(ratios[case]):.2f}) |")


if __name__ == "__main__":
    main()
