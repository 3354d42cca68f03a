#!/usr/bin/env bash
# Starts the program under Xvfb with the openbox window manager and checks the window's outer size: 783 x 583
# at first, and 783 x 553 after the user has sized it smaller. Skipped (77) where Xvfb or openbox is missing.
# Usage: WindowFrame.sh PROGRAM
set -u
program=$1
for tool in Xvfb openbox xdotool xprop; do
    command -v "$tool" >/dev/null || { echo "skipped: no $tool"; exit 77; }
done
n=150; while [ -e "/tmp/.X$n-lock" ]; do n=$((n+1)); done
export DISPLAY=:$n
unset QT_QPA_PLATFORM
Xvfb "$DISPLAY" -screen 0 1280x900x24 >/dev/null 2>&1 & xserver=$!
wm=""; app=""
trap 'kill $app $wm $xserver 2>/dev/null' EXIT
sleep 1
openbox >/dev/null 2>&1 & wm=$!
sleep 0.5
"$program" >/dev/null 2>&1 & app=$!
win=""
for _ in $(seq 1 40); do
    win=$(xdotool search --onlyvisible --pid "$app" 2>/dev/null | head -1); [ -n "$win" ] && break; sleep 0.25
done
[ -n "$win" ] || { echo "FAIL: no window"; exit 1; }
outer() {
    local ext geo l r t b
    ext=$(xprop -id "$win" _NET_FRAME_EXTENTS | sed -n 's/.*= //p')
    geo=$(xdotool getwindowgeometry "$win" | sed -n 's/.*Geometry: //p')
    IFS=', ' read -r l r t b <<<"$ext"
    echo "$((${geo%x*} + l + r))x$((${geo#*x} + t + b))"
}
sleep 1.5
first=$(outer)
xdotool windowsize "$win" 300 200
sleep 1
small=$(outer)
echo "first $first, after sizing smaller $small"
[ "$first" = 783x583 ] && [ "$small" = 783x553 ]
