#!/usr/bin/env bash
# Installs, without asking, the Debian 12 packages that building, running and
# testing kelvor need; does nothing when they are all there already.
set -euo pipefail

packages=(
    cmake g++ clang libclang-rt-14-dev libgtest-dev libbenchmark-dev python3 zip
    osslsigncode openssl
    mingw-w64 wine wine64 wine32:i386 fonts-wine xvfb x11-utils xdotool imagemagick
)
# wine64 is there for its native wineserver: where 32-bit programs run only under
# emulation, that keeps Wine's server out of the emulator.

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${as_root[@]}" dpkg --add-architecture i386
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "install-deps: installing ${missing[*]}"
    "${as_root[@]}" apt-get update -qq
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi
