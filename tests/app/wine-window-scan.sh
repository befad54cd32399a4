#!/usr/bin/env bash
# A user's scan with the Windows build, end to end under Wine on a virtual screen: the
# real velo-recovery.exe, from the folder a user unzips, with Qt's windows platform.
# Photos are copied to a FAT32 card image and deleted; Wine maps the image to drive E:
# and an empty folder to drive S:. The card's row is picked by a click, the save folder
# S:\recovered chosen through the dialog (drive list, double-click, Ｏ　Ｋ), 解析実行
# clicked; the files that arrive must be, name for name and byte for byte, those that
# velo-carve.exe --rule window cuts from the same image. 解析停止 stops the scan, and
# 終　了 then ends the program.
#
# Usage: wine-window-scan.sh DIST_FOLDER WORK_FOLDER [SCREENSHOT.png]
#   DIST_FOLDER holds velo-recovery.exe, velo-carve.exe and their DLLs; WORK_FOLDER is
#   made anew (the card, the Wine prefix, the files); SCREENSHOT gets the window while
#   it scans, and SCREENSHOT-dialog.png the save-folder dialog on S:\recovered.
#   Exits 77 (skipped) when a tool it needs is missing.
set -euo pipefail
dist="$(realpath "$1")" work="$2" shot="${3:-}"
photos="$(cd "$(dirname "$0")/../data/photos" && pwd)"
for tool in Xvfb xdotool import mkfs.vfat mcopy mdel wineserver; do
  command -v "$tool" >/dev/null || { echo "wine-window-scan.sh: skipped: no $tool" >&2; exit 77; }
done
loader=/usr/lib/wine/wine64

