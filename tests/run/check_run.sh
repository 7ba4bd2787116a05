#!/usr/bin/env bash
# ./scripts/run as a user meets it: under a display it opens the window on the
# virtual bus with traffic flowing, and when the window ends nothing it started
# is left; without a display it says so in one line and runs the command-line
# demonstration. Usage: check_run.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
root="$1"
build="$2"
scratch="$(mktemp -d)"
runner=""
fail() {
  echo "FAIL: $*"
  echo "--- what ./scripts/run printed"
  cat "$scratch/run.log" 2>/dev/null
  # The run has a process group of its own: end all of it.
  [ -n "$runner" ] && kill -TERM -- "-$runner" 2>/dev/null
  rm -rf "$scratch"
  exit 1
}
# Waits up to $1 seconds for the command that follows to succeed.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.1
  done
}
export MKP_RUN_PREBUILT="$build"
unset QT_QPA_PLATFORM  # the window goes to the virtual X server

# --help prints the whole usage.
"$root/scripts/run" --help >"$scratch/run.log" 2>&1 || fail "--help: exit status $?"
for option in --slave --monitor --port --headless "arguments after --"; do
  grep -q -- "$option" "$scratch/run.log" || fail "--help does not tell $option"
done

# Without a display: one line, then the command-line demonstration.
env -u DISPLAY -u WAYLAND_DISPLAY "$root/scripts/run" >"$scratch/run.log" 2>&1 || fail "no display: exit status $?"
head -1 "$scratch/run.log" | grep -q "^run: no display" || fail "no display: the first line does not say so"
grep -q "ANSW type 05 : reg 01 = 1234" "$scratch/run.log" || fail "no display: the demonstration did not reach the device"

# Without a display, on the bus of three: a scan finds them all.
env -u DISPLAY -u WAYLAND_DISPLAY "$root/scripts/run" --bus >"$scratch/run.log" 2>&1 || fail "bus, no display: exit status $?"
for address in 010203 010204 010220; do
  grep -q "^$address"$'\t' "$scratch/run.log" || fail "bus, no display: the scan did not find $address"
done
grep -q "3 found, 0 unexpected" "$scratch/run.log" || fail "bus, no display: the scan found more or less than the three"

window_pid() {
  local p
  for p in $(pgrep -x mkpt); do
    [ "$(readlink "/proc/$p/cwd")" = "$work" ] && echo "$p"
  done
}
work_of() { grep -o 'Working folder [^ ]*' "$scratch/run.log" | head -1 | cut -d' ' -f3; }
has_work() { [ -n "$(work_of)" ]; }
runner_gone() { ! kill -0 "$runner" 2>/dev/null; }

# Under Xvfb: ./scripts/run ARGS... opens the window, which polls a simulated
# device and logs each value it reads into LOG (a SAVEDATALINES file of the
# description) beginning with FIRST; closing the window ends it all.
window_polls() {
  local log="$1" first="$2"
  shift 2
  cd "$scratch"
  setsid xvfb-run -a -s "-screen 0 1280x1024x24" "$root/scripts/run" "$@" >"$scratch/run.log" 2>&1 &
  runner=$!
  wait_for 60 has_work || fail "$*: the script did not say where the window runs"
  work="$(work_of)"
  counted() { [ "$(wc -l <"$work/$log" 2>/dev/null || echo 0)" -ge 3 ]; }
  wait_for 60 counted || fail "$*: the window did not poll the simulated device"
  grep -q "^$first" "$work/$log" || fail "$*: the values did not change: $(cat "$work/$log")"
  window="$(window_pid)"
  [ -n "$window" ] || fail "$*: no window process runs in $work"
  kill -TERM "$window"  # the window ends, as when the user closes it
  wait_for 30 runner_gone || fail "$*: the script did not end with its window"
  wait "$runner" 2>/dev/null
  runner=""
  left="$(pgrep -af -- "$work")"
  [ -z "$left" ] || fail "$*: left running: $left"
  [ ! -e "$work" ] || fail "$*: the working folder $work was not removed"
}

# The window reads the registers of the simulated device (the counter's
# values, logged by device.rst, count up) ...
window_polls device_counter.log 1002 -- /REGSIMPLE device.rst
# ... and, on the bus of three, those of the sensor among the others.
window_polls sensor_temperature.log 2.3 --bus -- /REGSIMPLE sensor.rst
rm -rf "$scratch"
echo "PASS"
