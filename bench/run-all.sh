#!/usr/bin/env bash
# Builds a release and runs every benchmark, each with its reference.
# usage: bash bench/run-all.sh   (as root on Debian 12; about 6 minutes)
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C build-bench daling daling-window dalingd make_sample bench_startup bench_calendar bench_exchange bench_audio bench_ring bench_outputs bench_zones bench_snapcast \
  bench_emergency daling-emergency bench_rpc bench_bellstatus bench_relays bench_contact bench_paging bench_web >/dev/null
b=build-bench
echo "== start-up and Refresh"
QT_QPA_PLATFORM=offscreen $b/bench/startup/bench_startup 2>/dev/null
bash bench/startup/measure_start.sh $b/app/daling 10
echo "== Refresh with the school calendar"
$b/bench/calendar/bench_calendar
echo "== the engine's channel (JSON-RPC on a private socket)"
$b/bench/rpc/bench_rpc 300 2>/dev/null
echo "== a bell's status at a client of dalingd, after its sound"
bash bench/rpc/run-bellstatus.sh $b/bench/rpc/bench_bellstatus $b/engine/dalingd 10
echo "== the remote control: first load, a bell's status at 100 pages after its sound, idle CPU"
bash bench/web/run.sh $b/bench/web/bench_web $b/engine/dalingd 100 10
echo "== spreadsheets"
QT_QPA_PLATFORM=offscreen $b/bench/exchange/bench_exchange 2>/dev/null
source tools/pulse-null.sh
pulse_null_start
trap pulse_null_stop EXIT
echo "== audio player"
$b/bench/audio/bench_audio --runs 20
echo "== ring onset"
$b/bench/ring/bench_ring
pulse_null_stop
trap - EXIT
echo "== outputs that reach several places (servers of its own)"
bash bench/outputs/run.sh $b/bench/outputs/bench_outputs --runs 15
echo "== zones (a server of its own, one null sink per zone)"
bash bench/zones/run.sh $b/bench/zones/bench_zones
echo "== two buildings through Snapcast (servers of its own on 127.0.0.1)"
bash bench/snapcast/run.sh $b/bench/snapcast/bench_snapcast --bells 10
echo "== emergency broadcast: command to sound in two zones"
bash bench/emergency/run.sh $b/bench/emergency/bench_emergency $b/app/daling 10 $b/emergency/daling-emergency $b/engine/dalingd 2>/dev/null
echo "== live announcement: microphone to two zones beside module-loopback (a server of its own)"
bash bench/paging/run.sh $b/bench/paging/bench_paging $b/engine/dalingd 2>/dev/null
echo "== amplifier relays and the fire alarm contact (a Modbus module of its own on 127.0.0.1)"
$b/bench/relays/bench_relays 20 2>/dev/null
echo "== the same at a real dalingd, beside the bell onset: relay before the sound, contact to the alarm heard"
bash bench/relays/run-contact.sh $b/bench/relays/bench_contact $b/engine/dalingd 6 10 2>/dev/null
echo "== idle program"
bash bench/idle/measure_idle.sh $b/app/daling $b/tools/sample/make_sample 60
echo "== idle engine without a window (dalingd), beside the window's figure above"
bash bench/idle/measure_idle.sh $b/engine/dalingd $b/tools/sample/make_sample 60
echo "== idle program, every bell in 4 zones"
bash bench/idle/measure_idle.sh $b/app/daling $b/tools/sample/make_sample 60 4
