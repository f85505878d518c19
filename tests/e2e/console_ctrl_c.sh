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
fail() { echo "console_ctrl_c: FAILED: $*" >&2; exit 1; }
# start_runner FILES: "CorvantisCmd register FILES" in a terminal of its own,
# its screen (and then its exit code) in $out; sets $runner to its pid.
start_runner() {
  script -qfc "wine CorvantisCmd.exe register $1; echo \"EXIT=\$?\"" "$out" </dev/null >/dev/null 2>&1 &
  runner=""
  for _ in $(seq 1 100); do
    runner="$(pgrep -f '^CorvantisCmd\.exe register' | head -n 1)"
    [ -n "$runner" ] && break
    sleep 0.05
  done
  [ -n "$runner" ] || fail "the runner did not start: register $1"
}
out="$(mktemp)"
cd "$build/bin" || fail "no bin folder"
# Each server sleeps 2 s before it registers.
export CORVANTIS_TEST_SERVER_DELAY_MS=2000
exe='testdata/ExeServer.exe'
start_runner "$exe $exe $exe"
# Into the second task: the first line is out.
for _ in $(seq 1 100); do grep -q 'succeeded' "$out" && break; sleep 0.05; done
sleep 0.5
kill -INT "$runner"
for _ in $(seq 1 200); do grep -q '^EXIT=' "$out" && break; sleep 0.05; done
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
sleep 1.5
kill -INT "$runner"
sleep 0.5
kill -INT "$runner"
for _ in $(seq 1 200); do grep -q '^EXIT=' "$out" && break; sleep 0.05; done
text="$(sed -e 's/\x1b\[[0-9;?]*[a-zA-Z]//g' "$out" | tr -d '\r' | tr -d '\n')"
rm -f "$out"
[ $((SECONDS - start)) -lt 20 ] || fail "the second Ctrl+C did not end the server at once"
echo "$text" | grep -q "FAILED. Call to 'DllRegisterServer' failed in 'Slow.dll'." || fail "no failure of the stopped task: $text"
echo "$text" | grep -q "The user stopped the work on 'Slow.dll' after" || fail "no stop reason: $text"
echo "$text" | grep -q "Processing stopped at the user's request." || fail "no stop notice: $text"
echo "$text" | grep -q '0 registered, 1 failed, 1 not run' || fail "wrong summary: $text"
echo "$text" | grep -q 'EXIT=4' || fail "the exit code is not 4: $text"
echo "console_ctrl_c: passed"
