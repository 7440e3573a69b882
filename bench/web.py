"""Benchmarks the page (build-web/mat2png.html) in headless Chromium against the native programs.

bench/web.py core [ROUNDS [CORPUS]]: one core against one CPU: mat2png over the typical set against `mat2png -j 1`,
with the PNG bytes of both; png2mat rebuilding the set from those PNGs against `png2mat -j 1`; `matpal make` against
native under `taskset -c 0`. The page's times are taken in the page around matTools.run (files into the worker and
back included).

bench/web.py set [ROUNDS [FOLDER]]: the page as people use it, on every core: from picking FOLDER (a set, mat/ and
pal/; `make_corpus DIR typical 2000`) in the Folder… input to the last card, against the native default run
(`mat2png`, one worker per CPU) over a copy of the same folder; with where the page's time goes.

bench/web.py memory FOLDER...: the page's memory after opening and converting each FOLDER (`make_corpus DIR sizes N`):
the renderer's proportional set size (its workers and their cores are threads of it), the whole browser's, their
peaks while converting, the page's JavaScript heap, and how many pictures hold their source (are decoded)."""

import base64
import os
import pathlib
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests" / "web"))
import browser  # noqa: E402

_STORE = """
const [encoded, done] = [arguments[0], arguments[arguments.length - 1]];
window.benchFiles = window.benchFiles || {};
for (const [path, text] of Object.entries(encoded)) benchFiles[path] = Uint8Array.from(atob(text), (c) => c.charCodeAt(0));
done(Object.keys(benchFiles).length);
"""

_TIMED = """
const [program, args, paths, done] = [arguments[0], arguments[1], arguments[2], arguments[arguments.length - 1]];
const files = {};
for (const path of paths) files[path] = benchFiles[path];
const start = performance.now();
matTools.run(program, args, files).then((r) => {
  const seconds = (performance.now() - start) / 1000;
  let written = 0;
  for (const [path, bytes] of Object.entries(r.files)) { written += bytes.length; if (path.endsWith(".png")) window.benchFiles[path] = bytes; }
  done({seconds, status: r.status, written, stderr: r.stderr.slice(0, 2000), count: Object.keys(r.files).length});
}, (e) => done({error: String(e)}));
"""


def load(driver, files):
    paths = sorted(files)
    for start in range(0, len(paths), 50):
        part = {p: base64.b64encode(files[p]).decode() for p in paths[start:start + 50]}
        driver.execute_async_script(_STORE, part)


def page_run(driver, program, args, paths):
    result = driver.execute_async_script(_TIMED, program, args, sorted(paths))
    if "error" in result:
        raise RuntimeError(result["error"])
    return result


def native_run(command, directory):
    start = time.perf_counter()
    done = subprocess.run(command, cwd=directory, capture_output=True)
    return time.perf_counter() - start, done


