#!/usr/bin/env bash
# Installs, from Debian's packages, whatever building, running and testing needs and
# the machine lacks. Safe to run again: it does nothing when everything is there.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev                      # the window toolkit
  libgtest-dev libgmock-dev         # the test framework
  fonts-ipafont-gothic fonts-ipafont-mincho  # stand-ins for the MS P-faces
  xvfb xauth                        # a screen for machines without one
  mtools dosfstools                 # card images for the end-to-end tests
  clang libclang-rt-14-dev          # the fuzzer
  util-linux                        # losetup
  libjpeg62-turbo-dev               # photos made in the JPEG rule's tests
)

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
