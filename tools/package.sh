#!/usr/bin/env bash
# Builds the Debian package build-package/daling_<version>_amd64.deb: the
# program under /opt/daling with its writable data/ and 音乐/ folders, three
# bell sounds and a sample timetable, the menu entry and icons under
# /usr/share. Install it with `apt install ./build-package/daling_*.deb`.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
build=${DALING_PACKAGE_BUILD:-build-package}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDALING_TESTS=OFF -DDALING_BENCH=OFF \
  -DDALING_PACKAGE=ON -DCMAKE_INSTALL_PREFIX=/opt/daling -DDALING_DESKTOP_DATADIR=/usr/share >/dev/null
ninja -C "$build" daling daling-window dalingd daling-emergency package_data
rm -f "$build"/daling_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/daling_*.deb
