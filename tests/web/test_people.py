"""The page as people use it: the viewer, a gallery of hundreds, complete downloads, palettes picked with Files…,
art before and after, what needs a set, palettes' entries and the page's own words; read as a person sees them
(elements shown, their text, pictures drawn) and compared with the native programs."""
import io
import re
import subprocess
import zipfile

from PIL import Image
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select

from browser import NATIVE, SAMPLE_SET as SET, SAMPLES, PageCase, png_content, run_native, write_files


class PeopleTest(PageCase):
    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def open_folder(self, folder):
        self.driver.find_element(By.ID, "folder").send_keys(str(folder))
        self.until(lambda d: d.find_element(By.ID, "counts").get_attribute("data-state") == "done")
        self.settled()

    def write_set(self, files, name="castle"):
        root = self.work / name
        write_files(root, files)
        return root

    def shown(self, selector):
        return [node for node in self.driver.find_elements(By.CSS_SELECTOR, selector) if node.is_displayed()]

    def make_palette(self, name, fields):
        """Make a palette NAME from sign.png with FIELDS (id -> text) filled in."""
        self.driver.find_element(By.ID, "make-files").send_keys(str(SAMPLES / "sign.png"))
        self.driver.find_element(By.ID, "make-name").clear()
        self.driver.find_element(By.ID, "make-name").send_keys(name)
        for field, text in fields.items():
            self.driver.find_element(By.ID, field).send_keys(text)
        self.until(lambda d: d.find_element(By.ID, "make-run").is_enabled())
        self.driver.find_element(By.ID, "make-run").click()

    def viewer_open(self):
        return self.js("return document.getElementById('viewer').open")

    def choose(self, select_id, value):
        Select(self.driver.find_element(By.ID, select_id)).select_by_value(value)

    # ---- 1: the viewer ----

    def test_viewer_zooms_by_whole_factors_tiles_steps_and_tells_the_pixel_under_the_pointer(self):
        self.driver.set_window_size(1300, 1100)  # room for the texture tiled at 4x
        self.open_folder(SAMPLES)
        view = self.driver.find_element(By.CSS_SELECTOR, '#gallery > .texture[data-name="mat/hero.mat"] .view')
        view.send_keys(Keys.ENTER)  # the keyboard opens it as a click does
        self.until(lambda d: self.viewer_open())
        self.assertEqual(self.driver.find_element(By.ID, "viewer-title").text, "mat/hero.mat")
        canvas = self.driver.find_element(By.CSS_SELECTOR, "#viewer canvas")
        for zoom in ("1", "3", "16"):
            with self.subTest(zoom=zoom):
                self.choose("viewer-zoom", zoom)
                size = self.js("const c = arguments[0], r = c.getBoundingClientRect();"
                               "return [c.width, c.height, r.width, r.height, getComputedStyle(c).imageRendering]", canvas)
                self.assertEqual(size, [64, 64, 64 * int(zoom), 64 * int(zoom), "pixelated"])
        self.choose("viewer-zoom", "fit")
        fit = self.js("return arguments[0].getBoundingClientRect().width / arguments[0].width", canvas)
        self.assertEqual(fit, int(fit))
        # the alpha plane beside it
        self.assertTrue(self.driver.find_element(By.CSS_SELECTOR, "#viewer .viewer-alpha canvas").is_displayed())
        # tiled: nine copies of the same pixels
        self.driver.find_element(By.ID, "viewer-tile").click()
        copies = self.js("""const c = arguments[0], x = c.getContext('2d');
            const one = [...x.getImageData(0, 0, 64, 64).data];
            return [c.width, c.height, [[64, 0], [128, 128], [0, 128], [128, 64]].every(([l, t]) =>
              x.getImageData(l, t, 64, 64).data.every((v, i) => v === one[i])), one.some((v) => v !== one[0])]""", canvas)
        self.assertEqual(copies, [192, 192, True, True])
        # the pixel under the pointer: its index in the indexed image mat2png writes, and that entry's colour
        self.choose("viewer-zoom", "4")
        indexed = Image.open(io.BytesIO(run_native("mat2png", ["-j", "1", "-i", "--", "mat/hero.mat"], SET)["files"]["mat/hero.mat.png"]))
        palette = indexed.getpalette()
        for x, y in ((10, 20), (63, 0), (33, 47)):
            with self.subTest(pixel=(x, y)):
                # a pixel of the middle copy, at its centre
                left, top = 4 * (64 + x) + 2, 4 * (64 + y) + 2
                width = self.js("return arguments[0].getBoundingClientRect().width", canvas)
                self.js("arguments[0].scrollIntoView({block: 'center', inline: 'center'})", canvas)
                ActionChains(self.driver).move_to_element_with_offset(canvas, left - width / 2, top - width / 2).perform()
                index = indexed.getpixel((x, y))
                r, g, b = palette[3 * index:3 * index + 3]
                self.until(lambda d: f"x {x}, y {y}" in d.find_element(By.ID, "viewer-pixel").text)
                told = self.driver.find_element(By.ID, "viewer-pixel").text
                self.assertIn(f"index {index}", told)
                self.assertIn(f"#{r:02x}{g:02x}{b:02x} ({r}, {g}, {b})", told)
        # the keys: next, previous, and away
        order = [node.get_attribute("data-name") for node in self.shown("#gallery > .texture")]
        stage = self.driver.find_element(By.ID, "viewer-stage")
        at = order.index("mat/hero.mat")
        stage.send_keys(Keys.ARROW_RIGHT)
        self.until(lambda d: d.find_element(By.ID, "viewer-title").text == order[(at + 1) % len(order)])
        stage.send_keys(Keys.ARROW_LEFT)
        stage.send_keys(Keys.ARROW_LEFT)
        self.until(lambda d: d.find_element(By.ID, "viewer-title").text == order[(at - 1) % len(order)])
        stage.send_keys(Keys.ESCAPE)
        self.until(lambda d: not self.viewer_open())
        self.assertEqual(self.js("return document.activeElement"), view)

    # ---- 2: a gallery for hundreds ----

    def big_set(self):
        """120 textures of three kinds, one of 1024 x 1024 and three damaged files."""
        files = dict(SET)
        del files["mat/walk.mat"]
        for i in range(40):
            files[f"mat/hero{i:02}.mat"] = SET["mat/hero.mat"]
            files[f"mat/Rock{i:02}.mat"] = SET["mat/rock.mat"]
            files[f"mat/glass{i:02}.mat"] = SET["mat/glass.mat"]
        for name in ("cut", "empty", "text"):
            files[f"mat/bad-{name}.mat"] = {"cut": SET["mat/hero.mat"][:90], "empty": b"", "text": b"text\n"}[name]
        picture = Image.new("RGB", (1024, 1024))
        picture.putdata([((x * 7) & 255, (y * 3) & 255, (x ^ y) & 255) for y in range(1024) for x in range(1024)])
        art = io.BytesIO()
        picture.save(art, "PNG")
        files["art/big.png"] = art.getvalue()
        made = run_native("png2mat", ["-j", "1", "--palette=rock", "-o", "mat", "--", "art/big.png"], files)["files"]
        files["mat/big.mat"] = made["mat/big.mat"]
        del files["art/big.png"]
        return files

    def test_gallery_of_hundreds_fits_thumbnails_in_a_grid_filters_sorts_and_shows_failures_first(self):
        files = self.big_set()
        self.driver.set_window_size(1280, 1000)
        self.open_folder(self.write_set(files))
        textures = self.shown("#gallery > .texture")
        self.assertEqual(len(textures), 124)
        counts = self.driver.find_element(By.ID, "counts")
        self.assertEqual(counts.get_attribute("data-failed"), "3")
        status = self.driver.find_element(By.ID, "status")
        self.assertEqual(status.get_attribute("class"), "warning")
        self.assertRegex(status.text, r"^3 of 127 files failed")
        # thumbnails: whole factors up, or down to at most 256 CSS pixels
        sizes = self.js("""return [...document.querySelectorAll('#gallery > .texture')].map((card) => {
            const p = card.querySelector('.view img, .view canvas'), r = p.getBoundingClientRect();
            return [card.dataset.name, p.naturalWidth || p.width, p.naturalHeight || p.height, r.width, r.height]; })""")
        for name, width, height, shown_width, shown_height in sizes:
            if name in ("mat/big.mat", "mat/hero00.mat", "mat/Rock00.mat"):
                with self.subTest(name):
                    factor = shown_width / width if shown_width >= width else width / shown_width
                    self.assertEqual(factor, int(factor))
                    self.assertAlmostEqual(shown_height, height * shown_width / width)
                    self.assertLessEqual(max(shown_width, shown_height), 256)
        big = next(s for s in sizes if s[0] == "mat/big.mat")
        self.assertEqual(big[3:], [256, 256])
        # a regular grid: cards as wide as each other, rows level
        boxes = [card.rect for card in textures[:12]]
        self.assertEqual(len({round(box["width"]) for box in boxes}), 1)
        rows = {}
        for box in boxes:
            rows.setdefault(round(box["y"]), []).append(box)
        self.assertGreater(len(boxes) / len(rows), 2)
        # failures first
        failures = self.shown("#gallery > .failure")
        self.assertEqual(len(failures), 3)
        self.assertLess(max(f.rect["y"] for f in failures), min(t.rect["y"] for t in textures))
        # narrowing by name, case ignored
        self.driver.find_element(By.ID, "filter").send_keys("rOCK")
        self.until(lambda d: len(self.shown("#gallery > *")) == 41)
        self.assertTrue(all("rock" in node.get_attribute("data-name").lower() for node in self.shown("#gallery > *")))
        self.driver.find_element(By.ID, "filter").clear()
        self.driver.find_element(By.ID, "filter").send_keys(Keys.BACKSPACE)
        self.driver.find_element(By.ID, "failed-only").click()
        self.until(lambda d: len(self.shown("#gallery > *")) == 3)
        self.assertEqual({n.get_attribute("data-name") for n in self.shown("#gallery > *")},
                         {"mat/bad-cut.mat", "mat/bad-empty.mat", "mat/bad-text.mat"})
        self.driver.find_element(By.ID, "failed-only").click()
        self.until(lambda d: len(self.shown("#gallery > *")) == 127)
        # sorting
        info = {n.get_attribute("data-name"): n.find_element(By.CLASS_NAME, "info").text for n in textures}
        for key in ("size", "type", "palette", "name"):
            with self.subTest(sort=key):
                self.choose("sort", key)
                self.until(lambda d: True)
                names = self.js("return [...document.querySelectorAll('#gallery > .texture')].map((c) => c.dataset.name)")
                self.until(lambda d: d.execute_script(
                    "return [...document.querySelectorAll('#gallery > .texture')].map((c) => c.dataset.name)") == sorted(
                        names, key=lambda n: self.sort_key(key, info[n], n)))

    def test_a_gallery_of_hundreds_hands_the_browser_only_the_pictures_near_the_view(self):
        files = self.big_set()
        self.driver.set_window_size(1280, 1000)
        # blob URLs made and revoked while the set opens and converts
        self.js("""window.liveUrls = new Set();
            const [make, revoke] = [URL.createObjectURL, URL.revokeObjectURL];
            URL.createObjectURL = (blob) => { const url = make(blob); liveUrls.add(url); return url; };
            URL.revokeObjectURL = (url) => { liveUrls.delete(url); revoke(url); };""")
        self.open_folder(self.write_set(files))
        cards = self.shown("#gallery > .texture")
        near = self.js("return document.querySelectorAll('#gallery img[src]').length")
        self.assertLess(near, len(cards) // 2)
        self.assertLessEqual(self.js("return liveUrls.size"), near)
        # the last card is far below: its picture has no source and its links no Blob
        last = cards[-1]
        name = last.get_attribute("data-name")
        self.assertEqual(name, "mat/rock.mat")
        self.assertIsNone(last.find_element(By.CSS_SELECTOR, ".view img").get_attribute("src"))
        link = last.find_element(By.CSS_SELECTOR, "a.download")
        self.assertTrue(link.get_attribute("href").endswith("#"))
        # reached by the keyboard, its link has its Blob before it is followed, and saves what mat2png writes
        self.js("arguments[0].focus()", link)
        self.assertTrue(link.get_attribute("href").startswith("blob:"))
        saved, data = self.download(link)
        expected = run_native("mat2png", ["mat/rock.mat"], SET)["files"]["mat/rock.mat.png"]
        self.assertEqual((saved, png_content(data)), ("rock.mat.png", png_content(expected)))
        # shown, its picture is decoded; far again, its Blobs go
        self.until(lambda d: last.find_element(By.CSS_SELECTOR, ".view img").get_attribute("src"))
        url = link.get_attribute("href")
        self.js("window.scrollTo(0, 0)")
        self.until(lambda d: link.get_attribute("href").endswith("#"))
        self.assertNotIn(url, self.js("return [...liveUrls]"))
        self.assertLessEqual(self.js("return liveUrls.size"), near)

    @staticmethod
    def sort_key(key, info, name):
        width, height = (int(n) for n in info.split(" · ")[0].split(" × "))
        texture_type = int(re.search(r"type (\d+)", info).group(1))
        palette = "" if "embedded" in info else re.search(r"palette (\S+)", info).group(1)
        return {"size": (width * height, name), "type": (texture_type, name), "palette": (palette, name),
                "name": (name,)}[key]

    # ---- 3: complete downloads ----

    def test_zips_carry_failed_txt_the_palettes_their_mat_files_name_and_tell_rgb_from_indexed(self):
        files = {**SET, "mat/bad.mat": b"FORM"}
        folder = self.write_set(files)
        self.open_folder(folder)
        native = run_native("mat2png", ["-j", "1"], files)
        reasons = dict(line.removeprefix("mat2png: ").split(": ", 1) for line in native["stderr"].splitlines())
        for mode, name in (("rgb", "castle-png.zip"), ("indexed", "castle-indexed.zip")):
            with self.subTest(mode):
                # marked stale here: only the page's next conversion says "done" again
                self.js("document.getElementById('counts').dataset.state = 'stale'")
                self.choose("mode", mode)
                if mode == "rgb":
                    self.js("document.getElementById('mode').dispatchEvent(new Event('change'))")
                self.until(lambda d: d.find_element(By.ID, "counts").get_attribute("data-state") == "done")
                self.settled()
                got, data = self.download(self.driver.find_element(By.ID, "download-all"))
                self.assertEqual(got, name)
                archive = zipfile.ZipFile(io.BytesIO(data))
                self.assertEqual(archive.read("failed.txt").decode(), "".join(f"{k}: {v}\n" for k, v in reasons.items()))
        # new art in a palette of a subfolder of pal/, and an image that fails: the MAT zip has both and runs alone
        (self.work / "sky.png").write_bytes((SAMPLES / "sign.png").read_bytes())
        (self.work / "broken.png").write_bytes(b"\x89PNG\r\n\x1a\n broken")
        self.choose("art-palette", "pal/water/Glass.pal")
        self.driver.find_element(By.ID, "art-files").send_keys(f"{self.work / 'sky.png'}\n{self.work / 'broken.png'}")
        self.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#art-results > li")) == 2)
        self.settled()
        got, data = self.download(self.driver.find_element(By.ID, "art-download"))
        self.assertEqual(got, "castle-mat.zip")
        archive = zipfile.ZipFile(io.BytesIO(data))
        self.assertEqual(sorted(archive.namelist()), ["failed.txt", "mat/sky.mat", "pal/water/Glass.pal"])
        self.assertRegex(archive.read("failed.txt").decode(), r"^broken\.png: .+\n$")
        self.assertEqual(archive.read("pal/water/Glass.pal"), SET["pal/water/Glass.pal"])
        unpacked = self.work / "unpacked"
        archive.extractall(unpacked)
        done = subprocess.run([str(NATIVE / "mat2png")], cwd=unpacked, capture_output=True)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertTrue((unpacked / "mat" / "sky.mat.png").exists())

    # ---- 4: Files… finds palettes ----

    def test_files_finds_a_palette_of_a_subfolder_of_pal_picked_with_its_mat_file(self):
        for name, source in (("glass.mat", "mat/glass.mat"), ("Glass.pal", "pal/water/Glass.pal"),
                             ("rock.mat", "mat/rock.mat"), ("rock.pal", "pal/rock.pal")):
            (self.work / name).write_bytes(SET[source])
        self.driver.find_element(By.ID, "files").send_keys("\n".join(str(self.work / n) for n in
                                                                    ("glass.mat", "Glass.pal", "rock.mat", "rock.pal")))
        self.until(lambda d: d.find_element(By.ID, "counts").get_attribute("data-state") == "done")
        self.settled()
        cards = {n.get_attribute("data-name"): n for n in self.shown("#gallery > .texture")}
        self.assertEqual(sorted(cards), ["glass.mat", "rock.mat"])
        self.assertEqual(cards["glass.mat"].find_element(By.CLASS_NAME, "info").text,
                         "40 × 24 · type 3 · palette water\\Glass (Glass.pal)")
        _, data = self.download(self.driver.find_element(By.ID, "download-all"))
        archive = zipfile.ZipFile(io.BytesIO(data))
        native = run_native("mat2png", ["-j", "1"], SET)["files"]
        self.assertEqual(png_content(archive.read("glass.mat.png")), png_content(native["mat/glass.mat.png"]))

    # ---- 5 and 6: art before and after; what needs a set ----

    def test_art_back_in_marks_the_changed_card_counts_its_pixels_and_shows_before_and_after(self):
        indexed = run_native("mat2png", ["-j", "1", "-i", "--", "mat/hero.mat"], SET)["files"]["mat/hero.mat.png"]
        edited = Image.open(io.BytesIO(indexed))
        changed = 0
        for xy in ((x, y) for x in range(8, 20) for y in range(30, 34)):
            changed += edited.getpixel(xy) != 7
            edited.putpixel(xy, 7)
        edited.save(self.work / "hero.mat.png")
        self.driver.set_window_size(1000, 700)
        self.open_folder(SAMPLES)
        self.js("window.scrollTo(0, document.body.scrollHeight)")
        self.driver.find_element(By.ID, "art-files").send_keys(str(self.work / "hero.mat.png"))
        card = self.until(lambda d: d.find_elements(By.CSS_SELECTOR, '#gallery > .texture.changed'))[0]
        self.settled()
        self.assertEqual(card.get_attribute("data-name"), "mat/hero.mat")
        self.assertEqual(card.find_element(By.CLASS_NAME, "changes").text, f"{changed} pixels changed")
        self.until(lambda d: 0 <= card.rect["y"] - d.execute_script("return scrollY") < d.execute_script("return innerHeight"))
        card.find_element(By.CLASS_NAME, "view").click()
        self.until(lambda d: self.viewer_open())
        before = self.driver.find_element(By.CSS_SELECTOR, "#viewer .viewer-before canvas")
        self.until(lambda d: before.is_displayed())
        differ = self.js("""const [a, b] = [arguments[0], arguments[1]].map((c) => c.getContext('2d').getImageData(0, 0, 64, 64).data);
            let n = 0; for (let i = 0; i < a.length; i += 4) if (a[i] !== b[i] || a[i+1] !== b[i+1] || a[i+2] !== b[i+2]) n++; return n""",
                         before, self.driver.find_element(By.CSS_SELECTOR, "#viewer .viewer-picture canvas"))
        self.assertEqual(differ, changed)

    def test_before_a_set_is_open_what_needs_one_says_so(self):
        for select in ("art-palette", "make-from"):
            with self.subTest(select):
                menu = self.driver.find_element(By.ID, select)
                self.assertEqual(menu.text.strip(), "open a set first")
                self.assertGreaterEqual(menu.rect["width"], 100)
        (self.work / "sky.png").write_bytes((SAMPLES / "sign.png").read_bytes())
        self.driver.find_element(By.ID, "art-files").send_keys(str(self.work / "sky.png"))
        item = self.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#art-results > li"))[0]
        self.assertIn("Open a set first", item.text)
        self.assertEqual(self.driver.find_element(By.ID, "palettes").text, "Open a set to see its palettes here.")

    # ---- 7: palettes ----

    def test_palettes_show_their_colour_count_unused_entries_and_the_entry_under_the_pointer_or_focus(self):
        self.open_folder(SAMPLES)
        self.make_palette("inn", {"make-colours": "12"})
        card = self.until(lambda d: d.find_elements(By.CSS_SELECTOR, '.palette[data-name="pal/inn.pal"] .swatch canvas'))
        self.settled()
        made = run_native("matpal", ["make", "inn", "art/sign.png", "--colours=12"],
                          {**SET, "art/sign.png": (SAMPLES / "sign.png").read_bytes()})["files"]["pal/inn.pal"]
        table = made[20:20 + 768]
        colours = len({table[3 * i:3 * i + 3] for i in range(256)} - ({b"\0\0\0"} if table[-3:] == b"\0\0\0" else set()))
        card = self.driver.find_element(By.CSS_SELECTOR, '.palette[data-name="pal/inn.pal"]')
        self.assertEqual(card.find_element(By.CLASS_NAME, "colours").text, f"{colours} colours, {256 - colours} entries unused")
        # an unused entry is not drawn black
        canvas = card.find_element(By.CSS_SELECTOR, ".swatch canvas")
        last = self.js("return [...arguments[0].getContext('2d').getImageData(155, 155, 1, 1).data]", canvas)
        self.assertNotEqual(last[:3], [0, 0, 0])
        # the pointer over entry 17 (row 1, column 1), then the keyboard
        box = canvas.rect
        ActionChains(self.driver).move_to_element_with_offset(canvas, 15 - box["width"] / 2, 15 - box["height"] / 2).perform()
        told = card.find_element(By.CLASS_NAME, "entry")
        r, g, b = table[3 * 17:3 * 17 + 3]
        self.until(lambda d: told.text.startswith("entry 17: "))
        self.assertIn(f"({r}, {g}, {b})", told.text)
        # the keyboard: the swatch is in the tab order, and the arrows go on from the entry last told
        grid = card.find_element(By.CLASS_NAME, "swatch")
        self.assertEqual(grid.get_attribute("tabindex"), "0")
        self.js("arguments[0].focus()", grid)
        ActionChains(self.driver).send_keys(Keys.ARROW_RIGHT).perform()
        r, g, b = table[3 * 18:3 * 18 + 3]
        self.until(lambda d: told.text.startswith("entry 18: "))
        self.assertIn(f"({r}, {g}, {b})", told.text)
        self.assertEqual(self.js("return getComputedStyle(document.activeElement).outlineStyle"), "solid")
        # the made palette is offered with the new textures that use it
        (self.work / "sky.png").write_bytes((SAMPLES / "sign.png").read_bytes())
        self.choose("art-palette", "pal/inn.pal")
        self.driver.find_element(By.ID, "art-files").send_keys(str(self.work / "sky.png"))
        self.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#art-results > .built"))
        self.settled()
        _, data = self.download(self.driver.find_element(By.ID, "art-download"))
        archive = zipfile.ZipFile(io.BytesIO(data))
        self.assertEqual(sorted(archive.namelist()), ["mat/sky.mat", "pal/inn.pal"])
        self.assertEqual(archive.read("pal/inn.pal"), made)

    # ---- the page's words ----

    def test_the_page_speaks_to_people_and_the_log_keeps_the_command_lines_lines(self):
        files = {**SET, "mat/h\u00e9ros.mat": SET["mat/hero.mat"][:40], "mat/<b>x</b>.mat": b"FORM"}
        self.open_folder(self.write_set(files))
        self.make_palette("rock", {"make-keep": "0-3"})  # a palette the set has, not to be replaced
        self.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#make-results > li"))
        self.settled()
        page = self.js("return [...document.querySelectorAll('header, main > section, dialog')]"
                       ".filter((e) => !e.querySelector('#log')).map((e) => e.innerText).join('\\n')")
        for said in (r"--[a-z]", r"\.page-", r"Try '", r"\\x[0-9A-F]{2}", r"-i\)"):
            with self.subTest(said):
                self.assertIsNone(re.search(said, page))
        names = [n.text for n in self.shown("#gallery > .failure .name")]
        self.assertEqual(sorted(names), ["mat/<b>x</b>.mat", "mat/h\u00e9ros.mat"])
        log = self.driver.find_element(By.ID, "log").text
        native = run_native("mat2png", ["-j", "1", "--", *sorted(p for p in files if p.endswith(".mat"))], files)
        for line in native["stdout"].splitlines() + native["stderr"].splitlines():
            self.assertIn(line, log)
