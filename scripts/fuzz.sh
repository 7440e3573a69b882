#!/usr/bin/env bash
# Builds the libFuzzer target and runs it for SECONDS (default 60) on one core,
# starting from fuzz/corpus; any finding (crash, leak, timeout) fails the script.
# Extra arguments go to libFuzzer. Findings are saved in build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
scripts/install-deps.sh clang-14 libclang-rt-14-dev
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all"
cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS="$flags" -DMAT2PNG_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-fuzz --target mat2png_fuzz -j"$(nproc)"
# the grown corpus stays in the build directory; only the seeds are kept in git
mkdir -p build-fuzz/corpus build-fuzz/findings
build-fuzz/fuzz/mat2png_fuzz -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$PWD/build-fuzz/findings/" -print_final_stats=1 "$@" build-fuzz/corpus fuzz/corpus
