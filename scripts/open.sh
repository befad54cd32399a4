#!/usr/bin/env bash
# Installs what is missing, builds, and opens the main window. On a machine with no
# display it runs on a virtual one (Xvfb), which shows nothing but proves it starts.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target velo-recovery velo-carve
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec build/default/app/velo-recovery "$@"
fi
echo "No display found: running on a virtual screen (Xvfb)." >&2
exec xvfb-run -a -s "-screen 0 1280x800x24" build/default/app/velo-recovery "$@"
