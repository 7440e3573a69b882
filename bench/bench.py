"""Times mat2png on one core and on all of them, against the libpng floor and the Pillow peer.

Usage: bench.py BUILD_DIR CORPUS_DIR RUNS [WORKLOAD...]

N is the number of CPUs this process may run on (sched_getaffinity). The tools:
  mat2png -j 1     mat2png's single-process path;
  mat2png          its default, which spreads the files over worker processes, one per CPU;
  floor            bench_floor, one process;
  floor ×N         N bench_floor processes started together, each given the names of an even share
                   of the files (by the time the floor took for each in an untimed run, longest
                   first, each to the share with the least time so far): the limit of encoding
                   on N cores; its time is that of the slowest;
  peer             peer.py, one process;
  peer pool ×N     peer_pool.py, peer.py's conversion in a multiprocessing pool of N workers;
  mat2png --indexed -j 1 and floor --indexed: the same with colour-mapped colour images, the stored
                   indices under the file's palette, and the alpha images through the same libpng
                   writer with the same choice of row filter.
The tools take turns converting one copy of a workload; the PNGs are removed before every run,
outside the timing. A round runs each tool once, back to back, and the ratios are the medians of the
ratios within a round, so that a slow spell of the machine weighs on both sides of a ratio. The
tiny workload, whose runs take a fraction of a second, gets three times the rounds. CPU time is user
plus system time of every process of a run: this process is their subreaper, so that workers left
behind by their parent are waited for too, and a run lasts until its last process has ended.
Other processes on the machine take cores from the parallel tools more than from the others, so
/proc/stat is read around every run: a round waits (up to 10 s) for the machine to be quiet, and a
round in which others took more than 5 % of the CPUs is run again, up to twice as many rounds in
all; the ratios come from the least disturbed rounds, and the table gives the worst of them.

Peak memory comes from one more, untimed run of each tool in its own copy, under bench_peak, which
reads every process's peak resident set as it exits: "per process" is the largest, "total" the sum
over the processes of the run (a bound on what they held at once; pages shared after a fork count
in each). The images of these runs are checked: every tool's PNGs must decode to the floor's pixels
(indexed ones to the indexed floor's indices and palettes), and their bytes are summed.
Prints Markdown tables and exits non-zero when a run fails or a tool's pixels differ from the floor's.
"""
import ctypes
import glob
import hashlib
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from PIL import Image

WORKLOADS = ["tiny", "typical", "alpha", "large"]
AVAILABLE = os.sched_getaffinity(0)
CPUS = len(AVAILABLE)
# A round during which other processes (builds, tests) kept the CPUs more busy than this share of
# their time is run again: they take cores from the parallel tools more than from the others.
QUIET = 0.05
PR_SET_CHILD_SUBREAPER = 36


def mat_names(directory):
    return sorted(n for n in os.listdir(os.path.join(directory, "mat")) if n.lower().endswith(".mat"))


def shares(floor, directory, count):
    """The workload's .mat names dealt into `count` lists that take the floor about as long each:
    the floor converts every file once, timing each, and the files go longest first, each to the
    list with the least time so far. (Size is a poor guide: an image with more detail takes longer.)"""
    output = subprocess.run([floor, "--times"], cwd=directory, capture_output=True, text=True, check=True).stdout
    cost = {name: float(seconds) for seconds, name in (line.split(" ", 1) for line in output.splitlines())}
    for png in glob.glob(os.path.join(directory, "mat", "*.png")):
        os.remove(png)
    lists, totals = [[] for _ in range(count)], [0.0] * count
    for name in sorted(mat_names(directory), key=lambda n: -cost[n]):
        k = totals.index(min(totals))
        lists[k].append(name)
        totals[k] += cost[name]
    return lists


def machine_busy():
    """CPU seconds the CPUs available here have spent on anything (but idling or waiting for I/O),
    including time the hypervisor gave to others."""
    busy = 0
    with open("/proc/stat") as f:
        for line in f:
            fields = line.split()
            if fields[0].startswith("cpu") and fields[0][3:].isdigit() and int(fields[0][3:]) in AVAILABLE:
                user, nice, system, idle, iowait, irq, softirq, steal = map(int, fields[1:9])
                busy += user + nice + system + irq + softirq + steal
    return busy / os.sysconf("SC_CLK_TCK")


def wait_for_quiet(limit):
    """Waits, up to `limit` seconds, for half a second in which other processes keep the CPUs less
    than QUIET busy."""
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        before = machine_busy()
        time.sleep(0.5)
        if machine_busy() - before < QUIET * 0.5 * CPUS:
            return


def become_subreaper():
    """Makes the processes that the tools leave behind (workers whose parent exits without waiting
    for them) children of this one, so that run_together waits for them and counts their CPU time."""
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        sys.exit("prctl(PR_SET_CHILD_SUBREAPER): " + os.strerror(ctypes.get_errno()))