def core(args):
    """CORPUS/typical written by build/bench/make_corpus CORPUS."""
    rounds = int(args[0]) if args else 3
    corpus = pathlib.Path(args[1] if len(args) > 1 else "/dev/shm/mat2png-corpus")
    native = browser.NATIVE
    typical = corpus / "typical"
    files = {p.relative_to(typical).as_posix(): p.read_bytes() for p in typical.rglob("*") if p.is_file()}
    driver = browser.start_browser()
    try:
        load(driver, files)
        scratch = pathlib.Path(tempfile.mkdtemp(prefix="mat2png-web-bench-", dir="/dev/shm"))
        mat2png, png2mat, make = [], [], []
        page_bytes = native_bytes = 0
        for _ in range(rounds):
            # mat2png: the set to PNG
            work = scratch / "set"
            shutil.rmtree(work, ignore_errors=True)
            shutil.copytree(typical, work)
            seconds, done = native_run([str(native / "mat2png"), "-q", "-j", "1"], work)
            page = page_run(driver, "mat2png", ["-q"], files)
            assert page["status"] == done.returncode == 0, (page, done.stderr)
            mat2png.append((page["seconds"], seconds))
            native_bytes = sum(p.stat().st_size for p in (work / "mat").glob("*.png"))
            page_bytes = page["written"]
            # png2mat: every MAT file rebuilt from its PNGs, as written by the page (the same pixels)
            pngs = [p for p in (work / "mat").glob("*.png")]
            seconds, done = native_run([str(native / "png2mat"), "-q", "-j", "1", "--no-backup"], work)
            inputs = list(files) + ["mat/" + p.name for p in pngs]
            page = page_run(driver, "png2mat", ["-q", "--no-backup"], inputs)
            assert page["status"] == done.returncode == 0, (page, done.stderr)
            png2mat.append((page["seconds"], seconds))
            # matpal make: a palette fitted to 20 of the pictures, on one CPU natively
            pictures = sorted("mat/" + p.name for p in pngs if not p.name.endswith("_alpha.png"))[:20]
            seconds, done = native_run(["taskset", "-c", "0", str(native / "matpal"), "make", "fit", *pictures, "--force"], work)
            page = page_run(driver, "matpal", ["make", "fit", *pictures, "--force"], pictures)
            assert page["status"] == done.returncode == 0, (page, done.stderr)
            make.append((page["seconds"], seconds))
        shutil.rmtree(scratch, ignore_errors=True)
    finally:
        driver.quit()

    def report(name, pairs, target):
        ratio = statistics.median(p / n for p, n in pairs)
        page_s, native_s = statistics.median(p for p, _ in pairs), statistics.median(n for _, n in pairs)
        print(f"{name:<34} page {page_s:7.2f} s   native {native_s:7.2f} s   ratio {ratio:5.2f} (target <= {target})")

    print(f"{rounds} rounds on {corpus / 'typical'} ({sum(1 for f in files if f.endswith('.mat'))} MAT files)")
    report("mat2png (native -j 1)", mat2png, 3)
    report("png2mat (native -j 1)", png2mat, 3)
    report("matpal make, 20 pictures (taskset)", make, 3)
    print(f"{'PNG bytes of mat2png':<34} page {page_bytes:9d}   native {native_bytes:9d}   ratio {page_bytes / native_bytes:5.2f} (target <= 1.3)")


# --- the page as people use it ------------------------------------------------------------------------------

def descendants(pid):
    """PID and every process below it."""
    children = {}
    for entry in pathlib.Path("/proc").iterdir():
        if entry.name.isdigit():
            try:
                fields = (entry / "stat").read_text().rsplit(")", 1)[1].split()
            except OSError:
                continue
            children.setdefault(int(fields[1]), []).append(int(entry.name))
    found, todo = [], [pid]
    while todo:
        at = todo.pop()
        found.append(at)
        todo.extend(children.get(at, []))
    return found


def pss(pid):
    """A process's proportional set size in bytes (shared pages divided among their users), 0 when gone."""
    try:
        for line in pathlib.Path(f"/proc/{pid}/smaps_rollup").read_text().splitlines():
            if line.startswith("Pss:"):
                return int(line.split()[1]) * 1024
    except OSError:
        pass
    return 0


def is_renderer(pid):
    try:
        return b"--type=renderer" in pathlib.Path(f"/proc/{pid}/cmdline").read_bytes()
    except OSError:
        return False


class Sampler:
    """The browser's memory, sampled every quarter second while a conversion runs: (renderer, all) now and at peak."""

    def __init__(self, driver):
        self.root = driver.service.process.pid
        self.peak = (0, 0)
        self.running = True
        self.thread = threading.Thread(target=self.sample_until_stopped, daemon=True)
        self.thread.start()

    def now(self):
        processes = descendants(self.root)
        sizes = {pid: pss(pid) for pid in processes}
        return sum(size for pid, size in sizes.items() if is_renderer(pid)), sum(sizes.values())

    def sample_until_stopped(self):
        while self.running:
            renderer, total = self.now()
            self.peak = (max(self.peak[0], renderer), max(self.peak[1], total))
            time.sleep(0.25)

    def stop(self):
        self.running = False
        self.thread.join()
        return self.now(), self.peak


def open_in_page(driver, folder, poll=0.02):
    """Picks FOLDER in the page and waits for its last card: the seconds, and what #counts says."""
    driver.get(browser.PAGE.as_uri())
    driver.execute_async_script("""const done = arguments[0];
        matTools.ready.then(function wait() { matTools.counts().loading ? setTimeout(wait, 50) : done(); });""")
    picker = driver.find_element("id", "folder")
    start = time.perf_counter()
    picker.send_keys(str(folder))
    while driver.execute_script("return document.getElementById('counts').dataset.state !== 'done' || document.body.dataset.busy !== '0'"):
        time.sleep(poll)
    return time.perf_counter() - start, driver.find_element("id", "counts").text


