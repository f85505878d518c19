#!/usr/bin/env bash
# A captured .reg file, imported into a fresh
# prefix, gives the same keys in the same views as registering the servers
# there: a 32-bit and a 64-bit library (one class, the same CLSID, one entry
# per view) and a type library (its TypeLib key, its interface in both
# views). After the import the test client creates the class from 32-bit and
# from 64-bit code.
# "Fresh" is the registry of a prefix just made: the prefix's registry files
# are kept as wineboot left them and put back, the prefix's server stopped,
# before each half, which costs far less than making a prefix each time.
# Usage: capture_reg_import.sh <build dir>
set -uo pipefail
build="$(cd "${1:?build directory}" && pwd)"
tests="$(cd "$(dirname "$0")/.." && pwd)"
export CORVANTIS_PREFIX="$build/regimport-prefix"
source "$tests/../scripts/winenv.sh" "$build" >/dev/null 2>&1
prefix="$WINEPREFIX"
fail() {
  echo "capture_reg_import: FAILED: $*" >&2
  exit 1
}
[ "$prefix" = "$CORVANTIS_PREFIX" ] || fail "the prefix is $prefix"
# Every Wine call with its three streams redirected (see the platform notes).
w() { wine "$@" </dev/null 2>/dev/null; }
# The registry files as wineboot left them, kept once.
pristine="$prefix/.pristine-registry"
if [ ! -f "$pristine/system.reg" ]; then
  wineserver -k </dev/null >/dev/null 2>&1
  wineserver -w </dev/null >/dev/null 2>&1
  mkdir -p "$pristine"
  cp "$prefix"/system.reg "$prefix"/user.reg "$prefix"/userdef.reg "$pristine"/ || fail "cannot keep the registry files"
fi
# Stops the prefix's server, puts the registry back as it was, starts it.
fresh_registry() {
  wineserver -k </dev/null >/dev/null 2>&1
  wineserver -w </dev/null >/dev/null 2>&1
  cp "$pristine"/*.reg "$prefix"/ || fail "cannot put the registry files back"
  wineserver -p </dev/null >/dev/null 2>&1
  w cmd /c exit 0
}

cd "$build/bin" || fail "no bin folder"
ids="$tests/servers/TestServerIds.h"
id_of() { sed -n "s/.*CORVANTIS_TEST_STRING($1, \"\\(.*\\)\").*/\\1/p" "$ids"; }
clsid="$(id_of kOkServerClsidString)"
libid="$(id_of kTestLibLibidString)"
iid="$(id_of kTestLibInterfaceIidString)"
[ -n "$clsid" ] && [ -n "$libid" ] && [ -n "$iid" ] || fail "cannot read the ids from $ids"
servers=(testdata/OkServer.dll testdata/x64/OkServer.dll testdata/TestLib.tlb)
[ -f testdata/x64/OkServer.dll ] || fail "no 64-bit test server (the 32-bit build brings it)"

# The subtrees the servers write, as the registry shows them in each view.
dump() {
  local view key
  for view in 32 64; do
    for key in "HKCR\\CLSID\\$clsid" "HKCR\\TypeLib\\$libid" "HKCR\\Interface\\$iid"; do
      echo "== $view $key"
      w reg query "$key" /s "/reg:$view" | tr -d '\r' | sed '/^$/d'
    done
  done
}

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# One fresh registry: capture, import the .reg, use the class.
fresh_registry
w CorvantisCmd.exe capture "${servers[@]}" --reg "$(winepath -w "$work/captured.reg")" >"$work/capture.txt" ||
  fail "capture: $(tr -d '\r' <"$work/capture.txt")"
[ "$(dump | grep -c .)" -eq 12 ] || fail "the capture wrote to the registry: $(dump)"
# The file names each key's view in its path (WOW6432Node for the 32-bit
# one), as the 64-bit registry editor that opens .reg files on 64-bit
# Windows reads it. A 32-bit importer would put the 64-bit keys into the
# 32-bit view too, and Wine starts its own registry tools from a Linux shell
# as 32-bit programs: "reg import /reg:64" imports as the 64-bit editor does.
w reg import "$(winepath -w "$work/captured.reg")" /reg:64 || fail "reg import refused the file"
dump >"$work/imported.txt"
w testdata/ClassClient.exe "$clsid" || fail "the 32-bit client cannot create the class after the import (exit $?)"
w testdata/x64/ClassClient.exe "$clsid" || fail "the 64-bit client cannot create the class after the import (exit $?)"

# Another: register.
fresh_registry
w CorvantisCmd.exe register "${servers[@]}" >"$work/register.txt" ||
  fail "register: $(tr -d '\r' <"$work/register.txt")"
dump >"$work/registered.txt"

# Each server's path in its own view, and the same keys in both registries.
grep -A5 "^== 32 HKCR.CLSID" "$work/registered.txt" | grep -qi 'testdata\\OkServer.dll' ||
  fail "the 32-bit server is not in the 32-bit view: $(cat "$work/registered.txt")"
grep -A5 "^== 64 HKCR.CLSID" "$work/registered.txt" | grep -qi 'testdata\\x64\\OkServer.dll' ||
  fail "the 64-bit server is not in the 64-bit view: $(cat "$work/registered.txt")"
diff -u "$work/registered.txt" "$work/imported.txt" >"$work/diff.txt" ||
  fail "the imported keys differ from the registered ones: $(cat "$work/diff.txt")"
echo "capture_reg_import: the imported .reg equals the registration ($(grep -c . "$work/registered.txt") lines)"
