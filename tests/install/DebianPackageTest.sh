#!/usr/bin/env bash
# Builds the Debian package with cpack into a temporary folder and checks its control fields and
# contents, then runs the packaged program's self-test from the unpacked tree.
# Usage: DebianPackageTest.sh <build folder> <version> <self-test report>
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/InstallChecks.sh"
build="$1"
version="$2"
golden="$3"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
    fail "cpack failed: $(cat "$work/cpack.log")"
shopt -s nullglob
debs=("$work/out"/kestro_*.deb)
[ ${#debs[@]} -eq 1 ] || fail "expected one kestro_*.deb, found: ${debs[*]:-none}"
deb="${debs[0]}"
arch="$(dpkg --print-architecture)"
[ "$(basename "$deb")" = "kestro_${version}_${arch}.deb" ] || fail "unexpected file name $(basename "$deb")"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = kestro ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', the project's is $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)'"
maintainer_form='^[^<]+ <[^@>]+@[^>]+>$'
[[ "$(field Maintainer)" =~ $maintainer_form ]] || fail "Maintainer is '$(field Maintainer)'"
[ -n "$(field Description)" ] || fail "no Description"
# The libraries come from dpkg-shlibdeps, each with a version floor; the platform plugin is ours.
depends="$(field Depends)"
has_dependency() { # name, and a version floor when $2 is "versioned"
    echo "$depends" | sed 's/, /\n/g' | awk -v name="$1" -v versioned="$2" '
        (versioned && index($0, name " (>= ") == 1) || (!versioned && $0 == name) { found = 1 }
        END { exit !found }'
}
for library in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6svg6 libqt6dbus6 \
    libcurl4 libatspi2.0-0 libx11-6 libpng16-16 libjpeg62-turbo; do
    has_dependency "$library" versioned || fail "Depends lacks a versioned $library: $depends"
done
has_dependency qt6-qpa-plugins "" || fail "Depends lacks qt6-qpa-plugins: $depends"

# Every entry belongs to root and lies under /usr.
listing="$(dpkg-deb -c "$deb")"
bad="$(echo "$listing" | awk '$2 != "root/root"')"
[ -z "$bad" ] || fail "entries not owned by root: $bad"
bad="$(echo "$listing" | awk '{print $6}' | grep -v -e '^\./$' -e '^\./usr/' || true)"
[ -z "$bad" ] || fail "entries outside /usr: $bad"

dpkg-deb -x "$deb" "$work/root"
check_tree "$work/root/usr"
file -b "$work/root/usr/bin/kestro" | grep -q ', stripped' || fail "the packaged program is not stripped"
run_selftest "$work/root/usr/bin/kestro" "$work/run" "$golden"
echo "package $(basename "$deb"): ok"
