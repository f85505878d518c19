#!/bin/bash
# Builds the benchmark and the test servers it registers, runs it under Wine
# and prints its figures.
# Usage: bench/run.sh [build dir]   (default: build)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build}"

cmake --build "$build" --target bench_batch bench_mainwin test_servers
# shellcheck source=/dev/null
source "$root/scripts/winenv.sh" "$build"
# The working folder is the build's bin folder, beside testdata.
cd "$build/bin"
wine ./bench_batch.exe </dev/null 2>&1 | tr -d '\r'
status=${PIPESTATUS[0]}
echo
wine ./bench_mainwin.exe </dev/null 2>&1 | tr -d '\r'
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
exit "$status"