rm -rf "$work"
mkdir -p "$work/drive-e" "$work/drive-s/recovered" "$work/expected"
work="$(realpath "$work")"
export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
log="$work/wine.log"
display=":$((60 + RANDOM % 30))"
xvfb="" program=""
cleanup() {
  [ -z "$program" ] || kill "$program" 2>/dev/null || true
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
fail() {
  echo "wine-window-scan.sh: $*" >&2
  if [ -n "$xvfb" ] && import -window root "$work/failure.png" 2>/dev/null; then
    echo "the screen at that moment: $work/failure.png" >&2
  fi
  exit 1
}

# The virtual screen comes first: a Wine server started without one cannot open windows
# for a later program of the prefix that has one.
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY="$display"
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.2; done

echo "-- the card: photos copied to a FAT32 image, then deleted"
card="$work/card.img"
mkfs.vfat -F 32 -s 1 -C "$card" 49152 >/dev/null
n=0 total=0
for photo in "$photos"/*.jpg; do
  size=$(stat -c %s "$photo")
  [ $((total + size)) -le $((20 << 20)) ] || continue
  total=$((total + size)) n=$((n + 1))
  mcopy -i "$card" "$photo" "::P$n.JPG"
done
mdel -i "$card" '::P*.JPG'
[ "$n" -ge 10 ] || fail "only $n photos fit on the card"

echo "-- the Wine prefix: E: is the card, S: the save drive"
wineserver -k >/dev/null 2>&1 || true
"$loader" wineboot --init </dev/null >"$log" 2>&1
# Wine's own Tahoma, as on Windows, rather than the serif Qt falls back to without it.
cp /usr/share/wine/fonts/tahoma*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
# Only C:, E:, S: and Z: (the host's root, through which Wine runs the programs): the
# drive list's rows are then known.
find "$WINEPREFIX/dosdevices" -maxdepth 1 -name '?:*' ! -name 'c:' ! -name 'z:' -exec rm -f {} +
ln -s "$work/drive-e" "$WINEPREFIX/dosdevices/e:"
ln -s "$card" "$WINEPREFIX/dosdevices/e::"
ln -s "$work/drive-s" "$WINEPREFIX/dosdevices/s:"
"$loader" reg add 'HKLM\Software\Wine\Drives' /v e: /d floppy /f </dev/null >>"$log" 2>&1
"$loader" reg add 'HKLM\Software\Wine\Drives' /v s: /d hd /f </dev/null >>"$log" 2>&1
# The mount manager reads the drives when it starts.
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true

echo "-- what velo-carve.exe --rule window cuts from the card"
"$loader" "$dist/velo-carve.exe" --rule window -q --no-sheet "Z:$card" "Z:$work/expected" \
  </dev/null >>"$log" 2>&1 || fail "velo-carve.exe failed on the card (see $log)"
expected=$(find "$work/expected" -type f | wc -l)
[ "$expected" -ge "$n" ] || fail "velo-carve.exe cut only $expected files from $n photos"
echo "   $expected files"

echo "-- velo-recovery.exe on a virtual screen"
started=$(date +%s%N)
"$loader" "$dist/velo-recovery.exe" </dev/null >>"$log" 2>&1 &
program=$!
window=$(timeout 60 xdotool search --sync --onlyvisible --name 'ｖｅｌｏリカバリー' | head -1) ||
  fail "the window did not show within 60 s"
echo "   shown after $((($(date +%s%N) - started) / 1000000)) ms"
sleep 1 # the first paint
# Clicks at a point of the client area, in pixels at 96 dpi (the twips of the design / 15).
click() { # WINDOW X Y [COUNT]
  xdotool mousemove --window "$1" "$2" "$3" click --repeat "${4:-1}" --delay 120 1
  sleep 0.5
}

# The drive list (ListView1 from x 70, y 38): rows C:, E:, S:, Z: under the header.
click "$window" 120 "${VELO_E_ROW_Y:-87}"
# 保存先変更 (Command1).
click "$window" 479 319
dialog=$(timeout 20 xdotool search --sync --onlyvisible --name '保存先指定' | head -1) ||
  fail "the save-folder dialog did not open"
sleep 0.5
# Drive1: opened, S: chosen by its letter, taken with Enter.
click "$dialog" 170 42
xdotool key --delay 150 s Return
sleep 0.5
# Dir1 now shows S:\ and, below it, recovered: opened by a double-click; then Ｏ　Ｋ.
click "$dialog" 90 "${VELO_RECOVERED_ROW_Y:-92}" 2
if [ -n "$shot" ]; then
  eval "$(xdotool getwindowgeometry --shell "$dialog")"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "${shot%.png}-dialog.png"
fi
click "$dialog" 94 315
timeout 10 bash -c "while xdotool search --onlyvisible --name '保存先指定' >/dev/null; do sleep 0.2; done" ||
  fail "the save-folder dialog did not close"

# 解析実行 (Command2), then wait until the save folder holds what velo-carve cut.
click "$window" 163 319
for _ in $(seq 240); do
  diff -r -q "$work/expected" "$work/drive-s/recovered" >/dev/null 2>&1 && break
  sleep 0.5
done
diff -r "$work/expected" "$work/drive-s/recovered" ||
  fail "the window's files differ from velo-carve's (above)"
sleep 1
if [ -n "$shot" ]; then
  eval "$(xdotool getwindowgeometry --shell "$window")"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$shot"
  echo "   picture of the window while it scans: $shot"
fi

# Under Wine, E:'s free space is that of the host folder behind it, not the card's, so
# the scan would go on far past the card's end: 解析停止 (Command3) stops it, as a user
# would. Nothing more may arrive after the stop.
click "$window" 322 319
sleep 2
diff -r "$work/expected" "$work/drive-s/recovered" ||
  fail "after 解析停止 the window's files differ from velo-carve's (above)"
echo "   the window saved the same $expected files as velo-carve, byte for byte"

# 終　了 (Command4) ends the program.
click "$window" 624 317
for _ in $(seq 50); do kill -0 "$program" 2>/dev/null || break; sleep 0.2; done
kill -0 "$program" 2>/dev/null && fail "終　了 did not end the program"
program=""
echo "-- end-to-end scan under Wine: passed"
