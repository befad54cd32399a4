#!/usr/bin/env bash
# Prepares the Wine prefix of the Windows tests, the way Wine maps drives and files:
#  - drive E: backed by a disk image: dosdevices/e: is a folder (so that E: is listed,
#    with a root folder and free space, the host's), dosdevices/e:: is the image (what
#    \\.\E: reads), and its type is set in HKLM\Software\Wine\Drives;
#  - a folder holding a file and, under the names DD001.JPG and report.csv, symbolic links
#    to it.
# Wine's mount manager reads the drives when it starts, so the Wine server is restarted
# afterwards; it is left running (-p) for the tests and stopped by wine-stop.sh.
#
# Usage: wine-fixtures.sh WINE_LOADER WINEPREFIX IMAGE E_FOLDER E_TYPE LINK_FOLDER
#   E_TYPE is one of Wine's drive types: floppy (removable), hd, cdrom, network.
set -euo pipefail
loader="$1" prefix="$2" image="$3" folder="$4" type="$5" links="$6"

export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine's output goes to a file: its server would otherwise hold a pipe open for good.
log="$prefix.log"
if [ ! -f "$prefix/system.reg" ]; then
  "$loader" wineboot --init >"$log" 2>&1 || true
fi
[ -f "$image" ] || { echo "no disk image at $image" >&2; exit 1; }
mkdir -p "$folder" "$prefix/dosdevices"
ln -sfn "$folder" "$prefix/dosdevices/e:"
ln -sfn "$image" "$prefix/dosdevices/e::"
"$loader" reg add 'HKLM\Software\Wine\Drives' /v e: /d "$type" /f >>"$log" 2>&1

rm -rf "$links"
mkdir -p "$links"
printf 'bytes that are not ours' >"$links/victim.jpg"
ln -s "$links/victim.jpg" "$links/DD001.JPG"
ln -s "$links/victim.jpg" "$links/report.csv"

# The server's output goes nowhere: one that kept ctest's pipe would make ctest wait.
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1
wineserver -p </dev/null >/dev/null 2>&1
"$loader" cmd /c exit </dev/null >>"$log" 2>&1 # the first start of a program sets Wine up
