#!/usr/bin/env bash
# Checks a built package in a throwaway root, as an administrator would use
# it: lintian finds nothing but the /opt layout; dpkg installs it there
# (maintainer scripts included, run against that root), which makes the
# operators' group; the program starts from there offscreen and makes its
# store from the sample timetable; accounts made in that root (an operator
# and a guest) run it in a private mount namespace that sees the root's
# account files; dpkg removes it (the operator's list stays) and purges it
# (nothing of it stays). Prints PASS or FAIL; exits 1 on failure.
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
# The accounts of the root: root alone until the package and the check add more.
printf 'root:x:0:0:root:/root:/bin/sh\n' >"$root/etc/passwd"
printf 'root:x:0:\n' >"$root/etc/group"
printf 'root:*:19000:0:99999:7:::\n' >"$root/etc/shadow"
printf 'root:*::\n' >"$root/etc/gshadow"
chmod 755 "$root" # the accounts below reach /opt/daling inside it
# The program's command socket: not the one of a copy running on this machine.
export XDG_RUNTIME_DIR="$root/run/root"; mkdir -m 700 -p "$XDG_RUNTIME_DIR"
# The root holds only this package: its dependencies are the host's.
dpk() { dpkg --root="$root" --force-script-chrootless --force-depends --force-not-root \
             --log=/dev/null "$@"; }

echo "package check: $deb"
check "dpkg-deb reads it" dpkg-deb --info "$deb"
check "declares its runtime libraries" sh -c "dpkg-deb -f '$deb' Depends | grep -q libqt6widgets6"
# Debian's own checks, errors and warnings alike. The program lives under
# /opt/daling with its data beside it (the portable layout the school's
# operators know), which lintian reports for every file there: only that
# tag is set aside.
if command -v lintian >/dev/null; then
  lintian --no-cfg --suppress-tags dir-or-file-in-opt --fail-on error,warning "$deb" \
    >"$root/lintian.log" 2>&1
  rc=$?
  check "lintian: no error or warning but the /opt layout" test "$rc" = 0
  [ "$rc" = 0 ] || grep -E '^[EW]:' "$root/lintian.log" | sed 's/^/    /'
else
  check "lintian is installed" false
fi
check "installs (dpkg -i)" dpk -i "$deb"
app="$root/opt/daling"
gid=$(awk -F: '$1 == "daling" { print $3 }' "$root/etc/group")
check "the operators' group is a system group" test -n "$gid" -a "${gid:-1000}" -lt 1000
check "program under /opt/daling" test -x "$app/daling"
check "the emergency command beside it" test -x "$app/daling-emergency"
check "the engine beside it" test -x "$app/dalingd"
check "the engine needs no Qt Gui or Widgets" sh -c "! ldd '$app/dalingd' | grep -qE 'libQt6(Gui|Widgets)'"
check "the window program is a module beside daling" test -f "$app/libdaling-window.so"
check "daling itself loads no Qt and no libmpv" sh -c "! ldd '$app/daling' | grep -qE 'libQt6|libmpv'"
# verify cannot take --root with --user: the unit as packaged, with its
# paths into the root, so that its ExecStart is checked too.
mkdir -p "$root/unitcheck"
sed "s|/opt/daling/|$app/|g" "$root/usr/lib/systemd/user/daling.service" >"$root/unitcheck/daling.service"
check "the user unit passes systemd-analyze verify" \
  systemd-analyze verify --user "$root/unitcheck/daling.service"
check "data/ is root:daling 3775 (sticky)" sh -c "stat -c %a:%u:%g '$app/data' | grep -qx 3775:0:$gid"
check "音乐/ is root:daling 2775" sh -c "stat -c %a:%u:%g '$app/音乐' | grep -qx 2775:0:$gid"
check "bell sounds 0664, group daling" sh -c "stat -c %a:%g '$app/音乐/上课铃.wav' | grep -qx 664:$gid"
check "the lock file root:daling 0664" sh -c "stat -c %a:%u:%g '$app/data/daling.lock' | grep -qx 664:0:$gid"
check "copyright and changelog" test -s "$root/usr/share/doc/daling/copyright" -a -s "$root/usr/share/doc/daling/changelog.gz"
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
check "the store 0664, group daling" sh -c "stat -c %a:%g '$app/data/dbDaLing.db' | grep -qx 664:$gid"
# The engines started from this root's dalingd (by the emergency command), by pid.
engines() { for p in /proc/[0-9]*; do [ "$(readlink "$p/exe" 2>/dev/null)" = "$app/dalingd" ] && echo "${p#/proc/}"; done; }
end_engines() { # ends them and waits until they have gone
  local p; for p in $(engines); do kill -TERM "$p"; done
  for _ in $(seq 100); do [ -z "$(engines)" ] && return 0; sleep 0.1; done; return 1
}
# With no program running, the emergency command starts the engine beside
# it, which stays after the command (no sound server here: it may refuse the
# alarm itself). Root, with no operator named by the lock, runs it as
# itself: what it leaves in data/ must stay the operators' to write.
run=$(mktemp -d)
XDG_RUNTIME_DIR="$run" "$app/daling-emergency" >/dev/null 2>"$root/emergency.log"
check "the emergency command with no program running starts the engine, which stays" test -n "$(engines)"
end_engines
rm -rf "$run"
check "root's engine leaves data/ group daling and group-writable" \
  sh -c "test -z \"\$(find '$app/data' -mindepth 1 \( ! -group $gid -o ! -perm -g+w \) -print)\""

