# Sourced by the xdotool scripts: checks the arguments, finds the built
# program and the OK test server, prepares the Wine environment and the log.
# Before sourcing, set `script` to the script's name (used in messages).
# Sets: build, root, exe, server (Linux path of OkServer.dll), log; defines
# fail and say.

fail() {
  echo "$script: FAILED: $*" >&2
  exit 1
}
say() { echo "$script: $*"; }

[ $# -eq 1 ] || fail "usage: $0 <build dir>"
[ -d "$1" ] || fail "no build directory '$1'"
build="$(cd "$1" && pwd)"
root="$(cd "$(dirname "$0")/../.." && pwd)"
exe="$build/bin/Corvantis.exe"
server="$build/bin/testdata/OkServer.dll"
[ -f "$exe" ] || fail "no $exe"
[ -f "$server" ] || fail "no $server"

# shellcheck source=../../scripts/winenv.sh
source "$root/scripts/winenv.sh" "$build" || fail "could not prepare the Wine environment"
command -v xdotool >/dev/null || fail "xdotool is not installed"

log="$build/$script.log"
: >"$log"
