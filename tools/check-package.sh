#!/usr/bin/env bash
# Checks a built package in a throwaway root, as an administrator would use
# it: dpkg installs it there (maintainer scripts included, run against that
# root), the program starts from there offscreen and makes its store from
# the sample timetable, dpkg removes it (the operator's list stays) and purges
# it (nothing of it stays). Prints PASS or FAIL; exits 1 on failure.
#   tools/check-package.sh build-package/daling_3.12_amd64.deb
set -uo pipefail
deb=${1:?usage: check-package.sh <daling_*.deb>}
root=$(mktemp -d /tmp/daling-pkgroot.XXXXXX)
trap 'rm -rf "$root"' EXIT
failures=0
check() { # check <what> <command…>
  local what=$1; shift
  if "$@" >/dev/null 2>&1; then echo "  ok   $what"; else echo "  FAIL $what"; failures=$((failures + 1)); fi
}

mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/etc/xdg/autostart"
touch "$root/var/lib/dpkg/status"
# The root holds only this package: its dependencies are the host's.
dpk() { dpkg --root="$root" --force-script-chrootless --force-depends --force-not-root \
             --log=/dev/null "$@"; }

echo "package check: $deb"
check "dpkg-deb reads it" dpkg-deb --info "$deb"
check "declares its runtime libraries" sh -c "dpkg-deb -f '$deb' Depends | grep -q libqt6widgets6"
check "installs (dpkg -i)" dpk -i "$deb"
app="$root/opt/daling"
check "program under /opt/daling" test -x "$app/daling"
check "data/ writable by every user" sh -c "stat -c %a '$app/data' | grep -qx 777"
check "音乐/ writable by every user" sh -c "stat -c %a '$app/音乐' | grep -qx 777"
check "bell sounds" test -s "$app/音乐/上课铃.wav"
check "menu entry runs /opt/daling/daling" grep -q '^Exec="/opt/daling/daling"' "$root/usr/share/applications/daling.desktop"
check "icons" test -s "$root/usr/share/icons/hicolor/48x48/apps/daling.png"

# The program from the throwaway root: still running after a few seconds
# (a crash or an early exit fails), with its store made from the sample.
QT_QPA_PLATFORM=offscreen timeout -s TERM 5 "$app/daling" >"$root/run.log" 2>&1
rc=$?
check "starts and runs offscreen (ended by the check, rc $rc)" test "$rc" = 124
check "first start: the sample timetable is the store" \
  sh -c "/usr/bin/python3 -c \"import sqlite3,sys; c=sqlite3.connect(sys.argv[1]); sys.exit(0 if c.execute('select count(*) from daling').fetchone()[0] > 0 else 1)\" '$app/data/dbDaLing.db'"
[ "$rc" = 124 ] || sed 's/^/    /' "$root/run.log" | tail -20

printf '[Desktop Entry]\nExec="/opt/daling/daling"\n' >"$root/etc/xdg/autostart/QuorlinDaling.desktop"
check "removes (dpkg -r)" dpk -r daling
check "program gone" test ! -e "$app/daling"
check "menu entry gone" test ! -e "$root/usr/share/applications/daling.desktop"
check "autostart entry gone" test ! -e "$root/etc/xdg/autostart/QuorlinDaling.desktop"
check "the operator's list stays after remove" test -s "$app/data/dbDaLing.db"
check "purges" dpk --purge daling
check "nothing left under /opt" test ! -e "$app"

if [ "$failures" = 0 ]; then
  echo "package check: PASS"
else
  echo "package check: FAIL ($failures)"
  exit 1
fi
