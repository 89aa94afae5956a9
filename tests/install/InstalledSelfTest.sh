#!/usr/bin/env bash
# `cmake --install` into a temporary DESTDIR under an unusual prefix: the tree holds what a desktop
# needs, and the installed program's self-test passes against a temporary data folder.
# Usage: InstalledSelfTest.sh <build folder> <self-test report>
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/InstallChecks.sh"
build="$1"
golden="$2"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
prefix=/opt/kestro-install-test
DESTDIR="$work/stage" cmake --install "$build" --prefix "$prefix" >"$work/install.log" ||
    fail "cmake --install failed: $(cat "$work/install.log")"
# Nothing may land outside the prefix.
[ "$(ls -A "$work/stage")" = opt ] || fail "files outside the prefix: $(ls -A "$work/stage")"

check_tree "$work/stage$prefix"
run_selftest "$work/stage$prefix/bin/kestro" "$work/run" "$golden"
echo "installed tree and self-test: ok"
