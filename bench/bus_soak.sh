#!/usr/bin/env bash
# A simulated bus of three misbehaving devices (mkptool device: the sample
# device at 01.02.03 and 01.02.04, the sensor at 01.02.20, each with faults
# of its own) under a master polling all three (mkptool poll --stats --panes)
# for about SECONDS seconds (600 unless given). Prints:
# - answers from the wrong device (an answer whose source is not the
#   destination of the request before it): must be 0;
# - framing losses (requests the master wrote that the device did not receive
#   as a frame): must be 0;
# - per device, each fault injected against what poll --stats counted for it
#   (no_answer = dropped + silent, bad_frame = corrupted + garbage,
#   wrong_answer = wrong, answered = the rest): must match exactly.
# A short run with --cycles first measures how long a cycle takes, so that
# the measured run ends at a cycle's end (a stop in the middle of an exchange
# is no outcome for poll).
#
# Usage: bench/bus_soak.sh BUILD_DIR [SECONDS]
set -uo pipefail
build="$(cd "${1:?usage: bus_soak.sh BUILD_DIR [SECONDS]}" && pwd)"
seconds="${2:-600}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
tool="$build/mkptool"
ex="$root/examples"
work="$(mktemp -d "${TMPDIR:-/tmp}/mkp-soak.XXXXXX")"
pids=()
cleanup() {
  local p
  for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

socat pty,raw,echo=0,link="$work/master" pty,raw,echo=0,link="$work/bus" 2>/dev/null &
pids+=($!)
for _ in $(seq 1 100); do [ -e "$work/master" ] && [ -e "$work/bus" ] && break; sleep 0.05; done

printf '%s\r\n' '{a counter} #1#' '{b counter} #2#' '{sensor temperature} #3#' \
  '<010203.0A0B0C.06.05.0100 - 01> [1]' '<010204.0A0B0C.06.05.0100 - 01> [2]' \
  '<010220.0A0B0C.06.19.0100 - 01> [3]' '@@OneStepDelay=0' '@@OneCycleDelay=0' >"$work/bus.rst"

# start_devices LOG: the three devices and their faults.
start_devices() {
  "$tool" device --port "$work/bus" --read-interval 2 --set 1=100 --drift 1=1 \
    "$ex/device.rst" --drop-every 11 --corrupt-every 13 --split-ms 6 \
    "$ex/device.rst@010204" --wrong-every 9 --silent-every 17 --garbage-every 7 \
    "$ex/sensor.rst" --garbage-every 10 --corrupt-every 8 --wrong-every 15 --split-ms 4 \
    >/dev/null 2>"$1" &
  device=$!
  pids+=("$device")
  for _ in $(seq 1 20); do
    "$tool" send --port "$work/master" --receive "010220.0A0B0C.04.00.0000" >/dev/null 2>&1 && return 0
  done
  echo "bus_soak: the devices do not answer" >&2
  exit 1
}
stop_devices() {
  kill -TERM "$device"
  wait "$device" 2>/dev/null
}

# Calibration: how long a cycle takes with these faults.
start_devices "$work/calibration.log"
calibration_cycles=20
t0=$(date +%s.%N)
"$tool" poll --port "$work/master" --cycles "$calibration_cycles" "$work/bus.rst" >/dev/null 2>&1
t1=$(date +%s.%N)
stop_devices
cycles=$(awk -v a="$t0" -v b="$t1" -v n="$calibration_cycles" -v s="$seconds" \
  'BEGIN { c = int(s / ((b - a) / n) + 0.5); print (c < 1 ? 1 : c) }')
echo "Calibration: $calibration_cycles cycles in $(awk -v a="$t0" -v b="$t1" 'BEGIN{printf "%.1f", b-a}') s; the measured run polls $cycles cycles (about $seconds s)"

start_devices "$work/devices.log"
t0=$(date +%s.%N)
"$tool" poll --port "$work/master" --cycles "$cycles" --stats --panes "$work/bus.rst" >"$work/poll.log" 2>"$work/poll.err"
status=$?
t1=$(date +%s.%N)
stop_devices
echo "Measured run: $(awk -v a="$t0" -v b="$t1" 'BEGIN{printf "%.1f", b-a}') s, poll exit status $status"

# Answers from the wrong device, and the requests written per destination.
awk -F'\t' '
  $1 == "terminal" && $2 ~ /^-> / { dst = substr($2, 4, 6); written[dst]++ }
  $1 == "terminal" && $2 ~ /^<- 0A0B0C\./ { src = substr($2, 11, 6); answers++; if (src != dst) wrong++ }
  $1 == "terminal" && $2 ~ /^<- Missing format/ { missing++ }
  END {
    printf "Answers read by the master: %d; from the wrong device: %d\n", answers, wrong + 0
    printf "Missing format lines at the master: %d\n", missing + 0
    for (d in written) printf "written %s %d\n", d, written[d] > "/dev/stderr"
  }' "$work/poll.log" 2>"$work/written.txt"

# The last statistics line of each request.
for i in 1 2 3; do
  grep -P "^$i\tsent=" "$work/poll.log" | tail -1 >"$work/stats$i.txt"
done
field() { grep -o "$1=[0-9]*" "$2" | head -1 | cut -d= -f2; }

losses=0
mismatches=0
i=0
for address in 010203 010204 010220; do
  i=$((i + 1))
  line="$(grep "^mkptool device: $address:" "$work/devices.log")"
  echo "$line" >"$work/dev$i.txt"
  requests=$(field requests "$work/dev$i.txt"); dropped=$(field dropped "$work/dev$i.txt")
  silent=$(field silent "$work/dev$i.txt"); corrupted=$(field corrupted "$work/dev$i.txt")
  wrongs=$(field wrong "$work/dev$i.txt"); garbage=$(field garbage "$work/dev$i.txt")
  split=$(field split "$work/dev$i.txt")
  sent=$(field sent "$work/stats$i.txt"); answered=$(field answered "$work/stats$i.txt")
  no_answer=$(field no_answer "$work/stats$i.txt"); bad_frame=$(field bad_frame "$work/stats$i.txt")
  wrong_answer=$(field wrong_answer "$work/stats$i.txt")
  written=$(awk -v a="$address" '$2 == a { print $3 }' "$work/written.txt")
  written=${written:-0}
  lost=$((written - requests))
  losses=$((losses + (lost < 0 ? -lost : lost)))
  expect_answered=$((requests - dropped - silent - corrupted - wrongs - garbage))
  verdict=ok
  if [ "$sent" != "$requests" ] || [ "$no_answer" != $((dropped + silent)) ] ||
     [ "$bad_frame" != $((corrupted + garbage)) ] || [ "$wrong_answer" != "$wrongs" ] ||
     [ "$answered" != "$expect_answered" ]; then
    verdict=MISMATCH
    mismatches=$((mismatches + 1))
  fi
  printf '%s: written %s, received %s, poll sent %s | injected: dropped %s silent %s corrupted %s wrong %s garbage %s (split answers %s) | poll: no_answer %s bad_frame %s wrong_answer %s answered %s | %s\n' \
    "$address" "$written" "$requests" "$sent" "$dropped" "$silent" "$corrupted" "$wrongs" "$garbage" "$split" \
    "$no_answer" "$bad_frame" "$wrong_answer" "$answered" "$verdict"
done
echo "Framing losses: $losses"
echo "Devices whose faults poll --stats did not count exactly: $mismatches"
[ "$losses" -eq 0 ] && [ "$mismatches" -eq 0 ] && [ "$status" -eq 0 ]
