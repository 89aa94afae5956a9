#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test: first the ordinary build, then a
# second one with AddressSanitizer and UndefinedBehaviorSanitizer in a folder of its own.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${KESTRO_BUILD_DIR:-$root/build}"
asan="${KESTRO_ASAN_BUILD_DIR:-$root/build-asan}"
jobs="$(nproc)"

bash "$root/scripts/setup.sh"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --parallel "$jobs"
(cd "$build" && ctest --output-on-failure --parallel "$jobs" --timeout 600)

# The sanitizer options are set for the build too: test discovery runs the test programs.
source "$root/scripts/sanitizer-env.sh"
cmake -S "$root" -B "$asan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRO_SANITIZE=ON \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" \
    -DKESTRO_BUILD_BENCH=OFF
cmake --build "$asan" --parallel "$jobs"
(cd "$asan" && ctest --output-on-failure --parallel "$jobs" --timeout 900)
