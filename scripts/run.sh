#!/usr/bin/env bash
# Sets up the machine, builds Kestro and starts it in the user's X11 session.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${KESTRO_BUILD_DIR:-$root/build}"

if [ -z "${DISPLAY:-}" ]; then
    echo "Kestro needs an X11 session: DISPLAY is not set (start it from a desktop on X11 or XWayland)." >&2
    exit 1
fi

bash "$root/scripts/setup.sh"
# The tests and benchmarks are the test command's; their libraries need not be here.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKESTRO_BUILD_TESTS=OFF -DKESTRO_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target kestro
exec "$build/Kestro/kestro" "$@"
