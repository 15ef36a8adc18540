#!/usr/bin/env bash
# Installs what the tests need, builds with AddressSanitizer and UBSan, and
# runs every test (and each fuzz target for a few seconds); then builds the
# Debian package and checks it in a throwaway root.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash tools/install-deps.sh

build=${DALING_TEST_BUILD:-build-test}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDALING_SANITIZE=ON >/dev/null
ninja -C "$build"

source tools/pulse-null.sh
pulse_null_start
trap pulse_null_stop EXIT

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:detect_odr_violation=0
export LSAN_OPTIONS=suppressions=$root/tools/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
ctest --test-dir "$build" --output-on-failure -j2 || status=$?

# The Debian package, installed into a throwaway root and started from there.
echo "== Debian package"
if bash tools/package.sh >/dev/null; then
  bash tools/check-package.sh "${DALING_PACKAGE_BUILD:-build-package}"/daling_*.deb || status=1
else
  echo "package check: FAIL (the package did not build)"
  status=1
fi

if [ -x tools/fuzz.sh ]; then
  bash tools/fuzz.sh "${DALING_FUZZ_SECONDS:-5}" || status=1
fi
exit $status
