#!/usr/bin/env bash
# Runs one fuzz program for a fixed time over a copy of its seed corpus, so
# the corpus in the repository never changes. A crash, leak, timeout or
# broken invariant fails the run; its input is kept in the findings folder.
# Usage: run_fuzz.sh <fuzz program> <seed corpus dir> <dictionary> <seconds> <findings dir>
# A missing corpus folder or dictionary is skipped.
set -uo pipefail
fuzzer="$1" corpus="$2" dict="$3" seconds="$4" findings="$5"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$findings"
[ -d "$corpus" ] && cp -R "$corpus/." "$work/corpus/"
args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
      -artifact_prefix="$findings/")
[ -f "$dict" ] && args+=(-dict="$dict")

"$fuzzer" "${args[@]}" "$work/corpus" >"$work/log" 2>&1
status=$?
# The last status line and the statistics; all of it when the run failed.
if [ $status -eq 0 ]; then
  grep -E '^#[0-9]+[[:space:]]+DONE|^stat::' "$work/log"
else
  cat "$work/log"
  echo "run_fuzz: $(basename "$fuzzer") failed (exit $status); inputs kept in $findings" >&2
fi
exit $status
