#!/usr/bin/env bash
# The two packages of the program, built by scripts/package.sh from the
# build's own files and tried under Wine in a fresh prefix of their own:
# - both hold exactly the six program files (and the zip its read-me);
# - msiexec /i /qn installs the files, the Start menu shortcut, the entry in
#   the list of installed programs and the ten Explorer entries naming the
#   installed program, which then registers a test server;
# - a package of a higher version replaces the installation in place;
# - msiexec /x /qn removes all of that and leaves the program's settings;
# - SHELLEXT=0 leaves out the Explorer entries, INSTALLDIR moves the files;
# - the program's folder is locked to administrators and SYSTEM (users may
#   read and run it) by a row of MsiLockPermissionsEx, wherever it goes;
# - ".kvx" of another program is not taken (the verbose log names it), and
#   uninstalling takes only the package's own values;
# - the portable zip, unpacked into a folder with blanks, registers a 32-bit
#   and (through the helper beside it) a 64-bit test server.
# Usage: package_test.sh <build dir>
set -uo pipefail
build="$(cd "${1:?build directory}" && pwd)"
root="$(cd "$(dirname "$0")/../.." && pwd)"
name="package_test"

failures=0
fail() { echo "$name: FAILED: $*" >&2; failures=$((failures + 1)); }
# expect_eq WHAT EXPECTED ACTUAL
expect_eq() { [ "$2" == "$3" ] || fail "$1: expected [$2], got [$3]"; }
fatal() { echo "$name: FAILED: $*" >&2; failures=$((failures + 1)); exit 1; }

for tool in wixl msibuild msiinfo msiextract zip unzip; do
  command -v "$tool" >/dev/null || fatal "$tool is missing (scripts/deps.sh installs it)"
done
program_files=(Corvantis.exe Corvantis32.exe Corvantis64.exe CorvantisCmd.exe Corvantis.chm Corvantis.tip)
for file in "${program_files[@]}" testdata/OkServer.dll testdata/x64/OkServer.dll; do
  [ -f "$build/bin/$file" ] || fatal "$build/bin/$file is missing; build first"
done
sorted_program_files="$(printf '%s\n' "${program_files[@]}" | sort)"

