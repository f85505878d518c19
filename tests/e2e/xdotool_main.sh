#!/bin/bash
# The main window driven from the Linux side with real key presses and mouse
# moves through the X server; each step is checked by reading back what the
# program did (open pop-up menus, captions, the registry, the saved batch):
#   menus by keyboard; Register All (F6) over 20 copies of OkServer.dll; a row
#   dragged onto another and saved; the toolbar dragged to the left edge,
#   stored at close and restored at the next start; a toolbar button's hint
#   in the status bar (read by bin/window_reader.exe).
#   Usage: xdotool_main.sh <build dir>
#   CORVANTIS_SHOTS  when set to a folder, screenshots are saved there as
#                    main-*.png
set -u

script=xdotool_main
# shellcheck source=xdotool_common.sh
source "$(dirname "$0")/xdotool_common.sh"

app_key='HKLM\Software\Quorvandel\Quorvandel Tessaly\Corvantis'
storage_key="$app_key\\Storage"
clsid_key='HKCR\CLSID\{9EE2073F-F6EF-48CF-A9C7-38C2FFA1F91E}'
# The batches and the server copies, in the prefix's drive C.
work="$WINEPREFIX/drive_c/corvantis-e2e-main"
work_win='C:\corvantis-e2e-main'
rm -rf "$work"
mkdir -p "$work" || fail "could not create $work"

