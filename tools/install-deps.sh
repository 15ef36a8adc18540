#!/usr/bin/env bash
# Installs every Debian package the program, its tests and benchmarks need.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
pkgs=(
  cmake ninja-build pkg-config g++ clang libclang-rt-14-dev dpkg-dev
  qt6-base-dev libqt6sql6-sqlite qt6-qpa-plugins
  libmpv-dev libgsf-1-dev
  fonts-noto-cjk qt6-translations-l10n
  xvfb xauth x11-utils xdotool trayer imagemagick
  pulseaudio pulseaudio-utils libpulse-dev ffmpeg
  python3 python3-xlrd python3-xlwt python3-openpyxl
  python3-xlsxwriter libreoffice-calc-nogui gnumeric
)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
