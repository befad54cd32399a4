#!/usr/bin/env bash
# Differential fuzzing of the carving core.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# Builds the fuzz preset (clang, libFuzzer, AddressSanitizer + UBSan) and runs each
# target (default: carver_fuzzer, scan_fuzzer, jpegrule_fuzzer and filesystem_fuzzer) for SECONDS (default 60) on a copy of its
# checked-in seed corpus, so runs never grow the corpus in the repository. A long run is
# the same command with a bigger number. Exits non-zero when a target finds a crash or a
# difference from the model; the input that did it is copied to build/fuzz/findings/ and
# belongs, once the fault is fixed, in fuzz/regressions/<corpus>/ where the reliability
# tests replay it.
set -euo pipefail

seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(carver_fuzzer scan_fuzzer jpegrule_fuzzer filesystem_fuzzer)
case "$seconds" in
    '' | *[!0-9]*)
        echo "usage: $0 [SECONDS] [TARGET...]" >&2
        exit 2
        ;;
esac

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
build="$root/build/fuzz"

cmake --preset fuzz >/dev/null
if ! cmake --build --preset fuzz -j2 --target "${targets[@]}"; then
    echo "fuzz.sh: build failed; the root CMakeLists.txt needs" \
        "'if(VELO_FUZZ) add_subdirectory(fuzz) endif()'" >&2
    exit 2
fi

work="$(mktemp -d /tmp/velo-fuzz-XXXXXX)"
trap 'rm -rf "$work"' EXIT
findings="$build/findings"
mkdir -p "$findings"

status=0
for target in "${targets[@]}"; do
    corpus="${target%_fuzzer}"
    mkdir -p "$work/$corpus"
    cp "$root/fuzz/corpus/$corpus/"* "$work/$corpus/"
    echo "== $target: ${seconds}s on $(ls "$work/$corpus" | wc -l) seeds"
    log="$work/$target.log"
    set +e
    # Crash inputs are written to the findings folder (-artifact_prefix); -print_final_stats
    # gives the exec/s figure quoted in docs/RELIABILITY.md.
    "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
        -dict="$root/fuzz/markers.dict" -artifact_prefix="$findings/${target}-" \
        -print_final_stats=1 "$work/$corpus" >"$log" 2>&1
    rc=$?
    set -e
    grep -E '^(stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb)' "$log" || true
    if [ $rc -ne 0 ]; then
        status=1
        echo "!! $target failed (exit $rc):"
        grep -E 'disagree|ERROR: |runtime error|Test unit written' "$log" || tail -20 "$log"
    fi
done
exit $status
