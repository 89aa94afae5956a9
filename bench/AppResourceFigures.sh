#!/usr/bin/env bash
# Resource figures of the whole application on a private desktop. Run by hand (it takes about
# 13 minutes with the default recording); no build or test runs it.
#
#   bench/AppResourceFigures.sh [build folder] [recording minutes, default 10]
#
# Starts Xvfb, a private D-Bus session with accessibility on and openbox, with HOME and the XDG
# folders in a temporary folder, then `kestro` from the build folder, and prints:
#   - resident memory of the idle application once it has settled;
#   - its CPU time over one idle minute with the main window open, then one with it closed, as a
#     share of one core, and its wakeups a second;
#   - resident memory during and after a recording of the given length, started and stopped by a
#     double tap of Control through XTest while the fixture application is kept busy with XTest
#     clicks and typing. No API key is given, so nothing leaves the machine.
# It drives the desktop with xdotool, which the test set-up installs. Pass 0 minutes for
# the idle figures alone.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

# On the private desktop, inside its D-Bus session. A function, so that a failing expansion ends
# it instead of falling through to the set-up below.
inside() {
    local build="$1" minutes="$2" work="$3"
    program="$build/Kestro/kestro"
    fixture="$build/tests/kestro-fixture-app"
    log="$work/kestro.log" # the log lines go to the system log; this keeps what else is said
    pids=()
    cleanup() {
        local pid
        for pid in "${pids[@]}"; do
            kill "$pid" 2>/dev/null || true
        done
        wait 2>/dev/null || true
    }
    trap cleanup EXIT

    # Accessibility on before any toolkit starts, as a desktop with it enabled would have it.
    dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
        org.freedesktop.DBus.Properties.Set string:org.a11y.Status string:IsEnabled \
        variant:boolean:true >/dev/null
    openbox >/dev/null 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
        sleep 0.1
    done

    rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }
    pss_kib() { awk '/^Pss:/ {print $2}' "/proc/$1/smaps_rollup"; }
    # Per-thread snapshots, "thread value" lines: threads come and go (the toolkit's pool lets
    # idle ones expire), so a difference is taken over the threads alive at both ends.
    cpu_ns() { # time on a CPU, exact (tick sampling overcharges short timer wakeups)
        local task
        for task in "/proc/$1"/task/*; do
            awk -v t="${task##*/}" '{printf "%s %.0f\n", t, $1}' "$task/schedstat" 2>/dev/null || true
        done | sort
    }
    switches() { # voluntary and involuntary context switches
        local task
        for task in "/proc/$1"/task/*; do
            awk -v t="${task##*/}" '/ctxt_switches:/ {n += $2} END {printf "%s %.0f\n", t, n}' \
                "$task/status" 2>/dev/null || true
        done | sort
    }
    grown() { # sum of the differences between two snapshots
        join <(echo "$1") <(echo "$2") | awk '{n += $3 - $2} END {printf "%.0f\n", n}'
    }
    threads() { ls "/proc/$1/task" | wc -l; }
    mib() { awk -v k="$1" 'BEGIN {printf "%.1f MiB", k / 1024}'; }

    "$program" >"$log" 2>&1 &
    kestro=$!
    pids+=("$kestro")
    for _ in $(seq 300); do
        [ -d "$XDG_DATA_HOME/Kestro/skills" ] && break
        sleep 0.1
    done
    # Let start-up, the first paints and the activation step finish.
    sleep 20
    kill -0 "$kestro" || { echo "kestro exited: $(cat "$log")"; exit 1; }
    echo "idle: resident $(mib "$(rss_kib "$kestro")"), proportional $(mib "$(pss_kib "$kestro")"), $(threads "$kestro") threads"

    idle_minute() { # what: the state measured
        local a s0 start b s1 end
        a="$(cpu_ns "$kestro")" s0="$(switches "$kestro")" start="$(date +%s.%N)"
        sleep 60
        b="$(cpu_ns "$kestro")" s1="$(switches "$kestro")" end="$(date +%s.%N)"
        awk -v d="$(grown "$a" "$b")" -v s="$(grown "$s0" "$s1")" -v a="$start" -v b="$end" -v what="$1" \
            'BEGIN {w = b - a; printf "idle CPU, %s, over %.0f s: %.2f%% of one core (%.3f s), %.1f wakeups/s\n",
                    what, w, 100 * d / 1e9 / w, d / 1e9, s / w}'
    }
    idle_minute "main window open on its empty state"
    # Closed, the application lives on in its pill and tray.
    main_window="$(xdotool search --onlyvisible --name '^Kestro$' | head -n 1)"
    xdotool windowactivate --sync "$main_window" key alt+F4
    sleep 3
    idle_minute "main window closed"
    echo "load average during the figures: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"

    if [ "$minutes" = 0 ]; then
        exit 0
    fi
    "$fixture" --window-rect 100,100,600,400 >/dev/null 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        xdotool search --name "Kestro Fixture" >/dev/null 2>&1 && break
        sleep 0.1
    done
    window="$(xdotool search --name "Kestro Fixture" | head -n 1)"
    eval "$(xdotool getwindowgeometry --shell "$window")"
    xdotool windowactivate --sync "$window" 2>/dev/null || true
    sleep 1

    double_tap() { xdotool key --delay 90 Control_L Control_L; }
    recordings="$XDG_DATA_HOME/Kestro/recordings"
    before="$(ls "$recordings" 2>/dev/null | wc -l)"
    double_tap
    for _ in $(seq 50); do
        [ "$(ls "$recordings" 2>/dev/null | wc -l)" -gt "$before" ] && break
        sleep 0.1
    done
    [ "$(ls "$recordings" 2>/dev/null | wc -l)" -gt "$before" ] ||
        { echo "the double tap started no recording"; exit 1; }
    echo "recording for $minutes min (resident at start $(mib "$(rss_kib "$kestro")"))"

    deadline=$(($(date +%s) + minutes * 60))
    next_report=$(($(date +%s) + 60))
    actions=0
    while [ "$(date +%s)" -lt "$deadline" ]; do
        # A click somewhere in the fixture window, then a few typed words and a key.
        xdotool mousemove $((X + 40 + RANDOM % (WIDTH - 80))) $((Y + 40 + RANDOM % (HEIGHT - 80))) click 1
        xdotool type --delay 40 "busy $actions "
        xdotool key Tab
        actions=$((actions + 1))
        sleep 0.5
        if [ "$(date +%s)" -ge "$next_report" ]; then
            echo "  after $(( (next_report - deadline) / 60 + minutes )) min: resident $(mib "$(rss_kib "$kestro")"), $actions actions"
            next_report=$((next_report + 60))
        fi
    done
    echo "end of recording: resident $(mib "$(rss_kib "$kestro")"), proportional $(mib "$(pss_kib "$kestro")"), $actions actions"
    sleep 1
    folder="$(ls -t "$recordings" | head -n 1)"
    double_tap
    # The recording is written when it stops; without a key, synthesis is skipped.
    for _ in $(seq 600); do
        [ -f "$recordings/$folder/recording.json" ] && break
        sleep 0.1
    done
    [ -f "$recordings/$folder/recording.json" ] || { echo "the second double tap stopped nothing"; exit 1; }
    # The pill's outcome resets after a few seconds; measure once everything is back to idle.
    sleep 15
    echo "after the recording, idle again: resident $(mib "$(rss_kib "$kestro")"), proportional $(mib "$(pss_kib "$kestro")")"
    echo "recording folder: $(du -sh "$recordings/$folder" | cut -f1), $(ls "$recordings/$folder/frames" 2>/dev/null | wc -l) key frames"
    exit 0
}

