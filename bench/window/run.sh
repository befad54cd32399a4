#!/usr/bin/env bash
# The window's scan against dd and cat on the same cached card image, under a real X
# server.
#   bench/window/run.sh [IMAGE]     (default: a 1 GiB image made from the photos below)
# BASELINE=path/to/velo-scan-bench times another build's scan in the same run, and says
# whether its files are byte for byte the same.
# Photos: ../shared/corpus/camera beside the repository when it is there, else the
# repository's tests/data/photos; it says which.
# Needs root (losetup). Prints the figures for docs/BENCHMARKS.md.
set -euo pipefail
cd "$(dirname "$0")/../.."
image="${1:-/tmp/velo-bench-1g.img}"
bin="${BENCH_BUILD:-build/default}/bench/window/velo-scan-bench"
cmake --build "${BENCH_BUILD:-build/default}" --target velo-scan-bench >/dev/null

corpus=tests/data/photos
[ -d ../shared/corpus/camera ] && corpus=../shared/corpus/camera
if [ ! -f "$image" ]; then
  echo "== making $image from the photos of $corpus =="
  # Photos laid one after another at 4 KiB boundaries, with random filler between,
  # repeated to 1 GiB: what a FAT32 card holds after its photos were deleted.
  python3 - "$image" "$corpus" <<'PY'
import os, random, sys
out, corpus = sys.argv[1], sys.argv[2]
photos = [open(os.path.join(corpus, f), 'rb').read() for f in sorted(os.listdir(corpus)) if f.lower().endswith(('.jpg', '.jpeg'))]
rnd = random.Random(1)
size = 1 << 30
with open(out, 'wb') as f:
    while f.tell() < size - (8 << 20):
        p = photos[rnd.randrange(len(photos))]
        f.write(p)
        f.write(b'\0' * (-f.tell() % 4096))
        f.write(rnd.randbytes(4096 * rnd.randrange(1, 8)))
    f.truncate(size)
PY
fi
cat "$image" > /dev/null
loop=$(losetup -r -f --show "$image")
out=$(mktemp -d)
trap 'losetup -d "$loop"; rm -rf "$out"' EXIT
cat "$loop" > /dev/null

echo "== dd if=$loop of=/dev/null bs=512 =="
for i in 1 2 3; do
  /usr/bin/time -f "%e s" dd if="$loop" of=/dev/null bs=512 status=none 2>&1
done
echo "== cat $loop > /dev/null =="
for i in 1 2 3; do
  /usr/bin/time -f "%e s" sh -c 'cat "$1" > /dev/null' sh "$loop" 2>&1
done
# The digest of every carved file's SHA-256, by name: equal digests, equal files.
digest() { (cd "$1" && sha256sum -- * | sort -k2 | sha256sum | cut -c1-16); }
echo "== velo-scan-bench $loop (xvfb-run) =="
xvfb-run -a -s "-screen 0 1280x800x24" "$bin" "$loop" "$out" 3
echo "files carved: $(ls "$out" | wc -l), digest $(digest "$out")"
if [ -n "${BASELINE:-}" ]; then
  base_out=$(mktemp -d)
  trap 'losetup -d "$loop"; rm -rf "$out" "$base_out"' EXIT
  echo "== baseline $BASELINE $loop (xvfb-run) =="
  xvfb-run -a -s "-screen 0 1280x800x24" "$BASELINE" "$loop" "$base_out" 3
  echo "files carved: $(ls "$base_out" | wc -l), digest $(digest "$base_out")"
  diff -r -q "$base_out" "$out" >/dev/null && echo "files: identical" || echo "files: DIFFER"
fi
