#!/usr/bin/env bash
# Installs every Debian package the program, its tests, benchmarks and
# package need: every tool that the README's commands call, also those a
# minimal Debian 12 (debootstrap) lacks.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
pkgs=(
  cmake ninja-build pkg-config g++ clang libclang-rt-14-dev dpkg-dev
  qt6-base-dev libqt6sql6-sqlite libsqlite3-dev qt6-qpa-plugins
  libmpv-dev libgsf-1-dev
  fonts-noto-cjk qt6-translations-l10n
  xvfb xauth x11-utils xdotool trayer imagemagick
  pulseaudio pulseaudio-utils libpulse-dev ffmpeg
  python3 python3-xlrd python3-xlwt python3-openpyxl
  # The package: CPack's dependency scan runs `file`; the package check runs
  # lintian, makes accounts (passwd) and runs them in a mount namespace
  # (util-linux, mount); the postinst makes a group (adduser) and sets modes
  # through perl.
  file lintian adduser passwd mount util-linux perl-base
  # gio starts the autostart entry in its test; LibreOffice and gnumeric read
  # our spreadsheets in the tests and are the benchmarks' reference.
  libglib2.0-bin libreoffice-calc-nogui gnumeric python3-xlsxwriter
)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
