#!/usr/bin/env bash
# Compares what "CorvantisCmd capture X --reg OUT.reg" records for Wine's own
# libraries with what Wine's regsvr32 writes, 32-bit (syswow64) and 64-bit
# (system32, regsvr32 through the wine64 loader), each from the registry
# wineboot left. The library is unregistered first so that its registration
# shows in a difference of exports; the capture must not change the registry.
# A check to run by hand; the test run does not include it.
# Usage: compare_regsvr32.sh <build dir> [library...]
set -uo pipefail
build="$(cd "${1:?usage: compare_regsvr32.sh <build dir> [library...]}" && pwd)" && shift
scripts="$(cd "$(dirname "$0")" && pwd)"
export CORVANTIS_PREFIX="$build/compare-prefix"
source "$scripts/winenv.sh" "$build" >/dev/null 2>&1 || { echo "compare_regsvr32: no Wine environment" >&2; exit 1; }
prefix="$WINEPREFIX" cmd="$build/bin/CorvantisCmd.exe"
# mshtml is kept from loading while the prefix is made; here it registers.
export WINEDLLOVERRIDES="mscoree="
[ -f "$cmd" ] || { echo "compare_regsvr32: no $cmd" >&2; exit 1; }
wine64="$(dpkg -L wine64 2>/dev/null | grep '/wine64$' | head -1)"
[ -x "$wine64" ] || { echo "compare_regsvr32: no wine64 loader (package wine64)" >&2; exit 1; }
libs=("$@")
[ ${#libs[@]} -gt 0 ] || libs=(scrrun.dll urlmon.dll scrobj.dll msxml3.dll atl.dll ole32.dll oleaut32.dll quartz.dll shell32.dll mshtml.dll)
started=$SECONDS

# Every Wine call with its three streams redirected and a time limit.
w() { timeout 300 "$@" </dev/null 2>/dev/null; }
# The registry files as wineboot left them, kept once with the server stopped.
pristine="$prefix/.pristine-registry" work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
stop_server() { wineserver -k </dev/null >/dev/null 2>&1; wineserver -w </dev/null >/dev/null 2>&1; }
if [ ! -f "$pristine/system.reg" ]; then
  stop_server
  mkdir -p "$pristine" && cp "$prefix"/{system,user,userdef}.reg "$pristine"/ || exit 1
fi
fresh_registry() {
  stop_server
  cp "$pristine"/*.reg "$prefix"/ || exit 1
  wineserver -p </dev/null >/dev/null 2>&1
  w wine cmd /c exit 0
  # The first 32-bit program that loads gdi32 makes Wine write the 32-bit
  # view's Fonts key: done here, so that it is not taken for the capture's.
  w wine "$cmd" --help >/dev/null
}
# The 64-bit view names the 32-bit one's keys under Wow6432Node, so one
# export per root holds both views. The user's roots are small: all of them.
export_registry() {
  local root n=0
  for root in 'HKLM\Software' 'HKCU' 'HKU\.Default'; do
    n=$((n + 1))
    w wine reg export "$root" "$(winepath -w "$work/$1.$n.reg")" /reg:64 /y >/dev/null
  done
  cat "$work/$1".[123].reg >"$work/$1.reg"
}

# Reads .reg files into "path | name | type | data" lines and compares them.
cat >"$work/compare.py" <<'EOF'
import re, sys
REDIRECTED = ("clsid", "directshow", "interface", "media type", "mediafoundation")
TYPES = {0: "REG_NONE", 1: "REG_SZ", 2: "REG_EXPAND_SZ", 3: "REG_BINARY", 4: "REG_DWORD", 7: "REG_MULTI_SZ", 11: "REG_QWORD"}
def path_of(key):
    for long, short in (("HKEY_LOCAL_MACHINE", "HKLM"), ("HKEY_CURRENT_USER", "HKCU"), ("HKEY_USERS", "HKU")):
        key = re.sub("^" + long + r"(?=\\|$)", short, key, flags=re.I)
    # Wine links Software\Wow6432Node\Classes to Software\Classes\Wow6432Node.
    return re.sub(r"^(HK..)\\Software\\Wow6432Node\\Classes(?=\\|$)", r"\1\\Software\\Classes\\Wow6432Node", key, flags=re.I)
def unquote(s):
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "r": "\r", "0": "\0"}.get(m.group(1), m.group(1)), s)
def data_of(text):
    if text == "-": return "(deleted)", ""
    if text.startswith('"'): return "REG_SZ", unquote(text[1:-1])
    if text.startswith("dword:"): return "REG_DWORD", "0x" + text[6:].lower()
    m = re.match(r"hex(?:\(([0-9a-f]+)\))?:(.*)$", text, re.I)
    kind = int(m.group(1), 16) if m.group(1) else 3
    raw = bytes(int(b, 16) for b in m.group(2).replace(" ", "").split(",") if b)
    name = TYPES.get(kind, "type%d" % kind)
    if kind in (1, 2, 7) and len(raw) % 2 == 0:  # strings without their final NUL; a multi-string's parts joined by \0
        s = raw.decode("utf-16-le", "replace")
        return name, s.rstrip("\0").replace("\0", "\\0") if kind == 7 else s[:-1] if s.endswith("\0") else s
    if kind == 4 and len(raw) == 4: return name, "0x%08x" % int.from_bytes(raw, "little")
    return name, ",".join("%02x" % b for b in raw)
def entry(*fields): return " | ".join(fields)
def datum(line): return line.split(" | ", 2)[2]
def read(file):
    """{(lower path, lower name): line}; name None stands for the key itself."""
    lines, key, text = {}, None, open(file, "rb").read()
    text = re.sub(r"\\\r?\n\s*", "", text.decode("utf-16") if text[:2] == b"\xff\xfe" else text.decode())
    for line in text.splitlines():
        if line.startswith("["):
            deleted = line.startswith("[-")
            key = path_of(line[2 if deleted else 1:line.rindex("]")])
            lines[(key.lower(), None)] = entry(key, "(key)", "(deleted)" if deleted else "", "")
            key = None if deleted else key
        elif key and (line.startswith('"') or line.startswith("@")):
            m = re.match(r'(@|"(?:[^"\\]|\\.)*")=(.*)$', line)
            name = "" if m.group(1) == "@" else unquote(m.group(1)[1:-1])
            lines[(key.lower(), name.lower())] = entry(key, name or "@", *data_of(m.group(2)))
    return lines
def changes(before, after):
    """Keys and values added or changed, then those that went away."""
    out = {k: v for k, v in after.items() if before.get(k) != v}
    gone = {k[0] for k in before if k[1] is None and k not in after}
    for k, v in before.items():
        # A deleted key stands for its values and subkeys.
        holder = k[0].rsplit("\\", 1)[0] if k[1] is None else k[0]
        if k not in after and holder not in gone: out[k] = entry(*v.split(" | ")[:2], "(deleted)", "")
    return out
def twin(k):
    """The key's path without Wine's Wow6432Node copy of a shared key."""
    m = re.match(r"^(hk..\\software\\classes)\\wow6432node\\([^\\]+)(.*)$", k[0])
    return (m.group(1) + "\\" + m.group(2) + m.group(3), k[1]) if m and m.group(2) not in REDIRECTED else None
def show(title, lines, limit=20):
    if lines: print("  %s (%d):" % (title, len(lines)))
    for line in sorted(lines)[:limit]: print("    " + line.replace("\n", "\\n"))
    if len(lines) > limit: print("    ... %d more" % (len(lines) - limit))
label, before, live, after, captured, summary = sys.argv[1], read(sys.argv[2]), read(sys.argv[3]), read(sys.argv[4]), sys.argv[5], sys.argv[6]
# The export after the capture must equal the one before it.
altered = list(changes(before, live).values())
if altered: print("== %s:" % label)
show("the capture CHANGED the live registry", altered)
if not captured: sys.exit(3 if altered else 0)
captured = read(captured)
# Importing the file makes the missing parents of its keys as well.
for k, v in list(captured.items()):
    while k[1] is None and k[0].count("\\") > 1 and not datum(v).startswith("(deleted)"):
        k, path = (k[0].rsplit("\\", 1)[0], None), v.split(" | ")[0].rsplit("\\", 1)[0]
        if k in before or k in captured: break
        captured[k] = v = entry(path, "(key)", "", "")
wrote = changes(before, after)
same = lambda a, b, k: k in b and datum(a[k]) == datum(b[k])
only_reg = {k: v for k, v in wrote.items() if not same(wrote, captured, k)}
only_cap = {k: v for k, v in captured.items() if not same(captured, wrote, k)}
mirror, untraced = [], []
for k in [k for k in only_reg if twin(k) and (twin(k) in wrote or twin(k) in captured)]:
    mirror.append(only_reg.pop(k))
for k in list(only_cap):
    v = only_cap[k]
    # A write equal to what the registry held, or a deletion of what was not there, leaves no trace.
    if (k in before and datum(before[k]) == datum(v)) or (datum(v).startswith("(deleted)") and k not in before):
        untraced.append(only_cap.pop(k))
    elif any(twin(r) == k for r in wrote): mirror.append(only_cap.pop(k))
case = sum(1 for k in only_reg if k in only_cap and datum(only_reg[k]).lower() == datum(only_cap[k]).lower())
verdict = "agree" if not only_reg and not only_cap else "differ (%d only regsvr32, %d only capture%s)" % (
    len(only_reg), len(only_cap), ", %d of them in letter case only" % case if case else "")
print("== %s: %s; %d regsvr32 lines, %d captured; %d Wine mirror, %d no trace in a diff" % (label, verdict, len(wrote), len(captured), len(mirror), len(untraced)))
show("only regsvr32 wrote", list(only_reg.values()))
show("only the capture holds", list(only_cap.values()))
show("Wine's mirror of a shared key", mirror, 5)
show("captured, but no trace in a diff (already so)", untraced, 5)
with open(summary, "a") as f: f.write("%-14s %-7s %s\n" % tuple(label.split(" ", 1) + [verdict + (", LIVE REGISTRY CHANGED" if altered else "")]))
sys.exit(3 if altered else 0)
EOF

summary="$work/summary.txt" changed=0
for lib in "${libs[@]}"; do
  for bits in 32 64; do
    label="$lib ${bits}-bit"
    folder=system32 loader="$wine64"
    [ $bits = 32 ] && folder=syswow64 loader=wine
    file="C:\\windows\\$folder\\$lib" regsvr=("$loader" "C:\\windows\\$folder\\regsvr32.exe")
    [ -f "$prefix/drive_c/windows/$folder/$lib" ] || { printf '%-14s %-7s %s\n' $label "not in Wine" >>"$summary"; continue; }
    fresh_registry
    w "${regsvr[@]}" /u /s "$file"; unreg=$?
    export_registry before
    w wine "$cmd" capture "$file" --reg "$(winepath -w "$work/captured.reg")" >"$work/capture.txt"; cap=$?
    export_registry live
    w "${regsvr[@]}" /s "$file"; reg=$?
    export_registry after
    [ $reg -eq 0 ] || echo "== $label: regsvr32 /s exited with $reg (regsvr32 /u: $unreg)"
    captured="$work/captured.reg"
    if [ $cap -ne 0 ] || [ ! -s "$captured" ]; then
      echo "== $label: the capture failed (exit $cap): $(tr -d '\r' <"$work/capture.txt" | head -5)"
      printf '%-14s %-7s %s\n' $label "capture failed (exit $cap), regsvr32 exit $reg" >>"$summary"
      captured=""
    fi
    python3 "$work/compare.py" "$label" "$work"/{before,live,after}.reg "$captured" "$summary"; [ $? = 3 ] && changed=1
    rm -f "$work/captured.reg"
  done
done
stop_server
echo
echo "Summary (Wine's mirror copies of shared keys and captured writes that leave no trace are not counted):"
cat "$summary"
[ $changed -eq 0 ] && echo "No capture changed the live registry." || echo "A capture CHANGED the live registry (see above)."
echo "Took $((SECONDS - started)) s."
