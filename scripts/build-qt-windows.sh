#!/usr/bin/env bash
# Builds Qt 6 for 64-bit Windows (mingw-w64) once, from Debian's own qt6-base source, so
# that the windows preset can build velo-recovery.exe. Debian ships no Qt for Windows.
#
# The result is kept outside the clone, in a cache folder named by the Qt source
# package's version, the cross compiler's version and a hash of this script (which holds
# every option): a later run with the same three reuses it at once; a change to any of
# them builds a new one and removes the old. Prints where Qt is and how long it took.
#
#   scripts/build-qt-windows.sh                 build or reuse; the last line is the prefix
#   scripts/build-qt-windows.sh --print-prefix  only print the prefix this key would use
#                                               (exit 1 when it is not built yet)
#
# VELO_QT_WINDOWS_CACHE names the cache folder (default /var/cache/velo-recovery/qt-windows,
# or ~/.cache/velo-recovery/qt-windows without root). JOBS sets the parallel jobs.
set -euo pipefail
script="$(cd "$(dirname "$0")" && pwd)/$(basename "$0")"
repo="$(dirname "$(dirname "$script")")"
jobs="${JOBS:-$(nproc)}"
if [ "$(id -u)" -eq 0 ]; then
  cache="${VELO_QT_WINDOWS_CACHE:-/var/cache/velo-recovery/qt-windows}"
else
  cache="${VELO_QT_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/velo-recovery/qt-windows}"
fi
mingw=x86_64-w64-mingw32

# The host Qt (moc, rcc, uic) must be the very version cross-built: the source is taken
# at the installed qt6-base-dev's version.
host_qt_version() { dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null || true; }
compiler_version() { dpkg-query -W -f='${Version}' g++-mingw-w64-x86-64-posix 2>/dev/null || true; }
key() {
  local hash
  hash="$(sha256sum "$script" | cut -c1-12)"
  # Debian versions hold '+' and '~'; keep folder names plain.
  echo "qt6-base-$(host_qt_version | tr '+~:' '__.')-mingw-$(compiler_version | tr '+~:' '__.')-$hash"
}

if [ "${1:-}" = "--print-prefix" ]; then
  [ -n "$(host_qt_version)" ] && [ -n "$(compiler_version)" ] || exit 1
  prefix="$cache/$(key)"
  echo "$prefix"
  [ -f "$prefix/.complete" ]
  exit
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

# deb-src for bookworm, so that apt-get source finds qt6-base.
if ! grep -rqsE '^(deb-src[[:space:]]|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  echo "Adding Debian's bookworm sources (deb-src) to apt"
  $SUDO tee /etc/apt/sources.list.d/velo-recovery-deb-src.sources >/dev/null <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  need_update=yes
fi
packages=(cmake ninja-build perl dpkg-dev xz-utils g++-mingw-w64-x86-64-posix qt6-base-dev qt6-base-dev-tools)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ] || [ -n "${need_update:-}" ]; then
  $SUDO apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

prefix="$cache/$(key)"
mkdir -p "$cache"
# One build at a time per cache: a second run waits, then finds the first one's Qt.
exec 9>"$cache/.lock"
if ! flock -n 9; then
  echo "Waiting for another build of Qt for Windows in $cache"
  flock 9
fi
if [ -f "$prefix/.complete" ]; then
  echo "Qt for Windows: reusing $prefix (built in $(cat "$prefix/.complete"))"
  echo "$prefix"
  exit 0
fi

started=$(date +%s)
version="$(host_qt_version)"
echo "Building Qt for Windows from qt6-base $version with $jobs jobs into $prefix"
echo "(some 15 minutes on 2 idle cores, longer on a busy machine; 1.3 GB of scratch space)"
work="$(mktemp -d "${TMPDIR:-/var/tmp}/velo-qt-windows.XXXXXX")"
trap 'rm -rf "$work"' EXIT
chmod 755 "$work" # apt-get downloads as the _apt user where it can
rm -rf "$prefix"

