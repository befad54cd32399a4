#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the suite as released, the
# suite again under AddressSanitizer and UndefinedBehaviorSanitizer, and a short run
# of the carving fuzzer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs="${JOBS:-$(nproc)}"

echo "== Build and test =="
cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs"
ctest --preset default -j "$jobs"

echo "== Build and test under sanitizers =="
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize -j "$jobs"
ctest --preset sanitize -j "$jobs"

if [ -x scripts/fuzz.sh ]; then
  echo "== Short fuzz of the carver =="
  scripts/fuzz.sh "${FUZZ_SECONDS:-60}"
fi
