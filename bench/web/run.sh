#!/bin/bash
# Runs bench_web (a real dalingd with its web on 127.0.0.1) against a
# PulseAudio server of its own with a null sink as the default.
# Usage: bench/web/run.sh <bench_web> <dalingd> [pages] [bells]
set -euo pipefail
bin="$1"; dalingd="$2"; pages="${3:-100}"; bells="${4:-10}"
source "$(dirname "$0")/../common/pulse-bench.sh"
bench_pulse_start test_null
BENCH_SOURCE=test_null.monitor "$bin" "$dalingd" "$pages" "$bells"
