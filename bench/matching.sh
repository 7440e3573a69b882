#!/usr/bin/env bash
# Benchmarks png2mat's perceptual matching against --match=rgb and its dithering against ImageMagick's.
# Usage: bench/matching.sh [RUNS] (default 5, a few minutes on 2 cores). Builds in build-bench/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh imagemagick
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" --target png2mat >/dev/null
/usr/bin/python3 bench/matching.py build-bench "${1:-5}"
