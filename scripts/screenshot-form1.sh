#!/usr/bin/env bash
# Opens the save-folder dialog on a virtual screen, in this repository's folder, and saves
# a picture of it.
#   scripts/screenshot-form1.sh [OUT.png] [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs/form1.png}"
build="${2:-build/default}"
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target velo_form1_screenshot
xvfb-run -a -s "-screen 0 1024x768x24" "$build/tests/dialogs/velo_form1_screenshot" "$out"
echo "saved $out"