_WHERE = """
const marks = Object.fromEntries(performance.getEntriesByType("mark").map((m) => [m.name, m.startTime]));
const measures = (name) => performance.getEntriesByType("measure").filter((m) => m.name === name);
const seconds = (list) => list.reduce((sum, m) => sum + m.duration, 0) / 1000;
return {marks, calls: measures("mat2png call").length, callSeconds: seconds(measures("mat2png call")),
        coreSeconds: seconds(measures("mat2png core")), workers: matTools.counts().workers};
"""


def set_run(args):
    rounds = int(args[0]) if args else 3
    folder = pathlib.Path(args[1] if len(args) > 1 else "/dev/shm/mat2png-typical-2000")
    count = sum(1 for _ in (folder / "mat").glob("*.mat"))
    driver = browser.start_browser()
    pairs, where = [], []
    try:
        scratch = pathlib.Path(tempfile.mkdtemp(prefix="mat2png-web-set-", dir="/dev/shm"))
        for _ in range(rounds):
            work = scratch / folder.name
            shutil.rmtree(work, ignore_errors=True)
            shutil.copytree(folder, work)
            seconds, done = native_run([str(browser.NATIVE / "mat2png")], work)
            assert done.returncode == 0, done.stderr[:2000]
            page, counts = open_in_page(driver, folder)
            assert counts == f"{count} of {count} files, {count} converted.", counts
            pairs.append((page, seconds))
            where.append(driver.execute_script(_WHERE))
        shutil.rmtree(scratch, ignore_errors=True)
    finally:
        driver.quit()
    ratio = statistics.median(p / n for p, n in pairs)
    print(f"{rounds} rounds on {folder} ({count} MAT files), {os.cpu_count()} CPUs")
    print(f"page, picking the folder to the last card: {statistics.median(p for p, _ in pairs):7.2f} s   "
          f"native mat2png: {statistics.median(n for _, n in pairs):7.2f} s   ratio {ratio:5.2f} (target <= 1.3)")
    for round_, (seen, (page, _)) in enumerate(zip(where, pairs)):
        marks = seen["marks"]
        read = (marks.get("set read", 0) - marks.get("set picked", 0)) / 1000
        print(f"  round {round_ + 1}: folder handed over and read {marks.get('set picked', 0) / 1000:6.2f} s after load, "
              f"read in {read:5.2f} s; {seen['calls']} mat2png calls on {seen['workers']} workers: "
              f"{seen['coreSeconds']:6.2f} s in the cores, {seen['callSeconds']:6.2f} s from posting to result")


def memory(args):
    folders = [pathlib.Path(a) for a in args]
    for folder in folders:
        count = sum(1 for _ in (folder / "mat").glob("*.mat"))
        driver = browser.start_browser()
        try:
            sampler = Sampler(driver)
            seconds, counts = open_in_page(driver, folder, poll=0.1)
            (renderer, total), (peak_renderer, peak_total) = sampler.stop()
            heap = driver.execute_script("return performance.memory.usedJSHeapSize")
            decoded = driver.execute_script("return document.querySelectorAll('#gallery img[src]').length")
            cards = driver.execute_script("return document.querySelectorAll('#gallery > .texture').length")
        finally:
            driver.quit()
        mib = 1 << 20
        print(f"{folder} ({count} MAT files): {counts} in {seconds:.1f} s")
        print(f"  renderer {renderer / mib:7.0f} MiB (peak {peak_renderer / mib:7.0f}), browser {total / mib:7.0f} MiB "
              f"(peak {peak_total / mib:7.0f}), page's JavaScript heap {heap / mib:6.0f} MiB; "
              f"{decoded} of {cards} cards' pictures decoded")


if __name__ == "__main__":
    commands = {"core": core, "set": set_run, "memory": memory}
    if len(sys.argv) < 2 or sys.argv[1] not in commands:
        sys.exit(f"usage: {sys.argv[0]} core|set|memory ...")
    commands[sys.argv[1]](sys.argv[2:])
