# Sourced by the other scripts: prepares a virtual display and a throwaway
# Wine prefix, and exports what every Wine call needs.
#   CORVANTIS_PREFIX  the Wine prefix (default: <build dir>/wineprefix)
#   DISPLAY           an X display; a private Xvfb is started when none answers
# Usage: source scripts/winenv.sh <build dir>

_corv_build="${1:?build directory}"
mkdir -p "$_corv_build"
_corv_build="$(cd "$_corv_build" && pwd)"

export WINEPREFIX="${CORVANTIS_PREFIX:-$_corv_build/wineprefix}"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all,err+winediag}"
export WINEDLLOVERRIDES="mscoree,mshtml="

# The display must answer before the first Wine process starts: a Wine
# desktop started without one makes every later window creation fail.
# A display started by an earlier call for this build is reused.
if [ -z "${DISPLAY:-}" ] && [ -f "$_corv_build/display" ]; then
  export DISPLAY="$(cat "$_corv_build/display")"
fi
if [ -z "${DISPLAY:-}" ] || ! xdotool getdisplaygeometry >/dev/null 2>&1; then
  for n in $(seq 91 120); do
    # A display whose server has ended leaves its lock and socket behind:
    # those are taken over, a live server's display is skipped.
    if [ -e "/tmp/.X$n-lock" ]; then
      _corv_pid="$(tr -dc '0-9' <"/tmp/.X$n-lock" 2>/dev/null || true)"
      if [ -n "$_corv_pid" ] && kill -0 "$_corv_pid" 2>/dev/null; then continue; fi
      rm -f "/tmp/.X$n-lock" "/tmp/.X11-unix/X$n"
    elif [ -e "/tmp/.X11-unix/X$n" ]; then
      continue
    fi
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -noreset </dev/null >"$_corv_build/xvfb.log" 2>&1 &
    export DISPLAY=":$n"
    echo "$DISPLAY" >"$_corv_build/display"
    for _ in $(seq 1 100); do
      xdotool getdisplaygeometry >/dev/null 2>&1 && break
      sleep 0.1
    done
    break
  done
  if ! xdotool getdisplaygeometry >/dev/null 2>&1; then
    echo "winenv: no X display could be started" >&2
    return 1 2>/dev/null || exit 1
  fi
fi

# One persistent server per prefix; it exits with 2 when one already runs.
wineserver -p </dev/null >/dev/null 2>&1 || true

if [ ! -f "$WINEPREFIX/.corvantis-ready" ]; then
  echo "winenv: creating Wine prefix $WINEPREFIX"
  wineboot --init </dev/null >"$_corv_build/wineboot.log" 2>&1
  # Wine's own TrueType fonts (Tahoma among them, as on Windows) are only
  # found when they lie in the prefix's font folder.
  cp -n /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  # No crash dialog (it would block a test until its timeout) and unmanaged
  # windows (without a window manager every close would wait about 2 s).
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f </dev/null >/dev/null 2>&1
  touch "$WINEPREFIX/.corvantis-ready"
fi
# Starts Wine's services outside the measured runs.
wine cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
