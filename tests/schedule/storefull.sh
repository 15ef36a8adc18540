#!/usr/bin/env bash
# Runs the full-disk store test with the program's home on a small tmpfs in
# a mount namespace of its own (root only; skipped elsewhere, exit code 77).
set -euo pipefail
test_bin=${1:?test}
home=$(mktemp -d /tmp/daling-full.XXXXXX)
trap 'rm -rf "$home"' EXIT
if ! unshare --mount true 2>/dev/null; then
  echo "SKIP: no mount namespace here"; exit 77
fi
DALING_FULL_HOME=$home unshare --mount sh -c \
  'mount -t tmpfs -o size=1m,mode=0755 tmpfs "$DALING_FULL_HOME" && exec "$0" fullDiskKeepsTheRecordsAndTheStoreComesBack' "$test_bin"
