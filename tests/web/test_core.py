"""The page's core against the native programs of the same build: the same files in, the same exit status,
console lines, MAT and palette bytes and PNG pixels out (tests/web/browser.py drives the page)."""

import io
import pathlib
import random
import struct
import unittest
import zlib

from PIL import Image

import browser
from selenium.webdriver.support.ui import WebDriverWait

SAMPLES = browser.ROOT / "samples"


# --- test data, made here -------------------------------------------------------------------------------

def chunk(kind, body):
    return kind + struct.pack(">I", len(body)) + body + b"\0" * (len(body) % 2)


def form(kind, children):
    return b"FORM" + struct.pack(">I", len(children) + 4) + kind + children


def smooth_colours(seed=0):
    """256 entries ordered as a ramp, as real palettes mostly are."""
    return bytes(v for n in range(256) for v in ((n + seed) % 256, (n * 3 // 4 + seed) % 256, 255 - n))


def mat(width, height, pixels, palette=None, name=None, alpha=None, kind=1):
    """A MAT file: the embedded `palette` or the palette `name`, an optional alpha plane."""
    table = chunk(b"NAME", name.encode() + b"\0") if name else chunk(b"CMAP", palette or smooth_colours())
    info = struct.pack("<iii", width, height, kind)
    body = chunk(b"INFO", info) + form(b"PAL ", table) + chunk(b"PXLS", bytes(pixels))
    if alpha is not None:
        body += chunk(b"ALPH", bytes(alpha))
    return form(b"BITM", form(b"FRAM", body))


def gradient(width, height):
    return [(x * 255 // max(width - 1, 1) + y) % 256 for y in range(height) for x in range(width)]


def noise(count, seed):
    rng = random.Random(seed)
    return [rng.randrange(256) for _ in range(count)]


def png(image, **options):
    out = io.BytesIO()
    image.save(out, "PNG", **options)
    return out.getvalue()


def raw_png(width, height, colour, depth, rows, interlaced=False, extra=b""):
    """A PNG written here byte by byte, for what PIL does not write (16-bit colour, Adam7): `rows(x, y)`
    gives a pixel's samples, each `depth` bits."""
    def sub_image(xs, ys):
        out = b""
        for y in ys:
            line = b"".join(struct.pack(">" + ("H" if depth == 16 else "B") * len(rows(x, y)), *rows(x, y)) for x in xs)
            out += b"\0" + line
        return out
    if interlaced:
        passes = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]
        data = b"".join(sub_image(range(x0, width, dx), range(y0, height, dy))
                        for x0, y0, dx, dy in passes if x0 < width and y0 < height)
    else:
        data = sub_image(range(width), range(height))

    def png_chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    header = struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, 1 if interlaced else 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) + extra + png_chunk(b"IDAT", zlib.compress(data, 9))
            + png_chunk(b"IEND", b""))


def photo(width, height, seed):
    """An RGB picture of smooth colours with some noise, as edited art is."""
    rng = random.Random(seed)
    image = Image.new("RGB", (width, height))
    image.putdata([((x * 7 + rng.randrange(20)) % 256, (y * 5 + rng.randrange(20)) % 256, (x * y) % 256)
                   for y in range(height) for x in range(width)])
    return image


def warm():
    return form(b"PAL ", chunk(b"CMAP", smooth_colours(40)))


def texture_set():
    """A set of MAT files with what the converter meets: embedded and named palettes, alpha planes, odd
    sizes, a palette not found, a cut file, an animation."""
    return {
        "mat/smooth.mat": mat(64, 48, gradient(64, 48)),
        "mat/alpha.mat": mat(31, 17, noise(31 * 17, 1), name="warm", alpha=gradient(31, 17), kind=2),
        "mat/dot.mat": mat(1, 1, [7], alpha=[200]),
        "mat/noise.mat": mat(40, 40, noise(1600, 2), kind=3),
        "mat/lost.mat": mat(4, 4, range(16), name="nowhere"),
        "mat/cut.mat": mat(16, 16, range(256))[:200],
        "mat/walk.mat": form(b"ANIM", chunk(b"INFO", b"\0" * 12)),
        "pal/warm.pal": warm(),
    }


def sample_set():
    return {path.relative_to(SAMPLES).as_posix(): path.read_bytes()
            for path in SAMPLES.rglob("*") if path.is_file() and path.relative_to(SAMPLES).parts[0] in ("mat", "pal")}


def edited(image_bytes, seed):
    """A picture from mat2png with a few pixels repainted in colours the palette may lack."""
    with Image.open(io.BytesIO(image_bytes)) as image:
        image = image.convert("RGBA" if image.mode in ("RGBA", "P") and "transparency" in image.info or image.mode == "RGBA" else "RGB")
        rng = random.Random(seed)
        for _ in range(max(1, image.size[0] * image.size[1] // 10)):
            xy = (rng.randrange(image.size[0]), rng.randrange(image.size[1]))
            image.putpixel(xy, tuple(rng.randrange(256) for _ in image.getbands()))
        return png(image)


def lines(data):
    """A stream's lines as bytes, each ended by a newline but perhaps the last."""
    parts = data.split(b"\n")
    return parts[:-1] if parts[-1] == b"" else parts


# --- comparison -----------------------------------------------------------------------------------------

class CoreTest(unittest.TestCase):
    maxDiff = 4000

    @classmethod
    def setUpClass(cls):
        cls.driver = browser.start_browser()

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()

    def assertSameFiles(self, page, native):
        self.assertEqual(sorted(page), sorted(native), "the files written")
        for path, data in native.items():
            if path.endswith(".png"):
                mine, theirs = browser.png_content(page[path]), browser.png_content(data)
                self.assertEqual(mine, theirs, path)
                # the page's PNG writer stays within 1.3 times libpng's bytes on pictures of some size
                if len(data) > 4096:
                    self.assertLessEqual(len(page[path]), 1.3 * len(data), path)
            else:
                self.assertEqual(page[path], data, path)

    def run_other(self, program, args, files):
        """The run compared with the native one: here the page's (the Windows tests run the .exe)."""
        return browser.run_page(self.driver, program, args, files)

    def native_lines(self, data):
        """The native program's lines as the other run should print them."""
        return lines(data)

    def assertSameRun(self, program, args, files, ordered=False):
        """Runs both and compares. A folder's files come in name order in the page and in listing order
        natively, so the lines are compared in order only when `ordered` (operands name the files)."""
        page = self.run_other(program, args, files)
        native = browser.run_native(program, args, files)
        self.assertEqual(page["status"], native["status"], (page["stderr"], native["stderr"]))
        for stream in ("stdout", "stderr"):
            mine, theirs = lines(page[stream + "_bytes"]), self.native_lines(native[stream + "_bytes"])
            self.assertEqual(mine if ordered else sorted(mine), theirs if ordered else sorted(theirs), stream)
            # onLine saw every line as it was printed, in the order of its stream
            if "lines" in page:
                self.assertEqual([text for kind, text in page["lines"] if kind == stream], page[stream].split("\n")[:len(mine)])
        self.assertSameFiles(page["files"], native["files"])
        return page

    def test_mat2png_matches_native(self):
        cases = [
            ("set", [], texture_set()),
            ("set indexed", ["-i"], texture_set()),
            ("quiet", ["-q"], texture_set()),
            ("jobs", ["-j", "3"], texture_set()),
            ("operands", ["mat/alpha.mat", "mat/lost.mat", "mat/dot.mat"], texture_set(), True),
            ("indexed operand", ["-i", "mat/smooth.mat"], texture_set(), True),
            ("missing operand", ["mat/none.mat"], texture_set(), True),
            ("palette folder", ["--palette-dir", "pal", "mat/alpha.mat"], texture_set(), True),
            ("wrong option", ["--bogus"], texture_set()),
            ("no set", [], {"pal/warm.pal": warm()}),
            ("samples", [], sample_set()),
            ("samples indexed", ["-i"], sample_set()),
        ]
        for name, args, files, *ordered in cases:
            with self.subTest(name):
                self.assertSameRun("mat2png", args, files, *ordered)

    def test_png2mat_matches_native(self):
        images = browser.run_native("mat2png", [], texture_set())["files"]
        rebuilt = dict(texture_set())
        rebuilt.update({path: edited(data, n) for n, (path, data) in enumerate(sorted(images.items()))})
        gray16 = raw_png(9, 7, 0, 16, lambda x, y: [x * 7000 + y * 300])
        rgb16 = raw_png(11, 6, 2, 16, lambda x, y: [x * 5000, y * 9000 + 17, (x * y * 999) % 65536])
        interlaced = raw_png(13, 11, 2, 8, lambda x, y: [x * 19, y * 23, (x + y) * 5], interlaced=True)
        keyed = raw_png(8, 8, 2, 8, lambda x, y: [x * 30, 0, y * 30],
                        extra=struct.pack(">I", 6) + b"tRNS" + bytes([0, 60, 0, 0, 0, 60]) +
                        struct.pack(">I", zlib.crc32(b"tRNS" + bytes([0, 60, 0, 0, 0, 60]))))
        bilevel = Image.new("1", (17, 5))
        bilevel.putdata([(x + y) % 3 == 0 for y in range(5) for x in range(17)])
        grey_alpha = Image.new("LA", (10, 10))
        grey_alpha.putdata([(x * 25, y * 25) for y in range(10) for x in range(10)])
        mapped = photo(12, 12, 4).quantize(16)
        ihdr = raw_png(2, 2, 2, 8, lambda x, y: [1, 2, 3])
        bad_crc = ihdr[:-20] + bytes([ihdr[-20] ^ 1]) + ihdr[-19:]
        forged = bytearray(raw_png(1, 1, 0, 8, lambda x, y: [0]))
        forged[16:24] = struct.pack(">II", 20000, 20000)
        forged[29:33] = struct.pack(">I", zlib.crc32(bytes(forged[12:29])))
        new_images = {
            "mat/photo.mat.png": png(photo(48, 32, 1)),
            "mat/rgba.mat.png": png(photo(20, 20, 2).convert("RGBA")),
            "mat/grey.mat.png": png(photo(16, 16, 3).convert("L")),
            "mat/gray16.mat.png": gray16,
            "mat/rgb16.mat.png": rgb16,
            "mat/interlaced.mat.png": interlaced,
            "mat/keyed.mat.png": keyed,
            "mat/bilevel.mat.png": png(bilevel),
            "mat/greyalpha.mat.png": png(grey_alpha),
            "mat/mapped.mat.png": png(mapped, bits=4),
            "mat/photo.mat_alpha.png": png(photo(48, 32, 5).convert("L")),
            "mat/broken.mat.png": png(photo(8, 8, 6))[:60],
            "mat/badcrc.mat.png": bad_crc,
            "mat/forged.mat.png": bytes(forged),
            "pal/warm.pal": warm(),
        }
        indexed = dict(texture_set())
        indexed.update(browser.run_native("mat2png", ["-i"], texture_set())["files"])
        cases = [
            ("rebuild unedited indexed", [], indexed),
            ("rebuild", [], rebuilt),
            ("rebuild rgb", ["--match=rgb"], rebuilt),
            ("rebuild dithered", ["--dither"], rebuilt),
            ("exact", ["--exact"], rebuilt),
            ("new perceptual", ["--palette", "warm"], new_images),
            ("new rgb", ["--palette", "warm", "--match=rgb"], new_images),
            ("new dithered", ["--palette", "warm", "--dither"], new_images),
            ("new embedded", ["--palette", "warm", "--embed-palette", "--type", "5"], new_images),
            ("operand", ["--palette", "warm", "mat/photo.mat.png"], new_images, True),
            ("wrong rule", ["--match=hsv"], new_images),
        ]
        for name, args, files, *ordered in cases:
            with self.subTest(name):
                self.assertSameRun("png2mat", args, files, *ordered)

    def test_matpal_matches_native(self):
        files = dict(texture_set())
        pictures = {"art/a.png": png(photo(40, 30, 7)), "art/b.png": png(photo(25, 25, 8).convert("RGBA"))}
        exported = {}
        for fmt in ("gpl", "act", "jasc", "riff", "png", "iff"):
            with self.subTest("export", format=fmt):
                page = self.assertSameRun("matpal", ["export", "warm", "-f", fmt, "-o", "out." + fmt], files)
                exported["in/warm." + fmt] = page["files"]["out." + fmt]
        cases = [
            ("export to standard output", ["export", "mat/smooth.mat", "-f", "act"], files),
            ("export unknown", ["export", "nowhere", "-f", "gpl"], files),
            ("wrong format", ["export", "warm", "-f", "bmp"], files),
            ("make", ["make", "fit"] + sorted(pictures) + ["--colours=24"], {**files, **pictures}),
            ("make all colours", ["make", "fit", "art/a.png"], {**files, **pictures}),
            ("make keeping", ["make", "fit", "art/a.png", "art/b.png", "--keep=0-15,200-255", "--from=warm"],
             {**files, **pictures}),
            ("make existing", ["make", "warm", "art/a.png"], {**files, **pictures}),
            ("make from nothing", ["make", "fit", "art/none.png"], files),
        ]
        cases += [("import " + path, ["import", path, "back"], {**files, **exported}) for path in sorted(exported)]
        cases += [("import forced", ["import", "in/warm.gpl", "warm", "--force"], {**files, **exported}),
                  ("import a picture", ["import", "art/a.png", "back"], {**files, **pictures})]
        for name, args, case_files in cases:
            with self.subTest(name):
                self.assertSameRun("matpal", args, case_files, ordered=True)

    def test_a_second_run_gives_what_the_first_gave(self):
        cases = [("mat2png", ["-q", "-i"], texture_set()), ("mat2png", [], texture_set()),
                 ("matpal", ["--bogus"], {}), ("png2mat", ["--palette", "warm", "--dither"],
                                              {"mat/x.mat.png": png(photo(20, 20, 9)), "pal/warm.pal": warm()})]
        first = [browser.run_page(self.driver, *case) for case in cases]
        second = [browser.run_page(self.driver, *case) for case in cases]
        for case, a, b in zip(cases, first, second):
            with self.subTest(case[0], args=case[1]):
                self.assertEqual(a, b)

    def test_records_say_what_became_of_each_file_as_the_console_does(self):
        files = texture_set()
        page = browser.run_page(self.driver, "mat2png", [], files)
        native = browser.run_native("mat2png", ["-j", "1"], files)
        failed = {line.removeprefix("Could not process ") for line in native["stdout"].splitlines()
                  if line.startswith("Could not process ")}
        reasons = dict(line.removeprefix("mat2png: ").split(": ", 1) for line in native["stderr"].splitlines())
        self.assertEqual([(r["name"], r["outcome"], r["outputs"]) for r in page["items"]], [
            ("mat/alpha.mat", "written", ["mat/alpha.mat.png", "mat/alpha.mat_alpha.png"]),
            ("mat/cut.mat", "failed", []),
            ("mat/dot.mat", "written", ["mat/dot.mat.png", "mat/dot.mat_alpha.png"]),
            ("mat/lost.mat", "failed", []),
            ("mat/noise.mat", "written", ["mat/noise.mat.png"]),
            ("mat/smooth.mat", "written", ["mat/smooth.mat.png"]),
            ("mat/walk.mat", "passed over", []),
        ])
        self.assertEqual({r["name"].removeprefix("mat/") for r in page["items"] if r["outcome"] == "failed"}, failed)
        self.assertEqual({r["name"]: r["reason"] for r in page["items"] if r["reason"] is not None}, reasons)
        self.assertEqual(sorted(p for r in page["items"] for p in r["outputs"]), sorted(native["files"]))
        # png2mat: a rebuilt file, one whose image gives the same bytes, a note with a written file, a refusal
        converted = browser.run_native("mat2png", ["-j", "1", "-i"], files)["files"]
        art = {**files, "mat/smooth.mat.png": edited(converted["mat/smooth.mat.png"], 3),
               "mat/noise.mat.png": converted["mat/noise.mat.png"], "mat/orphan.mat.png": png(photo(4, 4, 1))}
        page = browser.run_page(self.driver, "png2mat", ["--no-backup"], art)
        native = browser.run_native("png2mat", ["-j", "1", "--no-backup"], art)
        records = {r["name"]: r for r in page["items"]}
        self.assertEqual({name: (r["outcome"], r["outputs"]) for name, r in records.items() if r["outcome"] != "passed over"},
                         {"mat/smooth.mat": ("written", ["mat/smooth.mat"]), "mat/orphan.mat.png": ("failed", [])})
        # the unchanged image gives the same bytes: nothing is written for it
        self.assertEqual(records["mat/noise.mat"]["outcome"], "passed over")
        self.assertEqual(sorted(p for r in page["items"] for p in r["outputs"]), sorted(native["files"]))
        notes = [line.removeprefix("png2mat: ") for line in native["stderr"].splitlines()
                 if line.startswith("png2mat: mat/smooth.mat.png: ")]
        self.assertTrue(notes)
        self.assertEqual(records["mat/smooth.mat"]["notes"], notes)
        self.assertEqual(records["mat/orphan.mat.png"]["reason"],
                         native["stderr"].split("png2mat: mat/orphan.mat.png: ", 1)[1].split("\n", 1)[0])
        # a refused command line takes up no file
        self.assertEqual(browser.run_page(self.driver, "png2mat", ["--match=nearest"], art)["items"], [])

    def test_matpal_makes_no_records(self):
        page = browser.run_page(self.driver, "matpal", ["export", "warm", "-f", "gpl", "-o", "out.gpl"], texture_set())
        self.assertEqual((page["status"], sorted(page["files"]), page["items"]), (0, ["out.gpl"], []))

    def test_describe_outlines_a_mat_file_as_a_run_finds_it(self):
        files = {**texture_set(), "loose/side.mat": mat(3, 2, range(6), name="side"), "loose/side.pal": warm()}
        cases = [
            ("mat/smooth.mat", {"width": 64, "height": 48, "type": 1, "palette": {"embedded": True}}),
            ("mat/alpha.mat", {"width": 31, "height": 17, "type": 2, "palette": {"name": "warm", "file": "pal/warm.pal"}}),
            ("mat/lost.mat", {"width": 4, "height": 4, "type": 1, "palette": {"name": "nowhere", "file": None}}),
            ("loose/side.mat", {"width": 3, "height": 2, "type": 1, "palette": {"name": "side", "file": "loose/side.pal"}}),
        ]
        for path, outline in cases:
            with self.subTest(path):
                self.assertEqual(browser.describe_page(self.driver, path, files), outline)
        # a bad file is refused with the reason the command line gives for it
        native = browser.run_native("mat2png", ["mat/cut.mat"], files)["stderr"].strip()
        with self.assertRaises(RuntimeError) as refused:
            browser.describe_page(self.driver, "mat/cut.mat", files)
        self.assertEqual("mat2png: mat/cut.mat: " + str(refused.exception), native)

    def test_cancel_rejects_the_pending_calls_and_a_fresh_core_runs_the_next(self):
        # the calls' results come in message events, which cannot run before this script ends: both are pending
        outcome = self.driver.execute_async_script("""
            const done = arguments[arguments.length - 1];
            const told = (e) => [e instanceof DOMException, e.name, e.message];
            const first = matTools.run("mat2png", [], {}).then(() => "resolved", told);
            const second = matTools.describe("mat/a.mat", {}).then(() => "resolved", told);
            matTools.cancel();
            Promise.all([first, second]).then(done);
        """)
        self.assertEqual(outcome, [[True, "AbortError", "cancelled"]] * 2)
        self.assertSameRun("mat2png", ["-i", "mat/alpha.mat"], texture_set(), True)

    def test_cancel_stops_every_worker(self):
        WebDriverWait(self.driver, 120, poll_frequency=0.05).until(
            lambda d: d.execute_script("return matTools.counts().loading") == 0)
        encoded = {path: list(data) for path, data in texture_set().items()}
        outcome = self.driver.execute_async_script("""
            const [encoded, done] = arguments;
            const files = {};
            for (const [path, bytes] of Object.entries(encoded)) files[path] = new Uint8Array(bytes);
            const terminated = [];
            const terminate = Worker.prototype.terminate;
            Worker.prototype.terminate = function () { terminated.push(this); return terminate.call(this); };
            const calls = [0, 1, 2, 3, 4, 5, 6, 7, 8].map(() => matTools.run("mat2png", [], files).then(() => "resolved", (e) => e.name));
            const before = matTools.counts();
            matTools.cancel();
            const after = matTools.counts();
            Worker.prototype.terminate = terminate;
            Promise.all(calls).then((names) => done([before, terminated.length, after, names]));
        """, encoded)
        before, terminated, after, names = outcome
        self.assertEqual(before["running"], before["workers"])
        self.assertEqual(before["queued"], 9 - before["workers"])
        self.assertEqual(terminated, before["workers"])
        self.assertEqual((after["running"], after["queued"], after["workers"]), (0, 0, before["workers"]))
        self.assertEqual(names, ["AbortError"] * 9)
        self.assertSameRun("mat2png", ["-i", "mat/alpha.mat"], texture_set(), True)

    def test_a_call_that_cannot_be_made_or_posted_rejects_alone(self):
        outcome = self.driver.execute_async_script("""
            const done = arguments[arguments.length - 1];
            const told = (e) => [e.name, e.message];
            const gone = new Uint8Array(8);
            structuredClone(gone.buffer, {transfer: [gone.buffer]});  // its buffer is detached: no message holds it
            Promise.all([
                matTools.run("mat2png", ["mat/a\\0.mat"], {}).then(() => "resolved", told),
                matTools.run("mat2png", ["-i"], {"mat/a.mat": gone}).then(() => "resolved", told),
                matTools.run("mat2png", [], {"../a.mat": new Uint8Array(1)}).then(() => "resolved", told),
                matTools.run("mat2png", [], {}).then((r) => r.status, told),
            ]).then(done);
        """)
        self.assertEqual(outcome[0], ["TypeError", 'an argument holds a NUL character: "mat/a\\u0000.mat"'])
        self.assertEqual(outcome[1][0], "DataCloneError")
        self.assertEqual(outcome[2], ["TypeError", "not a relative path: ../a.mat"])
        self.assertEqual(outcome[3], 2)  # and the next call runs: no mat/ to convert

    def test_a_worker_lost_costs_only_its_call_and_those_behind_it_run_after(self):
        # one worker, handed a call and the next behind it: the first kills it as running out of memory does (an
        # uncaught error outside any call), the second goes to the worker put in its place, and so does a third
        script = browser.prefix_workers(self.driver, """`addEventListener("message", (event) => {
            if (event.data.files && "mat/boom.mat" in event.data.files) {
                event.stopImmediatePropagation();
                setTimeout(() => { throw new RangeError("Out of memory"); });
            }
        });\n`""")
        files = texture_set()
        encoded = {path: list(data) for path, data in files.items()}
        try:
            self.driver.get(browser.PAGE.as_uri() + "?workers=1")
            outcome = self.driver.execute_async_script("""
                const [encoded, done] = arguments;
                const files = {};
                for (const [path, bytes] of Object.entries(encoded)) files[path] = new Uint8Array(bytes);
                const kept = Object.values(files).map((bytes) => Array.from(bytes));
                const names = (r) => Object.keys(r.files).sort();
                matTools.ready.then(() => Promise.all([
                    matTools.run("mat2png", [], {...files, "mat/boom.mat": files["mat/alpha.mat"]}).then(names, (e) => e.message),
                    matTools.run("mat2png", ["-i"], files).then(names, (e) => e.message),
                    matTools.run("mat2png", [], files).then(names, (e) => e.message),
                ])).then((results) => done([results, workersStarted, matTools.counts(),
                    // the caller's bytes are its own still: what goes to a worker is a copy
                    Object.values(files).every((bytes, i) => bytes.length === kept[i].length && bytes.every((b, k) => b === kept[i][k]))]));
            """, encoded)
        finally:
            self.driver.execute_cdp_cmd("Page.removeScriptToEvaluateOnNewDocument", {"identifier": script})
            self.driver.get(browser.PAGE.as_uri())
            self.driver.execute_async_script("matTools.ready.then(() => arguments[0](true))")
        (lost, behind, after), started, counts, intact = outcome
        self.assertIn("Out of memory", lost)
        self.assertEqual(behind, sorted(browser.run_native("mat2png", ["-i"], files)["files"]))
        self.assertEqual(after, sorted(browser.run_native("mat2png", [], files)["files"]))
        self.assertEqual(started, 2, "one worker took the lost one's place")
        self.assertEqual((counts["workers"], counts["running"], counts["queued"]), (1, 0, 0))
        self.assertTrue(intact)

    def test_a_core_that_cannot_load_says_so_once_and_stops(self):
        # every worker's core finds WebAssembly refusing it, as in a browser where it is turned off
        script = browser.prefix_workers(
            self.driver, '"WebAssembly.instantiate = () => Promise.reject(new Error(\'no WebAssembly here\'));\\n"')
        try:
            self.driver.get(browser.PAGE.as_uri())
            outcome = self.driver.execute_async_script("""
                const done = arguments[arguments.length - 1];
                matTools.ready.then(() => done("ready"), (failure) => matTools.run("mat2png", [], {}).then(
                    () => done("resolved"),
                    (error) => done([failure.message, error === failure, workersStarted, matTools.workers,
                                     document.getElementById("status").textContent])));""")
            self.assertIsInstance(outcome, list, outcome)
            message, same, started, workers, status = outcome
            self.assertIn("no WebAssembly here", message)
            self.assertTrue(same, "a later call rejects with the same failure")
            self.assertEqual(started, workers, "no worker is started again")
            self.assertEqual(status, "The converter did not start: " + message)
        finally:
            self.driver.execute_cdp_cmd("Page.removeScriptToEvaluateOnNewDocument", {"identifier": script})
            self.driver.get(browser.PAGE.as_uri())
            self.driver.execute_async_script("matTools.ready.then(() => arguments[0](true))")

    def test_version_names_what_the_page_is_built_with(self):
        for program, reader, writer in (("mat2png", None, "PngEncoder"), ("png2mat", "PngDecoder", None),
                                        ("matpal", "PngDecoder", None)):
            with self.subTest(program):
                page = browser.run_page(self.driver, program, ["--version"], {})
                native = browser.run_native(program, ["--version"], {})
                self.assertEqual(page["status"], 0)
                first, *built = page["stdout"].splitlines()
                self.assertEqual(first, native["stdout"].splitlines()[0])
                self.assertRegex(built[-1], r"^WebAssembly built by Emscripten \d+\.\d+\.\d+$")
                self.assertIn(f"this project's {reader or writer}", built[0])
                self.assertNotIn("stb_image_write", page["stdout"])

    def test_a_picture_too_large_for_the_page_fails_alone(self):
        # 16000 x 16000 RGBA: a megabyte of deflated zeros that needs more than the page's 2 GB to decode
        side = 16000
        squeeze = zlib.compressobj(9)
        row = b"\0" * (side * 4 + 1)
        data = b"".join(squeeze.compress(row) for _ in range(side)) + squeeze.flush()

        def png_chunk(kind, body):
            return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
        huge = (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", struct.pack(">IIBBBBB", side, side, 8, 6, 0, 0, 0))
                + png_chunk(b"IDAT", data) + png_chunk(b"IEND", b""))
        files = {"mat/a.mat.png": huge, "mat/b.mat.png": png(photo(10, 10, 3)), "pal/warm.pal": warm()}
        result = browser.run_page(self.driver, "png2mat", ["--palette", "warm", "--match=rgb"], files)
        self.assertEqual(result["status"], 1)
        self.assertIn("Could not process a.mat.png", result["stdout"])
        self.assertIn("png2mat: mat/a.mat.png: out of memory", result["stderr"])
        self.assertIn("mat/b.mat", result["files"])
        # and the page goes on
        again = browser.run_page(self.driver, "mat2png", [], texture_set())
        self.assertEqual(again["status"], 1)
        self.assertIn("mat/smooth.mat.png", again["files"])


if __name__ == "__main__":
    unittest.main()