cd "$work"
echo "== Qt for Windows: source =="
apt-get source -qq --download-only "qt6-base=$version" >/dev/null
# With Debian's patches (their security fixes among them). Debian leaves out the wintab
# headers as non-free: Wine's LGPL ones stand in (from libwine-dev, unpacked here, not
# installed).
dpkg-source -x qt6-base_*.dsc src >/dev/null
apt-get download -qq libwine-dev >/dev/null
dpkg-deb -x libwine-dev_*.deb wine-dev
wintab=src/src/3rdparty/wintab
mkdir -p "$wintab"
cp wine-dev/usr/include/wine/wine/windows/pktdef.h "$wintab/pktdef.h"
cp wine-dev/usr/include/wine/wine/windows/wintab.h "$wintab/wine-wintab.h"
cat >"$wintab/wintab.h" <<'EOF'
/* Wine's wintab.h, with the Winelib names it expects and the API macro of the original. */
#ifndef VELO_WINTAB_H
#define VELO_WINTAB_H
#include <windows.h>
#ifndef WINELIB_NAME_AW
#ifdef UNICODE
#define WINELIB_NAME_AW(name) name##W
#else
#define WINELIB_NAME_AW(name) name##A
#endif
#endif
#ifndef DECL_WINELIB_TYPE_AW
#define DECL_WINELIB_TYPE_AW(type) typedef WINELIB_NAME_AW(type) type;
#endif
#ifndef API
#define API WINAPI
#endif
#include "wine-wintab.h"
#endif
EOF

# A toolchain of its own: the repository's links programs statically and runs tests
# under Wine, neither of which Qt's DLLs want.
cat >toolchain.cmake <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER $mingw-gcc-posix)
set(CMAKE_CXX_COMPILER $mingw-g++-posix)
set(CMAKE_RC_COMPILER $mingw-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$mingw)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF

echo "== Qt for Windows: configure =="
# Shared libraries; every third-party library from Qt's own copy (Debian's are Linux
# builds); the modules the program has no use for left out. Single widgets are not left
# out: Qt's own sources include some of them whatever is configured. direct2d stays on:
# the windows platform plugin's DirectWrite font database is compiled only with it.
off_features=(sql network dbus opengl vulkan printsupport xml concurrent direct2d1_1
  system_zlib system_pcre2 system_freetype system_harfbuzz system_libpng system_libjpeg
  system_doubleconversion system_md4c)
options=()
for f in "${off_features[@]}"; do options+=("-DFEATURE_$f=OFF"); done
# -O1: a window of a few dozen widgets gains nothing it would notice from -O2, and the
# build takes a good part less time.
cmake -G Ninja -S src -B build \
  -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O1 -DNDEBUG" \
  -DQT_USE_DEFAULT_CMAKE_OPTIMIZATION_FLAGS=ON \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DBUILD_SHARED_LIBS=ON -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
  -DINPUT_opengl=no -DFEATURE_testlib=ON -DFEATURE_direct2d=ON \
  "${options[@]}" >configure.log 2>&1 || {
  tail -40 configure.log
  echo "build-qt-windows.sh: Qt's configure failed (log above)" >&2
  exit 1
}

echo "== Qt for Windows: build =="
# Every 50th of Ninja's status lines ([done/total seconds]) shows how far it is; the
# whole output goes to a log kept on failure.
log="${TMPDIR:-/var/tmp}/velo-qt-windows-build.log"
if ! NINJA_STATUS="[%f/%t %es] " cmake --build build -j "$jobs" 2>&1 | tee "$log" |
  awk '/FAILED|error:/ || NR % 50 == 0 { print; fflush() }'; then
  echo "build-qt-windows.sh: building Qt failed; its output is in $log" >&2
  exit 1
fi
cmake --install build >/dev/null
# Qt's DLLs need the compiler's runtime DLLs: beside them, this Qt runs as it is (under
# Wine, for the tests) and a program's folder takes them from here.
for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
  cp "$("$mingw-g++-posix" -print-file-name="$dll")" "$prefix/bin/"
done

elapsed=$(($(date +%s) - started))
echo "$((elapsed / 60)) min $((elapsed % 60)) s" >"$prefix/.complete"
# Builds made under an older key (another Qt, compiler or version of this script) go.
for old in "$cache"/qt6-base-*; do
  [ "$old" = "$prefix" ] || rm -rf "$old"
done
echo "Qt for Windows: built in $((elapsed / 60)) min $((elapsed % 60)) s, $(du -sh "$prefix" | cut -f1) in $prefix"
echo "$prefix"
