#!/bin/bash
# Smoke test from the Linux side: starts Corvantis.exe under Wine with a
# "/R:" and then a "/U:" parameter, answers its dialog with real key presses
# through the X server (Return, then Escape), and checks the exit code and the
# registry each time.
#   Usage: xdotool_smoke.sh <build dir>
#   CORVANTIS_SHOTS  when set to a folder, a screenshot of each dialog is
#                    saved there as xdotool-register.png / xdotool-unregister.png
set -u

script=xdotool_smoke
# shellcheck source=xdotool_common.sh
source "$(dirname "$0")/xdotool_common.sh"
dll_unix="$server"

title='^Quorvandel Corvantis$'
clsid_key='HKCR\CLSID\{9EE2073F-F6EF-48CF-A9C7-38C2FFA1F91E}\InprocServer32'

dll="$(winepath -w "$dll_unix" </dev/null 2>>"$log")"
[ -n "$dll" ] || fail "winepath could not convert $dll_unix"

# The program is 32-bit, so it registers in the 32-bit view of the registry.
reg_query() {
  wine reg query "$clsid_key" /reg:32 </dev/null 2>>"$log"
}

corvantis_pid=""
cleanup() {
  # Only the process this script started, and only if it is still running.
  if [ -n "$corvantis_pid" ] && kill -0 "$corvantis_pid" 2>/dev/null; then
    kill "$corvantis_pid" 2>/dev/null
  fi
}
trap cleanup EXIT

# Starts Corvantis.exe with one parameter, answers its dialog with `key`,
# and leaves the exit code in $exit_code.
run_with_key() {
  local parameter="$1" key="$2" shot="$3"
  local id="" _

  if [ -n "$(xdotool search --onlyvisible --name "$title" 2>/dev/null)" ]; then
    fail "a window titled 'Quorvandel Corvantis' is already open; it would be mistaken for ours"
  fi

  echo "xdotool_smoke: wine Corvantis.exe \"$parameter\""
  wine "$exe" "$parameter" </dev/null >>"$log" 2>&1 &
  corvantis_pid=$!

  for _ in $(seq 1 200); do
    id="$(xdotool search --onlyvisible --name "$title" 2>/dev/null | head -n 1)"
    [ -n "$id" ] && break
    kill -0 "$corvantis_pid" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$id" ] || fail "no window titled 'Quorvandel Corvantis' appeared for \"$parameter\""
  echo "xdotool_smoke: window $id '$(xdotool getwindowname "$id" 2>/dev/null)'"

  if [ -n "${CORVANTIS_SHOTS:-}" ]; then
    mkdir -p "$CORVANTIS_SHOTS"
    sleep 0.5  # let the dialog finish painting
    /usr/bin/import -window root "$CORVANTIS_SHOTS/$shot.png" </dev/null >>"$log" 2>&1 ||
      echo "xdotool_smoke: warning: screenshot $shot.png failed" >&2
  fi

  # A key left down by an earlier run would turn our press into a repeat.
  xdotool keyup Return Escape
  timeout 10 xdotool windowfocus --sync "$id" || fail "could not give the focus to window $id"
  xdotool key "$key"

  for _ in $(seq 1 150); do
    kill -0 "$corvantis_pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$corvantis_pid" 2>/dev/null; then
    kill "$corvantis_pid" 2>/dev/null
    fail "Corvantis.exe was still running 15 s after $key was pressed on its dialog"
  fi
  wait "$corvantis_pid"
  exit_code=$?
  corvantis_pid=""
}

# Start from an unregistered class.
wine reg delete 'HKCR\CLSID\{9EE2073F-F6EF-48CF-A9C7-38C2FFA1F91E}' /f /reg:32 </dev/null >>"$log" 2>&1
reg_query >/dev/null && fail "the class is still registered before the test"

run_with_key "/R:$dll" Return xdotool-register
[ "$exit_code" -eq 0 ] || fail "registering exited with code $exit_code, expected 0"
value="$(reg_query)" || fail "$clsid_key is missing after registering"
case "$value" in
  *"$dll"*) ;;
  *) fail "$clsid_key does not name $dll: $value" ;;
esac
echo "xdotool_smoke: registered, InprocServer32 = $dll"

run_with_key "/U:$dll" Escape xdotool-unregister
[ "$exit_code" -eq 0 ] || fail "unregistering exited with code $exit_code, expected 0"
reg_query >/dev/null && fail "$clsid_key is still there after unregistering"
echo "xdotool_smoke: unregistered"

echo "xdotool_smoke: passed"
exit 0
