#!/usr/bin/env bash
# velo-carve side by side with PhotoRec, recoverjpeg, foremost and scalpel.
#
# Usage: bench/run.sh            (from anywhere; run by hand, not part of CI)
#
# What it does:
#   1. builds velo-carve in build/cli if it is not built yet;
#   2. makes a 1 GiB FAT32 card image with mtools: the photos of the corpus (below)
#      copied round after round, each followed by a small unrelated text file, until the
#      card is nearly full; then the photos are deleted (mdel), the text files stay —
#      a card whose photos were erased;
#   3. installs the peers from Debian's packages if they are missing;
#   4. warms the page cache with the image, then runs cat, velo-carve and each peer, JPEG
#      only, ROUNDS times (default 3) in an order that rotates every round, timing each run;
#   5. after each tool's first run, scores its output: how many of the deleted photos it
#      gave back byte for byte (sha256), and how many more with identical decoded pixels
#      (djpeg output compared); then deletes the output;
#   6. writes the table into docs/BENCHMARKS.md under "## velo-carve against peer tools",
#      replacing only that section.
#
# The corpus: CORPUS when set; otherwise the larger photo set in ../shared/corpus/camera
# beside the repository when it is there, else the repository's tests/data/photos. The
# run says which it used, and so does the table it writes.
#
# Environment: WORK (default bench/work, git-ignored) holds the image and the outputs;
# ROUNDS; IMAGE_MIB (default 1024); KEEP_IMAGE=1 reuses an image from an earlier run;
# VELO, a velo-carve binary to use instead of building one; TOOLS, the tools to run
# (default: all of them); DOC, the document the table goes into.
# CARD=twopiece makes, instead of the FAT32 card, the card of bench/twopiece.py: photos at
# 4 KiB clusters between gaps of other data, about half of them in two pieces (seeded, so
# every run makes the same card), and writes its own section of the document.
# OUT_FS=fresh (the default when run as root) gives every run a fresh ext4 file system of
# its own (a sparse 4 GiB file in /dev/shm on a loop device, made before the timer starts):
# on the long-lived root file system the time to create a file depends on how many files
# other runs deleted in the last minutes (ext4 passes over recently freed inodes), so each
# tool would be timed against the one before it. OUT_FS=work writes into WORK instead.
# Disk use: the image plus one tool's output at a time (about 1 GiB each). scalpel gets a
# 20 MB cap per file and no REVERSE carving: unbounded it once filled 75 GB.
set -euo pipefail

REPO=$(cd "$(dirname "$0")/.." && pwd)
if [[ -n ${CORPUS:-} ]]; then
    CORPUS_NAME=$CORPUS
elif [[ -d $REPO/../shared/corpus/camera ]]; then
    CORPUS=$(cd "$REPO/../shared/corpus/camera" && pwd) CORPUS_NAME=../shared/corpus/camera
else
    CORPUS=$REPO/tests/data/photos CORPUS_NAME=tests/data/photos
fi
WORK=${WORK:-$REPO/bench/work}
ROUNDS=${ROUNDS:-3}
IMAGE_MIB=${IMAGE_MIB:-1024}
IMAGE=$WORK/card.img
VELO=${VELO:-$REPO/build/cli/cli/velo-carve}
CARD=${CARD:-fat}
[[ $CARD == twopiece ]] && IMAGE=$WORK/twopiece.img
SECTION_HEADING="## velo-carve against peer tools"
[[ $CARD == twopiece ]] && SECTION_HEADING="## velo-carve against peer tools: photos in two pieces"
DOC=${DOC:-$REPO/docs/BENCHMARKS.md}
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)

log() { printf '== %s\n' "$*" >&2; }
log "photos from $CORPUS_NAME ($(find "$CORPUS" -maxdepth 1 -iname '*.jp*g' | wc -l) of them)"

