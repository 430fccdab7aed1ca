#!/usr/bin/env bash
# Installs, with apt-get, whatever KelTerm needs to build, run and test that
# this Debian 12 machine does not have yet. Needs root (or sudo).
set -euo pipefail

packages=(
  build-essential cmake pkg-config ccache
  qt6-base-dev libgl-dev qt6-translations-l10n
  libgtest-dev googletest
  lrzsz socat
  fonts-ipafont-gothic
  xvfb xauth
  desktop-file-utils appstream man-db
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
