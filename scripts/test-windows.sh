#!/usr/bin/env bash
# The Windows stage: builds Qt for Windows once (scripts/build-qt-windows.sh; reused from
# its cache after that), cross-builds the windows preset (64-bit, mingw-w64: both
# programs, velo-recovery.exe and velo-carve.exe) and runs its tests under Wine: the
# suite, the window's and the dialog's widget tests among them (offscreen); one scan
# through the real window on a virtual screen; then makes the .zip and the installer and
# checks the installer. Installs what it needs from Debian's packages when missing.
# Never install wine32: on these machines it breaks Wine for 64-bit programs.
#
# VELO_WINDOWS_NO_QT=1 builds and tests without the window, as before Qt was built here.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="${JOBS:-$(nproc)}"
started=$(date +%s)

# Says how each step went, and PASSED or FAILED, however the stage ends; leaves no Wine
# server behind.
wine_started=""
steps=()
step() { steps+=("$1"); echo "== Windows: $1 =="; }
stop_wine() { wineserver -k >/dev/null 2>&1 || true; wineserver -w >/dev/null 2>&1 || true; }
finish() {
  status=$?
  if [ -n "$wine_started" ]; then stop_wine; fi
  echo
  echo "== Windows summary =="
  local last=$((${#steps[@]} - 1)) i
  for i in "${!steps[@]}"; do
    if [ "$i" -lt "$last" ] || [ "$status" -eq 0 ]; then
      printf '  %-46s %s\n' "${steps[$i]}" passed
    elif [ "$status" -eq 77 ]; then
      printf '  %-46s %s\n' "${steps[$i]}" "skipped (why: above)"
    else
      printf '  %-46s %s\n' "${steps[$i]}" FAILED
    fi
  done
  for skipped in "${not_run[@]}"; do printf '  %s\n' "$skipped"; done
  echo "  ($(($(date +%s) - started)) s)"
  [ "$status" -eq 0 ] && echo "Windows stage: PASSED" || echo "Windows stage: FAILED"
  exit "$status"
}
not_run=()
trap finish EXIT

packages=(cmake ninja-build g++-mingw-w64-x86-64-posix googletest wine wine64 fonts-wine
  fonts-ipafont-gothic fonts-ipafont-mincho nsis xvfb xdotool imagemagick dosfstools mtools)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if [ -n "${VELO_WINDOWS_NO_QT:-}" ]; then
  export VELO_QT_WINDOWS_PREFIX=none
  not_run+=("the window, its end-to-end scan, zip, installer: not run (VELO_WINDOWS_NO_QT is set)")
else
  step "Qt for Windows (built once, then cached)"
  JOBS="$jobs" scripts/build-qt-windows.sh
fi

step "build"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
dist=""
if [ -z "${VELO_WINDOWS_NO_QT:-}" ]; then
  [ -f build/windows/velo-recovery.exe ] || {
    echo "test-windows.sh: Qt for Windows is there, yet no velo-recovery.exe was built" >&2
    exit 1
  }
  cmake --build --preset windows --target velo_windows_installer
  dist=$(ls -d build/windows/packaging/windows/velo-recovery-*-win64)
fi

# Every program started without a running Wine server pays for starting one (about 5 s);
# one server kept alive (-p) for the whole run, and one program started before ctest to
# set the prefix up, make that cost once. Wine's output goes to a file: a server that
# held our pipe open would keep this script waiting.
export WINEPREFIX="$PWD/build/windows/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
step "Wine prefix"
mkdir -p "$WINEPREFIX"
wine_started=yes
stop_wine # one left from before would still see the drives as they were
wineserver -p </dev/null >/dev/null 2>&1
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  /usr/lib/wine/wine64 wineboot --init </dev/null >"$WINEPREFIX.log" 2>&1
fi
/usr/lib/wine/wine64 cmd /c exit </dev/null >>"$WINEPREFIX.log" 2>&1

step "tests under Wine (widget tests offscreen)"
# A test program that Wine fails to start (seen once in many runs: no output, 0.01 s)
# is started again, up to twice. A test that ran and failed (a failed check, a crash)
# fails the stage even when a second attempt passes: such a fault comes and goes.
log=build/windows/ctest-output.log
ctest --preset windows -j "$jobs" --repeat until-pass:3 --output-log "$log" </dev/null
if grep -nE '^\[  FAILED  \]|Unhandled (page fault|exception)' "$log"; then
  echo "test-windows.sh: a test failed on its own account before a later attempt passed" >&2
  exit 1
fi
# A server of a headless run cannot open windows for a later one on a screen.
stop_wine
wine_started=""

[ -n "$dist" ] || exit 0
step "end-to-end scan through the window (Xvfb)"
tests/app/wine-window-scan.sh "$dist" build/windows/e2e build/windows/e2e/window.png

step "zip and installer, installed under Wine"
ls -l build/windows/packaging/windows/*.zip build/windows/packaging/windows/*-setup.exe
packaging/windows/check-installer.sh build/windows/packaging/windows/velo-recovery-*-setup.exe \
  build/windows/install-check
