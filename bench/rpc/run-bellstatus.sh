#!/bin/bash
# Runs bench_bellstatus (a real dalingd) against a PulseAudio server of its own with a null sink.
# Usage: bench/rpc/run-bellstatus.sh <bench_bellstatus> <dalingd> [bells]
set -euo pipefail
bin="$1"; dalingd="$2"; bells="${3:-10}"
export XDG_RUNTIME_DIR="$(mktemp -d)"
pulseaudio -n --daemonize=yes --exit-idle-time=-1 --disallow-exit \
  --load=module-native-protocol-unix --load="module-null-sink sink_name=test_null" 2>/dev/null
# --disallow-exit refuses "pactl exit": stop this server by its own pid file.
stop() {
  local pid
  pid="$(cat "$XDG_RUNTIME_DIR/pulse/pid" 2>/dev/null || true)"
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  rm -rf "$XDG_RUNTIME_DIR"
}
trap stop EXIT
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl set-default-sink test_null
BENCH_SOURCE=test_null.monitor "$bin" "$dalingd" "$bells"
