#!/usr/bin/env bash
# Builds Corvantis.exe and runs it under Wine, passing on any arguments
# (for example "/R:C:\path\server.dll"). Without a display, a virtual one is
# started; with DISPLAY set to a real one, the window shows there.
# Usage: scripts/run.sh [arguments for Corvantis.exe]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${CORVANTIS_BUILD:-build}"

scripts/deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target Corvantis
source scripts/winenv.sh "$build"
echo "Running on display $DISPLAY"
set +e
wine "$build/bin/Corvantis.exe" "$@" </dev/null 2>"$build/run.log"
code=$?
echo "Corvantis.exe exited with code $code"
exit $code
