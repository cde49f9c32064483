#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The game on Wayland: under weston (nested in the test's private X server,
# whose keyboard weston passes on), played with the keyboard alone. A wrong
# answer at "moins de 200" must leave -2 stored for BIENVENUE.
#   scripts/x-session wayland_smoke.sh GAME
set -euo pipefail
game=$1
scratch=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; tail -n 20 "$scratch/weston.log" "$scratch/game.log" >&2; exit 1; }
mkdir -m 700 "$scratch/runtime" && mkdir "$scratch/config"
export XDG_RUNTIME_DIR="$scratch/runtime"

weston --backend=x11-backend.so --use-pixman --shell=kiosk-shell.so --socket=additions \
    --width=800 --height=600 --idle-time=0 >"$scratch/weston.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -S "$XDG_RUNTIME_DIR/additions" ] && break; sleep 0.1; done
[ -S "$XDG_RUNTIME_DIR/additions" ] || fail "weston did not start"
screen=$(timeout 10 xdotool search --sync --classname '^weston' | head -n1)

# QT_QPA_PLATFORM=wayland: the game ends rather than fall back to X11.
XDG_CONFIG_HOME="$scratch/config" WAYLAND_DISPLAY=additions QT_QPA_PLATFORM=wayland \
    "$game" >"$scratch/game.log" 2>&1 &
pids+=($!)
# Shown once weston's screen has the banner's blue on it.
for _ in $(seq 50); do
    xwd -silent -id "$screen" | convert xwd:- -format %c histogram:info:- | grep -qi '#0000FF' &&
        break
    kill -0 "${pids[1]}" 2>/dev/null || fail "the game ended on Wayland"
    sleep 0.2
done
# The X keyboard to weston, which gives it to the game's window.
xdotool windowfocus --sync "$screen"
sleep 0.5
# From the banner, four Tabs reach "moins de 200"; Space poses the problem
# and puts the keyboard in the answer box; three Tabs reach OK, and Space
# answers.
xdotool key --delay 100 Tab Tab Tab Tab space
sleep 0.5
xdotool type --delay 100 0
xdotool key --delay 100 Tab Tab Tab space
for _ in $(seq 50); do grep -qx 'BIENVENUE=-2' "$scratch/config/MyApp.conf" 2>/dev/null && break; sleep 0.1; done
grep -qx 'BIENVENUE=-2' "$scratch/config/MyApp.conf" 2>/dev/null ||
    fail "no score stored: $(cat "$scratch/config/MyApp.conf" 2>/dev/null)"
echo "ok: played on Wayland, BIENVENUE=-2 stored"
