#!/bin/bash
# Runs bench_zones against a PulseAudio server of its own: a default null
# sink and four null sinks zone_1 … zone_4, one per zone (unix socket only).
# Usage: bench/zones/run.sh [path/to/bench_zones]   (default: build-bench/bench/zones/bench_zones)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bin="${1:-$here/../../build-bench/bench/zones/bench_zones}"
export XDG_RUNTIME_DIR="$(mktemp -d)"
stop() {
  # --disallow-exit refuses "pactl exit": stop this server by its own pid file.
  local pid
  pid="$(cat "$XDG_RUNTIME_DIR/pulse/pid" 2>/dev/null || true)"
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  rm -rf "$XDG_RUNTIME_DIR"
}
trap stop EXIT
pulseaudio -n --daemonize=yes --exit-idle-time=-1 --disallow-exit \
  --load=module-native-protocol-unix --load="module-null-sink sink_name=dflt" \
  --load="module-null-sink sink_name=zone_1" --load="module-null-sink sink_name=zone_2" \
  --load="module-null-sink sink_name=zone_3" --load="module-null-sink sink_name=zone_4" 2>/dev/null
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl set-default-sink dflt
"$bin" "${@:2}"
