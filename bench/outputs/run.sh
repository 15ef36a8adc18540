#!/bin/bash
# Runs bench_outputs: a PulseAudio server with two null sinks, a combined
# sink "halls" over them and a tunnel sink "tunnel" to a second server on
# this machine (unix socket), whose null sink "remote" stands for the
# speakers of another building.
# Usage: bench/outputs/run.sh [path/to/bench_outputs]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bin="${1:-$here/../../build-bench/bench/outputs/bench_outputs}"
main_dir="$(mktemp -d)"; remote_dir="$(mktemp -d)"
start_server() { # runtime dir, then modules
  local dir="$1"; shift
  XDG_RUNTIME_DIR="$dir" pulseaudio -n --daemonize=yes --exit-idle-time=-1 --disallow-exit \
    --load="module-native-protocol-unix auth-anonymous=1" "$@" 2>/dev/null
  for _ in $(seq 50); do XDG_RUNTIME_DIR="$dir" pactl info >/dev/null 2>&1 && return 0; sleep 0.1; done
  echo "no PulseAudio server in $dir" >&2; return 1
}
stop() {
  # --disallow-exit refuses "pactl exit": stop each server by its pid file.
  for dir in "$main_dir" "$remote_dir"; do
    local pid; pid="$(cat "$dir/pulse/pid" 2>/dev/null || true)"
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    rm -rf "$dir"
  done
}
trap stop EXIT
start_server "$remote_dir" --load="module-null-sink sink_name=remote"
start_server "$main_dir" --load="module-null-sink sink_name=dflt" \
  --load="module-null-sink sink_name=hall_a" --load="module-null-sink sink_name=hall_b"
export XDG_RUNTIME_DIR="$main_dir"
pactl load-module module-combine-sink sink_name=halls slaves=hall_a,hall_b >/dev/null
pactl load-module module-tunnel-sink sink_name=tunnel server="unix:$remote_dir/pulse/native" sink=remote >/dev/null
pactl set-default-sink dflt
for _ in $(seq 50); do pactl list short sinks | grep -q '^[0-9]*\s*tunnel' && break; sleep 0.1; done
BENCH_REMOTE_SERVER="unix:$remote_dir/pulse/native" "$bin" "$@"
# The servers' own view: the latency each sink reports while idle.
echo "sink latencies reported by the server (pactl list sinks):"
pactl list sinks | awk '/^\tName:/ {n=$2} /^\tLatency:/ {print "  " n ": " $0}' | sed 's/\t//g'

