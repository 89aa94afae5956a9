#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number of seconds
# (default 300). Crashing inputs land in fuzz/artifacts/; copy them into tests/data/fuzz/<target>/
# so the regression suite keeps them.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-300}"
build="$root/fuzz/build"

bash "$root/scripts/setup.sh" --fuzz
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" \
    -DKESTRO_BUILD_TESTS=OFF -DKESTRO_BUILD_BENCH=OFF -DKESTRO_BUILD_PLATFORM_LINUX=OFF \
    -DKESTRO_BUILD_FUZZ=ON -DKESTRO_WARNINGS_AS_ERRORS=OFF
cmake --build "$build" --parallel "$(nproc)"

mkdir -p "$root/fuzz/artifacts"
status=0
for target in FuzzRecording FuzzExecutionPlan FuzzSkillMarkdown; do
    corpus="$root/fuzz/corpus-$target"
    mkdir -p "$corpus"
    seeds="$root/tests/data/fuzz/$target"
    echo "== $target for ${seconds}s"
    "$build/fuzz/$target" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
        -artifact_prefix="$root/fuzz/artifacts/$target-" "$corpus" ${seeds:+$([ -d "$seeds" ] && echo "$seeds")} \
        || status=1
done
exit $status
