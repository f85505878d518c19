#!/usr/bin/env bash
# Every form of value a capture's .reg file holds comes back from the
# system's "reg import" as captured, type and bytes, and its deletions
# ([-key], "name"=-, @=-) delete: reg_round_trip.exe writes the two files
# and compares the registry after each import. In a prefix of its own.
# Usage: reg_round_trip.sh <build dir>
set -uo pipefail
build="$(cd "${1:?build directory}" && pwd)"
tests="$(cd "$(dirname "$0")/.." && pwd)"
export CORVANTIS_PREFIX="$build/regroundtrip-prefix"
source "$tests/../scripts/winenv.sh" "$build" >/dev/null 2>&1
fail() {
  echo "reg_round_trip: FAILED: $*" >&2
  exit 1
}
[ "$WINEPREFIX" = "$CORVANTIS_PREFIX" ] || fail "the prefix is $WINEPREFIX"
tool="$build/bin/reg_round_trip.exe"
[ -f "$tool" ] || fail "no $tool"
# Every Wine call with its three streams redirected (see the platform notes).
w() { wine "$@" </dev/null 2>/dev/null; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

w "$tool" write "$(winepath -w "$work" </dev/null 2>/dev/null)" || fail "cannot write the .reg files"
stage=1
for file in first second; do
  w reg import "$(winepath -w "$work/$file.reg" </dev/null 2>/dev/null)" >"$work/import.txt" ||
    fail "reg import refused $file.reg: $(tr -d '\r' <"$work/import.txt")"
  w "$tool" check $stage >"$work/check.txt" || fail "after $file.reg: $(tr -d '\r' <"$work/check.txt")"
  stage=2
done
echo "reg_round_trip: every value came back as written, and the deletions deleted"
