#!/usr/bin/env bash
# Starts zenfo under a virtual X display with a window manager and saves a picture of its window,
# title bar included.
#   scripts/screenshot.sh [ZENFO [OUTPUT]]
# ZENFO defaults to build/ui/zenfo (built first when missing), OUTPUT to docs/screenshot.png.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
scripts/deps.sh "${SCREENSHOT_PACKAGES[@]}"

zenfo="${1:-build/ui/zenfo}"
output="${2:-docs/screenshot.png}"
if [ ! -x "$zenfo" ]; then
  scripts/deps.sh "${BUILD_PACKAGES[@]}"
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF
  cmake --build build --target zenfo -j 2
  zenfo=build/ui/zenfo
fi
mkdir -p "$(dirname "$output")"

work="$(mktemp -d)"
xvfb_pid=""
wm_pid=""
zenfo_pid=""
cleanup() {
  [ -n "$zenfo_pid" ] && kill "$zenfo_pid" 2>/dev/null || true
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A free display number: Xvfb writes it to the descriptor given with -displayfd.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || { echo "screenshot: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

# A window manager draws the title bar with the caption and the window's buttons.
openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm_pid=$!
sleep 1

env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$zenfo" >"$work/zenfo.log" 2>&1 &
zenfo_pid=$!

# Wait for the window by its caption, then give it a moment to paint.
title="HTML用写真サムネイル作成"
window=""
for _ in $(seq 100); do
  window="$(xwininfo -root -tree 2>/dev/null | grep -F "\"$title\"" | awk '{print $1}' | head -n1 || true)"
  [ -n "$window" ] && break
  kill -0 "$zenfo_pid" 2>/dev/null || { echo "screenshot: zenfo exited" >&2; cat "$work/zenfo.log" >&2; exit 1; }
  sleep 0.1
done
[ -n "$window" ] || { echo "screenshot: no zenfo window appeared" >&2; exit 1; }
sleep 1

import -frame -window "$window" "$output"
echo "screenshot: $output"