# Accounts: an operator (in group daling) and a guest, made in the root and
# seen only inside a private mount namespace, never on this machine.
why=
unshare -m true 2>/dev/null || why="no private mount namespace here (unshare -m; a chroot has none)"
[ -n "$why" ] || { useradd --root "$root" -m -U -G daling teacher && useradd --root "$root" -m -U guest; } \
  2>"$root/useradd.log" || why="useradd --root failed: $(head -1 "$root/useradd.log")"
if [ -z "$why" ]; then
  as() { # as <user> <command…>: runs as that account of the root (AS_EXEC=1: in place of this shell)
    local user=$1; shift
    local uid gid
    uid=$(awk -F: -v u="$user" '$1 == u { print $3 }' "$root/etc/passwd")
    gid=$(awk -F: -v u="$user" '$1 == u { print $4 }' "$root/etc/passwd")
    mkdir -p "$root/run/user/$uid"; chown "$uid" "$root/run/user/$uid"; chmod 700 "$root/run/user/$uid"
    set -- unshare -m sh -c 'mount --bind "$1/etc/passwd" /etc/passwd && mount --bind "$1/etc/group" /etc/group && shift && exec "$@"' \
      sh "$root" env HOME="$root/home/$user" XDG_RUNTIME_DIR="$root/run/user/$uid" QT_QPA_PLATFORM=offscreen \
      setpriv --reuid="$uid" --regid="$gid" --init-groups "$@"
    if [ -n "${AS_EXEC:-}" ]; then exec "$@"; else "$@"; fi
  }
  fails() { ! "$@"; }
  no_daling_table() {
    /usr/bin/python3 -c "import sqlite3,sys; sys.exit(sqlite3.connect(sys.argv[1]).execute(\"select count(*) from sqlite_master where name='daling'\").fetchone()[0])" "$1"
  }
  check "an operator adds a sound" as teacher touch "$app/音乐/teacher.wav"
  check "a guest cannot add a sound" fails as guest touch "$app/音乐/guest.wav"
  check "a guest cannot replace one" fails as guest sh -c 'echo x > "$1"' sh "$app/音乐/上课铃.wav"
  check "a guest cannot change the store" fails as guest sh -c 'echo x >> "$1"' sh "$app/data/dbDaLing.db"
  # data/ is sticky: the lock and the list stay whoever runs the bells.
  check "an operator cannot delete the lock" fails as teacher rm -f "$app/data/daling.lock"
  check "an operator cannot replace the list" fails as teacher sh -c 'cp "$1" "$1.x" && mv -f "$1.x" "$1"' sh "$app/data/dbDaLing.db"
  rm -f "$app/data/dbDaLing.db.x"
  check "an operator writes the list (WAL)" as teacher /usr/bin/python3 -c "import sqlite3,sys; c=sqlite3.connect(sys.argv[1]); c.execute('pragma journal_mode=wal'); c.execute('create table operator_check (x)'); c.execute('drop table operator_check'); c.commit()" "$app/data/dbDaLing.db"
  # The operator runs the bells; the guest's copy on the same data folder
  # (fast user switching) is refused with a message naming the operator.
  (AS_EXEC=1 as teacher "$app/daling" >"$root/teacher.log" 2>&1) & teacher=$!
  for _ in $(seq 100); do grep -q '^teacher ' "$app/data/daling.lock" 2>/dev/null && break; sleep 0.1; done
  as guest timeout -s TERM 10 "$app/daling" >"$root/guest.log" 2>&1
  check "a second account's copy is refused, naming who runs it" grep -q '用户「teacher」' "$root/guest.log"
  check "the operator's copy still runs" kill -0 "$teacher"
  # Root's command (a relay) finds the operator's copy through the lock's holder.
  check "root's emergency command reaches the operator's copy" \
    sh -c "'$app/daling-emergency' --stop 2>&1 | grep -q '现在没有紧急广播'"
  kill -TERM "$teacher"; wait "$teacher"; rc=$?
  check "SIGTERM ends it cleanly (rc $rc)" test "$rc" = 0
  [ "$rc" = 0 ] || sed 's/^/    /' "$root/teacher.log" | tail -5
  # The operator's copy has gone: root's command (a relay) starts the engine
  # as that operator, the one the lock names, never as root.
  unshare -m sh -c 'mount --bind "$1/etc/passwd" /etc/passwd && mount --bind "$1/etc/group" /etc/group && exec "$2"' \
    sh "$root" "$app/daling-emergency" >/dev/null 2>"$root/relay.log"
  engine=$(engines | head -1)
  teacher_uid=$(awk -F: '$1 == "teacher" { print $3 }' "$root/etc/passwd")
  check "root's command with no engine starts it as the operator named by the lock" \
    sh -c "test -n '$engine' && awk '/^Uid:/ { exit \$3 != $teacher_uid }' /proc/$engine/status"
  end_engines
  # A link planted where the store belongs never leads the tables elsewhere,
  # nor changes its target's mode (the program runs as root here).
  /usr/bin/python3 -c "import sqlite3,sys; sqlite3.connect(sys.argv[1]).execute('create table mine (x)')" "$root/private.db"
  chmod 600 "$root/private.db"
  mv "$app/data/dbDaLing.db" "$root/list.db"
  ln -s "$root/private.db" "$app/data/dbDaLing.db"
  QT_QPA_PLATFORM=offscreen timeout -s TERM 5 "$app/daling" >"$root/link.log" 2>&1
  check "a store that is a link is refused" grep -q "symbolic link" "$root/link.log"
  check "the link's target keeps its tables" no_daling_table "$root/private.db"
  check "the link's target keeps its mode" sh -c "stat -c %a '$root/private.db' | grep -qx 600"
  rm "$app/data/dbDaLing.db"; mv "$root/list.db" "$app/data/dbDaLing.db"
else
  echo "  SKIP accounts and permissions: $why"
fi

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
