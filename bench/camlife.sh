#!/usr/bin/env bash
# velo-carve, PhotoRec and recoverjpeg on cards that lived a camera's life.
#
# Usage: bench/camlife.sh        (from anywhere; run by hand, not part of CI)
#
# What it does:
#   1. installs mtools, PhotoRec (testdisk) and recoverjpeg from Debian's packages if they
#      are missing, and builds velo-carve in build/cli if it is not built yet;
#   2. makes the cards with bench/camlife.py, JOBS (default 2) at a time: every seed of
#      SEEDS (default "1 2 3") on FAT16 (128 MiB, 16 KiB clusters) and on FAT32 (512 MiB,
#      4 KiB clusters), once with every file deleted and once quick-formatted (12 cards);
#      each beside its manifest, the ground truth of bench/camlife.py;
#   3. for every card: reads it once into the page cache, then runs each tool on it, timing
#      the run, and scores its output with bench/camscore.py (photos back byte for byte by
#      pieces; velo-carve's report verdicts and the lying ones), then deletes the output;
#   4. prints the table and writes it into docs/BENCHMARKS.md under "## velo-carve against
#      peer tools: cards that lived a camera's life", replacing only that section.
#
# Environment: CARDS (default bench/work/camcards, git-ignored) holds the cards;
# KEEP_CARDS=1 uses the cards already there whose manifest is there (the same seed makes
# the same card, so they need not be made again); WORK (default bench/work/camlife) the
# outputs and the gathered scores; VELO, a velo-carve binary to use instead of building
# one; TOOLS, the tools to run (default: velo-carve-jpeg velo-carve photorec recoverjpeg);
# SEEDS, FATS (default "16 32"), ACCIDENTS (default "deleted formatted"); DOC, the
# document the table goes into.
# Disk: the cards (about 3.8 GiB with the defaults) and one tool's output at a time.
set -euo pipefail

REPO=$(cd "$(dirname "$0")/.." && pwd)
CARDS=${CARDS:-$REPO/bench/work/camcards}
WORK=${WORK:-$REPO/bench/work/camlife}
VELO=${VELO:-$REPO/build/cli/cli/velo-carve}
SEEDS=${SEEDS:-1 2 3}
FATS=${FATS:-16 32}
ACCIDENTS=${ACCIDENTS:-deleted formatted}
JOBS=${JOBS:-2}
DOC=${DOC:-$REPO/docs/BENCHMARKS.md}
SECTION_HEADING="## velo-carve against peer tools: cards that lived a camera's life"
read -ra TOOLS <<< "${TOOLS:-velo-carve-jpeg velo-carve photorec recoverjpeg}"
mkdir -p "$CARDS" "$WORK"
CARDS=$(cd "$CARDS" && pwd) WORK=$(cd "$WORK" && pwd)

log() { printf '== %s\n' "$*" >&2; }

# --- 1. tools --------------------------------------------------------------------------
need=()
for pair in mcopy:mtools photorec:testdisk recoverjpeg:recoverjpeg; do
    command -v "${pair%%:*}" >/dev/null || need+=("${pair#*:}")
done
if ((${#need[@]})); then
    log "installing ${need[*]}"
    apt-get update -qq && apt-get install -y -qq "${need[@]}" >/dev/null
fi
if [[ ! -x $VELO ]]; then
    log "building velo-carve"
    cmake -S "$REPO" -B "$REPO/build/cli" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$REPO/build/cli" -j2 --target velo-carve
fi

# --- 2. cards --------------------------------------------------------------------------
CARD_NAMES=()
for seed in $SEEDS; do
    for fat in $FATS; do
        for accident in $ACCIDENTS; do
            CARD_NAMES+=("fat$fat-$accident-seed$seed")
        done
    done
done
# Prints the camlife.py arguments of the card named $1 (fatF-ACCIDENT-seedS).
card_args() {
    local fat=${1%%-*} rest=${1#*-}
    echo "--fat ${fat#fat} --accident ${rest%%-*} --seed ${rest##*-seed} $CARDS/$1.img"
}
todo=()
for name in "${CARD_NAMES[@]}"; do
    [[ ${KEEP_CARDS:-0} == 1 && -f $CARDS/$name.img && -f $CARDS/$name.json ]] || todo+=("$name")
done
if ((${#todo[@]})); then
    log "making ${#todo[@]} cards in $CARDS, $JOBS at a time"
    for name in "${todo[@]}"; do card_args "$name"; done |
        xargs -P "$JOBS" -L 1 python3 "$REPO/bench/camlife.py" >&2
fi

# --- 3. runs ---------------------------------------------------------------------------
# Runs tool $1 on card $2 writing into $3 (which does not exist yet); velo-carve's report
# goes to $3.csv, beside the output.
run_tool() {
    local image=$2 out=$3
    case $1 in
    velo-carve) "$VELO" -q --no-sheet --rule window --report "$out.csv" "$image" "$out" || true ;;
    velo-carve-jpeg) "$VELO" -q --no-sheet --rule jpeg --report "$out.csv" "$image" "$out" || true ;;
    photorec)
        mkdir -p "$out"
        (cd "$out" && photorec /d "$out/recup" /cmd "$image" \
            fileopt,everything,disable,jpg,enable,search > /dev/null 2>&1) ;;
    recoverjpeg) mkdir -p "$out" && recoverjpeg -q -o "$out" "$image" ;;
    esac
}
command_of() {
    case $1 in
    velo-carve) echo 'velo-carve -q --no-sheet --rule window --report OUT.csv IMAGE OUT' ;;
    velo-carve-jpeg) echo 'velo-carve -q --no-sheet --rule jpeg --report OUT.csv IMAGE OUT' ;;
    photorec) echo 'photorec /d OUT/recup /cmd IMAGE fileopt,everything,disable,jpg,enable,search' ;;
    recoverjpeg) echo 'recoverjpeg -q -o OUT IMAGE' ;;
    esac
}
version_of() {
    case $1 in
    velo-carve*) echo "$("$VELO" --version) (${VELO#"$REPO"/})" ;;
    photorec) echo "PhotoRec (testdisk $(dpkg-query -W -f '${Version}' testdisk))" ;;
    *) echo "$1 $(dpkg-query -W -f '${Version}' "$1")" ;;
    esac
}

