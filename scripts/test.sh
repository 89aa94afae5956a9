#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test: first the ordinary build, then a
# second one with AddressSanitizer and UndefinedBehaviorSanitizer in a folder of its own.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${KESTRO_BUILD_DIR:-$root/build}"
asan="${KESTRO_ASAN_BUILD_DIR:-$root/build-asan}"
jobs="$(nproc)"

# A desktop test that fails while the whole suite shares the machine is run again on its own (up
# to three times);
# the first failure stays in the log above the second run.
run_suite() {
    (cd "$1" && ctest --output-on-failure --parallel "$jobs" --timeout "$2") ||
        (cd "$1" && echo "Running the failed tests again, one at a time:" &&
            ctest --output-on-failure --rerun-failed --repeat until-pass:3 --timeout "$2")
}

bash "$root/scripts/setup.sh"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --parallel "$jobs"
run_suite "$build" 600

# The sanitizer options are set for the build too: test discovery runs the test programs.
source "$root/scripts/sanitizer-env.sh"
cmake -S "$root" -B "$asan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRO_SANITIZE=ON \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" \
    -DKESTRO_BUILD_BENCH=OFF
cmake --build "$asan" --parallel "$jobs"
run_suite "$asan" 900
