"""Shared helpers of the page's tests: headless Chromium on build-web/mat2png.html from file:// with no
network, matTools.run called with files from Python, and the native programs run over the same files."""

import base64
import io
import os
import pathlib
import shutil
import subprocess
import tempfile
import unittest

from PIL import Image
from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

ROOT = pathlib.Path(__file__).resolve().parents[2]
PAGE = ROOT / "build-web" / "mat2png.html"
NATIVE = ROOT / "build"

# Calls matTools.run with the files decoded from base64 and returns the result with its files in base64.
_RUN = """
const [program, args, encoded, done] = [arguments[0], arguments[1], arguments[2], arguments[arguments.length - 1]];
const decode = (text) => Uint8Array.from(atob(text), (c) => c.charCodeAt(0));
const encode = (bytes) => { let s = ""; for (let i = 0; i < bytes.length; i += 0x8000) s += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000)); return btoa(s); };
const files = {};
for (const [path, text] of Object.entries(encoded)) files[path] = decode(text);
const lines = [];
matTools.ready
  .then(() => matTools.run(program, args, files, (stream, line) => lines.push([stream, line])))
  .then((r) => {
    const out = {};
    for (const [path, bytes] of Object.entries(r.files)) out[path] = encode(bytes);
    done({status: r.status, stdout: r.stdout, stderr: r.stderr, stdoutBytes: encode(r.stdoutBytes), stderrBytes: encode(r.stderrBytes), files: out, lines, items: r.items});
  }, (e) => done({error: String(e.message || e)}));
"""

_DESCRIBE = """
const [path, encoded, done] = [arguments[0], arguments[1], arguments[arguments.length - 1]];
const files = {};
for (const [p, text] of Object.entries(encoded)) files[p] = Uint8Array.from(atob(text), (c) => c.charCodeAt(0));
matTools.ready.then(() => matTools.describe(path, files)).then((r) => done({outline: r}), (e) => done({error: String(e.message || e)}));
"""


def start_browser(page=PAGE):
    """Headless Chromium on the page, from file://, with no network; the caller quits it."""
    options = Options()
    options.binary_location = "/usr/bin/chromium"
    profile = tempfile.mkdtemp(prefix="mat2png-chromium-")
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-dev-shm-usage", f"--user-data-dir={profile}"):
        options.add_argument(flag)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.set_script_timeout(600)
    driver.get(page.as_uri())
    driver.execute_async_script("matTools.ready.then(() => arguments[0](true), (e) => arguments[0](String(e)))")
    original_quit = driver.quit

    def quit_and_clean():
        original_quit()
        shutil.rmtree(profile, ignore_errors=True)

    driver.quit = quit_and_clean
    return driver


def run_page(driver, program, args, files):
    """matTools.run in the page: {status, stdout, stderr, stdout_bytes, stderr_bytes, files (path -> bytes), lines}."""
    encoded = {path: base64.b64encode(data).decode() for path, data in files.items()}
    result = driver.execute_async_script(_RUN, program, list(args), encoded)
    if "error" in result:
        raise RuntimeError(result["error"])
    result["files"] = {path: base64.b64decode(text) for path, text in result["files"].items()}
    result["stdout_bytes"] = base64.b64decode(result.pop("stdoutBytes"))
    result["stderr_bytes"] = base64.b64decode(result.pop("stderrBytes"))
    return result


def describe_page(driver, path, files):
    """matTools.describe in the page: the outline, or raises RuntimeError with the rejection's message."""
    encoded = {p: base64.b64encode(data).decode() for p, data in files.items()}
    result = driver.execute_async_script(_DESCRIBE, path, encoded)
    if "error" in result:
        raise RuntimeError(result["error"])
    return result["outline"]


def _snapshot(root):
    found = {}
    for path in sorted(root.rglob("*")):
        if path.is_file() and not path.is_symlink():
            found[path.relative_to(root).as_posix()] = path.read_bytes()
    return found


def write_files(root, files):
    """`files` (relative path -> bytes) written under the folder ROOT."""
    for path, data in files.items():
        (root / path).parent.mkdir(parents=True, exist_ok=True)
        (root / path).write_bytes(data)


