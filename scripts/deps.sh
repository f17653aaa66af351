#!/usr/bin/env bash
# Installs the Debian packages Lanquill needs to build, run and test. Idempotent: only what is
# missing is installed. Samba's own daemons are never started on this machine's interfaces: a
# policy-rc.d that refuses every service start stays in place for the install.
set -euo pipefail

BUILD_PKGS=(cmake g++ make pkg-config clang-format lld
  qt6-base-dev qt6-base-dev-tools qt6-base-private-dev libgl-dev qt6-tools-dev qt6-l10n-tools
  libxml2-dev libsmbclient-dev libxcb1-dev libxcb-keysyms1-dev libchm-dev fp-utils
  libbenchmark-dev libgtest-dev nlohmann-json3-dev dpkg-dev libsystemd-dev qtkeychain-qt6-dev)
RUN_PKGS=(fonts-wqy-microhei libqt6widgets6 libqt6sql6-sqlite libqt6network6 libqt6dbus6
  qt6-qpa-plugins qt6-translations-l10n libsmbclient libchm1 libxml2 libsystemd0 libqt6keychain1)
TEST_PKGS=(xvfb xdotool trayer openbox x11-xserver-utils x11-utils imagemagick iproute2 samba smbclient
  clang libclang-rt-14-dev procps psmisc nbtscan hyperfine git dbus-daemon python3-dbus python3-gi
  python3 systemd desktop-file-utils appstream lintian libcap2-bin at-spi2-core python3-pyatspi
  gnome-keyring libsecret-tools dbus-bin python3-samba python3-impacket)

want=("${BUILD_PKGS[@]}" "${RUN_PKGS[@]}")
[ "${1:-}" = "--test" ] && want+=("${TEST_PKGS[@]}")

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=
[ "$(id -u)" -ne 0 ] && SUDO=sudo

policy=/usr/sbin/policy-rc.d
placed_policy=
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" >/dev/null
  $SUDO chmod 755 "$policy"
  placed_policy=1
fi
cleanup() { if [ -n "$placed_policy" ]; then $SUDO rm -f "$policy"; fi; }
trap cleanup EXIT

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

# Samba runs only in the test namespaces; when this install brought it, keep its system units
# from starting at boot on this machine's own interfaces.
if printf '%s\n' "${missing[@]}" | grep -qx samba; then
  for unit in smbd nmbd samba-ad-dc; do
    $SUDO systemctl disable "$unit" >/dev/null 2>&1 || true
  done
fi
exit 0
