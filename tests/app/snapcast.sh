#!/usr/bin/env bash
# Runs tst_app_snapcast on loopback: a broadcasting PulseAudio server with
# pipe sinks bldg_a and bldg_b (suspended when silent, as a desktop's are),
# a snapserver (buffer 400 ms) with a stream
# for each, and two buildings A and B, each a snapclient playing into a null
# sink of its own PulseAudio server. Exit 77 where Snapcast or PulseAudio is
# missing.
# Usage: tests/app/snapcast.sh path/to/tst_app_snapcast [test args]
set -u
bin="$1"; shift
root="$(cd "$(dirname "$0")/../.." && pwd)"
for tool in snapserver snapclient pulseaudio pactl ffmpeg /usr/bin/python3; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing"; exit 77; }
done
unset PULSE_SERVER PULSE_SINK
source "$root/tools/pulse-null.sh"
source "$root/tools/snapcast.sh"
trap 'snap_stop_all; pulse_null_stop' EXIT
pulse_null_start
pactl info >/dev/null 2>&1 || { echo "SKIP: no PulseAudio server"; exit 77; }
snap_server_start 400 bldg_a bldg_b || exit 1
snap_pipe_sinks bldg_a bldg_b || exit 1
snap_suspend_idle 1 || exit 1
snap_building_start A bldg_a || exit 1
snap_building_start B bldg_b || exit 1
"$bin" "$@"
