#!/usr/bin/env bash
# Builds everything and runs every test under Wine on a virtual display.
# Usage: scripts/test.sh [build dir]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"

scripts/deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$build"
source scripts/winenv.sh "$build"
cd "$build"
ctest --output-on-failure --timeout 600
