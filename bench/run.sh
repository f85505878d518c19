#!/bin/bash
# Builds the benchmarks and the test servers they register, runs them under
# Wine and prints their figures, the headline ratios gathered at the end.
# Usage: bench/run.sh [build dir] [part]   (default: build, every part)
#   run32  the task window over 1,000 32-bit servers against the bare loop
#   run64  the task window over 1,000 64-bit servers against bench_loop64.exe
#   batch  loading, adding and saving batches
#   mainwin  the main window with 100,000 entries
#   cmd    the console runner: cmd-run, verify, one, hang and capture below
#   cmd-run  CorvantisCmd run over 1,000 servers against the bare loop
#   verify CorvantisCmd verify over 1,000 registered servers against
#          CorvantisCmd run registering them
#   one    CorvantisCmd register FILE against regsvr32 /s FILE
#   hang   a hung server's cost beyond the runner's --timeout
#   capture  capturing 1,000 servers, verifying them, and registering them for
#          the current user, each against registering them
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build}"
only="${2:-}"
case "$only" in
  ""|run32|run64|batch|mainwin|cmd|cmd-run|verify|one|hang|capture) ;;
  *) echo "unknown part '$only'" >&2; exit 2 ;;
esac

# bench_batch and bench_cmd bring both helpers and the 64-bit half: the
# 64-bit test servers and bench_loop64.exe.
cmake --build "$build" --target bench_batch bench_mainwin bench_cmd test_servers
# shellcheck source=/dev/null
source "$root/scripts/winenv.sh" "$build"
# The working folder is the build's bin folder, beside testdata.
cd "$build/bin"

cat <<'EOF'
Headline figures (each the median of pairs' ratios, the two sides of a pair
alternating which runs first, every timed command warmed up once):
  run32-window/bare       Register All of 1,000 32-bit servers in the task
                          window (through Corvantis32.exe) / the bare loop of
                          the same build (RegisterFileCore in-process, one busy
                          cursor for the loop)
  run64-window/bare64     the same over 1,000 64-bit servers (Corvantis64.exe)
                          / bench_loop64.exe, the bare 64-bit loop
  cmd-run/bare            the whole "CorvantisCmd run BATCH" process over the
                          1,000 32-bit servers / the bare in-process loop
  cmd-verify/register     the whole "CorvantisCmd verify BATCH" process over
                          the 1,000 32-bit servers, registered / the whole
                          "CorvantisCmd run BATCH" process registering them
  cmd-register/regsvr32   the whole "CorvantisCmd register FILE" process / the
                          whole "regsvr32 /s FILE" process (SysWOW64), one file
  hang-run-minus-timeout  "CorvantisCmd register Hang.dll Ok.dll --timeout 2":
                          the whole run less the 2 s time-out, in seconds
  capture/register        capturing 1,000 32-bit servers / registering the
                          same 1,000, both through the helper of one session
  verify/register         verifying them while registered (engine::VerifyFile)
                          / registering them again, the two alternated
  per-user/register       registering them for the current user / for all
                          users, alternated

EOF

log="$(mktemp)"
trap 'rm -f "$log"' EXIT
status=0
# Runs a Windows program with every standard stream redirected, shows and
# keeps its output.
run() {
  wine "$@" </dev/null 2>&1 | tr -d '\r' | tee -a "$log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
  echo
}
case "$only" in
  "")
    run ./bench_batch.exe
    run ./bench_mainwin.exe
    run ./bench_cmd.exe
    ;;
  run32|run64|batch) run ./bench_batch.exe "$only" ;;
  mainwin) run ./bench_mainwin.exe ;;
  cmd) run ./bench_cmd.exe ;;
  cmd-run) run ./bench_cmd.exe run ;;
  verify|one|hang|capture) run ./bench_cmd.exe "$only" ;;
esac

echo "Headlines:"
grep -E '\(target <= ' "$log" || echo "  (none measured)"
exit "$status"
