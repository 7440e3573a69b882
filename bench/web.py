"""Benchmarks the page (build-web/mat2png.html) in headless Chromium against the native programs on one
CPU: mat2png over the typical set against `mat2png -j 1`, with the PNG bytes of both; png2mat rebuilding
the set from those PNGs against `png2mat -j 1`; `matpal make` against native under `taskset -c 0`.
The page's times are taken in the page around matTools.run (files into the worker and back included)."""

import base64
import os
import pathlib
import shutil
import statistics
import subprocess
import sys
import tempfile
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


def main():
    """bench/web.py [ROUNDS [CORPUS]]: CORPUS/typical written by build/bench/make_corpus CORPUS."""
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 3
    corpus = pathlib.Path(sys.argv[2] if len(sys.argv) > 2 else "/dev/shm/mat2png-corpus")
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


if __name__ == "__main__":
    main()
