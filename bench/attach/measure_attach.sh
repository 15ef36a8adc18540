#!/usr/bin/env bash
# The window attaching to a running engine: dalingd runs (the service's
# case) on a home with the sample timetable; each run starts the window
# program and times it from launch to the log line that says the engine's
# day is shown in its list, polled every 5 ms; the window then gets SIGTERM
# and the engine runs on. usage: measure_attach.sh <daling> <dalingd> <make_sample> [runs]
set -euo pipefail
bin=${1:?daling}; engine=${2:?dalingd}; sample=${3:?make_sample}; runs=${4:-10}
work=$(mktemp -d /tmp/daling-attach.XXXXXX)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; sleep 0.3; rm -rf "$work"' EXIT
if command -v Xvfb >/dev/null; then
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 & pids+=($!)
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
  export DISPLAY=:$(cat "$work/display") QT_QPA_PLATFORM=xcb
else
  export QT_QPA_PLATFORM=offscreen
fi
mkdir -p "$work/data" "$work/音乐"
cp "$bin" "$work/daling"; cp "$(dirname "$bin")/libdaling-window.so" "$work/"; cp "$engine" "$work/dalingd"
"$sample" "$work/data/dbDaLing.db" >/dev/null
export XDG_RUNTIME_DIR=$work/run; mkdir -m 700 -p "$XDG_RUNTIME_DIR"
export QT_LOGGING_RULES="daling.app.info=true"
(cd "$work" && exec ./dalingd >"$work/engine.log" 2>&1) & engine_pid=$!; pids+=($engine_pid)
for _ in $(seq 400); do grep -q "ringing the bells of" "$work/engine.log" && break; sleep 0.025; done
grep -q "ringing the bells of" "$work/engine.log" || { echo "the engine did not start:"; cat "$work/engine.log"; exit 1; }
times=()
for _ in $(seq "$runs"); do
  : >"$work/log"
  t0=$(date +%s%N)
  (cd "$work" && exec ./daling >"$work/log" 2>&1) & app=$!
  for _ in $(seq 2000); do
    grep -q "the day's list shown" "$work/log" && break
    kill -0 $app 2>/dev/null || { echo "the window ended early:"; cat "$work/log"; exit 1; }
    sleep 0.005
  done
  t1=$(date +%s%N)
  kill -TERM $app; wait $app 2>/dev/null || true
  times+=($(( (t1 - t0) / 1000000 )))
done
kill -0 "$engine_pid" 2>/dev/null || { echo "the engine did not outlive the windows"; exit 1; }
printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "window attached to a running dalingd, its day shown: median %d ms, worst %d ms over %d runs (target <= 300)\n", a[int((NR+1)/2)], a[NR], NR}'
