#!/usr/bin/env bash
# Builds mat2png and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
cd build
ctest --output-on-failure -j"$(nproc)"
