"""The page for everyone: axe-core (installed by scripts/web-test.sh with npm ci) checks it with a set open that
holds a failure, art brought back and palettes shown; and the page on a phone-sized screen."""
import shutil
import tempfile
import unittest
from pathlib import Path

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

from browser import PAGE, ROOT, start_browser

SAMPLES = ROOT / "samples"
AXE = Path(__file__).resolve().parent / "node_modules" / "axe-core" / "axe.min.js"
WAIT = 120


class AccessTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = Path(tempfile.mkdtemp(prefix="page-access-"))
        # the sample set with a damaged texture, and an edited copy of a texture to bring back
        cls.set = cls.scratch / "castle"
        shutil.copytree(SAMPLES / "mat", cls.set / "mat")
        shutil.copytree(SAMPLES / "pal", cls.set / "pal")
        (cls.set / "mat" / "broken.mat").write_bytes(b"FORM\x00\x00\x00\x04BITM")
        shutil.copy(SAMPLES / "sign.png", cls.scratch / "sky.png")
        cls.driver = start_browser()

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def until(self, condition):
        return WebDriverWait(self.driver, WAIT, poll_frequency=0.05).until(condition)

    def open_everything(self):
        """The page with a set open (one texture failed), art brought back and the palettes drawn."""
        self.driver.get(PAGE.as_uri())
        self.until(lambda d: d.find_element(By.ID, "status").get_attribute("class") == "ready")
        self.driver.find_element(By.ID, "folder").send_keys(str(self.set))
        self.until(lambda d: d.find_element(By.ID, "counts").get_attribute("data-state") == "done")
        self.driver.find_element(By.ID, "art-files").send_keys(str(self.scratch / "sky.png"))
        self.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#art-results > li"))
        self.until(lambda d: d.execute_script("return document.body.dataset.busy") == "0")

    def violations(self):
        self.driver.execute_script(AXE.read_text())
        found = self.driver.execute_async_script(
            "axe.run(document, {resultTypes: ['violations'], runOnly: {type: 'tag', values: ['wcag2a', 'wcag2aa',"
            " 'wcag21a', 'wcag21aa', 'wcag22aa', 'best-practice']}}).then((r) => arguments[0](r.violations.map((v) =>"
            " [v.id, v.help, v.nodes.slice(0, 5).map((n) => n.target.join(' ') + ': ' + n.failureSummary)])),"
            " (e) => arguments[0]([['axe', String(e), []]]))")
        return {rule: (help, nodes) for rule, help, nodes in found}

    def test_axe_finds_nothing_with_a_set_a_failure_art_and_palettes_shown(self):
        self.addCleanup(self.driver.execute_cdp_cmd, "Emulation.clearDeviceMetricsOverride", {})
        for width, height in ((1280, 900), (390, 844)):
            with self.subTest(f"{width}x{height}"):
                self.phone(width, height)
                self.open_everything()
                self.assertEqual(self.driver.execute_script("return document.querySelectorAll('#gallery > .failure').length"), 1)
                self.assertTrue(self.driver.find_elements(By.CSS_SELECTOR, "#art-results > li"))
                self.assertTrue(self.driver.find_elements(By.CSS_SELECTOR, ".palette canvas, .palette img"))
                self.assertEqual(self.violations(), {})
                # and with the viewer open over it
                self.driver.find_element(By.CSS_SELECTOR, "#gallery > .texture .view").send_keys(Keys.ENTER)
                self.until(lambda d: d.execute_script("return document.getElementById('viewer').open"))
                self.assertEqual(self.violations(), {})

    def test_the_keyboard_reaches_every_control_with_its_focus_shown(self):
        self.open_everything()
        self.driver.execute_script("document.activeElement.blur(); window.scrollTo(0, 0)")
        controls = self.driver.execute_script("""
            window.reached = new Set(); window.unmarked = [];
            addEventListener('focusin', (e) => {
              reached.add(e.target);
              const style = getComputedStyle(e.target), label = e.target.closest('label.button');
              const shown = style.outlineStyle !== 'none' && parseFloat(style.outlineWidth) >= 2
                || (label && getComputedStyle(label).outlineStyle !== 'none');
              if (!shown) unmarked.push(e.target.id || e.target.className || e.target.tagName);
            });
            return [...document.querySelectorAll('button:not(:disabled), select:not(:disabled), input:not(:disabled),'
              + ' a[href], [tabindex="0"]')].filter((e) => e.getClientRects().length && !e.closest('dialog')).length""")
        self.assertGreater(controls, 30)
        for _ in range(controls + 5):
            ActionChains(self.driver).send_keys(Keys.TAB).perform()
        missed = self.driver.execute_script("""
            return [...document.querySelectorAll('button:not(:disabled), select:not(:disabled), input:not(:disabled),'
              + ' a[href], [tabindex="0"]')].filter((e) => e.getClientRects().length && !e.closest('dialog'))
              .filter((e) => !reached.has(e)).map((e) => e.id || e.className || e.textContent)""")
        self.assertEqual(missed, [])
        self.assertEqual(self.driver.execute_script("return unmarked"), [])

    def phone(self, width, height):
        self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": height, "deviceScaleFactor": 1, "mobile": width < 600})

    def test_a_phone_uses_it_all_without_sideways_scrolling_and_the_viewer_fits(self):
        self.phone(390, 844)
        try:
            self.open_everything()
            overflow = "return document.documentElement.scrollWidth - document.documentElement.clientWidth"
            self.assertLessEqual(self.driver.execute_script(overflow), 0)
            # every control can be reached and is large enough for a finger
            small = self.driver.execute_script("""
                return [...document.querySelectorAll('button, select, input:not([type=file]), a[href], label.button')]
                  .filter((e) => e.getClientRects().length && !e.closest('dialog:not([open])'))
                  .map((e) => [e.id || e.className || e.textContent, e.getBoundingClientRect()])
                  .filter(([, r]) => r.width < 24 || r.height < 24 || r.right > innerWidth + 0.5)
                  .map(([name, r]) => `${name}: ${r.width}x${r.height} at ${r.left}`)""")
            self.assertEqual(small, [])
            self.driver.find_element(By.CSS_SELECTOR, "#gallery > .texture .view").click()
            self.until(lambda d: d.execute_script("return document.getElementById('viewer').open"))
            for zoom in ("fit", "16"):
                with self.subTest(zoom=zoom):
                    self.driver.execute_script(
                        "const z = document.getElementById('viewer-zoom'); z.value = arguments[0];"
                        "z.dispatchEvent(new Event('change'))", zoom)
                    box = self.driver.execute_script(
                        "const r = document.getElementById('viewer').getBoundingClientRect();"
                        "return [r.left, r.top, r.right, r.bottom, innerWidth, innerHeight,"
                        " document.documentElement.scrollWidth - document.documentElement.clientWidth]")
                    left, top, right, bottom, width, height, sideways = box
                    self.assertGreaterEqual(left, 0)
                    self.assertGreaterEqual(top, 0)
                    self.assertLessEqual(right, width)
                    self.assertLessEqual(bottom, height)
                    self.assertLessEqual(sideways, 0)
            # the close button is on the screen
            close = self.driver.find_element(By.ID, "viewer-close").rect
            self.assertLessEqual(close["x"] + close["width"], 390)
            self.driver.find_element(By.ID, "viewer-close").click()
            self.assertFalse(self.driver.execute_script("return document.getElementById('viewer').open"))
        finally:
            self.driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})


if __name__ == "__main__":
    unittest.main()
