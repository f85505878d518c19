#!/bin/bash
# Builds the benchmark and the test servers it registers, runs it under Wine
# and prints its figures.
# Usage: bench/run.sh [build dir] [run64|cmd]   (default: build)
#   run64  only the task run over 64-bit servers against a bare 64-bit loop
#   cmd    only the console runner against the bare loop and regsvr32
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build}"
only="${2:-}"

# bench_batch brings the 64-bit half: the helper, the 64-bit test servers and
# bench_loop64.exe, the baseline of its 64-bit task run.
cmake --build "$build" --target bench_batch bench_mainwin bench_cmd test_servers
# shellcheck source=/dev/null
source "$root/scripts/winenv.sh" "$build"
# The working folder is the build's bin folder, beside testdata.
cd "$build/bin"
if [ "$only" = cmd ]; then
  wine ./bench_cmd.exe </dev/null 2>&1 | tr -d '\r'
  exit "${PIPESTATUS[0]}"
fi
if [ "$only" = run64 ]; then
  wine ./bench_batch.exe run64 </dev/null 2>&1 | tr -d '\r'
  exit "${PIPESTATUS[0]}"
fi
wine ./bench_batch.exe </dev/null 2>&1 | tr -d '\r'
status=${PIPESTATUS[0]}
echo
wine ./bench_mainwin.exe </dev/null 2>&1 | tr -d '\r'
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
echo
wine ./bench_cmd.exe </dev/null 2>&1 | tr -d '\r'
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
exit "$status"
