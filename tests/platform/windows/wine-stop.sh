#!/usr/bin/env bash
# Stops the Wine server of the tests' prefix and waits until it has gone.
set -euo pipefail
export WINEPREFIX="$1"
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1
