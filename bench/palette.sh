#!/usr/bin/env bash
# The palette benchmark: builds in release mode, writes the picture sets (bench/make_sets.cpp), fits a
# palette to each set with matpal make and with pngquant, ImageMagick, netpbm and Pillow, and prints
# the tables of bench/README.md; the side-by-side picture goes to bench/palette.png.
# Usage: bench/palette.sh [ROUNDS] (timed runs of our fit and pngquant per set, default 5).
# BUILD names the build directory (default build-bench); work files go to BUILD/palette/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh pngquant netpbm imagemagick python3-pil fonts-dejavu-core
build=${BUILD:-build-bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target make_sets matpal bench_palette_measure >/dev/null
work=$build/palette
"$build/bench/make_sets" "$work/sets"
/usr/bin/python3 bench/palette.py "$build" "$work" "${1:-5}" bench/palette.png
