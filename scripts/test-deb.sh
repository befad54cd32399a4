#!/usr/bin/env bash
# Makes the Debian package from a build, checks it with lintian, installs it with apt as
# a user would (`apt-get install ./velo-recovery_….deb`, which brings its dependencies),
# checks what it put on the machine, purges it, and checks that nothing of it is left.
#   scripts/test-deb.sh [BUILD_DIR]        (default: build/default, already built)
#
# It changes the machine's installed packages, so it runs only as root with apt usable,
# and never over a velo-recovery package that was installed before it: then it says why
# and exits with 77 (skipped) without testing. The installed programs are run by their full path under
# /usr/bin, so that a copy installed under /usr/local or ~/.local does not stand in.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/default}"

skip() {
  echo "Debian package: not tested: $*"
  exit 77
}
fail() {
  echo "Debian package: FAILED: $*" >&2
  exit 1
}

[ "$(id -u)" -eq 0 ] || skip "installing a package needs root"
command -v apt-get >/dev/null && command -v dpkg >/dev/null || skip "no apt-get or dpkg"
command -v lintian >/dev/null || skip "no lintian (scripts/install-deps.sh --tests installs it)"
if dpkg-query -W -f='${Status}' velo-recovery 2>/dev/null | grep -q "install ok installed"; then
  skip "a velo-recovery package is installed already; remove it first (apt-get purge velo-recovery)"
fi
# Files the package would own that something else owns already, a copy installed by
# hand under /usr say, would be overwritten by the install and removed by the purge.
for path in /usr/bin/velo-recovery /usr/bin/velo-carve /usr/share/polkit-1/actions/org.velorecovery.policy; do
  [ ! -e "$path" ] || skip "$path is there already, not from a package; remove it first"
done

rm -rf "$build/deb"
(cd "$build" && cpack -G DEB >/dev/null) || fail "cpack"
debs=("$build"/deb/velo-recovery_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single package: ${debs[*]}"
deb="$(realpath "${debs[0]}")"
echo "made $deb"

# Errors fail the check; the warnings are listed and let through.
lintian --tag-display-limit 0 "$deb" | tee "$build/deb/lintian.txt" || true
! grep -q '^E: ' "$build/deb/lintian.txt" || fail "lintian reports errors"

cleanup() { DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq velo-recovery >/dev/null 2>&1 || true; }
trap cleanup EXIT
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null || fail "apt-get install"

mapfile -t owned < <(dpkg -L velo-recovery)
for path in /usr/bin/velo-recovery /usr/bin/velo-carve \
  /usr/share/applications/velo-recovery.desktop \
  /usr/share/polkit-1/actions/org.velorecovery.policy \
  /usr/share/icons/hicolor/scalable/apps/velo-recovery.svg \
  /usr/share/icons/hicolor/48x48/apps/velo-recovery.png \
  /usr/share/man/man1/velo-carve.1.gz /usr/share/man/man1/velo-recovery.1.gz \
  /usr/share/doc/velo-recovery/copyright; do
  [ -f "$path" ] || fail "not installed: $path"
  printf '%s\n' "${owned[@]}" | grep -qx "$path" || fail "$path is not the package's"
done
version="$(/usr/bin/velo-carve --version)"
[ "$version" = "velo-carve $(dpkg-query -W -f='${Version}' velo-recovery)" ] ||
  fail "velo-carve --version says '$version'"
grep -qx "Exec=pkexec /usr/bin/velo-recovery" /usr/share/applications/velo-recovery.desktop ||
  fail "the menu entry does not start the window through pkexec"
grep -q '<annotate key="org.freedesktop.policykit.exec.path">/usr/bin/velo-recovery</annotate>' \
  /usr/share/polkit-1/actions/org.velorecovery.policy || fail "the polkit action names another program"
desktop-file-validate /usr/share/applications/velo-recovery.desktop || fail "desktop-file-validate"
# Every library the window needs is found, with the package's dependencies alone.
! ldd /usr/bin/velo-recovery | grep -q "not found" || fail "velo-recovery lacks a library"

trap - EXIT
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq velo-recovery >/dev/null || fail "apt-get purge"
! dpkg-query -W velo-recovery >/dev/null 2>&1 || fail "dpkg still knows the package"
for path in "${owned[@]}"; do
  # Folders such as /usr/share/man/man1 belong to other packages too and stay.
  [ -d "$path" ] || [ ! -e "$path" ] || fail "left behind: $path"
done
[ ! -e /usr/share/doc/velo-recovery ] || fail "left behind: /usr/share/doc/velo-recovery"
echo "Debian package: PASSED (installed, checked and purged; lintian: $(grep -c '^W: ' "$build/deb/lintian.txt" || true) warnings)"
