#!/usr/bin/env bash
# Builds in release mode and measures mat2png with operands (each file named, or the folder)
# against the set run on the typical workload, with -j 1 and the default jobs.
# Usage: bench/operands.sh [RUNS] (default 7 rounds, about four minutes on 2 cores). Work files go to build-bench/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench -j2 --target mat2png make_corpus >/dev/null
corpus=build-bench/corpus
[ -d "$corpus/typical" ] || build-bench/bench/make_corpus "$corpus"
/usr/bin/python3 bench/operands.py build-bench "$corpus" "${1:-7}"
