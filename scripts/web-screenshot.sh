#!/usr/bin/env bash
# Writes web/screenshot.png, the README's picture of the page: headless Chromium with the sample set open.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/web.sh >/dev/null
/usr/bin/python3 - <<'PYTHON'
import sys
sys.path.insert(0, "tests/web")
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait
from browser import ROOT, start_browser

driver = start_browser()
try:
    driver.set_window_size(1100, 1500)
    wait = WebDriverWait(driver, 120, poll_frequency=0.05)
    wait.until(lambda d: d.find_element(By.ID, "status").get_attribute("class") == "ready")
    driver.find_element(By.ID, "folder").send_keys(str(ROOT / "samples"))
    wait.until(lambda d: d.find_element(By.ID, "counts").get_attribute("data-state") == "done")
    wait.until(lambda d: d.execute_script("return document.body.dataset.busy") == "0")
    # the images decoded and the swatches shown before the picture is taken
    wait.until(lambda d: d.execute_script("return [...document.images].every((i) => i.complete)"))
    driver.save_screenshot("web/screenshot.png")
finally:
    driver.quit()
print("web/screenshot.png")
PYTHON
