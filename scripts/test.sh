#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test: first the ordinary build, then a
# second one with AddressSanitizer and UndefinedBehaviorSanitizer in a folder of its own.
# KESTRO_TEST_RERUNS=0 turns off the second runs of failed tests.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${KESTRO_BUILD_DIR:-$root/build}"
asan="${KESTRO_ASAN_BUILD_DIR:-$root/build-asan}"
jobs="$(nproc)"
reruns="${KESTRO_TEST_RERUNS:-3}"

rerun_lines=()
failed_suites=()

# A test that fails while the whole suite shares the machine is run again on its own (up to
# $reruns times), and what needed that is reported at the end: a rerun is a safety net, not a pass.
run_suite() {
    local dir="$1" timeout="$2" name="$3"
    local failed_log="$dir/Testing/Temporary/LastTestsFailed.log"
    rm -f "$failed_log"
    if (cd "$dir" && ctest --output-on-failure --parallel "$jobs" --timeout "$timeout"); then
        return 0
    fi
    if [ "$reruns" -eq 0 ] || [ ! -s "$failed_log" ]; then
        failed_suites+=("$name")
        return 0
    fi
    local first
    first="$(cut -d: -f2- "$failed_log")"
    echo "Running the failed tests again, one at a time:"
    if (cd "$dir" && ctest --output-on-failure --rerun-failed --repeat "until-pass:$reruns" \
        --timeout "$timeout"); then
        while IFS= read -r test; do
            rerun_lines+=("Passed only when run again ($name): $test")
        done <<<"$first"
    else
        failed_suites+=("$name")
    fi
}

bash "$root/scripts/setup.sh" --tests

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKESTRO_BUILD_TESTS=ON -DKESTRO_BUILD_BENCH=ON
cmake --build "$build" --parallel "$jobs"
run_suite "$build" 600 "ordinary build"

# The sanitizer options are set for the build too: test discovery runs the test programs.
source "$root/scripts/sanitizer-env.sh"
cmake -S "$root" -B "$asan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRO_SANITIZE=ON \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" \
    -DKESTRO_BUILD_TESTS=ON -DKESTRO_BUILD_BENCH=OFF
cmake --build "$asan" --parallel "$jobs"
run_suite "$asan" 900 "sanitizer build"

echo
for line in "${rerun_lines[@]}"; do
    echo "$line"
done
if [ ${#failed_suites[@]} -gt 0 ]; then
    echo "Tests failed in: ${failed_suites[*]}."
    exit 1
fi
if [ ${#rerun_lines[@]} -gt 0 ]; then
    echo "Every test passed, ${#rerun_lines[@]} of them only when run again."
else
    echo "Every test passed at its first run."
fi
