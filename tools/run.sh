#!/usr/bin/env bash
# Installs what the program needs, builds it, installs it into dist/ with
# its data folder, bell sounds and a sample timetable, and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DDALING_TESTS=OFF -DDALING_BENCH=OFF \
  -DCMAKE_INSTALL_PREFIX="$PWD/dist" -DDALING_DESKTOP_DATADIR=/usr/local/share >/dev/null
ninja -C build-release daling daling-window dalingd daling-emergency make_sample
# The program into dist/; its menu entry and icons into /usr/local/share.
cmake --install build-release >/dev/null
bash tools/make-sounds.sh dist/音乐
build-release/tools/sample/make_sample dist/data/dbDaLing.db
[ "${DALING_NO_START:-}" = 1 ] && exit 0
exec dist/daling
