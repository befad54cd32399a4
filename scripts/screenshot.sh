#!/usr/bin/env bash
# Opens the main window on a virtual screen and saves a picture of it.
#   scripts/screenshot.sh [OUT.png] [BINARY]
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs/form2.png}"
binary="${2:-build/default/app/velo-recovery}"
display=":$((90 + RANDOM % 9))"
Xvfb "$display" -screen 0 1024x640x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $binpid $xvfb 2>/dev/null || true' EXIT
sleep 1
DISPLAY="$display" "$binary" &
binpid=$!
sleep 3
DISPLAY="$display" import -window root /tmp/velo-screen.png
# The window sits at the screen's top-left corner without decorations; keep just it.
convert /tmp/velo-screen.png -trim +repage "$out"
echo "saved $out"
