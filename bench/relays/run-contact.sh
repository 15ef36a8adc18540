#!/bin/bash
# Runs bench_contact (a real dalingd) against a PulseAudio server of its own with a null sink.
# Usage: bench/relays/run-contact.sh <bench_contact> <dalingd> [bells] [contacts]
set -euo pipefail
bin="$1"; dalingd="$2"
source "$(dirname "$0")/../common/pulse-bench.sh"
bench_pulse_start test_null
BENCH_SOURCE=test_null.monitor "$bin" "$dalingd" "${@:3}"
