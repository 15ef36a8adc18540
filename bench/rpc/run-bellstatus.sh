#!/bin/bash
# Runs bench_bellstatus (a real dalingd) against a PulseAudio server of its own with a null sink.
# Usage: bench/rpc/run-bellstatus.sh <bench_bellstatus> <dalingd> [bells]
set -euo pipefail
bin="$1"; dalingd="$2"; bells="${3:-10}"
source "$(dirname "$0")/../common/pulse-bench.sh"
bench_pulse_start test_null
BENCH_SOURCE=test_null.monitor "$bin" "$dalingd" "$bells"
