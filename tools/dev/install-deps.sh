#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need, but only those that are
# missing, so a prepared machine is left alone. Uses sudo when not run as root.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev libgl-dev libsqlite3-dev libxxhash-dev libcanberra-dev
  python3 python3-pyftpdlib python3-openssl vsftpd openssl
  xvfb xauth x11-xserver-utils fonts-dejavu-core
  dante-server tinyproxy
  curl iproute2
  dpkg-dev lintian groff-base
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
# The server packages would start their services on installation (danted fails to without a
# configuration, which fails the installation). The tests start their own copies on free ports, so
# service starts are refused for the time of the installation unless the machine already does that.
policy=/usr/sbin/policy-rc.d
added_policy=
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | "${sudo[@]}" tee "$policy" >/dev/null
  "${sudo[@]}" chmod 755 "$policy"
  added_policy=1
fi
status=0
"${sudo[@]}" apt-get update -qq || status=$?
[ "$status" -eq 0 ] && { "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" || status=$?; }
[ -n "$added_policy" ] && "${sudo[@]}" rm -f "$policy"
exit "$status"
