"""The page as people use it: files given through its inputs, results read back from its elements and downloads,
and compared with what the native programs make of the same files."""
import io
import shutil
import unittest
import zipfile

from PIL import Image
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select

from browser import SAMPLE_SET as SET, SAMPLES, PageCase, png_content, prefix_workers, run_native
from test_core import gradient, mat, noise


class PageTest(PageCase):
    def pick(self, input_id, paths):
        self.driver.find_element(By.ID, input_id).send_keys("\n".join(str(path) for path in paths))

    def converted(self):
        self.until(lambda d: d.find_element(By.ID, "counts").get_attribute("data-state") == "done")
        self.settled()

    def open_samples(self):
        self.pick("folder", [SAMPLES])
        self.converted()

    def gallery(self, kind):
        return {node.get_attribute("data-name"): node
                for node in self.driver.find_elements(By.CSS_SELECTOR, f"#gallery > .{kind}")}

    def test_gallery_shows_each_texture_with_its_size_type_and_palette(self):
        self.open_samples()
        textures = self.gallery("texture")
        info = {name: node.find_element(By.CLASS_NAME, "info").text for name, node in textures.items()}
        self.assertEqual(info, {
            "mat/hero.mat": "64 × 64 · type 1 · embedded palette",
            "mat/rock.mat": "33 × 17 · type 2 · palette rock (pal/rock.pal)",
            "mat/glass.mat": "40 × 24 · type 3 · palette water\\Glass (pal/water/Glass.pal)",
        })
        self.assertEqual(list(self.gallery("passed-over")), ["mat/walk.mat"])
        # why, in the core's words
        reason = self.until(lambda d: d.find_element(By.CSS_SELECTOR, "#gallery > .passed-over .reason").text or None)
        described = self.driver.execute_async_script(
            "matTools.describe('mat/walk.mat', {'mat/walk.mat': new Uint8Array(arguments[0])}).catch((e) => arguments[1](e.message))",
            list(SET["mat/walk.mat"]))
        self.assertEqual(reason, described)
        self.assertEqual(self.gallery("failure"), {})
        self.assertEqual(self.driver.find_element(By.ID, "counts").text, "4 of 4 files, 3 converted, 1 passed over.")
        for name, node in textures.items():
            with self.subTest(name):
                # pictures near the viewport are decoded: these are
                shown = self.until(lambda d: d.execute_script(
                    "const i = arguments[0].querySelector('img');"
                    "return i.complete && i.naturalWidth ? [i.naturalWidth, i.naturalHeight, i.width, i.height,"
                    " getComputedStyle(i).imageRendering] : null", node))
                width, height = (int(n) for n in info[name].split(" · ")[0].split(" × "))
                self.assertEqual(shown[:2], [width, height])
                self.assertEqual(shown[2] % width, 0)
                self.assertEqual(shown[2] // width, shown[3] // height)
                self.assertEqual(shown[4], "pixelated")

    def test_a_bad_file_fails_with_the_command_lines_reason_and_the_rest_goes_on(self):
        files = {
            "cut.mat": SET["mat/hero.mat"][:100],       # a chunk past the end
            "empty.mat": b"",
            "text.mat": b"just some text\n",            # not IFF
            "rock.mat": SET["mat/rock.mat"],            # names a palette that is not there
            "h\u00e9.mat": SET["mat/hero.mat"][:30],     # a name the programs print escaped
            "<img src=x>.mat": b"FORM",                 # a name that is text, never markup
            "hero.mat": SET["mat/hero.mat"],
        }
        for name, data in files.items():
            (self.work / name).write_bytes(data)
        self.pick("files", [self.work / name for name in files])
        self.converted()
        stderr = run_native("mat2png", ["-j", "1", "--", *files], files)["stderr"]
        expected = dict(line.removeprefix("mat2png: ").split(": ", 1) for line in stderr.splitlines())
        shown = {node.find_element(By.CLASS_NAME, "name").text: node.find_element(By.CLASS_NAME, "reason").text
                 for node in self.gallery("failure").values()}
        printed = "".join(chr(b) if 0x20 <= b < 0x7F else f"\\x{b:02X}" for b in "h\u00e9.mat".encode())
        self.assertEqual(sorted(expected), sorted(["<img src=x>.mat", "cut.mat", "empty.mat", printed, "rock.mat",
                                                   "text.mat"]))
        self.assertEqual(shown, {name if name != printed else "h\u00e9.mat": reason for name, reason in expected.items()})
        self.assertEqual(self.driver.find_elements(By.CSS_SELECTOR, "#gallery .failure img"), [])
        self.assertEqual(list(self.gallery("texture")), ["hero.mat"])

    def test_cancel_stops_a_run_and_the_next_one_starts_afresh(self):
        # mat2png's runs after the first are held until cancelled (as the workers' pending calls are), so the
        # conversion is surely under way when Cancel is pressed.
        self.driver.execute_script("""
            const tools = window.matTools, run = tools.run, cancel = tools.cancel;
            window.held = [];
            let calls = 0;
            tools.run = (program, ...args) => (program !== "mat2png" || ++calls === 1 ? run(program, ...args)
                : new Promise((ok, fail) => held.push(fail)));
            tools.cancel = () => { held.splice(0).forEach((fail) => fail(new DOMException("cancelled", "AbortError"))); cancel(); };
            window.unhold = () => { tools.run = run; tools.cancel = cancel; };""")
        self.pick("folder", [SAMPLES])
        # the page runs a few chunks ahead, on every worker: both later chunks are held once the first is shown
        self.until(lambda d: d.execute_script("return held.length") == 2 and self.gallery("texture"))
        self.driver.find_element(By.ID, "cancel").click()
        self.settled()
        self.assertEqual(self.driver.find_element(By.ID, "counts").text, "1 of 4 files, 1 converted (cancelled).")
        self.assertEqual(list(self.gallery("texture")), ["mat/glass.mat"])
        self.assertFalse(self.driver.find_element(By.ID, "cancel").is_enabled())
        self.driver.execute_script("unhold()")
        self.open_samples()
        self.assertEqual(len(self.gallery("texture")), 3)

    def test_download_all_gives_the_images_of_the_command_line_in_the_sets_layout(self):
        loose = {"h\u00e9ros.mat": SET["mat/hero.mat"], "rock.mat": SET["mat/rock.mat"], "rock.pal": SET["pal/rock.pal"]}
        for name, data in loose.items():
            (self.work / name).write_bytes(data)
        # (what is picked, how, the zip's name, the native run over the same files)
        cases = (("folder", [SAMPLES], "rgb", "samples-png.zip", ["-j", "1"], SET),
                 ("folder", [SAMPLES], "indexed", "samples-indexed.zip", ["-j", "1", "-i"], SET),
                 ("files", [self.work / name for name in loose], "rgb", "textures-png.zip",
                  ["-j", "1", "--", "h\u00e9ros.mat", "rock.mat"], loose))
        for picker, paths, mode, zip_name, args, files in cases:
            with self.subTest(picker=picker, mode=mode):
                self.reload()
                Select(self.driver.find_element(By.ID, "mode")).select_by_value(mode)
                self.pick(picker, paths)
                self.converted()
                name, data = self.download(self.driver.find_element(By.ID, "download-all"))
                self.assertEqual(name, zip_name)
                archive = zipfile.ZipFile(io.BytesIO(data))
                self.assertIsNone(archive.testzip())
                expected = run_native("mat2png", args, files)["files"]
                self.assertEqual(sorted(archive.namelist()), sorted(expected))
                for image, png in expected.items():
                    self.assertEqual(png_content(archive.read(image)), png_content(png), image)

    def test_art_back_in_rebuilds_a_texture_and_makes_a_new_one(self):
        indexed = run_native("mat2png", ["-j", "1", "-i", "--", "mat/hero.mat"], SET)["files"]["mat/hero.mat.png"]
        edited = Image.open(io.BytesIO(indexed))
        for xy in ((x, y) for x in range(8, 20) for y in range(30, 34)):
            edited.putpixel(xy, 7)
        edited.save(self.work / "hero.mat.png")
        shutil.copy(SAMPLES / "sign.png", self.work / "sky.png")
        self.open_samples()
        Select(self.driver.find_element(By.ID, "art-match")).select_by_value("rgb")
        Select(self.driver.find_element(By.ID, "art-palette")).select_by_value("pal/rock.pal")
        self.pick("art-files", [self.work / "hero.mat.png", self.work / "sky.png"])
        self.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#art-results > li")) == 2)
        self.settled()
        built = [node.find_element(By.CLASS_NAME, "name").text
                 for node in self.driver.find_elements(By.CSS_SELECTOR, "#art-results > .built")]
        self.assertEqual(built, ["mat/hero.mat", "mat/sky.mat"])
        self.assertIn("mat/sky.mat", self.gallery("texture"))
        _, data = self.download(self.driver.find_element(By.ID, "art-download"))
        archive = zipfile.ZipFile(io.BytesIO(data))
        rebuilt = run_native("png2mat", ["-j", "1", "--no-backup", "--match=rgb", "--", "mat/hero.mat.png"],
                             {**SET, "mat/hero.mat.png": (self.work / "hero.mat.png").read_bytes()})["files"]
        made = run_native("png2mat", ["-j", "1", "--match=rgb", "--palette=rock", "-o", "mat", "--", "art/sky.png"],
                          {**SET, "art/sky.png": (SAMPLES / "sign.png").read_bytes()})["files"]
        self.assertEqual({name: archive.read(name) for name in archive.namelist()},
                         {"mat/hero.mat": rebuilt["mat/hero.mat"], "mat/sky.mat": made["mat/sky.mat"],
                          "pal/rock.pal": SET["pal/rock.pal"]})  # the palette sky.mat names goes along
        self.assertNotEqual(rebuilt["mat/hero.mat"], SET["mat/hero.mat"])

    def test_art_names_are_png2mats_in_every_case(self):
        converted = run_native("mat2png", ["-j", "1", "-i", "--", "mat/hero.mat"], SET)["files"]
        hero = Image.open(io.BytesIO(converted["mat/hero.mat.png"]))
        for xy in ((x, 5) for x in range(20)):
            hero.putpixel(xy, 3)
        edited = io.BytesIO()
        hero.save(edited, "PNG")
        sign = (SAMPLES / "sign.png").read_bytes()
        art = {
            "hero.mat.PNG": edited.getvalue(),                         # with its alpha image, in the same case
            "hero.mat_alpha.PNG": converted["mat/hero.mat_alpha.png"],
            "Rock.png": sign,                                         # rock.mat in another case: refused
            "sky blue.png": sign,
            "h\u00e9ros.png": sign,
            "two.dots.png": sign,
            ".mat.png": sign,
        }
        folder = self.work / "art"
        folder.mkdir()
        for name, data in art.items():
            (folder / name).write_bytes(data)
        self.open_samples()
        Select(self.driver.find_element(By.ID, "art-match")).select_by_value("rgb")
        Select(self.driver.find_element(By.ID, "art-palette")).select_by_value("pal/rock.pal")
        self.pick("art-files", [folder / name for name in art])
        native = run_native("png2mat", ["-j", "1", "--no-backup", "--palette=rock", "--match=rgb", "-o", "mat", "--", "art"],
                            {**SET, **{f"art/{name}": data for name, data in art.items()}})
        failed = {line.removeprefix("Could not process art/") for line in native["stdout"].splitlines()
                  if line.startswith("Could not process ")}
        self.assertEqual(failed, {"Rock.png"})
        # one result per image png2mat takes: the alpha image goes with its colour image
        self.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#art-results > li")) == len(art) - 1)
        self.settled()
        results = {node.find_element(By.CLASS_NAME, "name").text: node.get_attribute("class")
                   for node in self.driver.find_elements(By.CSS_SELECTOR, "#art-results > li")}
        self.assertEqual(results, {**{path: "built" for path in native["files"]}, "Rock.png": "failure"})
        self.assertIn("mat/.mat.mat", results)
        self.assertIn("mat/hero.mat", results)
        _, data = self.download(self.driver.find_element(By.ID, "art-download"))
        archive = zipfile.ZipFile(io.BytesIO(data))
        # with the palette the new files name, and the failure with png2mat's reason
        reason = native["stderr"].split("png2mat: art/Rock.png: ", 1)[1].splitlines()[0]
        self.assertEqual({name: archive.read(name) for name in archive.namelist()},
                         {**native["files"], "pal/rock.pal": SET["pal/rock.pal"], "failed.txt": f"Rock.png: {reason}\n".encode()})
        self.assertTrue(set(native["files"]) <= set(self.gallery("texture")))

    def test_a_new_set_starts_clean(self):
        shutil.copy(SAMPLES / "sign.png", self.work / "sky.png")
        self.open_samples()
        Select(self.driver.find_element(By.ID, "art-palette")).select_by_value("pal/rock.pal")
        self.pick("art-files", [self.work / "sky.png"])
        self.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#art-results > .built a"))
        self.pick("make-files", [SAMPLES / "sign.png"])
        self.until(lambda d: d.find_element(By.ID, "make-run").is_enabled())
        self.driver.find_element(By.ID, "make-run").click()
        self.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#make-results > .built a"))
        self.settled()
        links = self.driver.execute_script("""
            window.revoked = new Set();
            const revoke = URL.revokeObjectURL;
            URL.revokeObjectURL = (url) => { revoked.add(url); revoke(url); };
            return [...document.querySelectorAll('#art-results a, #make-results a, #gallery a, #palettes img')].map((a) => a.href || a.src);""")
        self.assertGreaterEqual(len(links), 2 + 3 + 4)
        (self.work / "other.mat").write_bytes(SET["mat/hero.mat"])
        self.pick("files", [self.work / "other.mat"])
        self.converted()
        for kind in ("art-results", "make-results"):
            self.assertEqual(self.driver.find_elements(By.CSS_SELECTOR, f"#{kind} > *"), [], kind)
        self.assertFalse(self.driver.find_element(By.ID, "art-download").is_enabled())
        self.assertEqual(list(self.gallery("texture")), ["other.mat"])
        self.assertEqual(self.driver.find_elements(By.CSS_SELECTOR, ".palette"), [])
        self.assertEqual(self.driver.execute_script("return arguments[0].filter((url) => !revoked.has(url))", links), [])
        _, data = self.download(self.driver.find_element(By.ID, "download-all"))
        self.assertEqual(zipfile.ZipFile(io.BytesIO(data)).namelist(), ["other.mat.png", "other.mat_alpha.png"])

    def test_nothing_leaves_the_machine(self):
        self.driver.execute_script("""
            window.violations = [];
            document.addEventListener("securitypolicyviolation",
                (event) => violations.push([event.effectiveDirective, event.blockedURI]));""")
        self.open_samples()
        self.assertEqual(self.driver.execute_script("return violations"), [], "what the page itself does is allowed")
        outcome = self.driver.execute_async_script("""
            const done = arguments[arguments.length - 1];
            const fetched = fetch("https://192.0.2.1/fetched").then(() => "fetched", (error) => error.name);
            const picture = new Image();
            const shown = new Promise((resolve) => { picture.onload = () => resolve("shown"); picture.onerror = () => resolve("refused"); });
            picture.src = "http://192.0.2.1/picture.png";
            document.body.append(picture);
            Promise.all([fetched, shown]).then(done);""")
        self.assertEqual(outcome, ["TypeError", "refused"])
        violations = self.until(lambda d: (lambda seen: seen if len(seen) >= 2 else None)(d.execute_script("return violations")))
        self.assertEqual(sorted(violations), [["connect-src", "https://192.0.2.1/fetched"],
                                              ["img-src", "http://192.0.2.1/picture.png"]])

    def many_sizes(self, count, odd=True):
        """A folder set of COUNT textures of many sizes (so that runs on several workers end out of order), some
        with alpha planes, and with ODD a damaged one and an animation among them; gives its folder."""
        folder = self.work / "many"
        (folder / "mat").mkdir(parents=True)
        for i in range(count):
            side = 8 + (i * 37) % 200
            alpha = gradient(side, side // 2 + 1) if i % 3 == 0 else None
            (folder / "mat" / f"t{i:03d}.mat").write_bytes(mat(side, side // 2 + 1, noise(side * (side // 2 + 1), i), alpha=alpha))
        if odd:
            (folder / "mat" / "t050.mat").write_bytes(mat(16, 16, range(256))[:90])
            (folder / "mat" / "t051.mat").write_bytes(SET["mat/walk.mat"])
        return folder

    def shown(self):
        """The log (once its last lines are in), the gallery's cards and the images of Download all."""
        log = self.driver.execute_async_script(
            "requestAnimationFrame(() => arguments[0](document.getElementById('log-lines').textContent))")
        cards = [(node.get_attribute("data-name"), node.get_attribute("class"), node.text)
                 for node in self.driver.find_elements(By.CSS_SELECTOR, "#gallery > *")]
        _, data = self.download(self.driver.find_element(By.ID, "download-all"))
        archive = zipfile.ZipFile(io.BytesIO(data))
        return log, cards, {name: archive.read(name) for name in archive.namelist()}

    def test_every_worker_gives_what_one_worker_gives(self):
        folder = self.many_sizes(120)
        seen = {}
        for workers in (1, 3):
            with self.subTest(workers=workers):
                self.reload(f"?workers={workers}")
                self.assertEqual(self.driver.execute_script("return matTools.counts().workers"), workers)
                self.pick("folder", [folder])
                self.converted()
                seen[workers] = self.shown()
        log, cards, images = seen[3]
        self.assertEqual(log, seen[1][0])
        self.assertEqual(cards, seen[1][1])
        self.assertEqual(images, seen[1][2])
        self.assertEqual([name for name, kind, _ in cards if kind != "texture"], ["mat/t050.mat", "mat/t051.mat"])
        self.assertIn("Could not process mat/t050.mat", log)

    def test_a_worker_that_dies_costs_only_its_file_and_is_replaced(self):
        # a worker handed mat/t007.mat dies as one out of memory does: an uncaught error outside any call
        script = prefix_workers(self.driver, """`addEventListener("message", (event) => {
            if (event.data.files && "mat/t007.mat" in event.data.files) {
                event.stopImmediatePropagation();
                setTimeout(() => { throw new RangeError("Out of memory"); });
            }
        });\n`""")
        try:
            folder = self.many_sizes(20, odd=False)
            self.reload("?workers=2")
            self.pick("folder", [folder])
            self.converted()
            failures = {name: node.find_element(By.CLASS_NAME, "reason").text for name, node in self.gallery("failure").items()}
            self.assertEqual(set(failures), {"mat/t007.mat"})
            self.assertIn("Out of memory", failures["mat/t007.mat"])
            self.assertEqual(len(self.gallery("texture")), 20 - 1)
            counts = self.driver.execute_script("return matTools.counts()")
            self.assertEqual(counts["workers"], 2)
            started = self.driver.execute_script("return workersStarted")
            self.assertGreater(started, 2, "a worker took the dead one's place")
            self.assertEqual(self.driver.find_element(By.ID, "counts").text, "20 of 20 files, 19 converted, 1 failed.")
        finally:
            self.driver.execute_cdp_cmd("Page.removeScriptToEvaluateOnNewDocument", {"identifier": script})

    def test_palettes_export_in_each_format_and_a_new_one_is_fitted_as_matpal_does(self):
        self.open_samples()
        card = self.driver.find_element(By.CSS_SELECTOR, '.palette[data-name="pal/water/Glass.pal"]')
        self.until(lambda d: card.find_elements(By.CSS_SELECTOR, ".swatch canvas"))
        self.assertEqual(card.find_element(By.CLASS_NAME, "colours").text, "256 colours")
        for form, extension in (("png", ".png"), ("gpl", ".gpl"), ("act", ".act"), ("jasc", ".jasc.pal"),
                                ("riff", ".riff.pal"), ("iff", ".pal")):
            with self.subTest(form):
                Select(card.find_element(By.CLASS_NAME, "format")).select_by_value(form)
                name, data = self.download(card.find_element(By.CLASS_NAME, "export"))
                out = f"out{extension}"
                expected = run_native("matpal", ["export", "pal/water/Glass.pal", "-f", form, "-o", out], SET)["files"]
                self.assertEqual(name, "Glass" + extension)
                if form == "png":  # the page's PNG writer is not libpng: the same picture and palette, other bytes
                    self.assertEqual(png_content(data), png_content(expected[out]))
                else:
                    self.assertEqual(data, expected[out])
        self.pick("make-files", [SAMPLES / "sign.png"])
        self.driver.find_element(By.ID, "make-name").clear()
        self.driver.find_element(By.ID, "make-name").send_keys("inn")
        self.driver.find_element(By.ID, "make-colours").send_keys("12")
        self.driver.find_element(By.ID, "make-keep").send_keys("0-3")
        Select(self.driver.find_element(By.ID, "make-from")).select_by_value("pal/rock.pal")
        self.until(lambda d: d.find_element(By.ID, "make-run").is_enabled())
        self.driver.find_element(By.ID, "make-run").click()
        link = self.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#make-results > .built a"))[0]
        name, data = self.download(link)
        expected = run_native("matpal", ["make", "inn", "art/sign.png", "--colours=12", "--keep=0-3", "--from=rock"],
                              {**SET, "art/sign.png": (SAMPLES / "sign.png").read_bytes()})["files"]
        self.assertEqual((name, data), ("inn.pal", expected["pal/inn.pal"]))
        self.settled()
        self.assertIn("pal/inn.pal", [node.get_attribute("data-name")
                                      for node in self.driver.find_elements(By.CSS_SELECTOR, ".palette")])


if __name__ == "__main__":
    unittest.main()
