#!/usr/bin/env bash
# Builds the fuzz programs of the readers of outside input with clang and
# runs each one at length, then prints per program the executions, the
# coverage (libFuzzer's cov: edges and ft: features at the end), the corpus
# and the findings.
# Usage: scripts/fuzz.sh [seconds per program] [build dir] [name...]
# Without seconds (or with "") each program runs 10,000,000 executions; the
# build dir defaults to build; names (batch, pe, ...) pick programs, all by
# default.
#
# Each program starts from what earlier deep runs found (<build>/native/
# fuzz-corpus/<name>, which it extends) and the seed corpus of the repository
# (native/corpus/<name>, only read). Crashes, leaks, timeouts and
# out-of-memory inputs go to <build>/native/fuzz-findings/<name>/; the full
# logs to <build>/native/fuzz-logs/. Exits with 1 when anything was found.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-}"
build="${2:-build}"
shift $(( $# < 2 ? $# : 2 ))
picked=" $* "
native="$build/native"
runs=10000000

cmake -S native -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=clang++ -DCORVANTIS_FUZZ=ON >/dev/null
cmake --build "$native"
native="$(cd "$native" && pwd)"

if [ -n "$seconds" ]; then
  limit=(-max_total_time="$seconds")
else
  limit=(-runs="$runs")
fi
mkdir -p "$native/fuzz-logs"
stamp="$native/fuzz-logs/.started"
touch "$stamp"

found=0
printf '%-10s %12s %9s %7s %7s %14s %9s\n' target executions exec/s cov ft corpus findings
while read -r name; do
  [ -n "$name" ] || continue
  [ "$picked" = "  " ] || [[ "$picked" == *" $name "* ]] || continue
  corpus="$native/fuzz-corpus/$name"
  findings="$native/fuzz-findings/$name"
  log="$native/fuzz-logs/$name.log"
  mkdir -p "$corpus" "$findings"
  args=("${limit[@]}" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/")
  [ -f "native/fuzz/$name.dict" ] && args+=(-dict="native/fuzz/$name.dict")
  seeds=()
  [ -d "native/corpus/$name" ] && seeds=("native/corpus/$name")
  "$native/fuzz_$name" "${args[@]}" "$corpus" "${seeds[@]}" >"$log" 2>&1 || true

  executions="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
  rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")"
  # The last status line that has the coverage: "#N DONE cov: C ft: F corp: U/S ..."
  status="$(grep -E '^#[0-9]+.*cov: [0-9]+ ft: [0-9]+' "$log" | tail -n 1)"
  cov="$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$status")"
  ft="$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$status")"
  corp="$(sed -n 's/.* corp: \([^ ]*\).*/\1/p' <<<"$status")"
  new=$(find "$findings" -type f -newer "$stamp" \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
  [ "$new" -gt 0 ] && found=1
  printf '%-10s %12s %9s %7s %7s %14s %9s\n' "$name" "${executions:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}" "${corp:-?}" "$new"
  if [ "$new" -gt 0 ]; then
    find "$findings" -type f -newer "$stamp" | sed 's/^/    /'
    grep -E 'ERROR|broken invariant|SUMMARY' "$log" | head -n 5 | sed 's/^/    /'
  fi
done <"$native/fuzz-targets.txt"
exit $found
