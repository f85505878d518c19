#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian machine:
# the 32-bit architecture for Wine, mingw-w64, Wine, Xvfb and the tools the
# tests drive windows with, and clang with its libFuzzer and sanitizer
# runtimes for the native tests. Does nothing when everything is present.
set -euo pipefail

needed=(mingw-w64 mingw-w64-tools wine wine32:i386 wine64 fonts-wine xvfb xdotool xauth x11-apps
        imagemagick googletest cmake ninja-build fp-utils python3 g++ clang libclang-rt-14-dev wixl msitools zip unzip)
missing=()
for package in "${needed[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing: ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
