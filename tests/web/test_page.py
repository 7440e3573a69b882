"""The page as people use it: files given through its inputs, results read back from its elements and downloads,
and compared with what the native programs make of the same files."""
import io
import shutil
import tempfile
import unittest
import zipfile
from pathlib import Path

from PIL import Image
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

from browser import PAGE, ROOT, png_content, run_native, start_browser

SAMPLES = ROOT / "samples"
SET = {path.relative_to(SAMPLES).as_posix(): path.read_bytes()
       for folder in ("mat", "pal") for path in sorted((SAMPLES / folder).rglob("*")) if path.is_file()}
WAIT = 120  # seconds: the bound of a wait for the page, never a delay that a test relies on


class PageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = Path(tempfile.mkdtemp(prefix="page-test-"))
        cls.driver = start_browser()

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def setUp(self):
        self.reload()
        self.work = Path(tempfile.mkdtemp(dir=self.scratch))

    def reload(self):
        self.driver.get(PAGE.as_uri())
        self.until(lambda d: d.find_element(By.ID, "status").get_attribute("class") == "ready")

    def until(self, condition):
        return WebDriverWait(self.driver, WAIT, poll_frequency=0.05).until(condition)

    def pick(self, input_id, paths):
        self.driver.find_element(By.ID, input_id).send_keys("\n".join(str(path) for path in paths))

    def settled(self):
        """Waits until the page has nothing left under way."""
        self.until(lambda d: d.execute_script("return document.body.dataset.busy") == "0")

    def converted(self):
        self.until(lambda d: d.find_element(By.ID, "counts").get_attribute("data-state") == "done")
        self.settled()

    def open_samples(self):
        self.pick("folder", [SAMPLES])
        self.converted()

    def gallery(self, kind):
        return {node.get_attribute("data-name"): node
                for node in self.driver.find_elements(By.CSS_SELECTOR, f"#gallery > .{kind}")}

    def download(self, element):
        """Clicks ELEMENT and gives the file the browser saves: (name, bytes)."""
        folder = Path(tempfile.mkdtemp(dir=self.scratch))
        self.driver.execute_cdp_cmd("Browser.setDownloadBehavior", {"behavior": "allow", "downloadPath": str(folder)})
        element.click()

        def saved(_):
            files = list(folder.iterdir())
            return files[0] if len(files) == 1 and not files[0].name.endswith(".crdownload") else None
        path = self.until(saved)
        return path.name, path.read_bytes()

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
        self.assertEqual(self.gallery("failure"), {})
        self.assertEqual(self.driver.find_element(By.ID, "counts").text, "4 of 4 files, 3 converted, 1 passed over.")
        for name, node in textures.items():
            with self.subTest(name):
                shown = self.driver.execute_script(
                    "const i = arguments[0].querySelector('img');"
                    "return [i.naturalWidth, i.naturalHeight, i.width, i.height, getComputedStyle(i).imageRendering]",
                    node)
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
        # mat2png's runs after the first are held until cancelled (as the worker's pending calls are), so the
        # conversion is surely under way when Cancel is pressed.
        self.driver.execute_script("""
            const tools = window.matTools, run = tools.run, cancel = tools.cancel;
            window.held = [];
            let calls = 0;
            tools.run = (program, ...args) => (program !== "mat2png" || ++calls === 1 ? run(program, ...args)
                : new Promise((ok, fail) => held.push(fail)));
            tools.cancel = () => { held.splice(0).forEach((fail) => fail(new Error("cancelled"))); cancel(); };
            window.unhold = () => { tools.run = run; tools.cancel = cancel; };""")
        self.pick("folder", [SAMPLES])
        self.until(lambda d: d.execute_script("return held.length") == 1)
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
                 ("folder", [SAMPLES], "indexed", "samples-png.zip", ["-j", "1", "-i"], SET),
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
                         {"mat/hero.mat": rebuilt["mat/hero.mat"], "mat/sky.mat": made["mat/sky.mat"]})
        self.assertNotEqual(rebuilt["mat/hero.mat"], SET["mat/hero.mat"])

    def test_palettes_export_in_each_format_and_a_new_one_is_fitted_as_matpal_does(self):
        self.open_samples()
        card = self.driver.find_element(By.CSS_SELECTOR, '.palette[data-name="pal/water/Glass.pal"]')
        self.assertEqual(self.driver.execute_script("return arguments[0].querySelector('img').naturalWidth", card), 256)
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
