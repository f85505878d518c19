#!/usr/bin/env bash
# The WiX fragment of a capture, built into a real package and installed:
# - CorvantisCmd capture --wxs takes a 32-bit and a 64-bit test server (the
#   same class, one per registry view), a 32-bit server that writes numbers
#   and a line break under HKEY_CURRENT_USER, one that writes a value of each
#   shape to escape (brackets, braces, a leading "#", XML's characters, an
#   expandable string, a multi-string, binary data, a negative DWORD) and two
#   no package can hold, and a type library; it writes the same fragment
#   twice, byte for byte, reporting exactly those two;
# - the fragment, turned into wixl's WiX v3 dialect here (Win64="yes" for
#   Bitness="always64"), wrapped in a minimal per-machine x64 product, is
#   built with wixl and installed with msiexec in a fresh Wine prefix;
# - the installed keys, in both registry views, are exactly those that
#   registering the installed files there writes (uninstall, put the same
#   files back, register them with CorvantisCmd, compare), except the two
#   values reported and a value naming the folder, which carries the
#   trailing backslash every Windows Installer folder has;
# - the test client creates the class through both views while installed.
# Skipped (exit code 77) when wixl or python3 is missing.
# Usage: wxs_package_test.sh <build dir>
set -uo pipefail
build="$(cd "${1:?build directory}" && pwd)"
root="$(cd "$(dirname "$0")/../.." && pwd)"
name="wxs_package_test"

for tool in wixl python3; do
  if ! command -v "$tool" >/dev/null; then
    echo "$name: SKIPPED: $tool is missing (scripts/deps.sh installs it)"
    exit 77
  fi
done
failures=0
fail() { echo "$name: FAILED: $*" >&2; failures=$((failures + 1)); }
expect_eq() { [ "$2" == "$3" ] || fail "$1: expected [$2], got [$3]"; }
fatal() { echo "$name: FAILED: $*" >&2; failures=$((failures + 1)); exit 1; }

data="$build/bin/testdata"
for file in CorvantisCmd.exe Corvantis32.exe Corvantis64.exe testdata/OkServer.dll testdata/x64/OkServer.dll \
            testdata/InstallServer.dll testdata/ValueShapesServer.dll testdata/TestLib.tlb testdata/ClassClient.exe testdata/x64/ClassClient.exe; do
  [ -f "$build/bin/$file" ] || fatal "$build/bin/$file is missing; build first"
done

