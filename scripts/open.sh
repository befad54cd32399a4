#!/usr/bin/env bash
# Installs what is missing, builds, and opens the main window. On a machine with no
# display it runs on a virtual one (Xvfb): once the window is up it saves a picture of it
# and says where, and Ctrl-C ends the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target velo-recovery velo-carve velo_install_files
program=build/default/app/velo-recovery
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$program" "$@"
fi

# The first display number with no X server on it.
number=99
while [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ]; do
  number=$((number + 1))
done
export DISPLAY=":$number"
Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
program_pid=""
trap 'kill $program_pid $xvfb 2>/dev/null || true; wait 2>/dev/null || true' EXIT
trap 'echo; exit 130' INT TERM
for _ in $(seq 50); do
  xdpyinfo >/dev/null 2>&1 && break
  sleep 0.1
done

"$program" "$@" &
program_pid=$!
picture="$PWD/build/default/window.png"
if window=$(timeout 30 xdotool search --sync --onlyvisible --pid "$program_pid" 2>/dev/null |
  head -n 1) && [ -n "$window" ]; then
  sleep 1 # let the drive list and the grid paint
  import -window "$window" "$picture"
  echo "No display found: the window runs on a virtual screen ($DISPLAY)."
  echo "A picture of it: $picture"
  echo "Ctrl-C ends the program."
else
  echo "No display found, and the window did not come up on the virtual screen ($DISPLAY)." >&2
fi
wait "$program_pid"
