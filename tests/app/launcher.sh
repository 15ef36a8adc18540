#!/usr/bin/env bash
# The daling launcher: it links neither Qt nor libmpv, answers the emergency
# command without the window module, and hands every other start to the
# module beside it (a usage error of --check-sheet comes from there).
set -uo pipefail
bin=${1:?daling}
work=$(mktemp -d /tmp/daling-launcher.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail=0
expect() { # expect <what> <rc wanted> <text wanted in stderr> <command…>
  local what=$1 rc=$2 text=$3; shift 3
  local got
  "$@" >"$work/out" 2>"$work/err"; got=$?
  if [ "$got" = "$rc" ] && grep -qF -- "$text" "$work/err" "$work/out"; then
    echo "ok   $what"
  else
    echo "FAIL $what (rc $got, wanted $rc and \"$text\")"; sed 's/^/    /' "$work/err" | head -5; fail=1
  fi
}
if readelf -d "$bin" | grep -E 'NEEDED.*(libQt6|libmpv)'; then
  echo "FAIL the launcher links Qt or libmpv"; fail=1
else
  echo "ok   the launcher links neither Qt nor libmpv"
fi
mkdir -p "$work/alone/data" "$work/whole/data" "$work/run"; chmod 700 "$work/run"
cp "$bin" "$work/alone/daling"
cp "$bin" "$(dirname "$bin")/libdaling-window.so" "$work/whole/"
export XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=offscreen
# Without the module beside it: the emergency command still answers; a start says why it cannot.
expect "the emergency command needs no window module" 1 "没有紧急广播可以结束" "$work/alone/daling" --emergency-stop
expect "a window start without the module says why" 1 "libdaling-window.so" "$work/alone/daling" --check-sheet
# With it: the command-line check runs in the module.
expect "--check-sheet runs in the window module" 1 "无法打开文件" "$work/whole/daling" --check-sheet "$work/none.xlsx"
exit $fail
