#!/usr/bin/env bash
# Builds the Windows programs and the native ones of the same commit, then runs the .exe files under
# Debian's Wine, headless, against the native programs (tests/windows/test_windows.py).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh python3-pil python3-selenium
scripts/windows.sh
scripts/build.sh
# no Mono or Gecko: their installers would wait for a click that never comes
export WINEPREFIX="$PWD/build-windows/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine makes its prefix on the first start (no display needed for console programs); one server
# serves every run of the tests and is stopped at the end
wine cmd /c exit >/dev/null 2>&1 || true
wineserver -p || true  # one already running serves as well
trap 'wineserver -k || true' EXIT
cd tests/windows
/usr/bin/python3 -m unittest -v test_windows
