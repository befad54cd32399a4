#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the suite as released, the
# suite again under AddressSanitizer and UndefinedBehaviorSanitizer, and a short run
# of the fuzzers; the Debian package, made, installed and removed again (as root); then
# the Windows build (cross-built with mingw-w64) and its tests under Wine.
#
# A stage that fails does not stop the stages that do not need it; a stage whose build
# failed is not run. At the end one line per stage says passed, failed, skipped or not
# run, and the exit status is non-zero when any stage failed.
set -uo pipefail
cd "$(dirname "$0")/.."
jobs="${JOBS:-$(nproc)}"

stages=()
declare -A outcome

# run NAME COMMAND...: runs one stage and notes how it ended. A stage that cannot run on
# this machine says why and exits with 77: skipped, which fails nothing.
run() {
  local name=$1 status=0
  shift
  stages+=("$name")
  echo "== $name =="
  "$@" || status=$?
  case $status in
    0) outcome[$name]=passed ;;
    77) outcome[$name]="skipped (why: see its output above)" ;;
    *) outcome[$name]=failed ;;
  esac
}

# after NEEDED NAME COMMAND...: runs the stage only when the stage NEEDED passed.
after() {
  local needed=$1 name=$2
  shift 2
  if [ "${outcome[$needed]}" = passed ]; then
    run "$name" "$@"
  else
    stages+=("$name")
    outcome[$name]="not run: $needed did not pass"
  fi
}

build() { cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j "$jobs"; }
tests() { ctest --preset "$1" -j "$jobs"; }
fuzz() { scripts/fuzz.sh "${FUZZ_SECONDS:-60}"; }

run "dependencies" scripts/install-deps.sh --tests
after "dependencies" "build" build default
after "build" "tests" tests default
after "build" "Debian package" scripts/test-deb.sh build/default
after "dependencies" "build under sanitizers" build sanitize
after "build under sanitizers" "tests under sanitizers" tests sanitize
after "dependencies" "fuzzers (${FUZZ_SECONDS:-60} s each)" fuzz
run "Windows build, tests under Wine" scripts/test-windows.sh

echo
echo "== Summary =="
status=0
for name in "${stages[@]}"; do
  printf '%-34s %s\n' "$name" "${outcome[$name]}"
  case "${outcome[$name]}" in
    passed | skipped*) ;;
    *) status=1 ;;
  esac
done
exit "$status"