def run_in(command, files, env, prefix):
    """COMMAND (a function of the folder, giving the command line) run in a temporary folder holding `files`:
    {status, stdout, stderr, stdout_bytes, stderr_bytes, files (created or changed), root (the folder)}."""
    with tempfile.TemporaryDirectory(prefix=prefix) as tmp:
        root = pathlib.Path(tmp)
        write_files(root, files)
        done = subprocess.run(command(str(root)), cwd=root, capture_output=True, timeout=600, env=env)
        after = _snapshot(root)
        changed = {path: data for path, data in after.items() if files.get(path) != data}
        return {"status": done.returncode, "stdout": done.stdout.decode("utf-8", "replace"),
                "stderr": done.stderr.decode("utf-8", "replace"), "stdout_bytes": done.stdout, "stderr_bytes": done.stderr,
                "files": changed, "root": str(root)}


def run_native(program, args, files):
    """The native program of the same build in a temporary directory holding `files`:
    {status, stdout, stderr, stdout_bytes, stderr_bytes, files (created or changed)}."""
    done = run_in(lambda root: [str(NATIVE / program), *args], files, dict(os.environ, LC_ALL="C"), "mat2png-native-")
    del done["root"]
    return done


def png_content(data):
    """A PNG's colour type, size, palette (RGB bytes or None), tRNS and samples, decoded by PIL."""
    with Image.open(io.BytesIO(data)) as image:
        image.load()
        colour = {"L": 0, "RGB": 2, "P": 3, "LA": 4, "RGBA": 6}[image.mode]
        palette = bytes(image.getpalette()) if image.mode == "P" else None
        return {"colour": colour, "size": image.size, "palette": palette,
                "transparency": image.info.get("transparency"), "pixels": image.tobytes()}


def prefix_workers(driver, source):
    """Every worker the next pages start runs the JavaScript SOURCE before its own (a JavaScript string
    expression); window.workersStarted counts them. Gives the identifier for Page.removeScriptToEvaluateOnNewDocument."""
    return driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": """
        window.workersStarted = 0;
        const RealWorker = Worker;
        window.Worker = class extends RealWorker {
            constructor(url, options) {
                workersStarted += 1;
                super(URL.createObjectURL(new Blob([(%s) + MAT_TOOLS_WORKER_SOURCE])), options);
            }
        };""" % source})["identifier"]


SAMPLES = ROOT / "samples"
# the sample set's MAT and palette files under their paths in the set
SAMPLE_SET = {path.relative_to(SAMPLES).as_posix(): path.read_bytes()
              for folder in ("mat", "pal") for path in sorted((SAMPLES / folder).rglob("*")) if path.is_file()}
WAIT = 120  # seconds: the bound of a wait for the page, never a delay that a test relies on


class PageCase(unittest.TestCase):
    """A browser for the class, the page loaded afresh for each test and a scratch folder (self.work)."""

    @classmethod
    def setUpClass(cls):
        cls.scratch = pathlib.Path(tempfile.mkdtemp(prefix="page-test-"))
        cls.driver = start_browser()

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def setUp(self):
        self.reload()
        self.work = pathlib.Path(tempfile.mkdtemp(dir=self.scratch))

    def reload(self, query=""):
        self.driver.get(PAGE.as_uri() + query)
        self.until(lambda d: d.find_element(By.ID, "status").get_attribute("class") == "ready")

    def until(self, condition):
        return WebDriverWait(self.driver, WAIT, poll_frequency=0.05).until(condition)

    def settled(self):
        """Waits until the page has nothing left under way."""
        self.until(lambda d: d.execute_script("return document.body.dataset.busy") == "0")

    def download(self, element):
        """Clicks ELEMENT and gives the file the browser saves: (name, bytes)."""
        folder = pathlib.Path(tempfile.mkdtemp(dir=self.scratch))
        self.driver.execute_cdp_cmd("Browser.setDownloadBehavior", {"behavior": "allow", "downloadPath": str(folder)})
        element.click()

        def saved(_):
            files = list(folder.iterdir())
            return files[0] if len(files) == 1 and not files[0].name.endswith(".crdownload") else None
        path = self.until(saved)
        return path.name, path.read_bytes()
