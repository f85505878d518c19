#!/usr/bin/env bash
# Builds everything and runs every test under Wine on a virtual display.
# Usage: scripts/test.sh [build dir]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"

scripts/deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$build"
# The engine, the fault guard and the windows also run as 64-bit code.
cmake -S . -B "$build/x64" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-x86_64.cmake"
cmake --build "$build/x64"
# The readers of outside input, built and tested natively on this host with
# clang: their unit tests under the sanitizers, and a short run of each fuzz
# program.
cmake -S native -B "$build/native" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_COMPILER=clang++ -DCORVANTIS_FUZZ=ON \
  -DCORVANTIS_TESTDATA_DIR="$(cd "$build" && pwd)/bin/testdata"
cmake --build "$build/native"
source scripts/winenv.sh "$build"
status=0
(cd "$build/native" && ctest --output-on-failure --timeout 600) || status=1
(cd "$build" && ctest --output-on-failure --timeout 600) || status=1
(cd "$build/x64" && ctest --output-on-failure --timeout 600 -R '^(unit_tests|engine_tests|dialog_tests|app_tests)$') || status=1
exit $status
