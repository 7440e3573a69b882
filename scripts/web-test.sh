#!/usr/bin/env bash
# Tests the page's pure modules with Node's own runner (tests/web/node), builds the page and the native programs,
# then drives the page in headless Chromium from file:// (tests/web/test_*.py): its core against the native
# programs, and its interface.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh chromium chromium-driver python3-selenium python3-pil nodejs esbuild
# npm from Debian where the machine has none (a node that brings its own npm stays as it is)
command -v npm >/dev/null || scripts/install-deps.sh npm
# Debian's node, whatever else is first on PATH
/usr/bin/node --test tests/web/node/*.test.mjs
scripts/build.sh
scripts/web.sh
cd tests/web
# axe-core, the accessibility checker the tests inject into the page, as package-lock.json pins it
npm ci --no-audit --no-fund --loglevel=error
/usr/bin/python3 -m unittest discover -v -s . -p 'test_*.py'
