#!/usr/bin/env bash
# Builds the .deb, checks its metadata, lints it, unpacks it into a scratch root,
# checks its copyright file and changelog, runs the installed program on the
# sample set and lints the installed manual page.
set -euo pipefail
cd "$(dirname "$0")/.."
fail() { echo "package-test: FAILED: $*" >&2; exit 1; }
scratch=$(mktemp -d "${TMPDIR:-/tmp}/mat2png-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# the manual page linters, and the package linter
scripts/install-deps.sh mandoc groff-base man-db lintian

# built under a strict umask: the package's modes must not depend on the builder's
deb=$(umask 077 && bash scripts/package.sh)
[ "$(wc -l <<<"$deb")" -eq 1 ] && [ -f "$deb" ] || fail "expected one package, got: $deb"
echo "package: $deb"

# metadata: computed dependencies with DevIL's runtime, section, contents
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
grep -Eq '(^|, )libdevil1c2( |,|$)' <<<"$depends" || fail "Depends does not name libdevil1c2"
[ "$(dpkg-deb -f "$deb" Section)" = graphics ] || fail "Section is not graphics"
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $NF}' | sort)
[ "$files" = $'./usr/bin/mat2png\n./usr/bin/matpal\n./usr/bin/png2mat\n./usr/share/doc/mat2png/changelog.Debian.gz\n./usr/share/doc/mat2png/copyright\n./usr/share/man/man1/mat2png.1.gz\n./usr/share/man/man1/matpal.1.gz\n./usr/share/man/man1/png2mat.1.gz' ] \
    || fail "unexpected contents: $files"
# every dependency can be satisfied here, as apt would when installing it
apt-get install --simulate "$deb" >"$scratch/apt.log" 2>&1 || { cat "$scratch/apt.log"; fail "dependencies do not resolve"; }

# lintian: not one error or warning (it says on standard error that it runs as root)
lintian --fail-on error,warning "$deb" >"$scratch/lintian" 2>"$scratch/lintian.err" && status=0 || status=$?
echo "lintian (exit $status):"; cat "$scratch/lintian"
[ "$status" -eq 0 ] && ! grep -q '^[EW]: ' "$scratch/lintian" || { cat "$scratch/lintian.err"; fail "lintian errors or warnings"; }

root="$scratch/root"
dpkg -x "$deb" "$root"

# the copyright file: machine-readable, its holder and licence text those of LICENSE
copyright="$root/usr/share/doc/mat2png/copyright"
[ "$(head -n1 "$copyright")" = 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ] \
    || fail "the copyright file is not in the machine-readable format"
holder=$(sed -n 's/^Copyright (c) //p' LICENSE)
[ -n "$holder" ] && grep -qxF "Copyright: $holder" "$copyright" || fail "the copyright file does not name '$holder'"
licence=$(awk 'p && /^ / {sub(/^ /, ""); print ($0 == "." ? "" : $0); next}
               {p = (blank && $0 == "License: Expat"); blank = ($0 == "")}' "$copyright")
expected=$(sed '1,/^Copyright (c) /d' LICENSE | sed '/./,$!d')
[ -n "$licence" ] && [ "$licence" = "$expected" ] \
    || { diff <(echo "$licence") <(echo "$expected") || true; fail "the licence text in the copyright file is not that of LICENSE"; }
# the changelog's latest entry is this version
zcat "$root/usr/share/doc/mat2png/changelog.Debian.gz" >"$scratch/changelog"
[ "$(dpkg-parsechangelog -l "$scratch/changelog" -S Version)" = "$(dpkg-deb -f "$deb" Version)" ] \
    || fail "changelog.Debian.gz does not start with the package's version"

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

# the way back: the images of files not edited give back the same MAT files, none rewritten
cp -r "$scratch/samples/mat" "$scratch/before"
(cd "$scratch/samples" && "$root/usr/bin/png2mat") >"$scratch/out" || fail "png2mat on the sample set: exit $?"
[ ! -s "$scratch/out" ] || { cat "$scratch/out"; fail "png2mat rewrote a file it should leave as it is"; }
diff -r "$scratch/before" "$scratch/samples/mat" || fail "png2mat changed the sample set"

# matpal: a palette of the sample set out as GIMP's and back in gives the same file
(cd "$scratch/samples" && "$root/usr/bin/matpal" export rock -o out.gpl && "$root/usr/bin/matpal" import out.gpl back) \
    || fail "matpal on the sample set: exit $?"
cmp "$scratch/samples/pal/rock.pal" "$scratch/samples/pal/back.pal" || fail "matpal changed the palette rock"
rm "$scratch/samples/out.gpl" "$scratch/samples/pal/back.pal"

# a bad file fails alone with exit 1; no MAT file at all gives exit 2
printf 'junk' >"$scratch/samples/mat/bad.mat"
run "$scratch/samples"
[ "$status" -eq 1 ] && grep -qx 'Could not process bad.mat' "$scratch/out" || fail "a bad file: exit $status"
mkdir "$scratch/empty"
run "$scratch/empty"
[ "$status" -eq 2 ] && [ "$(cat "$scratch/out")" = 'No *.iff files in current directory!' ] || fail "no mat/: exit $status"

# the installed manual pages: found by man, document every console line, lint clean
for name in mat2png png2mat matpal; do
    page="$scratch/$name.1"
    zcat "$root/usr/share/man/man1/$name.1.gz" >"$page"
    MANWIDTH=80 man --warnings=w -M "$root/usr/share/man" "$name" >"$scratch/$name.txt" 2>>"$scratch/lint"
    groff -ww -man -z "$page" 2>>"$scratch/lint"
    mandoc -Tlint "$page" >>"$scratch/lint" 2>&1 || true
done
for line in 'type N' 'Wrote alpha channel in mat/' 'No alpha channel in mat/' 'Could not process FILE' \
            'No *.iff files in current directory!'; do
    grep -qF "$line" "$scratch/mat2png.txt" || fail "the manual page does not show: $line"
done
for line in 'Updated mat/' 'Created mat/' 'Could not process' 'not in the palette'; do
    grep -qF "$line" "$scratch/png2mat.txt" || fail "the manual page of png2mat does not show: $line"
done
for line in 'colours read, the rest black' 'a PNG with no palette' 'not a palette file this program knows'; do
    grep -qF "$line" "$scratch/matpal.txt" || fail "the manual page of matpal does not show: $line"
done
[ ! -s "$scratch/lint" ] || { cat "$scratch/lint"; fail "manual page warnings"; }

# installing from source: a default tree (tests configured) installs the program and the plain page only
cmake -S . -B build-package-install -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-package-install --target mat2png png2mat matpal -j"${JOBS:-$(nproc)}" >/dev/null
cmake --install build-package-install --prefix "$scratch/prefix" >/dev/null || fail "cmake --install"
installed=$(cd "$scratch/prefix" && find . -type f | sort)
[ "$installed" = $'./bin/mat2png\n./bin/matpal\n./bin/png2mat\n./share/man/man1/mat2png.1\n./share/man/man1/matpal.1\n./share/man/man1/png2mat.1' ] \
    || fail "cmake --install put: $installed"

echo "package-test: all checks passed"