RESULTS=$WORK/results.tsv
: > "$RESULTS"
LOAD_BEFORE=$(cut -d' ' -f1-3 /proc/loadavg)
for name in "${CARD_NAMES[@]}"; do
    image=$CARDS/$name.img
    cat "$image" > /dev/null
    for tool in "${TOOLS[@]}"; do
        out=$WORK/out-$tool
        rm -rf "$out" "$out.csv"
        start=$(date +%s.%N)
        run_tool "$tool" "$image" "$out"
        end=$(date +%s.%N)
        report=()
        [[ $tool == velo-carve* ]] && report=(--report "$out.csv")
        python3 "$REPO/bench/camscore.py" "$CARDS/$name.json" "$out" "${report[@]}" \
            --tsv "$name" "$tool" "$(echo "$end - $start" | bc -l)" | tee -a "$RESULTS" >&2
        rm -rf "$out" "$out.csv"
    done
done
LOAD_AFTER=$(cut -d' ' -f1-3 /proc/loadavg)

# --- 4. the table ----------------------------------------------------------------------
SECTION=$WORK/section.md
{
    echo "$SECTION_HEADING"
    echo
    echo "Measured by \`bench/camlife.sh\` on $(date -u +%Y-%m-%d): ${#CARD_NAMES[@]} cards made by"
    echo "\`bench/camlife.py\` (seeds $SEEDS; a FAT16 card is 128 MiB with 16 KiB clusters, a FAT32"
    echo "card 512 MiB with 4 KiB clusters; every file deleted, or the card quick-formatted), each"
    echo "written by mtools session after session with photos of \`$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["made_by"]["corpus"])' "$CARDS/${CARD_NAMES[0]}.json")\`"
    echo "made unique and short movies, with deletions in camera, until its allocation had"
    echo "wrapped and three times its capacity had been written. The deleted card and the"
    echo "formatted card of a seed hold the same photos in the same clusters: the accident"
    echo "touches only the FATs and the folders. \`velo-carve-jpeg\` is velo-carve with \`--rule"
    echo "jpeg\` (its default), \`velo-carve\` with \`--rule window\`. A photo is back when a file"
    echo "has exactly its bytes; its pieces are the runs of clusters the FAT gave it. Older"
    echo "photos back are photos deleted in camera before the accident that came back too."
    echo "Back to their end marker only: photos not back byte for byte, but whose bytes up to"
    echo "their last \`FF D9\` came back (a photo of the corpus has a byte after it). A lying"
    echo "verdict is a file velo-carve's report calls complete or reassembled whose bytes are no"
    echo "photo ever shot on the card. Times are wall times summed over the cards, the"
    echo "image in the page cache. Machine: $(nproc) cores, $(uname -sr), shared with other"
    echo "work (load average $LOAD_BEFORE before the runs, $LOAD_AFTER after)."
    echo
    python3 "$REPO/bench/camscore.py" --table "$RESULTS"
    echo
    echo "Commands (IMAGE is the card image, OUT a fresh folder):"
    echo
    for tool in "${TOOLS[@]}"; do echo "- $(version_of "$tool"): \`$(command_of "$tool")\`"; done
    echo
} > "$SECTION"
cat "$SECTION"

mkdir -p "$(dirname "$DOC")"
"$REPO/bench/replacesection.py" "$DOC" "$SECTION" "$SECTION_HEADING"
log "wrote $DOC"