# --- 1. velo-carve -------------------------------------------------------------------
if [[ ! -x $VELO ]]; then
    log "building velo-carve"
    cmake -S "$REPO" -B "$REPO/build/cli" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$REPO/build/cli" -j2 --target velo-carve
fi

# --- 3. peers (first: mtools and dosfstools are needed for the image) ---------------
need=()
for pair in mkfs.vfat:dosfstools mcopy:mtools photorec:testdisk recoverjpeg:recoverjpeg \
            foremost:foremost scalpel:scalpel djpeg:libjpeg-turbo-progs; do
    command -v "${pair%%:*}" >/dev/null || need+=("${pair#*:}")
done
if ((${#need[@]})); then
    log "installing ${need[*]}"
    apt-get update -qq && apt-get install -y -qq "${need[@]}" >/dev/null
fi

# --- 2. the card image -----------------------------------------------------------------
STAGE=$WORK/stage
if [[ $CARD == twopiece ]]; then
    if [[ ${KEEP_IMAGE:-0} != 1 || ! -f $IMAGE ]]; then
        log "making a ${IMAGE_MIB} MiB card with photos in two pieces"
        python3 "$REPO/bench/twopiece.py" "$CORPUS" "$IMAGE" "$IMAGE_MIB" > "$WORK/twopiece.placed"
    fi
    read -r PLACED SPLIT < "$WORK/twopiece.placed"
    PHOTO_ROUNDS=$(( (PLACED + $(find "$CORPUS" -maxdepth 1 -iname '*.jp*g' | wc -l) - 1) / $(find "$CORPUS" -maxdepth 1 -iname '*.jp*g' | wc -l) ))
elif [[ ${KEEP_IMAGE:-0} != 1 || ! -f $IMAGE ]]; then
    log "making a ${IMAGE_MIB} MiB FAT32 image"
    rm -rf "$STAGE" "$IMAGE"
    mkdir -p "$STAGE"
    # One round: photo, note, photo, note... in this order (mcopy keeps argument order, so
    # the clusters follow it).
    i=0
    for photo in "$CORPUS"/*; do
        [[ -f $photo && ${photo,,} == *.jp*g ]] || continue
        i=$((i + 1))
        n=$(printf '%04d' "$i")
        cp "$photo" "$STAGE/${n}a_$(basename "$photo")"
        # A small unrelated file: text of a few KiB, different for every photo.
        size=$(( (i * 2654435761 % 15) * 1024 + 700 ))
        base64 -w 76 < <(head -c "$size" /dev/urandom) > "$STAGE/${n}b_note.txt"
    done
    stage_kib=$(du -sk "$STAGE" | cut -f1)
    mkfs.vfat -F 32 -C "$IMAGE" $((IMAGE_MIB * 1024)) >/dev/null
    round=0
    while :; do
        free=$(mdir -i "$IMAGE" :: | grep 'bytes free' | tr -cd '0-9')
        (( free / 1024 > stage_kib * 11 / 10 + 1024 )) || break
        round=$((round + 1))
        dir=$(printf 'R%03d' "$round")
        mmd -i "$IMAGE" "::/$dir"
        mcopy -i "$IMAGE" "$STAGE"/* "::/$dir/"
    done
    for r in $(seq 1 "$round"); do
        mdel -i "$IMAGE" "::/$(printf 'R%03d' "$r")/*.jp*g"
    done
    echo "$round" > "$WORK/rounds"
fi
PHOTOS_PER_ROUND=$(find "$CORPUS" -maxdepth 1 -iname '*.jp*g' | wc -l)
if [[ $CARD != twopiece ]]; then
    PHOTO_ROUNDS=$(cat "$WORK/rounds")
    PLACED=$((PHOTO_ROUNDS * PHOTOS_PER_ROUND))
fi
IMAGE_BYTES=$(stat -c %s "$IMAGE")
log "image: $IMAGE_BYTES bytes, $PHOTO_ROUNDS rounds of $PHOTOS_PER_ROUND photos = $PLACED deleted photos"

# Reference hashes: each photo's bytes, and its decoded pixels beside them.
while IFS= read -r -d '' f; do
    echo "$(sha256sum < "$f" | cut -d' ' -f1) $(djpeg -pnm "$f" 2>/dev/null | sha256sum | cut -d' ' -f1)"
done < <(find "$CORPUS" -maxdepth 1 -iname '*.jp*g' -print0) > "$WORK/ref.map"

# --- the tools -----------------------------------------------------------------------
SCALPEL_CONF=$WORK/scalpel.conf
cat > "$SCALPEL_CONF" <<'CONF'
# JPEG only, 20 MB at most per file, forward carving (no REVERSE).
jpg y 20000000 \xff\xd8\xff\xe0 \xff\xd9
jpg y 20000000 \xff\xd8\xff\xe1 \xff\xd9
jpg y 20000000 \xff\xd8\xff\xdb \xff\xd9
CONF

# velo-carve-dry carves without writing: the cost of reading and carving alone.
# TOOLS (a list separated by spaces) runs only some of them.
read -ra TOOLS <<< "${TOOLS:-cat velo-carve-dry velo-carve velo-carve-jpeg photorec recoverjpeg foremost scalpel}"

OUT_FS=${OUT_FS:-$([[ $(id -u) == 0 ]] && command -v mkfs.ext4 >/dev/null && echo fresh || echo work)}
FS_IMAGE=/dev/shm/velo-bench-out.img
FS_MOUNT=$WORK/outfs
# An empty ext4 file system at FS_MOUNT, in place of the one the run before used.
fresh_fs() {
    mountpoint -q "$FS_MOUNT" && umount "$FS_MOUNT"
    rm -f "$FS_IMAGE"
    truncate -s 4G "$FS_IMAGE"
    mkfs.ext4 -q -F "$FS_IMAGE"
    mkdir -p "$FS_MOUNT"
    mount -o loop "$FS_IMAGE" "$FS_MOUNT"
}
if [[ $OUT_FS == fresh ]]; then
    trap 'mountpoint -q "$FS_MOUNT" && umount "$FS_MOUNT"; rm -f "$FS_IMAGE"' EXIT
fi

# Runs tool $1 writing into $2 (which does not exist yet).
run_tool() {
    local out=$2
    case $1 in
    cat) cat "$IMAGE" > /dev/null ;;
    # Without the contact sheet: no peer makes a page of thumbnails, and the table compares
    # carving. What the sheet costs is said in the README's velo-carve section.
    velo-carve) "$VELO" -q --no-sheet --rule window "$IMAGE" "$out" ;;
    velo-carve-dry) "$VELO" -q --dry-run --rule window "$IMAGE" "$out" ;;
    velo-carve-jpeg) "$VELO" -q --no-sheet --rule jpeg "$IMAGE" "$out" ;;
    photorec)
        mkdir -p "$out"
        (cd "$out" && photorec /log /d "$out/recup" /cmd "$IMAGE" \
            fileopt,everything,disable,jpg,enable,wholespace,search > /dev/null 2>&1) ;;
    recoverjpeg) mkdir -p "$out" && recoverjpeg -q -o "$out" "$IMAGE" ;;
    foremost) foremost -Q -t jpg -i "$IMAGE" -o "$out" > /dev/null ;;
    scalpel) scalpel -c "$SCALPEL_CONF" -o "$out" "$IMAGE" > /dev/null ;;
    esac
}

version_of() {
    case $1 in
    cat) echo "coreutils $(dpkg-query -W -f '${Version}' coreutils)" ;;
    velo-carve | velo-carve-dry | velo-carve-jpeg) "$VELO" --version ;;
    photorec) echo "PhotoRec (testdisk $(dpkg-query -W -f '${Version}' testdisk))" ;;
    *) echo "$1 $(dpkg-query -W -f '${Version}' "$1")" ;;
    esac
}

command_of() {
    case $1 in
    cat) echo 'cat IMAGE > /dev/null' ;;
    velo-carve) echo 'velo-carve -q --rule window IMAGE OUT' ;;
    velo-carve-dry) echo 'velo-carve -q --dry-run --rule window IMAGE OUT' ;;
    velo-carve-jpeg) echo 'velo-carve -q --rule jpeg IMAGE OUT' ;;
    photorec) echo 'photorec /log /d OUT/recup /cmd IMAGE fileopt,everything,disable,jpg,enable,wholespace,search' ;;
    recoverjpeg) echo 'recoverjpeg -q -o OUT IMAGE' ;;
    foremost) echo 'foremost -Q -t jpg -i IMAGE -o OUT' ;;
    scalpel) echo 'scalpel -c scalpel.conf -o OUT IMAGE  (jpg y 20000000 FFD8FFE0/E1/DB … FFD9)' ;;
    esac
}

# Prints "bytes pixels" for the output folder $1: how many of the placed photos came back
# byte for byte, and how many came back with identical pixels (byte-identical ones
# included). A photo placed k times counts at most k times.
score() {
    local out=$1
    find "$out" -type f -iname '*.jp*g' -print0 | xargs -0 -r sha256sum > "$WORK/out.sums"
    # Byte-identical files count for bytes and pixels; the others are decoded.
    awk -v bytes="$WORK/out.bytes" -v pixels="$WORK/out.pixels" -v rest="$WORK/out.rest" '
        BEGIN { printf "" > bytes; printf "" > pixels; printf "" > rest }
        NR == FNR { pix[$1] = $2; next }
        ($1 in pix) { print $1 > bytes; print pix[$1] > pixels; next }
        { sub(/^[0-9a-f]+  /, ""); print > rest }' "$WORK/ref.map" "$WORK/out.sums"
    xargs -r -d '\n' -P "$(nproc)" -I{} sh -c 'djpeg -pnm "$1" 2>/dev/null | sha256sum' _ {} \
        < "$WORK/out.rest" | awk 'NR == FNR { ok[$2] = 1; next } ($1 in ok) { print $1 }' \
        "$WORK/ref.map" - >> "$WORK/out.pixels"
    capped() { sort "$1" | uniq -c | awk -v k="$PHOTO_ROUNDS" '{s += ($1 < k ? $1 : k)} END {print s + 0}'; }
    echo "$(capped "$WORK/out.bytes") $(capped "$WORK/out.pixels")"
}

# --- 4./5. runs ----------------------------------------------------------------------
log "warming the page cache"
cat "$IMAGE" > /dev/null; cat "$IMAGE" > /dev/null
declare -A TIMES SCORE FILES
LOAD_BEFORE=$(cut -d' ' -f1-3 /proc/loadavg)
for ((r = 0; r < ROUNDS; r++)); do
    n=${#TOOLS[@]}
    for ((k = 0; k < n; k++)); do
        tool=${TOOLS[$(( (k + r) % n ))]}
        out=$WORK/out-$tool
        if [[ $OUT_FS == fresh ]]; then
            fresh_fs
            out=$FS_MOUNT/out-$tool
        fi
        rm -rf "$out"
        sync
        start=$(date +%s.%N)
        run_tool "$tool" "$out"
        end=$(date +%s.%N)
        t=$(echo "$end - $start" | bc -l)
        TIMES[$tool]="${TIMES[$tool]:-} $t"
        log "round $((r + 1)) $tool: ${t}s"
        if [[ $tool != cat && $tool != velo-carve-dry && -z ${SCORE[$tool]:-} ]]; then
            FILES[$tool]=$(find "$out" -type f -iname '*.jp*g' | wc -l)
            SCORE[$tool]=$(score "$out")
            log "  $tool: ${FILES[$tool]} files, score ${SCORE[$tool]} of $PLACED"
        fi
        rm -rf "$out"
    done
done

LOAD_AFTER=$(cut -d' ' -f1-3 /proc/loadavg)
median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{a[NR] = $1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }
declare -A MED
for tool in "${TOOLS[@]}"; do MED[$tool]=$(echo "${TIMES[$tool]}" | median); done

# --- 6. the table --------------------------------------------------------------------
SECTION=$WORK/section.md
{
    echo "$SECTION_HEADING"
    echo
    if [[ $CARD == twopiece ]]; then
    echo "Measured by \`CARD=twopiece bench/run.sh\` on $(date -u +%Y-%m-%d): a $((IMAGE_BYTES / 1048576)) MiB card image made by"
    echo "\`bench/twopiece.py\` (seed 12): $PLACED placements of the $PHOTOS_PER_ROUND camera photos of the corpus at 4 KiB"
    echo "clusters, between gaps of random bytes, base64 text or zeros; $SPLIT of them lie in two"
    echo "pieces with 1 to 63 clusters of such data between the pieces. The image was in the"
    else
    echo "Measured by \`bench/run.sh\` on $(date -u +%Y-%m-%d): a $((IMAGE_BYTES / 1048576)) MiB FAT32 card image"
    echo "made with mtools, holding $PHOTO_ROUNDS copies of the $PHOTOS_PER_ROUND camera photos of \`$CORPUS_NAME\` ($PLACED photos),"
    echo "each followed by a small text file; the photos were then deleted. The image was in the"
    fi
    echo "page cache; each tool ran $ROUNDS times, in an order rotated each round, writing to"
    if [[ $OUT_FS == fresh ]]; then
    echo "a fresh ext4 file system made for each run (a 4 GiB file in /dev/shm on a loop device)."
    else
    echo "the same disk as the image."
    fi
    echo "Machine: $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo), $(uname -sr),"
    echo "shared with other work (load average $LOAD_BEFORE before the runs, $LOAD_AFTER after)."
    echo "\`velo-carve\` is velo-carve with \`--rule window\`; \`velo-carve-dry\` the same with \`--dry-run\`:"
    echo "reading and carving without writing files; \`velo-carve-jpeg\` is velo-carve with \`--rule jpeg\`, its default."
    echo
    echo "| tool | wall time (median) | MB/s | × velo-carve | × cat | JPEG files written | photos back byte for byte | photos back with identical pixels |"
    echo "| --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: |"
    for tool in "${TOOLS[@]}"; do
        m=${MED[$tool]}
        mbs=$(echo "$IMAGE_BYTES / $m / 1000000" | bc -l)
        rv=$(echo "$m / ${MED[velo-carve]}" | bc -l)
        rc=$(echo "$m / ${MED[cat]}" | bc -l)
        if [[ $tool == cat || $tool == velo-carve-dry ]]; then
            printf '| %s | %.2f s | %.0f | %.2f | %.2f | – | – | – |\n' "$tool" "$m" "$mbs" "$rv" "$rc"
        else
            read -r b p <<< "${SCORE[$tool]}"
            printf '| %s | %.2f s | %.0f | %.2f | %.2f | %s | %s of %s | %s of %s |\n' \
                "$tool" "$m" "$mbs" "$rv" "$rc" "${FILES[$tool]}" "$b" "$PLACED" "$p" "$PLACED"
        fi
    done
    echo
    echo "Commands (IMAGE is the card image, OUT a fresh folder):"
    echo
    for tool in "${TOOLS[@]}"; do echo "- $(version_of "$tool"): \`$(command_of "$tool")\`"; done
    echo
    echo "All run times, in seconds:"
    echo
    for tool in "${TOOLS[@]}"; do echo "- $tool:${TIMES[$tool]}"; done
    echo
} > "$SECTION"

mkdir -p "$(dirname "$DOC")"
"$REPO/bench/replacesection.py" "$DOC" "$SECTION" "$SECTION_HEADING"
log "wrote $DOC"
