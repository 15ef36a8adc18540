#!/usr/bin/env bash
# Installs every Debian package the program, its tests, benchmarks and
# package need: every tool that the README's commands call, also those a
# minimal Debian 12 (debootstrap) lacks.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
pkgs=(
  cmake ninja-build pkg-config g++ clang libclang-rt-14-dev dpkg-dev
  qt6-base-dev libqt6sql6-sqlite libsqlite3-dev qt6-qpa-plugins
  libmpv-dev libgsf-1-dev libsystemd-dev nlohmann-json3-dev
  # The amplifier relays and fire alarm contacts: Modbus modules and GPIO lines.
  libmodbus-dev libgpiod-dev
  # The remote control's password hashes (Argon2id) and session tokens.
  libsodium-dev
  # The remote control's server (HTTP, HTTPS, WebSocket) in the engine.
  qt6-httpserver-dev qt6-websockets-dev
  # Its page tested in a real headless browser; its HTTPS with a
  # certificate made by openssl.
  chromium chromium-driver python3-selenium openssl
  fonts-noto-cjk qt6-translations-l10n
  xvfb xauth x11-utils xdotool trayer imagemagick openbox
  pulseaudio pulseaudio-utils libpulse-dev libasound2-dev ffmpeg
  python3 python3-xlrd python3-xlwt python3-openpyxl
  # The package: CPack's dependency scan runs `file`; the package check runs
  # lintian, makes accounts (passwd) and runs them in a mount namespace
  # (util-linux, mount); the postinst makes a group (adduser) and sets modes
  # through perl; systemd-analyze verifies the engine's user unit.
  file lintian adduser passwd mount util-linux perl-base systemd
  # gio starts the autostart entry in its test; LibreOffice and gnumeric read
  # our spreadsheets in the tests and are the benchmarks' reference.
  libglib2.0-bin libreoffice-calc-nogui gnumeric python3-xlsxwriter
)
# Snapcast for the tests and benchmarks of buildings in step (they start
# their own servers on 127.0.0.1). The program itself never needs it: a
# school sets its own snapserver up by hand.
snapcast=(snapserver snapclient)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
snap_missing=()
for p in "${snapcast[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || snap_missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ] || [ ${#snap_missing[@]} -gt 0 ]; then
  apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The snapcast packages come with services that would listen on every
# address (1704, 1705, 1780). A policy-rc.d that refuses every start keeps
# them down during the install; it is removed afterwards only when it was
# ours (a container may have its own).
if [ ${#snap_missing[@]} -gt 0 ]; then
  policy=/usr/sbin/policy-rc.d
  ours=0
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\n# refuse service starts while packages install\nexit 101\n' >"$policy"
    chmod 755 "$policy"
    ours=1
  fi
  trap '[ "$ours" = 1 ] && rm -f "$policy"; true' EXIT
  apt-get install -y -qq --no-install-recommends "${snap_missing[@]}"
fi
# Whatever was there before: the packages' services neither run nor start
# at boot.
for svc in snapserver snapclient; do
  [ -e "/etc/init.d/$svc" ] || [ -e "/lib/systemd/system/$svc.service" ] || continue
  if [ -d /run/systemd/system ]; then
    systemctl disable --now "$svc" >/dev/null 2>&1 || true
  else
    "/etc/init.d/$svc" stop >/dev/null 2>&1 || true
    deb-systemd-helper disable "$svc.service" >/dev/null 2>&1 || true
    update-rc.d "$svc" disable >/dev/null 2>&1 || true
  fi
done
if command -v ss >/dev/null && ss -ltnpH 2>/dev/null | grep -q '"snap\(server\|client\)"'; then
  echo "warning: a snapcast service listens; stop it before the tests:" >&2
  ss -ltnp | grep snap >&2
fi
