#!/usr/bin/env bash
# Builds in release mode, generates the workloads and benchmarks mat2png, on one core and on all,
# against the libpng floor and the Pillow peer, each also on one core and on all, and --indexed on
# one core against the indexed floor; mat2png's worker on one CPU against -j 1 (tiny); png2mat
# against its floor; update runs (-u) on 100,000 tiny files against listing and taking the status
# of the files.
# Usage: bench/run.sh [RUNS [WORKLOAD...]] (default: 7 rounds of tiny, typical and large, about a
# quarter of an hour on 2 cores). Work files go to build-bench/. The colour mapping against ImageMagick
# and netpbm is measured by bench/quality.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh python3-pil eatmydata
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" --target mat2png make_corpus bench_floor bench_peak >/dev/null
corpus=build-bench/corpus
[ -d "$corpus/alpha" ] || build-bench/bench/make_corpus "$corpus"
/usr/bin/python3 bench/bench.py build-bench "$corpus" "${1:-7}" "${@:2}"
/usr/bin/python3 bench/isolation.py build-bench "$corpus" "${1:-7}"
cmake --build build-bench -j"$(nproc)" --target png2mat png2mat_floor >/dev/null
/usr/bin/python3 bench/png2mat.py build-bench "$corpus" "${1:-7}"
cmake --build build-bench -j"$(nproc)" --target update_floor >/dev/null
/usr/bin/python3 bench/update.py build-bench "$corpus" "${1:-7}"
