#!/usr/bin/env bash
# Builds the page: the programs' core as WebAssembly (em++), the page's ES modules bundled by esbuild, and
# build-web/mat2png.html, one file that holds the page's HTML, CSS and scripts with the core inside, and works when
# opened from disk (scripts/inline-page.py).
set -euo pipefail
cd "$(dirname "$0")/.."
# Debian's emscripten (its node modules come with it) and esbuild; zlib's inflate is built from third_party/;
# nothing else is fetched
scripts/install-deps.sh emscripten esbuild
# a node from elsewhere on PATH does not search Debian's module folder, where emscripten's acorn lives
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
emcmake cmake -S . -B build-web -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build-web --target mat2png_web -j"$(nproc)"
# the page's modules and the worker's, each bundled into one script by Debian's esbuild
for entry in page:main worker:worker; do
    esbuild "web/${entry#*:}.js" --bundle --format=iife --target=es2020 --log-level=warning \
        --outfile="build-web/${entry%%:*}.bundle.js"
done
/usr/bin/python3 scripts/inline-page.py build-web web
