#!/usr/bin/env bash
# Installs what building and running need and is missing, builds the two programs, and
# opens the main window. On a machine with no display it runs on a virtual one (Xvfb):
# once the window is up it saves a picture of it and says where, and Ctrl-C ends the
# program, then the virtual screen, with the program's own status (0 when it quit
# cleanly). The test tools come with scripts/test.sh, not here.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# Without the test packages the suite cannot be configured, so a first build leaves it
# out; a build folder where scripts/test.sh configured it keeps it.
tests=OFF
if grep -qs '^VELO_BUILD_TESTS:BOOL=ON$' build/default/CMakeCache.txt; then
  tests=ON
fi
cmake --preset default -DVELO_BUILD_TESTS="$tests" >/dev/null
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
# In a session of its own, so that Ctrl-C in this terminal does not reach it: the window
# must go first, or it finds its X server gone.
setsid Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
program_pid=""
status=0

# Ends the program (SIGTERM: it quits as its close button does) and waits for it, then
# the X server.
stop_all() {
  if [ -n "$program_pid" ]; then
    kill -TERM "$program_pid" 2>/dev/null || true
    wait "$program_pid" 2>/dev/null && status=0 || status=$?
    program_pid=""
  fi
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
}
trap 'stop_all' EXIT
trap 'echo; stop_all; trap - EXIT; exit "$status"' INT TERM
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
wait "$program_pid" && status=0 || status=$?
program_pid=""
stop_all
trap - EXIT
exit "$status"
