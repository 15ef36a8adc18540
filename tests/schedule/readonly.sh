#!/usr/bin/env bash
# Runs the read-only store test with the program's home mounted read-only in
# a mount namespace of its own (root only; skipped elsewhere, exit code 77).
set -euo pipefail
test_bin=${1:?test}; sample=${2:?make_sample}
home=$(mktemp -d /tmp/daling-ro.XXXXXX)
trap 'rm -rf "$home"' EXIT
"$sample" "$home/data/dbDaLing.db"
"$test_bin" --leave-wal "$home/data/dbDaLing.db"
if ! unshare --mount true 2>/dev/null; then
  echo "SKIP: no mount namespace here"; exit 77
fi
DALING_RO_HOME=$home unshare --mount sh -c \
  'mount --bind "$DALING_RO_HOME" "$DALING_RO_HOME" && mount -o remount,bind,ro "$DALING_RO_HOME" && exec "$0"' "$test_bin"
