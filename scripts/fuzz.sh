#!/usr/bin/env bash
# Builds the libFuzzer targets and runs them for SECONDS in all (default 60, a quarter
# each) on one core: mat2png's from fuzz/corpus, png2mat's from fuzz/corpus-png2mat,
# the palette importers' from fuzz/corpus-palette, the two PNG readers' (which must
# agree) from fuzz/corpus-png; any finding (crash, leak, timeout, a forged size
# making a reader use more than 2 GB) fails the script.
# Extra arguments go to libFuzzer. Findings are saved in build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
scripts/install-deps.sh clang-14 libclang-rt-14-dev
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all"
cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS="$flags" -DMAT2PNG_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-fuzz --target mat2png_fuzz png2mat_fuzz palette_fuzz png_fuzz -j"$(nproc)"
# the grown corpora stay in the build directory; only the seeds are kept in git
mkdir -p build-fuzz/corpus build-fuzz/corpus-png2mat build-fuzz/corpus-palette build-fuzz/corpus-png build-fuzz/findings
for target in mat2png png2mat palette png; do
    seeds=fuzz/corpus grown=build-fuzz/corpus
    [ "$target" = png2mat ] && seeds=fuzz/corpus-png2mat grown=build-fuzz/corpus-png2mat
    [ "$target" = palette ] && seeds=fuzz/corpus-palette grown=build-fuzz/corpus-palette
    [ "$target" = png ] && seeds=fuzz/corpus-png grown=build-fuzz/corpus-png
    build-fuzz/fuzz/${target}_fuzz -max_total_time="$((seconds / 4))" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$PWD/build-fuzz/findings/" -print_final_stats=1 "$@" "$grown" "$seeds"
done
