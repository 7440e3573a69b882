#!/usr/bin/env bash
# Cross-compiles the three programs for Windows (x86-64) with Debian's MinGW-w64 into build-windows/:
# mat2png.exe, png2mat.exe and matpal.exe, each standing alone, and the zip that ships them with the
# README, LICENSE and the manual pages as text.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh g++-mingw-w64-x86-64-posix wine zip groff-base
cmake -S . -B build-windows -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_C_COMPILER=x86_64-w64-mingw32-gcc-posix -DCMAKE_CXX_COMPILER=x86_64-w64-mingw32-g++-posix \
    -DCMAKE_RC_COMPILER=x86_64-w64-mingw32-windres >/dev/null
cmake --build build-windows -j"$(nproc)" --target mat2png png2mat matpal

version=$(sed -n 's/^project(mat2png VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
stage=build-windows/mat2png-$version-windows-x86_64
rm -rf "$stage" "$stage.zip"
mkdir -p "$stage"
cp build-windows/mat2png.exe build-windows/png2mat.exe build-windows/matpal.exe LICENSE README.md "$stage/"
# the manual pages as plain text, lines ending as Windows' own editors expect
for page in man/*.1; do
    name=$(basename "$page" .1)
    MANWIDTH=80 GROFF_NO_SGR=1 groff -man -Tutf8 -P-cbou "$page" | sed 's/$/\r/' >"$stage/$name.txt"
done
(cd build-windows && zip -qr "$(basename "$stage").zip" "$(basename "$stage")")
echo "$stage.zip"