work="$(mktemp -d /tmp/corvantis-wxs.XXXXXX)"
xvfb_pid=""
cleanup() {
  rm -rf "$build/wxs_package_test_logs"
  if [ "$failures" -ne 0 ]; then
    mkdir -p "$build/wxs_package_test_logs" && cp "$work"/*.log "$work"/*.wxs "$work"/*.out "$work"/*.txt "$work"/*.diff \
      "$build/wxs_package_test_logs/" 2>/dev/null
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

# The servers under the names they are installed with: two copies of the
# same server, one per bitness, cannot share a name in one folder.
mkdir "$work/servers"
cp "$data/OkServer.dll" "$work/servers/OkServer32.dll"
cp "$data/x64/OkServer.dll" "$work/servers/OkServer64.dll"
cp "$data/InstallServer.dll" "$data/ValueShapesServer.dll" "$data/TestLib.tlb" "$work/servers/"
servers=(OkServer32.dll OkServer64.dll InstallServer.dll ValueShapesServer.dll TestLib.tlb)

had_display="${DISPLAY:-}"
export CORVANTIS_PREFIX="$work/prefix"
source "$root/scripts/winenv.sh" "$work" >/dev/null 2>&1 || fatal "no Wine prefix"
if [ -f "$work/display" ] && [ "$DISPLAY" != "$had_display" ]; then
  xvfb_pid="$(tr -d ' ' <"/tmp/.X${DISPLAY#:}-lock" 2>/dev/null)"
fi
[ "$WINEPREFIX" == "$work/prefix" ] || fatal "the prefix is $WINEPREFIX, not the test's own"
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"
echo "$name: prefix ready after $((SECONDS - started)) s"
windows_path() { local p="Z:$1"; echo "${p//\//\\}"; }
drive_c="$WINEPREFIX/drive_c"

# ---------------------------------------------------------------------------
# The fragment, twice.
# ---------------------------------------------------------------------------
capture_args=()
for server in "${servers[@]}"; do capture_args+=("$(windows_path "$work/servers/$server")"); done
# The second run prints text: its warnings are the JSON's problems.
for run in 1 2; do
  wine "$build/bin/CorvantisCmd.exe" capture "${capture_args[@]}" --wxs "$(windows_path "$work/fragment$run.wxs")" \
    $([ $run == 1 ] && echo --json) </dev/null >"$work/capture$run.out" 2>&1
  expect_eq "exit code of capture --wxs (run $run)" 0 "$?"
done
cmp -s "$work/fragment1.wxs" "$work/fragment2.wxs" || fail "two captures of the same servers gave different fragments"
# In the order the server writes them.
expect_eq "warnings of the text run" "$(printf "warning: '%s': HKCU\\Software\\CorvantisTests\\ValueShapes value \"%s\":\n" \
  "$(windows_path "$work/servers/ValueShapesServer.dll")" Qword "$(windows_path "$work/servers/ValueShapesServer.dll")" BracedBrackets)" \
  "$(tr -d '\r' <"$work/capture2.out" | grep '^warning: ' | sed 's/": .*/":/')"
fragment="$work/fragment1.wxs"
[ -s "$fragment" ] || fatal "no fragment was written: $(cat "$work/capture1.out")"
shapes_json="$(windows_path "$work/servers/ValueShapesServer.dll" | sed 's/\\/\\\\/g')"
expect_eq "the JSON object of the fragment" \
  "{\"wxs\":\"$(windows_path "$work/fragment1.wxs" | sed 's/\\/\\\\/g')\",\"folder\":\"INSTALLFOLDER\",\"problems\":[\
\"'$shapes_json': HKCU\\\\Software\\\\CorvantisTests\\\\ValueShapes value \\\"Qword\\\": Windows Installer cannot write a \
REG_QWORD value; left out.\",\
\"'$shapes_json': HKCU\\\\Software\\\\CorvantisTests\\\\ValueShapes value \\\"BracedBrackets\\\": holds braces around brackets \
or the server's path, which Windows Installer would not keep; left out.\"]}" \
  "$(tr -d '\r' <"$work/capture1.out" | grep '^{"wxs"')"
grep -qi 'WOW6432Node' "$fragment" && fail "the fragment names WOW6432Node"
expect_eq "components of each bitness" "always32 4, always64 2" \
  "$(printf 'always32 %s, always64 %s' "$(grep -c 'Bitness="always32"' "$fragment")" "$(grep -c 'Bitness="always64"' "$fragment")")"

# wixl reads WiX v3: its namespace, Win64="yes" for a 64-bit component and
# nothing for a 32-bit one, the file's source as a path of this host
python3 - "$fragment" "$work/fragment-v3.wxs" "$work" <<'EOF' || fatal "the fragment could not be converted"
import re, sys
text = open(sys.argv[1], encoding="utf-8").read()
if "ForceCreateOnInstall" in text:
    sys.exit("the test servers write no empty keys; the conversion does not handle them")
# A multi-string's strings as one value, as WiX joins them: "[~]" between
# them, and around a single one (and the type as wixl spells it).
def joined(m):
    items = re.findall(r'<MultiStringValue Value="([^"]*)" />', m.group(2))
    value = "[~]".join(items) if len(items) > 1 else "[~]" + items[0] + "[~]"
    return m.group(1).replace('Type="multiString"', 'Type="multistring"') + ' Value="' + value + '" />'
text = re.sub(r'(<RegistryValue [^>]*Type="multiString")>(.*?)</RegistryValue>', joined, text, flags=re.S)
# WiX puts "#x" before binary data and "#%" before an expandable string in
# the Registry table; this wixl leaves both to the author.
text = re.sub(r'(Type="binary" Value=")', r'\1#x', text)
text = re.sub(r'(Type="expandable" Value=")', r'\1#%', text)
text = text.replace("http://wixtoolset.org/schemas/v4/wxs", "http://schemas.microsoft.com/wix/2006/wi")
text = text.replace(' Bitness="always64"', ' Win64="yes"').replace(' Bitness="always32"', "")
# (relative to the work folder: this wixl finds no file by an absolute path).
prefix = "Z:" + sys.argv[3].replace("/", "\\") + "\\"
text = re.sub(r'Source="([^"]*)"', lambda m: 'Source="' + m.group(1).replace(prefix, "").replace("\\", "/") + '"', text)
open(sys.argv[2], "w", encoding="utf-8").write(text)
EOF
cat >"$work/product.wxs" <<'EOF'
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="Corvantis fragment test" Language="1033" Version="1.0.0" Manufacturer="Quorvandel"
           UpgradeCode="{5C1E3B0A-7A51-4F0B-9D8E-2F6A4C1B7E90}">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine" />
    <Media Id="1" Cabinet="servers.cab" EmbedCab="yes" />
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFiles64Folder">
        <Directory Id="INSTALLFOLDER" Name="Fragment Test" />
      </Directory>
    </Directory>
    <Feature Id="Servers" Level="1">
      <ComponentGroupRef Id="CapturedServers.INSTALLFOLDER" />
    </Feature>
  </Product>
</Wix>
EOF
(cd "$work" && wixl -a x64 -o servers.msi product.wxs fragment-v3.wxs) >"$work/wixl.log" 2>&1 ||
  fatal "wixl failed: $(cat "$work/wixl.log")"
echo "$name: package built after $((SECONDS - started)) s"

# ---------------------------------------------------------------------------
# Installed, registering, and as a registration leaves them.
# ---------------------------------------------------------------------------
install_dir_windows='C:\Program Files\Fragment Test'
install_dir="$drive_c/Program Files/Fragment Test"
clsid='{9EE2073F-F6EF-48CF-A9C7-38C2FFA1F91E}'
keys=("HKLM\\Software\\Classes\\CLSID\\$clsid" 'HKLM\Software\Classes\Interface\{E5491C29-E684-497D-8A30-889E0C4E063A}'
      'HKLM\Software\Classes\TypeLib\{E03C1807-4EB3-4450-866A-B20EEA5CBAD7}' 'HKCU\Software\CorvantisTests\InstallServer'
      'HKCU\Software\CorvantisTests\ValueShapes')
# snapshot: every key above with its subkeys and values, through the 32-bit
# and the 64-bit view, in one cmd run. Key names are upper-cased (Wine
# keeps the case the first writer gave).
snapshot() {
  local script="$work/query.cmd" view key
  {
    printf '@echo off\r\n'
    for view in 32 64; do
      for key in "${keys[@]}"; do printf 'echo ## %s view %s\r\nreg query "%s" /s /reg:%s\r\n' "$key" "$view" "$key" "$view"; done
    done
  } >"$script"
  wine cmd /c "$(windows_path "$script")" </dev/null 2>/dev/null | tr -d '\r' |
    sed 's/^\(HKEY_[^ ]*\)$/\U\1/'
}
msiexec_log=0
msiexec() {
  msiexec_log=$((msiexec_log + 1))
  wine msiexec "$@" /qn /l*v "$(windows_path "$work/msiexec-$msiexec_log.log")" </dev/null >/dev/null 2>&1
}

msiexec /i "$(windows_path "$work/servers.msi")" || fatal "msiexec /i exited with $?"
expect_eq "installed files" "$(printf '%s\n' "${servers[@]}" | sort)" "$(ls "$install_dir" 2>/dev/null | sort)"
snapshot >"$work/installed.txt"
grep -qF "$install_dir_windows\\OkServer32.dll" "$work/installed.txt" || fail "the 32-bit server's path is not installed"
for view in 32 64; do
  bits=$([ $view == 32 ] && echo 32 || echo 64)
  server="$(wine reg query "HKLM\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" /ve /reg:$view </dev/null 2>/dev/null |
    tr -d '\r' | sed -n 's/^ *(Default) *REG_SZ *//p')"
  expect_eq "the class's server in the $view-bit view" "$install_dir_windows\\OkServer$bits.dll" "$server"
