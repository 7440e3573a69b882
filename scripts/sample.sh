#!/usr/bin/env bash
# Builds mat2png and converts the sample set in a scratch copy, leaving the tree clean.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
program="$PWD/build/mat2png"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/mat2png-sample.XXXXXX")
cp -r samples/mat samples/pal "$scratch"/
echo
echo "Running mat2png in $scratch:"
(cd "$scratch" && "$program")
echo
echo "The PNG files are beside the MAT files, in $scratch/mat:"
ls -l "$scratch"/mat/*.png