if [ "${1:-}" = --inside ]; then
    shift
    inside "$@"
    exit $?
fi

build="${1:-$root/build}"
minutes="${2:-10}"
build="$(cd "$build" && pwd)"
[ -x "$build/Kestro/kestro" ] || { echo "no kestro in $build: build first" >&2; exit 1; }
bash "$root/scripts/setup.sh" --tests # xdotool among them

work="$(mktemp -d)"
xvfb=""
finish() {
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap finish EXIT
mkdir -p "$work/home" "$work/data" "$work/config" "$work/runtime"
chmod 700 "$work/runtime"
export HOME="$work/home" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config"
export XDG_RUNTIME_DIR="$work/runtime"
unset ANTHROPIC_API_KEY WAYLAND_DISPLAY QT_QPA_PLATFORM XDG_SESSION_TYPE

exec {displayfd}<> <(:)
# The display ends with this script even when it is killed outright; what runs on it then fails
# and the D-Bus session ends with its last program.
setpriv --pdeathsig TERM Xvfb -displayfd "$displayfd" -screen 0 1920x1080x24 -nolisten tcp +extension RANDR \
    +extension RECORD >/dev/null 2>&1 &
xvfb=$!
read -r -t 20 number <&"$displayfd" || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$number"
dbus-run-session -- bash "$0" --inside "$build" "$minutes" "$work"
