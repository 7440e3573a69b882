#!/usr/bin/env bash
# Builds the Debian package from this tree (Release, no tests) and prints its path.
# Usage: bash scripts/package.sh   (JOBS=N limits the parallel build; default: all cores)
set -euo pipefail
cd "$(dirname "$0")/.."
# dpkg-dev brings dpkg-shlibdeps, which CPack runs through `file` to compute Depends
packages=(g++ make cmake pkg-config libdevil-dev dpkg-dev file gzip)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "Installing: ${missing[*]}" >&2
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi
build=build-package
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >&2
cmake --build "$build" -j"${JOBS:-$(nproc)}" >&2
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >&2)
ls "$PWD/$build"/*.deb
