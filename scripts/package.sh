#!/usr/bin/env bash
# Builds the two packages of the program into <build dir>/package/:
#   Corvantis-<version>.msi           Windows Installer package (wixl)
#   Corvantis-<version>-portable.zip  the program files and a read-me
# Usage: scripts/package.sh [build dir]   (default: build)
# The build is brought up to date first. Optional settings, from the
# environment:
#   PACKAGE_VERSION  product version (default: the build's project version)
#   PACKAGE_BIN      folder with the program files (default: <build dir>/bin)
#   PACKAGE_OUT      output folder (default: <build dir>/package)
#   PACKAGE_NO_BUILD=1  do not run the build (the CMake target sets it)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-build}"

# The six files that make up an installation; nothing else is shipped.
program_files=(Corvantis.exe Corvantis32.exe Corvantis64.exe CorvantisCmd.exe Corvantis.chm Corvantis.tip)

for tool in wixl msibuild zip; do
  if ! command -v "$tool" >/dev/null; then
    echo "package: $tool is missing (scripts/deps.sh installs it)" >&2
    exit 1
  fi
done

if [ "${PACKAGE_NO_BUILD:-0}" != 1 ]; then
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
  fi
  cmake --build "$build"
fi
build="$(cd "$build" && pwd)"
bin="${PACKAGE_BIN:-$build/bin}"
out="${PACKAGE_OUT:-$build/package}"

version="${PACKAGE_VERSION:-}"
if [ -z "$version" ]; then
  version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
fi
if ! [[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+(\.[0-9]+)?$ ]]; then
  echo "package: no usable version ('$version')" >&2
  exit 1
fi
# The file names carry three fields, as Windows Installer compares only those.
short_version="$(echo "$version" | cut -d. -f1-3)"

for file in "${program_files[@]}"; do
  if [ ! -f "$bin/$file" ]; then
    echo "package: $bin/$file is missing; build first" >&2
    exit 1
  fi
done

mkdir -p "$out"
out="$(cd "$out" && pwd)"
msi="$out/Corvantis-$short_version.msi"
zipfile="$out/Corvantis-$short_version-portable.zip"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The files are staged under one folder: wixl finds the files it packs only
# by paths relative to the folder it runs in.
mkdir -p "$work/stage/bin"
for file in "${program_files[@]}"; do
  cp -p "$bin/$file" "$work/stage/bin/"
done
cp "$root/resources/Corvantis.ico" "$work/stage/"
sed -e "s/@VERSION@/$short_version/" -e 's/$/\r/' "$root/packaging/ReadMe.txt" >"$work/stage/ReadMe.txt"

# Windows Installer package. What wixl cannot express is added after: the
# Condition table (Explorer integration off with SHELLEXT=0), the lock on the
# program's folder (MsiLockPermissionsEx), the condition that leaves ".kvx"
# to another program that has it, and the public properties that a
# per-machine installation must pass on from the command line to its
# elevated part.
(cd "$work/stage" &&
  wixl --arch x86 --define "Version=$version" --define BinDir=bin --define IconFile=Corvantis.ico \
    --output "$work/package.msi" "$root/packaging/Corvantis.wxs")
(cd "$root/packaging" && msibuild "$work/package.msi" -i FeatureConditions.idt FolderPermissions.idt)
msibuild "$work/package.msi" -q "UPDATE \`Component\` SET \`Condition\` = 'NOT KVXLEFTTOOTHERPROGRAM' WHERE \`Component\` = 'ShellBatchType'"
secure="$(msiinfo export "$work/package.msi" Property | tr -d '\r' |
  awk -F '\t' '$1 == "SecureCustomProperties" { print $2 }')"
secure="${secure:+$secure;}INSTALLDIR;CMDLINE_INSTALLDIR;SHELLEXT;CMDLINE_SHELLEXT"
msibuild "$work/package.msi" -q "UPDATE \`Property\` SET \`Value\` = '$secure' WHERE \`Property\` = 'SecureCustomProperties'"
mv -f "$work/package.msi" "$msi"

# Portable zip: the same files side by side at the top of the archive, and
# the read-me with Windows line ends.
rm -f "$zipfile"
(cd "$work/stage/bin" && zip -q -X "$zipfile" "${program_files[@]}" && cd .. && zip -q -X "$zipfile" ReadMe.txt)

echo "package: $msi"
echo "package: $zipfile"
