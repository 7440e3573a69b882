#!/usr/bin/env bash
# Shows that the colour code decides the same bytes in WebAssembly as on x86-64 Linux: builds
# bench/colour_probe.cpp with g++ (CMake, Release) and with Debian's em++ (run by node), runs both on
# generated pictures and on each picture set of the palette and quality benchmarks, and compares their
# lines (fitted palettes, and hashes of perceptual and dithered indices). Exits 1 on any difference.
# BUILD names the native build directory (default build-bench); work files go to BUILD/probe/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh emscripten nodejs node-acorn python3-pil
build=${BUILD:-build-bench}
work=$build/probe
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target colour_probe make_sets make_textures >/dev/null
mkdir -p "$work"
[ -d "$work/sets" ] || "$build/bench/make_sets" "$work/sets"
[ -d "$work/textures" ] || "$build/bench/make_textures" "$work/textures" >/dev/null
# the pictures as binary PPM, which the probe reads without a PNG library
/usr/bin/python3 - "$work" <<'PY'
import glob, os, sys
from PIL import Image
work = sys.argv[1]
for png in glob.glob(f"{work}/sets/*/*.png") + glob.glob(f"{work}/textures/set/*.png"):
    ppm = os.path.join(work, "ppm", os.path.basename(os.path.dirname(png)), os.path.basename(png)[:-4] + ".ppm")
    os.makedirs(os.path.dirname(ppm), exist_ok=True)
    Image.open(png).convert("RGB").save(ppm)
PY
# the colour library as CMake builds it for WebAssembly: its sources (threads run inline) and its options
# shellcheck disable=SC2046
NODE_PATH=/usr/share/nodejs em++ -std=c++20 -O2 -fexceptions -Isrc $(cat src/colour/compile-options.txt) $(ls src/colour/*.cpp | grep -v "/Parallel.cpp$") \
    bench/colour_probe.cpp -sNODERAWFS=1 -sALLOW_MEMORY_GROWTH=1 -o "$work/colour_probe.js"
status=0
for set in "$work"/ppm/*; do
    name=$(basename "$set")
    "$build/bench/colour_probe" "$set"/*.ppm >"$work/$name.native"
    # node's own fetch cannot load the module's file: emscripten reads it from disk when fetch is off
    node --no-experimental-fetch "$work/colour_probe.js" "$set"/*.ppm >"$work/$name.wasm"
    if cmp -s "$work/$name.native" "$work/$name.wasm"; then
        echo "$name: the same $(wc -l <"$work/$name.native") lines ($(sed -n 's/^colours //p' "$work/$name.native") colours)"
    else
        echo "$name: DIFFERENT"; diff "$work/$name.native" "$work/$name.wasm" | cut -c1-120 | head -20; status=1
    fi
done
exit $status
