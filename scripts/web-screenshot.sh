#!/usr/bin/env bash
# Writes the README's pictures of the page: web/screenshot.png (a set of textures open) and web/viewer.png (one of
# them in the viewer, tiled), in headless Chromium. The set is made here from the project's own procedural art
# (bench/make_textures.cpp): its pictures become MAT files through matpal and png2mat, as a user would make them.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >/dev/null
cmake --build build --target make_textures -j"$(nproc)" >/dev/null
bash scripts/web.sh >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/mat2png-screenshot.XXXXXX")
trap 'rm -rf "$work"' EXIT
build/bench/make_textures "$work/art" >/dev/null
set="$work/castle"
mkdir -p "$set/mat" "$set/pal"
# group PALETTE FOLDER "MATPAL OPTIONS" "PNG2MAT OPTIONS" NAME...: the pictures NAME of art/FOLDER become MAT files in
# a palette matpal fits to them
group() {
    local palette=$1 folder=$2 fit=$3 convert=$4
    shift 4
    mkdir -p "$set/in"
    for name in "$@"; do cp "$work/art/$folder/$name.png" "$set/in/"; done
    # shellcheck disable=SC2086 # the options are words
    (cd "$set" && "$OLDPWD/build/matpal" make "$palette" in/*.png $fit >/dev/null)
    # shellcheck disable=SC2086
    build/png2mat -C "$set" -q --palette="$palette" $convert -o mat -- in >/dev/null 2>&1
    rm -r "$set/in"
}
# surfaces that tile, dithered as they tile, and props
group surfaces tiling "" --dither stone1 moss2 plaster1 marble1 rust1 water1 lava2 bark1 cloud1 sand1
group props set --colours=192 --type=2 bricks wood sign foliage tiles icon
cp samples/mat/hero.mat "$set/mat/"  # an alpha plane, with its palette inside
SET="$set" /usr/bin/python3 - <<'PYTHON'
import os
import sys
sys.path.insert(0, "tests/web")
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait
from browser import start_browser

driver = start_browser()
try:
    driver.set_window_size(1200, 1400)
    wait = WebDriverWait(driver, 300, poll_frequency=0.05)
    wait.until(lambda d: d.find_element(By.ID, "status").get_attribute("class") == "ready")
    driver.find_element(By.ID, "folder").send_keys(os.environ["SET"])
    wait.until(lambda d: d.find_element(By.ID, "counts").get_attribute("data-state") == "done")
    wait.until(lambda d: d.execute_script("return document.body.dataset.busy") == "0")
    # the pictures decoded and the swatches drawn before the picture is taken
    wait.until(lambda d: d.execute_script("return [...document.images].every((i) => i.complete)"))
    driver.save_screenshot("web/screenshot.png")
    card = driver.find_element(By.CSS_SELECTOR, '#gallery > .texture[data-name="mat/stone1.mat"] .view')
    driver.execute_script("arguments[0].scrollIntoView()", card)
    card.click()
    wait.until(lambda d: d.execute_script("return document.getElementById('viewer').open"))
    driver.find_element(By.ID, "viewer-tile").click()
    wait.until(lambda d: d.execute_script("return document.querySelector('#viewer canvas').width") == 3 * 256)
    driver.execute_script("const z = document.getElementById('viewer-zoom'); z.value = '1';"
                          " z.dispatchEvent(new Event('change'))")
    driver.set_window_size(1000, 1040)
    canvas = driver.find_element(By.CSS_SELECTOR, "#viewer canvas")
    ActionChains(driver).move_to_element_with_offset(canvas, 37, -21).perform()
    wait.until(lambda d: "index" in d.find_element(By.ID, "viewer-pixel").text)
    driver.save_screenshot("web/viewer.png")
finally:
    driver.quit()
print("web/screenshot.png web/viewer.png")
PYTHON
