"""Benchmarks mat2png with operands against the set run on the same files: the typical workload
(300 files of 256 x 256), converted as `mat2png` in the set's folder, as `mat2png mat/*.mat` (each
file named, sorted as the shell's glob gives them) and as `mat2png mat` (the folder as operand), each
with -j 1 and with the default jobs.

Usage: operands.py BUILD_DIR CORPUS_DIR RUNS
Within a round the runs take turns in a shuffled order on a working copy on tmpfs; a ratio is the
median over the rounds of the operand run's time over the set run's of the same round, for the
elapsed time and for the CPU time of the run's processes (workers included), which other processes
on the machine disturb less.
"""
import glob
import os
import random
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def run(command, cwd):
    """Elapsed and CPU seconds of one run; mat2png waits for its workers, so their time is counted."""
    start, used = time.perf_counter(), cpu()
    result = subprocess.run(command, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    seconds, cpu_seconds = time.perf_counter() - start, cpu() - used
    if result.returncode != 0:
        sys.exit(f"{command} failed in {cwd}")
    return seconds, cpu_seconds


def main():
    build, corpus, runs = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), int(sys.argv[3])
    mat2png = os.path.join(build, "mat2png")
    scratch = tempfile.mkdtemp(prefix="operands-bench-", dir="/dev/shm" if os.path.isdir("/dev/shm") else corpus)
    try:
        where = os.path.join(scratch, "typical")
        shutil.copytree(os.path.join(corpus, "typical"), where)
        files = sorted(os.path.relpath(p, where) for p in glob.glob(os.path.join(where, "mat", "*.mat")))
        variants = {}
        for jobs, flags in (("-j 1", ["-j", "1"]), ("default", [])):
            variants[("set", jobs)] = [mat2png] + flags
            variants[("files", jobs)] = [mat2png] + flags + files
            variants[("folder", jobs)] = [mat2png] + flags + ["mat"]
        run([mat2png], where)  # every image written once, so that each run replaces the same files
        times = {key: [] for key in variants}
        for _ in range(runs):
            order = list(variants)
            random.shuffle(order)
            for key in order:
                times[key].append(run(variants[key], where))
        print(f"mat2png on typical ({len(files)} files), {runs} rounds\n")
        print("| run | jobs | median s | ms a file | against the set run | CPU s | CPU against the set run |\n"
              "| --- | --- | ---: | ---: | ---: | ---: | ---: |")
        for jobs in ("-j 1", "default"):
            base = times[("set", jobs)]
            for kind, label in (("set", "`mat2png`"), ("files", "`mat2png mat/*.mat`"), ("folder", "`mat2png mat`")):
                mine = times[(kind, jobs)]
                ratios = [statistics.median(t[i] / b[i] for t, b in zip(mine, base)) for i in (0, 1)]
                target = "" if kind == "set" else (" ✓" if ratios[0] <= 1.05 else " ✗") + " (≤ 1.05)"
                seconds, cpu_seconds = (statistics.median(t[i] for t in mine) for i in (0, 1))
                print(f"| {label} | {jobs} | {seconds:.3f} | {1000 * seconds / len(files):.2f} | {ratios[0]:.3f}{target} "
                      f"| {cpu_seconds:.3f} | {ratios[1]:.3f} |")
    finally:
        shutil.rmtree(scratch)


if __name__ == "__main__":
    main()