pid="" main=""
cleanup() {
  # Only the process this script started, and only if it is still running.
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill "$pid" 2>/dev/null; fi
  wine reg delete "$clsid_key" /f /reg:32 </dev/null >>"$log" 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

# The program is 32-bit: its keys are in the 32-bit view of the registry.
# Prints the data of a value (the default value when the name is empty).
reg_value() {
  local key="$1" name="$2" which=(/v "$2") view="${3:-32}"
  [ -z "$name" ] && which=(/ve) && name='(Default)'
  wine reg query "$key" "${which[@]}" "/reg:$view" </dev/null 2>>"$log" | tr -d '\r' |
    awk -v n="$name" '$1 == n { sub(/^[ \t]*[^ \t]+[ \t]+[^ \t]+[ \t]+/, ""); print }'
}
# A fresh state, with the tip of the day off so that no tip window stands
# between the keys and the main window.
reset_state() {
  wine reg delete "$app_key" /f /reg:32 </dev/null >>"$log" 2>&1
  wine reg add "$app_key\\Options" /v ShowTips /t REG_DWORD /d 0 /f /reg:32 </dev/null >>"$log" 2>&1
}

shot() {
  [ -n "${CORVANTIS_SHOTS:-}" ] || return 0
  mkdir -p "$CORVANTIS_SHOTS" && sleep 0.5  # let the windows finish painting
  /usr/bin/import -window root "$CORVANTIS_SHOTS/$1.png" </dev/null >>"$log" 2>&1 ||
    echo "xdotool_main: warning: screenshot $1.png failed" >&2
}

# Runs the command every 0.1 s until it succeeds, for at most N tries.
wait_for() {
  local tries=$1 _
  shift
  for _ in $(seq 1 "$tries"); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# Presses keys on the focused window; a key left down by an earlier step
# would turn the press into a repeat.
press() {
  local k
  # shellcheck disable=SC2086  # "alt+f" is released as "alt f"
  for k in "$@"; do xdotool keyup ${k//+/ }; done
  xdotool key "$@"
}
focus() { timeout 10 xdotool windowfocus --sync "$1" || fail "could not give the focus to window $1"; }
# The mouse parked outside the window, so that no tooltip or hot button shows.
park_mouse() { xdotool mousemove 1200 1000; }

# Starts Corvantis.exe with one parameter and waits for the main window with
# the caption matching the pattern. Sets $main and the client area's screen
# origin $cx,$cy (a Wine-drawn frame: 4 px border, 19 px caption).
start_main() {
  local parameter="$1" caption="$2" X Y
  [ -z "$(xdotool search --onlyvisible --name '^Quorvandel Corvantis' 2>/dev/null)" ] ||
    fail "a Quorvandel Corvantis window is already open; it would be mistaken for ours"
  park_mouse
  say "wine Corvantis.exe \"$parameter\""
  wine "$exe" "$parameter" </dev/null >>"$log" 2>&1 &
  pid=$!
  main=""
  wait_for 300 eval 'main="$(xdotool search --onlyvisible --name "$caption" 2>/dev/null | head -n 1)";
    [ -n "$main" ] || ! kill -0 "$pid" 2>/dev/null'
  [ -n "$main" ] || fail "no window with a caption matching '$caption' appeared for \"$parameter\""
  eval "$(xdotool getwindowgeometry --shell "$main" | grep -E '^[XY]=')"
  cx=$((X + 4)) cy=$((Y + 23))
  say "window $main '$(xdotool getwindowname "$main")' at $X,$Y"
  focus "$main"
}

caption_is() { xdotool getwindowname "$main" 2>/dev/null | grep -Eq "$1"; }
wait_caption() {
  wait_for 100 caption_is "$1" ||
    fail "the caption is '$(xdotool getwindowname "$main" 2>/dev/null)', expected to match '$1' ($2)"
}

# Waits for the process to end after the window was told to close, and
# checks its exit code.
wait_exit() {
  local code
  wait_for 150 eval '! kill -0 "$pid" 2>/dev/null' || fail "Corvantis.exe was still running 15 s after $1"
  wait "$pid"
  code=$?
  pid=""
  [ "$code" -eq 0 ] || fail "Corvantis.exe exited with code $code after $1, expected 0"
}

# The left edge of the open pop-up menu: Wine shows it as a visible X
# window of the process without a name. Empty when no menu is open.
popup_x() {
  local w
  for w in $(xdotool search --onlyvisible --class '^corvantis\.exe$' 2>/dev/null); do
    [ "$w" = "$main" ] || [ -n "$(xdotool getwindowname "$w" 2>/dev/null)" ] && continue
    xdotool getwindowgeometry --shell "$w" | sed -n 's/^X=//p'
    return
  done
}
# Waits for a menu to open to the right of the given x (or anywhere: 0), and
# leaves its left edge in $menu_x; or for no menu to be open.
wait_menu() {
  local min=$1
  wait_for 50 eval 'menu_x="$(popup_x)"; [ -n "$menu_x" ] && [ "$menu_x" -gt "$min" ]' ||
    fail "no menu opened right of x=$min after $2 (open menu at x='${menu_x}')"
}
wait_no_menu() { wait_for 50 eval '[ -z "$(popup_x)" ]' || fail "a menu is still open after $1"; }

# Drags with the left button from one screen point to another in steps.
drag() {
  local x0=$1 y0=$2 x1=$3 y1=$4 i
  xdotool mousemove "$x0" "$y0" sleep 0.2 mousedown 1
  for i in 1 2 3 4 5 6 7 8 9 10; do
    sleep 0.05
    xdotool mousemove $((x0 + (x1 - x0) * i / 10)) $((y0 + (y1 - y0) * i / 10))
  done
  sleep 0.2
}

# -------------------------------------------------------- menus by keyboard
reset_state
start_main /N '^Quorvandel Corvantis: \[New\]$'
press alt+f
wait_menu 0 "Alt+F"
file_x=$menu_x
shot main-menu-file
press Right
wait_menu "$file_x" "Right in the File menu"
edit_x=$menu_x
shot main-menu-edit
press Escape
wait_no_menu "Escape in the Edit menu"
press Escape
press alt
press Right Right Down
wait_menu "$edit_x" "Alt, Right, Right, Down"
view_x=$menu_x
shot main-menu-view
press Escape
wait_no_menu "Escape in the View menu"
# Escape went back to the bar with View marked: Down opens View again, and
# its mnemonic hides the status bar.
press Down
wait_menu $((view_x - 1)) "Down after Escape in the View menu"
[ "$menu_x" -eq "$view_x" ] || fail "Down after Escape opened the menu at x=$menu_x, not View's ($view_x)"
press s
wait_no_menu "S in the View menu"
# Right twice from the open File menu reaches View; T hides the toolbar.
press alt+f
wait_menu 0 "the second Alt+F"
press Right Right
wait_menu "$edit_x" "Right, Right in the File menu"
[ "$menu_x" -eq "$view_x" ] || fail "Right, Right from File opened the menu at x=$menu_x, not View's ($view_x)"
press t
wait_no_menu "T in the View menu"
press alt+f
wait_menu 0 "Alt+F before Exit"
press x
wait_exit "Exit was chosen with Alt+F, X"
[ "$(reg_value "$storage_key" pBottom.Visible)" = 0x0 ] || fail "the status bar was not hidden from the View menu"
[ "$(reg_value "$storage_key" tbMain.Visible)" = 0x0 ] || fail "the toolbar was not hidden from the View menu"
[ "$(reg_value "$storage_key" tbMenu.Visible)" = 0x1 ] || fail "the menu bar was stored as hidden"
say "menus: File at x=$file_x, Edit at x=$edit_x, View at x=$view_x; Exit closed the window"

# ------------------------------------------------- Register All (20 copies)
# The first entry is the 64-bit build of the server, which the program hands
# to its 64-bit helper; its class lands in the 64-bit registry view.
reset_state
wine reg delete "$clsid_key" /f /reg:32 </dev/null >>"$log" 2>&1
wine reg delete "$clsid_key" /f /reg:64 </dev/null >>"$log" 2>&1
[ -z "$(reg_value "$clsid_key\\InprocServer32" '')" ] || fail "the test class is still registered before the run"
{
  printf '; Quorvandel Corvantis File\r\n'
  cp "$build/bin/testdata/x64/OkServer.dll" "$work/server64.dll" || fail "could not copy the 64-bit server"
  printf '%s\\server64.dll\r\n' "$work_win"
  for n in $(seq -w 1 20); do
    cp "$server" "$work/server$n.dll" || fail "could not copy $server"
    printf '%s\\server%s.dll\r\n' "$work_win" "$n"
  done
} >"$work/reg20.kvx"
start_main "/F:$work_win\\reg20.kvx" '^Quorvandel Corvantis: reg20\.kvx$'
shot main-batch20
press F6
task_window() { task="$(xdotool search --onlyvisible --name '^Task Progress\.\.\.$' 2>/dev/null | head -n 1)"; }
wait_for 100 eval 'task_window; [ -n "$task" ]' || fail "F6 opened no 'Task Progress...' window"
# The last copy registered last: the class then names it.
last="$work_win\\server20.dll"
wait_for 120 eval '[ "$(reg_value "$clsid_key\\InprocServer32" "")" = "$last" ]'
value="$(reg_value "$clsid_key\\InprocServer32" '')"
[ "$value" = "$last" ] || fail "after Register All the class names '$value', expected $last"
value64="$(reg_value "$clsid_key\\InprocServer32" '' 64)"
[ "$value64" = "$work_win\\server64.dll" ] || fail "the 64-bit view names '$value64', expected server64.dll"
shot main-task-done
# Alt+C does nothing while the button reads Stop (Alt+S); once the run has
# ended it reads Close again and Alt+C closes the window.
for _ in $(seq 1 30); do
  task_window
  [ -n "$task" ] || break
  focus "$task"
  press alt+c
  sleep 0.5
done
task_window
[ -z "$task" ] || fail "the task window did not close with Alt+C (Close never back?)"
wait_caption '^Quorvandel Corvantis: reg20\.kvx$' "registering does not modify the batch"
focus "$main"
press alt+F4
wait_exit "Alt+F4"
say "Register All: 21 entries, the class names $value (32-bit view) and $value64 (64-bit view)"

# ---------------------------------------------------- a row dragged, saved
reset_state
names=(alpha beta gamma delta)
for n in "${names[@]}"; do cp "$server" "$work/$n.dll" || fail "could not copy $server"; done
printf '; Quorvandel Corvantis File\r\n' >"$work/order.kvx"
for n in "${names[@]}"; do printf '%s\\%s.dll\r\n' "$work_win" "$n" >>"$work/order.kvx"; done
start_main "/F:$work_win\\order.kvx" '^Quorvandel Corvantis: order\.kvx$'
# Client rows at 96 DPI: menu bar 0-22, toolbar 23-48, list from 49 with a
# header of 19 px, then rows 17 px high. Row i's centre is 76 + 17 i.
row_y() { echo $((cy + 76 + 17 * $1)); }
drag $((cx + 70)) "$(row_y 0)" $((cx + 70)) "$(row_y 2)"
shot main-row-drag
xdotool mouseup 1
wait_caption '^Quorvandel Corvantis: order\.kvx\*$' "a row was dropped on another"
press ctrl+s
wait_caption '^Quorvandel Corvantis: order\.kvx$' "Ctrl+S saved the batch"
expected="$(printf '; Quorvandel Corvantis File\r\n'; for n in beta gamma alpha delta; do
  printf '%s\\%s.dll\r\n' "$work_win" "$n"; done)"
[ "$(cat "$work/order.kvx")" = "$expected" ] ||
  fail "the saved order is $(tail -n +2 "$work/order.kvx" | tr -d '\r' | tr '\n' ' '), expected beta gamma alpha delta"
say "row drag: saved as beta, gamma, alpha, delta"

# -------------------------------------------------- a hint in the status bar
# Over the first toolbar button (New); the status bar shows its hint, read
# from the window by a test-side program.
[ -f "$build/bin/window_reader.exe" ] || fail "no $build/bin/window_reader.exe"
status_text() {
  wine "$build/bin/window_reader.exe" statusbar "$(xdotool getwindowname "$main")" </dev/null 2>>"$log" | tr -d '\r'
}
hint='Create new corvantis file'
status="$(status_text)"
[ "$status" != "$hint" ] || fail "the status bar shows the hint of New before the pointer is over it"
xdotool mousemove $((cx + 22)) $((cy + 35)) sleep 0.1 mousemove $((cx + 23)) $((cy + 36))
wait_for 50 eval 'status="$(status_text)"; [ "$status" = "$hint" ]' ||
  fail "the status bar shows '$status' with the pointer over New, expected '$hint'"
shot main-hint
say "hint: the status bar shows '$status' over New"
park_mouse
press alt+f
wait_menu 0 "Alt+F"
press x
wait_exit "Exit was chosen with Alt+F, X"

# ---------------------------------------- the toolbar on the left, restored
reset_state
start_main /N '^Quorvandel Corvantis: \[New\]$'
# The toolbar's gripper is its left 8 px; the bar lies at client y 23-48.
drag $((cx + 4)) $((cy + 36)) $((cx + 6)) $((cy + 170))
xdotool mouseup 1 mousemove 1200 1000
shot main-toolbar-left
press alt+f
wait_menu 0 "Alt+F"
press x
wait_exit "Exit was chosen with Alt+F, X"
dock="$(reg_value "$storage_key" tbMain.CurrentDock)"
[ "$dock" = 0x2 ] || fail "tbMain.CurrentDock is '$dock' after the drag to the left edge, expected 0x2"
[ "$(reg_value "$storage_key" tbMenu.CurrentDock)" = 0x0 ] || fail "the menu bar left the top dock"
start_main /N '^Quorvandel Corvantis: \[New\]$'
shot main-toolbar-left-restarted
press alt+F4
wait_exit "Alt+F4"
# Had the start not restored the dock, this close would have stored 0.
dock="$(reg_value "$storage_key" tbMain.CurrentDock)"
[ "$dock" = 0x2 ] || fail "tbMain.CurrentDock is '$dock' after a restart, expected 0x2 (not restored)"
say "toolbar: stored in the left dock and restored there"

say "passed"
exit 0