work="$(mktemp -d /tmp/corvantis-package.XXXXXX)"
xvfb_pid=""
cleanup() {
  # What msiexec and the runners said is kept when a check failed.
  rm -rf "$build/package_test_logs"
  if [ "$failures" -ne 0 ]; then
    mkdir -p "$build/package_test_logs" && cp "$work"/*.log "$work"/*.out "$build/package_test_logs/" 2>/dev/null
  fi
  if [ -n "${WINEPREFIX:-}" ] && [ "$WINEPREFIX" == "$work/prefix" ]; then
    wineserver -k </dev/null >/dev/null 2>&1
    wineserver -w </dev/null >/dev/null 2>&1
  fi
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
started=$SECONDS

# ---------------------------------------------------------------------------
# The packages: this build's version and one a patch level higher, whose
# tips file differs so that the upgrade can be told by its files.
# ---------------------------------------------------------------------------
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
IFS=. read -r major minor patch _ <<<"$version"
base="$major.$minor.$patch"
next="$major.$minor.$((patch + 1))"
PACKAGE_NO_BUILD=1 PACKAGE_OUT="$work/out" "$root/scripts/package.sh" "$build" >"$work/package.log" 2>&1 ||
  fatal "scripts/package.sh failed: $(cat "$work/package.log")"
mkdir "$work/next-bin"
cp "${program_files[@]/#/$build/bin/}" "$work/next-bin/"
printf 'Marker tip of version %s.\r\n' "$next" >>"$work/next-bin/Corvantis.tip"
PACKAGE_NO_BUILD=1 PACKAGE_OUT="$work/out" PACKAGE_VERSION="$next.0" PACKAGE_BIN="$work/next-bin" \
  "$root/scripts/package.sh" "$build" >"$work/package-next.log" 2>&1 ||
  fatal "scripts/package.sh with a higher version failed: $(cat "$work/package-next.log")"
msi="$work/out/Corvantis-$base.msi"
msi_next="$work/out/Corvantis-$next.msi"
zipfile="$work/out/Corvantis-$base-portable.zip"
for file in "$msi" "$msi_next" "$zipfile"; do [ -f "$file" ] || fatal "$(basename "$file") was not built"; done

# msi_property MSI NAME
msi_property() { msiinfo export "$1" Property | tr -d '\r' | awk -F '\t' -v n="$2" '$1 == n { print $2 }'; }

# The zip holds the six program files, as built, and the read-me; nothing
# of the tests (MAPI32.dll, testdata, *_tests.exe) comes along.
expect_eq "files of the zip" "$(printf '%s\nReadMe.txt\n' "$sorted_program_files" | sort)" \
  "$(unzip -Z1 "$zipfile" | sort)"
mkdir "$work/zip-check"
unzip -q "$zipfile" -d "$work/zip-check"
for file in "${program_files[@]}"; do
  cmp -s "$build/bin/$file" "$work/zip-check/$file" || fail "$file in the zip differs from the build's"
done
readme="$work/zip-check/ReadMe.txt"
grep -q "Corvantis $base" "$readme" || fail "the read-me does not name version $base"
grep -q '@VERSION@' "$readme" && fail "the read-me still holds @VERSION@"
grep -q 'Corvantis32.exe and Corvantis64.exe' "$readme" || fail "the read-me does not mention the helpers"
grep -q 'CorvantisCmd.exe register' "$readme" || fail "the read-me does not show the command lines"
[ "$(grep -c $'\r$' "$readme")" -eq "$(wc -l <"$readme")" ] || fail "the read-me has lines without CR LF"

# The package's File table and cabinet hold exactly the six files, as built.
expect_eq "File table of the msi" "$sorted_program_files" \
  "$(msiinfo export "$msi" File | tr -d '\r' | tail -n +4 | cut -f 3 | sort)"
expect_eq "files in the msi's cabinet" \
  "$(printf 'Program Files/Quorvandel/Corvantis/%s\n' "${program_files[@]}" | sort)" \
  "$(msiextract -l "$msi" | sort)"
expect_eq "streams of the msi" "$(printf 'Corvantis.cab\nIcon.Corvantis.ico\nSummaryInformation')" \
  "$(msiinfo streams "$msi" | tr -cd '[:print:]\n' | sort)"
mkdir "$work/msi-check"
msiextract -C "$work/msi-check" "$msi" >/dev/null
for file in "${program_files[@]}"; do
  cmp -s "$build/bin/$file" "$work/msi-check/Program Files/Quorvandel/Corvantis/$file" ||
    fail "$file in the msi differs from the build's"
done
msiinfo extract "$msi" Icon.Corvantis.ico >"$work/icon.ico"
cmp -s "$root/resources/Corvantis.ico" "$work/icon.ico" || fail "the msi's product icon is not resources/Corvantis.ico"
expect_eq "ProductVersion" "$version" "$(msi_property "$msi" ProductVersion)"
expect_eq "ProductVersion of the higher package" "$next.0" "$(msi_property "$msi_next" ProductVersion)"
expect_eq "ProductName" "Quorvandel Corvantis" "$(msi_property "$msi" ProductName)"
expect_eq "Manufacturer" "Quorvandel" "$(msi_property "$msi" Manufacturer)"
expect_eq "ALLUSERS" "1" "$(msi_property "$msi" ALLUSERS)"
expect_eq "ARPPRODUCTICON" "Corvantis.ico" "$(msi_property "$msi" ARPPRODUCTICON)"
upgrade_code="$(msi_property "$msi" UpgradeCode)"
expect_eq "UpgradeCode of the higher package" "$upgrade_code" "$(msi_property "$msi_next" UpgradeCode)"
# The folder's permissions, set wherever it is installed: one row locking
# the folder the package creates, INSTALLDIR. Its SDDL: owned by the
# Administrators, a protected list (no rights inherited from the folders
# above) of exactly three entries, each inherited by files and folders
# below: full access for the Administrators and SYSTEM, read and execute for
# the Users.
expect_eq "the program's folder is one the package creates" "INSTALLDIR	CorvantisExe" \
  "$(msiinfo export "$msi" CreateFolder | tr -d '\r' | tail -n +4 | grep '^INSTALLDIR')"
locks="$(msiinfo export "$msi" MsiLockPermissionsEx | tr -d '\r' | tail -n +4)"
expect_eq "rows of MsiLockPermissionsEx" 1 "$(echo -n "$locks" | grep -c .)"
IFS=$'\t' read -r _ lock_object lock_table sddl lock_condition <<<"$locks"
expect_eq "locked object" "INSTALLDIR CreateFolder -" "$lock_object $lock_table ${lock_condition:--}"
expect_eq "owner of the program's folder" "BA" "$(sed -n 's/^O:\([A-Z][A-Z]\|S-[0-9-]*\).*/\1/p' <<<"$sddl")"
dacl="${sddl#*D:}"
expect_eq "access list of the program's folder is protected" "P(" "${dacl:0:2}"
expect_eq "entries of the program's folder's access list" \
  "$(printf '(A;OICI;FA;;;BA)\n(A;OICI;FA;;;SY)\n(A;OICI;FRFX;;;BU)')" \
  "$(grep -o '([^)]*)' <<<"${dacl#P}" | sort)"
# The lock needs Windows Installer 5.
expect_eq "page count (installer version) of the package" 500 \
  "$(msiinfo suminfo "$msi" | sed -n 's/^Version: \([0-9]*\).*/\1/p')"
product="$(msi_property "$msi" ProductCode)"
product_next="$(msi_property "$msi_next" ProductCode)"
[ -n "$product" ] && [ "$product" != "$product_next" ] || fail "the two packages share the product code $product"

# ---------------------------------------------------------------------------
# A fresh Wine prefix of this test's own, set up as for every other test.
# ---------------------------------------------------------------------------
had_display="${DISPLAY:-}"
export CORVANTIS_PREFIX="$work/prefix"
source "$root/scripts/winenv.sh" "$work" >/dev/null 2>&1 || fatal "no Wine prefix"
if [ -f "$work/display" ] && [ "$DISPLAY" != "$had_display" ]; then
  xvfb_pid="$(tr -d ' ' <"/tmp/.X${DISPLAY#:}-lock" 2>/dev/null)"
fi
[ "$WINEPREFIX" == "$work/prefix" ] || fatal "the prefix is $WINEPREFIX, not the test's own"
# Shortcuts made inside the prefix stay there: no menu entries on this host.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"
echo "$name: prefix ready after $((SECONDS - started)) s"

drive_c="$WINEPREFIX/drive_c"
# windows_path LINUX_PATH: the same file through Wine's Z: drive.
windows_path() { local p="Z:$1"; echo "${p//\//\\}"; }
# msiexec ARGS...: runs Wine's msiexec, logging to $work/msiexec-N.log.
msiexec_count=0
msiexec() {
  msiexec_count=$((msiexec_count + 1))
  wine msiexec "$@" /l*v "$(windows_path "$work/msiexec-$msiexec_count.log")" </dev/null >/dev/null 2>&1
}

default_dir_windows='C:\Program Files (x86)\Quorvandel\Corvantis'
default_dir="$drive_c/Program Files (x86)/Quorvandel/Corvantis"
shortcut_name="Quorvandel Corvantis.lnk"
# Where a per-machine package's Start menu entry lands: the all-users menu on
# Windows, the user's own under Wine 8. Prints every copy found.
shortcuts() {
  find "$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs" \
    "$drive_c"/users/*/AppData/Roaming/Microsoft/Windows/Start\ Menu/Programs \
    -name "$shortcut_name" 2>/dev/null
}

# The ten Explorer entries, as the 32-bit program reads them (through the
# 32-bit registry view): one line "key<TAB>default value", or "key<TAB>-"
# when the key is missing.
shell_keys=('exefile\shell\Register\command' 'exefile\shell\Unregister\command'
            'dllfile\shell\Register\command' 'dllfile\shell\Unregister\command'
            'ocxfile\shell\Register\command' 'ocxfile\shell\Unregister\command'
            '.kvx' 'kvxfile' 'kvxfile\DefaultIcon' 'kvxfile\shell\open\command')
# reg_defaults VIEW KEY...: one line "key<TAB>default value" (or "-" when the
# key is missing) for each HKCR key, read through the 32-bit or 64-bit
# registry view (the program is 32-bit, Explorer 64-bit), in one cmd run.
# Wine's reg prints its errors on standard output, so a key counts as found
# when reg names it.
reg_defaults() {
  local script="$work/query.cmd" view="$1" key
  shift
  {
    printf '@echo off\r\n'
    for key in "$@"; do
      printf 'echo ##%s\r\nreg query "HKCR\\%s" /ve /reg:%s\r\n' "$key" "$key" "$view"
    done
  } >"$script"
  wine 'C:\windows\syswow64\cmd.exe' /c "$(windows_path "$script")" </dev/null 2>/dev/null | tr -d '\r' |
    awk 'function flush() { if (key != "") print key "\t" (found ? value : "-") }
         /^##/ { flush(); key = substr($0, 3); value = ""; found = 0; next }
         /^HKEY_CLASSES_ROOT\\/ { found = 1; next }
         /^ +\(Default\) +REG_SZ/ { sub(/^ +\(Default\) +REG_SZ +/, ""); value = $0 }
         END { flush() }'
}
# expected_shell_entries PROGRAM: the ten lines naming PROGRAM, as the
# program's own preferences write them.
expected_shell_entries() {
  local p="$1"
  printf '%s\t%s\n' \
    'exefile\shell\Register\command' "\"$p\" /R:\"%1\"" 'exefile\shell\Unregister\command' "\"$p\" /U:\"%1\"" \
    'dllfile\shell\Register\command' "\"$p\" /R:\"%1\"" 'dllfile\shell\Unregister\command' "\"$p\" /U:\"%1\"" \
    'ocxfile\shell\Register\command' "\"$p\" /R:\"%1\"" 'ocxfile\shell\Unregister\command' "\"$p\" /U:\"%1\"" \
    '.kvx' 'kvxfile' 'kvxfile' 'Quorvandel Corvantis File' 'kvxfile\DefaultIcon' "$p,0" \
    'kvxfile\shell\open\command' "\"$p\" /F:\"%1\""
}
absent_shell_entries() { printf '%s\t-\n' "${shell_keys[@]}"; }
# The keys the entries leave behind must go with them, but not their
# neighbours that belong to Windows.
leftover_keys=('exefile\shell\Register' 'exefile\shell\Unregister' 'dllfile\shell\Register'
               'dllfile\shell\Unregister' 'ocxfile\shell\Register' 'ocxfile\shell\Unregister')

# installed_entries: one line "view<TAB>key<TAB>DisplayName<TAB>DisplayVersion
# <TAB>Publisher<TAB>InstallLocation<TAB>UninstallString" for each entry of
# the list of installed programs named Quorvandel Corvantis, in the 64-bit
# and the 32-bit registry view (Wine puts a 32-bit package's in the latter).
# "wine reg" is the 32-bit reg.exe here: the view is always named.
installed_entries() {
  local view
  for view in 64 32; do
    wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s "/reg:$view" \
      </dev/null 2>/dev/null | tr -d '\r' |
      awk -v view="$view" '
        function flush() { if (key != "" && v["DisplayName"] == "Quorvandel Corvantis")
                             print view "\t" key "\t" v["DisplayName"] "\t" v["DisplayVersion"] "\t" v["Publisher"] "\t" v["InstallLocation"] "\t" v["UninstallString"] }
        /^HKEY_/ { flush(); key = $0; sub(/.*\\/, "", key); split("", v); next }
        /^    [^ ]/ { line = $0; sub(/^    /, "", line); n = index(line, "    "); if (n == 0) next
                      vname = substr(line, 1, n - 1); rest = substr(line, n); sub(/^ +[A-Z_]+ */, "", rest); v[vname] = rest }
        END { flush() }'
  done
}

settings_key='HKLM\Software\Quorvandel\Quorvandel Tessaly\Corvantis'
# Where the package keeps the chosen folder for its later runs.
setup_key='HKLM\Software\Quorvandel\Corvantis Setup'
# clsid_server VIEW: the registered path of the test server's class, read
# through the 32-bit or 64-bit registry view ("-" when not registered).
ok_clsid='CLSID\{9EE2073F-F6EF-48CF-A9C7-38C2FFA1F91E}\InprocServer32'
clsid_server() {
  local out
  out="$(wine reg query "HKCR\\$ok_clsid" /ve "/reg:$1" </dev/null 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *(Default) *REG_SZ *//p')"
  echo "${out:--}"
}
server32="$(windows_path "$build/bin/testdata/OkServer.dll")"
server64="$(windows_path "$build/bin/testdata/x64/OkServer.dll")"

# check_installation DIR WHAT DIR_WINDOWS: the six files in DIR and the one
# Start menu shortcut leading to Corvantis.exe in DIR_WINDOWS.
check_installation() {
  local dir="$1" what="$2" dir_windows="$3"
  expect_eq "files in $what" "$sorted_program_files" "$(ls "$dir" 2>/dev/null | sort)"
  local file
  for file in Corvantis.exe Corvantis32.exe Corvantis64.exe CorvantisCmd.exe Corvantis.chm; do
    cmp -s "$build/bin/$file" "$dir/$file" || fail "installed $file differs from the build's"
  done
  local found
  found="$(shortcuts)"
  expect_eq "number of Start menu shortcuts" 1 "$(echo -n "$found" | grep -c .)"
  if [ -n "$found" ]; then
    # The link's target path is stored as text in the .lnk file.
    grep -aqF "$dir_windows\\Corvantis.exe" "$found" || fail "the shortcut does not lead to $dir_windows\\Corvantis.exe"
  fi
}

# ---------------------------------------------------------------------------
# Install with the defaults.
# ---------------------------------------------------------------------------
msiexec /i "$(windows_path "$msi")" /qn || fail "msiexec /i exited with $?"
check_installation "$default_dir" "the default folder" "$default_dir_windows"
cmp -s "$build/bin/Corvantis.tip" "$default_dir/Corvantis.tip" || fail "installed Corvantis.tip differs from the build's"
entries="$(installed_entries)"
expect_eq "entries in the list of installed programs" 1 "$(echo -n "$entries" | grep -c .)"
IFS=$'\t' read -r _ key _ shown_version publisher location uninstall <<<"$entries"
expect_eq "uninstall entry's key" "$product" "$key"
expect_eq "DisplayVersion" "$version" "$shown_version"
expect_eq "Publisher" "Quorvandel" "$publisher"
expect_eq "InstallLocation" "$default_dir_windows\\" "$location"
echo "$uninstall" | grep -qiF "/X$product" || fail "UninstallString [$uninstall] does not remove $product"
expect_eq "Explorer entries after installing" "$(expected_shell_entries "$default_dir_windows\\Corvantis.exe")" \
  "$(reg_defaults 32 "${shell_keys[@]}")"
expect_eq "Explorer entries after installing, 64-bit view" \
  "$(expected_shell_entries "$default_dir_windows\\Corvantis.exe")" "$(reg_defaults 64 "${shell_keys[@]}")"

# The installed console runner registers and unregisters a test server.
installed_cmd="$default_dir_windows\\CorvantisCmd.exe"
wine "$installed_cmd" register "$server32" </dev/null >"$work/register.out" 2>&1
status=$?
expect_eq "exit code of the installed CorvantisCmd register" 0 "$status"
expect_eq "registered server (32-bit view)" "$server32" "$(clsid_server 32)"
wine "$installed_cmd" unregister "$server32" </dev/null >"$work/unregister.out" 2>&1
expect_eq "exit code of the installed CorvantisCmd unregister" 0 "$?"
expect_eq "server after unregistering" "-" "$(clsid_server 32)"
wine "$installed_cmd" register "$(windows_path "$work/no such server.dll")" </dev/null >/dev/null 2>&1
expect_eq "exit code of registering a missing file" 1 "$?"

# The program's settings, as the program writes them (32-bit view).
wine reg add "$settings_key" /v Location /t REG_SZ /d "$default_dir_windows" /f /reg:32 \
  </dev/null >/dev/null 2>&1 || fail "could not write the settings value"
echo "$name: installed and used after $((SECONDS - started)) s"

# ---------------------------------------------------------------------------
# A higher version replaces the installation in place.
# ---------------------------------------------------------------------------
msiexec /i "$(windows_path "$msi_next")" /qn || fail "msiexec /i of version $next exited with $?"
check_installation "$default_dir" "the default folder after the upgrade" "$default_dir_windows"
cmp -s "$work/next-bin/Corvantis.tip" "$default_dir/Corvantis.tip" || fail "the upgrade did not install its own files"
entries="$(installed_entries)"
expect_eq "entries in the list of installed programs after the upgrade" 1 "$(echo -n "$entries" | grep -c .)"
IFS=$'\t' read -r _ key _ shown_version _ <<<"$entries"
expect_eq "uninstall entry's key after the upgrade" "$product_next" "$key"
expect_eq "DisplayVersion after the upgrade" "$next.0" "$shown_version"
expect_eq "Explorer entries after the upgrade" "$(expected_shell_entries "$default_dir_windows\\Corvantis.exe")" \
  "$(reg_defaults 32 "${shell_keys[@]}")"
# The older package does not go over the newer installation.
msiexec /i "$(windows_path "$msi")" /qn && fail "version $base installed over version $next"
IFS=$'\t' read -r _ key _ shown_version _ <<<"$(installed_entries)"
expect_eq "installed version after trying the older package" "$next.0" "$shown_version"
cmp -s "$work/next-bin/Corvantis.tip" "$default_dir/Corvantis.tip" || fail "the older package changed the files"

# ---------------------------------------------------------------------------
# Uninstall: nothing of the package is left, the settings are.
# ---------------------------------------------------------------------------
msiexec /x "$product_next" /qn || fail "msiexec /x exited with $?"
[ -e "$drive_c/Program Files (x86)/Quorvandel" ] && fail "the Quorvandel folder is left: $(find "$drive_c/Program Files (x86)/Quorvandel")"
expect_eq "shortcuts after uninstalling" "" "$(shortcuts)"
expect_eq "entries in the list of installed programs after uninstalling" "" "$(installed_entries)"
expect_eq "Explorer entries after uninstalling" "$(absent_shell_entries)" "$(reg_defaults 32 "${shell_keys[@]}")"
expect_eq "keys of the Explorer entries after uninstalling" "$(printf '%s\t-\n' "${leftover_keys[@]}")" \
  "$(reg_defaults 32 "${leftover_keys[@]}")"
wine reg query "$setup_key" /reg:32 </dev/null 2>/dev/null | tr -d '\r' | grep -q '^HKEY_' &&
  fail "the package's key $setup_key is left"
# Windows' own verbs beside them stay.
[ "$(reg_defaults 32 'exefile\shell\open\command' | cut -f 2)" != "-" ] || fail "exefile\\shell\\open\\command went too"
wine reg query "$settings_key" /v Location /reg:32 </dev/null 2>/dev/null | tr -d '\r' |
  grep -qF "$default_dir_windows" || fail "the program's settings did not survive the uninstall"
echo "$name: upgraded and removed after $((SECONDS - started)) s"

# ---------------------------------------------------------------------------
# SHELLEXT=0 and INSTALLDIR, and an upgrade that keeps both.
# ---------------------------------------------------------------------------
custom_dir_windows='C:\Tools\My Corvantis'
custom_dir="$drive_c/Tools/My Corvantis"
msiexec /i "$(windows_path "$msi")" /qn SHELLEXT=0 "INSTALLDIR=$custom_dir_windows" ||
  fail "msiexec /i SHELLEXT=0 INSTALLDIR=... exited with $?"
check_installation "$custom_dir" "INSTALLDIR" "$custom_dir_windows"
[ -e "$default_dir" ] && fail "files went to the default folder despite INSTALLDIR"
expect_eq "Explorer entries with SHELLEXT=0" "$(absent_shell_entries)" "$(reg_defaults 32 "${shell_keys[@]}")"
wine "$custom_dir_windows\\CorvantisCmd.exe" register "$server32" </dev/null >/dev/null 2>&1
expect_eq "exit code of CorvantisCmd installed in INSTALLDIR" 0 "$?"
wine "$custom_dir_windows\\CorvantisCmd.exe" unregister "$server32" </dev/null >/dev/null 2>&1
# The upgrade finds the folder by itself.
msiexec /i "$(windows_path "$msi_next")" /qn || fail "msiexec /i of version $next over SHELLEXT=0 exited with $?"
cmp -s "$work/next-bin/Corvantis.tip" "$custom_dir/Corvantis.tip" || fail "the upgrade did not install its files into INSTALLDIR"
[ -e "$default_dir" ] && fail "the upgrade went to the default folder instead of INSTALLDIR"
expect_eq "shortcuts after the second upgrade" 1 "$(shortcuts | grep -c .)"
expect_eq "entries in the list of installed programs after the second upgrade" 1 "$(installed_entries | grep -c .)"
expect_eq "Explorer entries after upgrading an installation without them" "$(absent_shell_entries)" \
  "$(reg_defaults 32 "${shell_keys[@]}")"
# Removing by the package file works as well as by the product code.
msiexec /x "$(windows_path "$msi_next")" /qn || fail "msiexec /x by package exited with $?"
[ -e "$drive_c/Tools/My Corvantis" ] && fail "INSTALLDIR is left: $(ls -A "$custom_dir")"
expect_eq "shortcuts after the second uninstall" "" "$(shortcuts)"
expect_eq "entries in the list of installed programs after the second uninstall" "" "$(installed_entries)"
echo "$name: SHELLEXT=0 and INSTALLDIR done after $((SECONDS - started)) s"

# ---------------------------------------------------------------------------
# Other programs' entries. ".kvx" that names another file type stays with
# it: the package leaves out the file type and says so in its log.
# ---------------------------------------------------------------------------
# reg_value KEY NAME: a value under HKCR ("" for the default), or "-" when
# the key or the value is missing.
reg_value() {
  local out
  if [ -z "$2" ]; then
    out="$(wine reg query "HKCR\\$1" /ve /reg:32 </dev/null 2>/dev/null)"
  else
    out="$(wine reg query "HKCR\\$1" /v "$2" /reg:32 </dev/null 2>/dev/null)"
  fi
  out="$(tr -d '\r' <<<"$out" | sed -n 's/^ *\((Default)\|[^ ].*[^ ]\) \{2,\}REG_[A-Z_]* \{2,\}//p')"
  [ "$out" == "(value not set)" ] && out=""
  echo "${out:--}"
}
reg_add() { wine reg add "HKCR\\$1" "${@:2}" /f /reg:32 </dev/null >/dev/null 2>&1 || fail "could not write HKCR\\$1"; }
reg_add .kvx /ve /d otherfile
reg_add 'otherfile\shell\open\command' /ve /d 'notepad.exe "%1"'
msiexec /i "$(windows_path "$msi")" /qn || fail "msiexec /i over another program's .kvx exited with $?"
log="$work/msiexec-$msiexec_count.log"
expect_eq ".kvx of another program after installing" "otherfile" "$(reg_value .kvx '')"
expect_eq "Explorer entries beside another program's .kvx" \
  "$(expected_shell_entries "$default_dir_windows\\Corvantis.exe" | head -n 6; printf '%s\t-\n' '.kvx' kvxfile \
     'kvxfile\DefaultIcon' 'kvxfile\shell\open\command')" \
  "$(reg_defaults 32 "${shell_keys[@]}" | sed 's/^\(\.kvx\t\).*/\1-/')"
# Windows Installer's logs are UTF-16 on Windows; Wine's are not, but either
# reads once the NULs are gone.
tr -d '\000\r' <"$log" | grep -q "KVXLEFTTOOTHERPROGRAM.*otherfile" ||
  fail "the log does not say that .kvx was left to otherfile"
msiexec /x "$product" /qn || fail "msiexec /x beside another program's .kvx exited with $?"
expect_eq ".kvx of another program after uninstalling" "otherfile" "$(reg_value .kvx '')"
expect_eq "the other program's open command after uninstalling" 'notepad.exe "%1"' \
  "$(reg_value 'otherfile\shell\open\command' '')"
wine reg delete 'HKCR\.kvx' /f /reg:32 </dev/null >/dev/null 2>&1
wine reg delete 'HKCR\otherfile' /f /reg:32 </dev/null >/dev/null 2>&1

# Without another program's ".kvx", the package takes it; uninstalling takes
# only its own values and leaves what other programs stored beside them.
foreign=('.kvx|Content Type|text/plain' 'kvxfile\shell\edit\command||notepad.exe "%1"'
         'kvxfile\DefaultIcon|Other|other.dll,3' 'exefile\shell\Register|Icon|other.dll,1'
         'dllfile\shell\Unregister\command|Other|1')
for entry in "${foreign[@]}"; do
  IFS='|' read -r key value data <<<"$entry"
  if [ -z "$value" ]; then reg_add "$key" /ve /d "$data"; else reg_add "$key" /v "$value" /d "$data"; fi
done
msiexec /i "$(windows_path "$msi")" /qn || fail "msiexec /i beside other programs' values exited with $?"
log="$work/msiexec-$msiexec_count.log"
expect_eq "Explorer entries installed beside other programs' values" \
  "$(expected_shell_entries "$default_dir_windows\\Corvantis.exe")" "$(reg_defaults 32 "${shell_keys[@]}")"
tr -d '\000\r' <"$log" | grep -q "KVXLEFTTOOTHERPROGRAM.*kvxfile\|Adding KVXLEFTTOOTHERPROGRAM" &&
  fail "the log says .kvx was left to another program though none had it"
msiexec /x "$product" /qn || fail "msiexec /x beside other programs' values exited with $?"
for entry in "${foreign[@]}"; do
  IFS='|' read -r key value data <<<"$entry"
  expect_eq "HKCR\\$key [$value] after uninstalling" "$data" "$(reg_value "$key" "$value")"
done
for key in "${shell_keys[@]}"; do
  expect_eq "HKCR\\$key default value after uninstalling beside other programs' values" "-" "$(reg_value "$key" '')"
done
echo "$name: other programs' entries done after $((SECONDS - started)) s"

# ---------------------------------------------------------------------------
# The portable zip runs from any folder, with the 64-bit helper beside it.
# ---------------------------------------------------------------------------
portable="$drive_c/users/Public/My Portable Tools/Corvantis $base"
portable_windows="C:\\users\\Public\\My Portable Tools\\Corvantis $base"
mkdir -p "$portable"
unzip -q "$zipfile" -d "$portable"
cd "$work" || fatal "no work folder"
wine "$portable_windows\\CorvantisCmd.exe" register "$server32" </dev/null >"$work/portable32.out" 2>&1
expect_eq "exit code of the portable CorvantisCmd register (32-bit server)" 0 "$?"
expect_eq "server registered by the portable runner (32-bit view)" "$server32" "$(clsid_server 32)"
wine "$portable_windows\\CorvantisCmd.exe" register "$server64" </dev/null >"$work/portable64.out" 2>&1
expect_eq "exit code of the portable CorvantisCmd register (64-bit server)" 0 "$?"
expect_eq "server registered by the portable runner (64-bit view)" "$server64" "$(clsid_server 64)"
wine "$portable_windows\\CorvantisCmd.exe" unregister "$server32" "$server64" </dev/null >/dev/null 2>&1
expect_eq "exit code of the portable CorvantisCmd unregister" 0 "$?"
expect_eq "32-bit server after unregistering" "-" "$(clsid_server 32)"
expect_eq "64-bit server after unregistering" "-" "$(clsid_server 64)"
# The 64-bit server needs the helper from the zip: without it, it fails.
rm "$portable/Corvantis64.exe"
wine "$portable_windows\\CorvantisCmd.exe" register "$server64" </dev/null >"$work/nohelper.out" 2>&1
expect_eq "exit code without Corvantis64.exe beside the runner" 1 "$?"
expect_eq "64-bit server without the helper" "-" "$(clsid_server 64)"
# And a 32-bit one needs the 32-bit helper: the runner never loads it itself.
rm "$portable/Corvantis32.exe"
wine "$portable_windows\\CorvantisCmd.exe" register "$server32" </dev/null >"$work/nohelper32.out" 2>&1
expect_eq "exit code without Corvantis32.exe beside the runner" 1 "$?"
expect_eq "32-bit server without the helper" "-" "$(clsid_server 32)"

echo "$name: $((SECONDS - started)) s"
if [ "$failures" -ne 0 ]; then
  echo "$name: $failures check(s) failed; the logs are in $build/package_test_logs" >&2
  exit 1
fi
echo "$name: passed"
