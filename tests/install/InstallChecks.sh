# Checks shared by the install and package tests; sourced, not run.

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Width and height of a PNG file, from its header.
png_size() {
    local magic
    magic="$(od -An -tx1 -N8 "$1" | tr -d ' \n')"
    [ "$magic" = 89504e470d0a1a0a ] || return 1
    od -An -tu4 --endian=big -j16 -N8 "$1" | awk '{print $1 "x" $2}'
}

# The tree under an installation prefix holds exactly the program, its resource bundle where the
# program looks for it (../share/kestro beside bin/), the desktop entry and the icons.
check_tree() {
    local root="$1" sizes="16 22 24 32 48 64 128 256 512" expected actual size name got
    expected="bin/kestro
share/applications/kestro.desktop
share/icons/hicolor/scalable/apps/kestro.svg"
    for name in kestro-icon kestro-mark kestro-icon-bg kestro-appicon; do
        expected+=$'\n'"share/kestro/Kestro_Kestro.bundle/$name.png"
    done
    for size in $sizes; do
        expected+=$'\n'"share/icons/hicolor/${size}x${size}/apps/kestro.png"
    done
    actual="$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)"
    expected="$(echo "$expected" | LC_ALL=C sort)"
    [ "$actual" = "$expected" ] ||
        fail "installed files differ from the expected set:"$'\n'"$(diff <(echo "$expected") <(echo "$actual"))"

    [ -x "$root/bin/kestro" ] || fail "bin/kestro is not executable"
    for name in kestro-icon kestro-mark kestro-icon-bg kestro-appicon; do
        got="$(png_size "$root/share/kestro/Kestro_Kestro.bundle/$name.png")" ||
            fail "$name.png in the bundle is not a PNG"
        [ "${got%x*}" = "${got#*x}" ] || fail "$name.png is not square: $got"
    done
    for size in $sizes; do
        got="$(png_size "$root/share/icons/hicolor/${size}x${size}/apps/kestro.png")" ||
            fail "the ${size}x${size} icon is not a PNG"
        [ "$got" = "${size}x${size}" ] || fail "the ${size}x${size} icon is $got"
    done
    grep -q '<svg' "$root/share/icons/hicolor/scalable/apps/kestro.svg" ||
        fail "the scalable icon is not an SVG drawing"

    local desktop="$root/share/applications/kestro.desktop"
    desktop-file-validate "$desktop" || fail "desktop-file-validate rejects kestro.desktop"
    grep -qx 'Exec=kestro' "$desktop" || fail "the desktop entry does not start kestro"
    grep -qx 'Icon=kestro' "$desktop" || fail "the desktop entry does not name the kestro icon"
}

# Runs `program --selftest` without a display, with HOME and the XDG folders inside `work`;
# the report must be the expected one and the data folder must hold no skill or recording after.
run_selftest() {
    local program="$1" work="$2" golden="$3" status=0
    mkdir -p "$work/home" "$work/data" "$work/config"
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u ANTHROPIC_API_KEY \
        HOME="$work/home" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" \
        "$program" --selftest >"$work/report.txt" 2>"$work/report.err" || status=$?
    [ "$status" -eq 0 ] || fail "$program --selftest exited $status: $(cat "$work/report.txt" "$work/report.err")"
    cmp -s "$golden" "$work/report.txt" ||
        fail "the self-test report differs:"$'\n'"$(diff "$golden" "$work/report.txt")"
    [ -d "$work/data/Kestro/skills" ] || fail "the self-test made no skills folder in the data folder"
    local left
    left="$(find "$work/data/Kestro/skills" "$work/data/Kestro/recordings" -mindepth 1)"
    [ -z "$left" ] || fail "the self-test left files behind: $left"
}