def run_together(commands, cwd, wrap=lambda k: []):
    """Starts the commands at once, each wrapped by wrap(k), and waits for every process of theirs
    to end: the wall seconds from the first start to the last exit, and the CPU seconds (user and
    system) of all those processes."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    processes = [subprocess.Popen(wrap(k) + command, cwd=cwd, stdout=subprocess.DEVNULL)
                 for k, command in enumerate(commands)]
    codes = [p.wait() for p in processes]
    while True:
        try:
            os.waitpid(-1, 0)
        except ChildProcessError:
            break
    seconds = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if any(codes):
        sys.exit(f"{commands[0][0]} failed in {cwd}")
    return seconds, after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime


def timed(commands, cwd):
    """Wall seconds and CPU seconds of one run, and the CPU seconds that the rest of the machine
    took meanwhile."""
    before = machine_busy()
    seconds, busy = run_together(commands, cwd)
    machine = machine_busy() - before
    return seconds, busy, max(0.0, machine - busy)


def peaks(commands, cwd, probe):
    """Peak resident KiB of every process of one run."""
    reports = [os.path.join(cwd, f"peak{k}.txt") for k in range(len(commands))]
    run_together(commands, cwd, lambda k: [probe, reports[k]])
    found = []
    for report in reports:
        with open(report) as f:
            found += [int(line.split()[1]) for line in f if line.strip()]
    return found


def images(directory):
    """Name -> (mode, size, digest of the pixels and palette) of every PNG written in mat/."""
    found = {}
    for path in sorted(glob.glob(os.path.join(directory, "mat", "*.png"))):
        with Image.open(path) as image:
            digest = hashlib.sha256(image.tobytes() + bytes(image.getpalette() or [])).digest()
            found[os.path.basename(path)] = (image.mode, image.size, digest)
    return found


def png_bytes(directory, suffix=".png"):
    return sum(os.path.getsize(p) for p in glob.glob(os.path.join(directory, "mat", "*" + suffix)))


def differences(found, expected):
    """Names of the PNGs that are missing, extra, or differ in mode, size or any pixel."""
    if found.keys() != expected.keys():
        return ["(the sets of files)"]
    return [name for name in expected if found[name] != expected[name]]


def model():
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    return "unknown model"


def main():
    build, corpus, runs = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), int(sys.argv[3])
    become_subreaper()
    here = os.path.dirname(os.path.abspath(__file__))
    mat2png = os.path.join(build, "mat2png")
    floor = os.path.join(build, "bench", "bench_floor")
    probe = os.path.join(build, "bench", "bench_peak")
    python = "/usr/bin/python3"
    # tmpfs: on ext4, creating files right after deleting as many costs up to a millisecond per
    # file (it passes over inodes freed in the last half minute), which would drown what is measured
    scratch = tempfile.mkdtemp(prefix="mat2png-bench-", dir="/dev/shm" if os.path.isdir("/dev/shm") else corpus)
    rows, ratios, indexed_rows, failed = [], [], [], False
    for workload in sys.argv[4:] or WORKLOADS:
        began = time.perf_counter()
        source = os.path.join(corpus, workload)
        files = len(mat_names(source))
        parallel = min(CPUS, files)
        # the timed runs take turns in one copy, so that the file system's state is the same for all;
        # each tool has its own copy besides, for the images to compare
        shared = os.path.join(scratch, workload, "shared")
        dirs = [os.path.join(scratch, workload, f"own{k}") for k in range(8)]
        for directory in [shared] + dirs:
            shutil.rmtree(directory, ignore_errors=True)
            shutil.copytree(source, directory)
        # each tool is one or more commands started together
        tools = {
            "mat2png -j 1": [[mat2png, "-j", "1"]],
            "mat2png": [[mat2png]],
            "floor": [[floor]],
            f"floor ×{parallel}": [[floor] + share for share in shares(floor, shared, parallel)],
            "peer": [[python, os.path.join(here, "peer.py")]],
            f"peer pool ×{CPUS}": [[python, os.path.join(here, "peer_pool.py")]],
            "mat2png --indexed -j 1": [[mat2png, "--indexed", "-j", "1"]],
            "floor --indexed": [[floor, "--indexed"]],
        }
        names = list(tools)
        default, single, floor_n, pool = "mat2png", "mat2png -j 1", f"floor ×{parallel}", f"peer pool ×{CPUS}"
        indexed, floor_indexed = "mat2png --indexed -j 1", "floor --indexed"
        dirs = dict(zip(names, dirs))
        rounds = runs * 3 if workload == "tiny" else runs
        done = []  # per round: the share of the CPUs others took, and each tool's wall and CPU seconds
        while len(done) < 2 * rounds and sum(others <= QUIET for others, _ in done) < rounds:
            wait_for_quiet(10)
            shift = len(done) % len(names)
            measured, capacity, taken = {}, 0.0, 0.0
            for tool in names[shift:] + names[:shift]:
                for png in glob.glob(os.path.join(shared, "mat", "*.png")):
                    os.remove(png)
                seconds, busy, others = timed(tools[tool], shared)
                measured[tool] = (seconds, busy)
                capacity += seconds * CPUS
                taken += others
            done.append((taken / capacity, measured))
        # the least disturbed rounds, which are the quiet ones when there were enough
        used = sorted(done, key=lambda r: r[0])[:rounds]
        times = {tool: [m[tool][0] for _, m in used] for tool in names}
        cpu = {tool: [m[tool][1] for _, m in used] for tool in names}
        disturbed = max(others for others, _ in used)
        # one more, untimed run of each tool in its own copy gives the peaks and the images to compare
        memory = {tool: peaks(tools[tool], dirs[tool], probe) for tool in names}
        expected = {tool: images(dirs[tool]) for tool in ("floor", floor_indexed)}
        for tool in names:
            if tool in expected:
                continue
            differ = differences(images(dirs[tool]), expected[floor_indexed if "--indexed" in tool else "floor"])
            if differ:
                failed = True
                print(f"{workload}: {tool} differs from the floor in {len(differ)} files, e.g. {differ[0]}")

        def ratio(series, a, b):
            return statistics.median(x / y for x, y in zip(series[a], series[b]))

        for tool in names:
            median = statistics.median(times[tool])
            rows.append((workload, tool, len(memory[tool]), median, ratio(times, tool, "floor"),
                         statistics.median(cpu[tool]), ratio(cpu, tool, "floor"),
                         max(memory[tool]) / 1024, sum(memory[tool]) / 1024, files / median, png_bytes(dirs[tool]) / 1e6))
        rows.append(None)
        ratios.append((workload, f"{len(used)}/{len(done)}", 100 * disturbed, ratio(times, default, floor_n), ratio(times, default, "floor"),
                       ratio(times, default, pool), ratio(times, single, "floor"), ratio(cpu, default, floor_n)))
        colour = lambda tool: png_bytes(dirs[tool]) - png_bytes(dirs[tool], "_alpha.png")
        indexed_rows.append((workload, ratio(times, indexed, "floor"), ratio(times, indexed, floor_indexed),
                             ratio(times, floor_indexed, "floor"), png_bytes(dirs[indexed]) / png_bytes(dirs[single]),
                             colour(indexed) / colour(single)))
        print(f"{workload}: {len(done)} rounds in {time.perf_counter() - began:.0f} s, others took "
              + " ".join(f"{100 * others:.0f}" for others, _ in done) + " % of the CPUs", file=sys.stderr)
    print(f"\n{CPUS} CPUs available ({model()}). Working copies in {os.path.dirname(scratch)}. Tools taking turns;")
    print("the PNG pixels of every tool checked against the floor's. Ratios are medians over the rounds;")
    print("wall time decides, CPU time (user + system, all processes) is shown beside it.\n")
    print("| workload | tool | processes | median s | tool/floor | CPU s | CPU tool/floor | peak MiB per process | peak MiB total | files/s | PNG MB |")
    print("| --- | --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: |")
    for row in rows:
        if row:
            print("| %s | %s | %d | %.3f | %.3f | %.3f | %.3f | %.1f | %.1f | %.0f | %.2f |" % row)
    print(f"\nmat2png by default (N = {CPUS}) and with -j 1, against the floor and the peer; time ratios, and the CPU ratio to the parallel floor:\n")
    print("| workload | rounds used/run | others' CPU %, worst used round | mat2png / floor ×N | mat2png / floor | mat2png / peer pool ×N | mat2png -j 1 / floor | CPU mat2png / floor ×N |")
    print("| --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: |")
    for row in ratios:
        print("| %s | %s | %.1f | %.3f | %.3f | %.3f | %.3f | %.3f |" % row)
    print("\nmat2png --indexed -j 1 against the RGB floor and the indexed floor (time), and its PNG bytes against mat2png -j 1's:\n")
    print("| workload | indexed / floor | indexed / indexed floor | indexed floor / floor | bytes, all PNGs | bytes, colour images |")
    print("| --- | ---: | ---: | ---: | ---: | ---: |")
    for row in indexed_rows:
        print("| %s | %.3f | %.3f | %.3f | %.3f | %.3f |" % row)
    shutil.rmtree(scratch)
    sys.exit(1 if failed else 0)


# bench/isolation.py borrows the timing and the quiet-machine checks
if __name__ == "__main__":
    main()
