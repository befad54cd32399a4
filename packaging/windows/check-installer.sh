#!/usr/bin/env bash
# Runs the Windows installer silently under Wine, in a Wine prefix of its own, and checks
# what a user gets: the programs and Qt's DLLs in Program Files, the Start-menu entry,
# the record in Apps & features; that the installed window starts (on a virtual screen,
# with Qt's windows platform) and the installed velo-carve.exe runs; and that the
# uninstaller removes all of it but leaves a file the user put in that folder.
#
# Usage: check-installer.sh INSTALLER WORK_FOLDER
# Exits 77 (skipped) when a tool it needs is missing.
set -euo pipefail
installer="$(realpath "$1")" work="$2"
for tool in Xvfb xdotool wineserver; do
  command -v "$tool" >/dev/null || { echo "check-installer.sh: skipped: no $tool" >&2; exit 77; }
done
loader=/usr/lib/wine/wine64
rm -rf "$work"
mkdir -p "$work"
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
  echo "check-installer.sh: $*" >&2
  exit 1
}
# Waits until every program of the prefix has ended (the server goes with the last one).
wait_wine() { timeout "${1:-120}" wineserver -w >/dev/null 2>&1; }

# The virtual screen comes first: a Wine server started without one cannot open windows
# for a later program of the prefix that has one.
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY="$display"
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.2; done
"$loader" wineboot --init </dev/null >"$log" 2>&1
wait_wine

echo "-- the installer, silently (/S)"
"$loader" "$installer" /S </dev/null >>"$log" 2>&1 || fail "the installer failed (see $log)"
wait_wine
home="$WINEPREFIX/drive_c/Program Files/velo-recovery"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/velo-recovery.lnk"
for file in velo-recovery.exe velo-carve.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll \
  platforms/qwindows.dll libstdc++-6.dll libwinpthread-1.dll README.txt uninstall.exe; do
  [ -f "$home/$file" ] || fail "not installed: Program Files\\velo-recovery\\$file"
done
[ -f "$menu" ] || fail "no Start-menu entry"
# Wine runs every program as an administrator and ignores the request, so what can be
# checked here is that the installer and the installed window make it (their manifests).
for exe in "$installer" "$home/velo-recovery.exe"; do
  grep -aq 'level="requireAdministrator"' "$exe" ||
    fail "$(basename "$exe") does not ask for administrator rights"
done
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\velo-recovery'
"$loader" reg query "$key" /v UninstallString </dev/null 2>>"$log" | grep 'uninstall.exe' >/dev/null ||
  fail "no record in Apps & features"
echo "   $(find "$home" -type f | wc -l) files in Program Files\\velo-recovery, the Start-menu entry, the uninstall record;"
echo "   the installer and the installed window ask for administrator rights"

echo "-- the installed programs"
version=$("$loader" "C:\\Program Files\\velo-recovery\\velo-carve.exe" --version </dev/null 2>>"$log" | tr -d '\r')
case "$version" in
  *velo-carve*) echo "   velo-carve.exe --version: $version" ;;
  *) fail "the installed velo-carve.exe did not run (said: '$version')" ;;
esac
"$loader" "C:\\Program Files\\velo-recovery\\velo-recovery.exe" </dev/null >>"$log" 2>&1 &
program=$!
window=$(timeout 60 xdotool search --sync --onlyvisible --name 'ｖｅｌｏリカバリー' | head -1) ||
  fail "the installed window did not show within 60 s"
eval "$(xdotool getwindowgeometry --shell "$window")"
echo "   the installed window shows, ${WIDTH}x${HEIGHT}"
# 終　了 (Command4) ends it.
xdotool mousemove --window "$window" 624 317 click 1
for _ in $(seq 50); do kill -0 "$program" 2>/dev/null || break; sleep 0.2; done
kill -0 "$program" 2>/dev/null && fail "終　了 did not end the installed window"
program=""

echo "-- the uninstaller, silently"
echo "the user's own notes" >"$home/notes.txt"
"$loader" "C:\\Program Files\\velo-recovery\\uninstall.exe" /S </dev/null >>"$log" 2>&1 ||
  fail "the uninstaller failed (see $log)"
wait_wine # it runs on from a copy of itself in the temporary folder
left=$(cd "$home" && find . -type f ! -name notes.txt | sort)
[ -z "$left" ] || fail "the uninstaller left: $left"
[ -f "$home/notes.txt" ] || fail "the uninstaller removed a file it had not installed"
[ ! -e "$menu" ] || fail "the Start-menu entry is still there"
if "$loader" reg query "$key" </dev/null >/dev/null 2>&1; then fail "the uninstall record is still there"; fi
echo "   everything installed removed; the user's file kept"
echo "-- installer under Wine: passed"
