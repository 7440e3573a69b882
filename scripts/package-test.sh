#!/usr/bin/env bash
# Builds the .deb, checks its metadata, unpacks it into a scratch root, runs the
# installed program on the sample set and lints the installed manual page.
set -euo pipefail
cd "$(dirname "$0")/.."
fail() { echo "package-test: FAILED: $*" >&2; exit 1; }
scratch=$(mktemp -d "${TMPDIR:-/tmp}/mat2png-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# the manual page linters, and GTest for configuring a default source tree
scripts/install-deps.sh mandoc groff-base man-db

deb=$(bash scripts/package.sh)
[ "$(wc -l <<<"$deb")" -eq 1 ] && [ -f "$deb" ] || fail "expected one package, got: $deb"
echo "package: $deb"

# metadata: computed dependencies with DevIL's runtime, section, contents
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
grep -Eq '(^|, )libdevil1c2( |,|$)' <<<"$depends" || fail "Depends does not name libdevil1c2"
[ "$(dpkg-deb -f "$deb" Section)" = graphics ] || fail "Section is not graphics"
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $NF}' | sort)
[ "$files" = $'./usr/bin/mat2png\n./usr/share/man/man1/mat2png.1.gz' ] || fail "unexpected contents: $files"
# every dependency can be satisfied here, as apt would when installing it
apt-get install --simulate "$deb" >"$scratch/apt.log" 2>&1 || { cat "$scratch/apt.log"; fail "dependencies do not resolve"; }

root="$scratch/root"
dpkg -x "$deb" "$root"
program="$root/usr/bin/mat2png"
file -b "$program" | grep -q ', stripped' || fail "the program is not stripped"
! ldd "$program" | grep 'not found' || fail "a shared library is missing"

# the installed program on the sample set: one pair of lines per file, exit 0
run() { (cd "$1" && "$program") >"$scratch/out" && status=0 || status=$?; }
mkdir "$scratch/samples"
cp -r samples/mat samples/pal "$scratch/samples/"
run "$scratch/samples"
[ "$status" -eq 0 ] || fail "exit status $status on the sample set"
expected=$'type 1\tWrote alpha channel in mat/hero.mat_alpha.png
type 2\tNo alpha channel in mat/rock.mat
type 3\tWrote alpha channel in mat/glass.mat_alpha.png'
[ "$(paste - - <"$scratch/out" | LC_ALL=C sort)" = "$expected" ] || { cat "$scratch/out"; fail "console lines on the sample set"; }
for png in "hero.mat.png:64 x 64, 8-bit/color RGBA" "hero.mat_alpha.png:64 x 64, 8-bit grayscale" \
           "rock.mat.png:33 x 17, 8-bit/color RGB," "glass.mat.png:40 x 24, 8-bit/color RGBA" \
           "glass.mat_alpha.png:40 x 24, 8-bit grayscale"; do
    file -b "$scratch/samples/mat/${png%%:*}" | grep -qF "PNG image data, ${png#*:}" || fail "mat/${png%%:*} is not a ${png#*:} PNG"
done
[ "$(ls -A "$scratch/samples/mat" | wc -l)" -eq 9 ] || fail "other files than 4 MAT files and 5 PNG images in mat/"

# a bad file fails alone with exit 1; no MAT file at all gives exit 2
printf 'junk' >"$scratch/samples/mat/bad.mat"
run "$scratch/samples"
[ "$status" -eq 1 ] && grep -qx 'Could not process bad.mat' "$scratch/out" || fail "a bad file: exit $status"
mkdir "$scratch/empty"
run "$scratch/empty"
[ "$status" -eq 2 ] && [ "$(cat "$scratch/out")" = 'No *.iff files in current directory!' ] || fail "no mat/: exit $status"

# the installed manual page: found by man, documents every console line, lints clean
page="$scratch/mat2png.1"
zcat "$root/usr/share/man/man1/mat2png.1.gz" >"$page"
MANWIDTH=80 man --warnings=w -M "$root/usr/share/man" mat2png >"$scratch/man.txt" 2>"$scratch/lint"
for line in 'type N' 'Wrote alpha channel in mat/' 'No alpha channel in mat/' 'Could not process FILE' \
            'No *.iff files in current directory!'; do
    grep -qF "$line" "$scratch/man.txt" || fail "the manual page does not show: $line"
done
groff -ww -man -z "$page" 2>>"$scratch/lint"
mandoc -Tlint "$page" >>"$scratch/lint" 2>&1 || true
[ ! -s "$scratch/lint" ] || { cat "$scratch/lint"; fail "manual page warnings"; }

# installing from source: a default tree (tests configured) installs the program and the plain page only
cmake -S . -B build-package-install -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-package-install --target mat2png -j"${JOBS:-$(nproc)}" >/dev/null
cmake --install build-package-install --prefix "$scratch/prefix" >/dev/null || fail "cmake --install"
installed=$(cd "$scratch/prefix" && find . -type f | sort)
[ "$installed" = $'./bin/mat2png\n./share/man/man1/mat2png.1' ] || fail "cmake --install put: $installed"

echo "package-test: all checks passed"
