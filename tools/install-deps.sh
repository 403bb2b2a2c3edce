#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need, but only those that are
# missing, so a prepared machine is left alone. Uses sudo when not run as root.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev libgl-dev libsqlite3-dev libcanberra-dev
  python3 python3-pyftpdlib python3-openssl vsftpd openssl
  xvfb xauth x11-xserver-utils fonts-dejavu-core
  dante-server tinyproxy
  curl tshark
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
# Some packages start their service on installation; the tests start their own copies on free ports.
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