done
wine "$data/ClassClient.exe" "$clsid" </dev/null >/dev/null 2>&1
expect_eq "32-bit client creating the installed class" 0 "$?"
wine "$data/x64/ClassClient.exe" "$clsid" </dev/null >/dev/null 2>&1
expect_eq "64-bit client creating the installed class" 0 "$?"
echo "$name: installed and used after $((SECONDS - started)) s"

msiexec /x "$(windows_path "$work/servers.msi")" || fail "msiexec /x exited with $?"
[ -e "$install_dir" ] && fail "files are left after uninstalling: $(ls "$install_dir")"
wine reg query "HKLM\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" /ve /reg:64 </dev/null 2>/dev/null |
  grep -q REG_SZ && fail "the class is still registered after uninstalling"

# The same files in the same place, registered by CorvantisCmd.
mkdir -p "$install_dir"
cp "${servers[@]/#/$work/servers/}" "$install_dir/"
registered=()
for server in "${servers[@]}"; do registered+=("$install_dir_windows\\$server"); done
wine "$build/bin/CorvantisCmd.exe" register "${registered[@]}" </dev/null >"$work/register.out" 2>&1
expect_eq "exit code of registering the installed files" 0 "$?"
snapshot >"$work/registered.txt"
# A folder value: the registration's, and the installer's with its backslash.
helpdir() { sed -n '/\\HELPDIR$/{n;s/^ *(Default) *REG_SZ *//p;q}' "$1"; }
expect_eq "HELPDIR as installed" "$(helpdir "$work/registered.txt")\\" "$(helpdir "$work/installed.txt")"
sed '/\\HELPDIR$/{n;s/\\$//}' "$work/installed.txt" >"$work/installed-folder.txt"
# The two values reported are the registration's alone (in both views;
# Wine's reg shows no REG_QWORD's data).
expect_eq "the values the fragment reported, as registered" \
  "$(printf 'BracedBrackets REG_SZ {[z]}\nQword REG_QWORD\nBracedBrackets REG_SZ {[z]}\nQword REG_QWORD')" \
  "$(grep -E '^    (BracedBrackets|Qword) ' "$work/registered.txt" | awk '{ print $1, $2, ($2 == "REG_SZ" ? $3 : "") }' |
     sed 's/ $//')"
grep -vE '^    (BracedBrackets|Qword) ' "$work/registered.txt" >"$work/registered-held.txt"
diff "$work/registered-held.txt" "$work/installed-folder.txt" >"$work/keys.diff" ||
  fail "the installed keys differ from the registered ones (< registered, > installed): $(cat "$work/keys.diff")"
expect_eq "keys compared" "yes" "$([ "$(grep -c '^HKEY_' "$work/registered.txt")" -ge 20 ] && echo yes || echo no)"

echo "$name: $((SECONDS - started)) s"
if [ "$failures" -ne 0 ]; then
  echo "$name: $failures check(s) failed; the logs are in $build/wxs_package_test_logs" >&2
  exit 1
fi
echo "$name: passed"
