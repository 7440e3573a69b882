#!/usr/bin/env bash
# The quality benchmark: builds in release mode, writes the textures (and a set that tiles), photograph and palettes
# (bench/make_textures.cpp), maps them with png2mat, ImageMagick and netpbm, and prints the
# tables of bench/README.md; the side-by-side picture goes to bench/quality.png.
# Usage: bench/quality.sh [ROUNDS] (rounds of the speed measure, default 5). Work files go to build-bench/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh imagemagick netpbm fonts-dejavu-core
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" --target png2mat mat2png make_textures bench_quality >/dev/null
work=build-bench/quality
[ -f "$work/tiling.png" ] || build-bench/bench/make_textures "$work"
/usr/bin/python3 bench/quality.py build-bench "$work" "${1:-5}" bench/quality.png
