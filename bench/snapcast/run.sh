#!/bin/bash
# Runs bench_snapcast: a broadcasting PulseAudio server with pipe sinks
# bldg_a and bldg_b, a snapserver on 127.0.0.1 (buffer BUFFER ms, 400 unless
# told) with a stream for each, and buildings A and B, each a snapclient
# playing into a null sink of its own PulseAudio server.
# SUSPEND_IDLE=0: the pipe sinks write silence between bells.
# SNAP_LEAD_MS sets 提前 (default: the buffer); SNAP_CLIENT_BUFFER the
# snapclients' pulse buffer_time (100 ms).
# Usage: bench/snapcast/run.sh [path/to/bench_snapcast] [--bells N]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bin="${1:-$here/../../build-bench/bench/snapcast/bench_snapcast}"
shift || true
export SNAP_BUFFER_MS="${BUFFER:-400}"
unset PULSE_SERVER PULSE_SINK
source "$here/../../tools/pulse-null.sh"
source "$here/../../tools/snapcast.sh"
trap 'snap_stop_all; pulse_null_stop' EXIT
pulse_null_start
pactl load-module module-null-sink sink_name=dflt >/dev/null
# As a desktop's server, the pipe sinks stop when silent (after 1 s here:
# the bells are 3 s apart); SUSPEND_IDLE=0 keeps them writing silence.
[ "${SUSPEND_IDLE:-1}" = 1 ] && snap_suspend_idle 1
snap_server_start "$SNAP_BUFFER_MS" bldg_a bldg_b
snap_pipe_sinks bldg_a bldg_b
snap_building_start A bldg_a
snap_building_start B bldg_b
"$bin" "$@"
