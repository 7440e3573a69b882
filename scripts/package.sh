#!/usr/bin/env bash
# Builds the Debian package from this tree (Release, no tests) and prints its path.
# Usage: bash scripts/package.sh   (JOBS=N limits the parallel build; default: all cores)
set -euo pipefail
cd "$(dirname "$0")/.."
# dpkg-dev brings dpkg-shlibdeps, which CPack runs through `file` to compute Depends
scripts/install-deps.sh dpkg-dev file gzip >&2
build=build-package
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >&2
cmake --build "$build" -j"${JOBS:-$(nproc)}" >&2
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >&2)
ls "$PWD/$build"/*.deb
