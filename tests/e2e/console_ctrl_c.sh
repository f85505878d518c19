#!/usr/bin/env bash
# Ctrl+C in a terminal stops CorvantisCmd.exe after the task that runs: the
# runner gets an interrupt from its terminal (as a user's Ctrl+C gives it)
# while the second of three slow executable servers registers, prints that
# task, the stop notice, the tasks not run and the summary, and ends with 4.
# A second Ctrl+C during a library that would take a minute ends its helper
# at once: that task fails as stopped by the user, and the run ends with 4.
# Usage: console_ctrl_c.sh <build dir>
set -uo pipefail
build="$(cd "${1:?build directory}" && pwd)"
source "$(dirname "$0")/../../scripts/winenv.sh" "$build" >/dev/null 2>&1
runner=""
# Fails the test; a runner still at work is ended with it.
fail() {
  echo "console_ctrl_c: FAILED: $*" >&2
  [ -n "$runner" ] && kill -KILL "$runner" 2>/dev/null
  exit 1
}
# start_runner FILES: "CorvantisCmd register FILES" in a terminal of its own,
# its screen (and then its exit code) in $out; sets $runner to its pid.
start_runner() {
  script -qfc "wine CorvantisCmd.exe register $1; echo \"EXIT=\$?\"" "$out" </dev/null >/dev/null 2>&1 &
  runner=""
  for _ in $(seq 1 100); do
    # The runner of this build (others may run beside it).
    for pid in $(pgrep -f '^CorvantisCmd\.exe register'); do
      grep -qs "$build/bin/CorvantisCmd.exe" "/proc/$pid/maps" && runner="$pid" && break
    done
    [ -n "$runner" ] && break
    sleep 0.05
  done
  [ -n "$runner" ] || fail "the runner did not start: register $1"
}
# wait_for WHAT SECONDS COMMAND...: runs COMMAND every 50 ms until it
# succeeds; fails, saying that WHAT did not happen, when SECONDS pass first.
wait_for() {
  local what="$1" tries=$(($2 * 20))
  shift 2
  for _ in $(seq 1 "$tries"); do "$@" && return 0; sleep 0.05; done
  fail "$what within $((tries / 20)) s; the runner's screen: $(tr -d '\r' <"$out")"
}
# The runner's screen holds the pattern.
screen_has() { grep -q "$1" "$out"; }
# A Linux process has the file of this build mapped: a Wine process runs that
# program or loaded that library.
loaded() { grep -qsF "$build/bin/$1" /proc/[0-9]*/maps; }
out="$(mktemp)"
cd "$build/bin" || fail "no bin folder"
# Each server sleeps 2 s before it registers.
export CORVANTIS_TEST_SERVER_DELAY_MS=2000
exe='testdata/ExeServer.exe'
start_runner "$exe $exe $exe"
# Into the second task: the first line is out and a server runs again.
wait_for "the first task did not end" 20 screen_has 'succeeded'
wait_for "the second task did not start" 10 loaded "$exe"
kill -INT "$runner"
wait_for "the runner did not end" 20 screen_has 'EXIT=[0-9]'
text="$(sed -e 's/\x1b\[[0-9;?]*[a-zA-Z]//g' "$out" | tr -d '\r' | tr -d '\n')"
rm -f "$out"
wine reg delete 'HKLM\Software\CorvantisTests\ExeServer' /f </dev/null >/dev/null 2>&1
echo "$text" | grep -q "Processing stopped at the user's request." || fail "no stop notice in: $text"
[ "$(echo "$text" | grep -o 'succeeded' | wc -l)" -eq 2 ] || fail "not exactly two tasks ran: $text"
echo "$text" | grep -q 'not run\.' || fail "the last task is not reported as not run: $text"
echo "$text" | grep -q '2 registered, 0 failed, 1 not run' || fail "wrong summary: $text"
echo "$text" | grep -q 'EXIT=4' || fail "the exit code is not 4: $text"

# Twice: the server at work is ended.
export CORVANTIS_TEST_SLOW_MS=60000
out="$(mktemp)"
start=$SECONDS
start_runner "testdata/misbehave/Slow.dll testdata/misbehave/Ok.dll"
wait_for "the helper did not load Slow.dll" 20 loaded testdata/misbehave/Slow.dll
kill -INT "$runner"
sleep 0.5
kill -INT "$runner"
wait_for "the runner did not end" 20 screen_has 'EXIT=[0-9]'
text="$(sed -e 's/\x1b\[[0-9;?]*[a-zA-Z]//g' "$out" | tr -d '\r' | tr -d '\n')"
rm -f "$out"
[ $((SECONDS - start)) -lt 20 ] || fail "the second Ctrl+C did not end the server at once"
echo "$text" | grep -q "FAILED. Call to 'DllRegisterServer' failed in 'Slow.dll'." || fail "no failure of the stopped task: $text"
echo "$text" | grep -q "The user stopped the work on 'Slow.dll' after" || fail "no stop reason: $text"
echo "$text" | grep -q "Processing stopped at the user's request." || fail "no stop notice: $text"
echo "$text" | grep -q '0 registered, 1 failed, 1 not run' || fail "wrong summary: $text"
echo "$text" | grep -q 'EXIT=4' || fail "the exit code is not 4: $text"
echo "console_ctrl_c: passed"
