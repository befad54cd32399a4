#!/usr/bin/env bash
# Installs, from Debian's packages, what the machine lacks to build and run the two
# programs; with --tests, also what the tests, the fuzzers and the Debian package's
# check need. Safe to run again: it does nothing when everything is there.
#   scripts/install-deps.sh [--tests]
set -euo pipefail

# Building and running: scripts/open.sh needs these and nothing more.
packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev                      # the window toolkit
  fonts-ipafont-gothic fonts-ipafont-mincho  # stand-ins for the MS P-faces
  xvfb xauth                        # a screen for machines without one
  x11-utils xdotool imagemagick     # ... and a picture of the window on it
  help2man desktop-file-utils       # the manual page and desktop entry that get installed
  libjpeg62-turbo-dev               # velo-carve's thumbnails (and the photos the tests make)
  libtsk-dev                        # velo-carve reads FAT and exFAT: The Sleuth Kit
)

# Testing: scripts/test.sh asks for these too.
test_packages=(
  libgtest-dev libgmock-dev         # the test framework
  mtools dosfstools exfatprogs      # card images for the end-to-end tests
  clang libclang-rt-14-dev          # the fuzzer
  util-linux                        # losetup
  libfuse3-dev fuse3                # a disk with chosen bad sectors for the tests
  fusefat                           # a FAT card on a kernel without vfat (it ignores case)
  dpkg-dev lintian                  # the Debian package: its dependencies, its check
  chromium                          # loads velo-carve's contact sheet in the browser test
)

case "${1:-}" in
  "") ;;
  --tests) packages+=("${test_packages[@]}") ;;
  *)
    echo "usage: $0 [--tests]" >&2
    exit 2
    ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "Missing packages (${missing[*]}) and no sudo: run $0 $* as root." >&2
      exit 1
    fi
    SUDO="sudo"
  fi
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
