#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12: the MinGW-w64 cross
# compilers, widl, Wine for both architectures (one WoW64 prefix), Xvfb and the
# GoogleTest sources. Safe to run again on a machine that already has them.
set -euo pipefail
need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
pkgs=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
      cmake ninja-build googletest wine wine64 wine32:i386 xvfb xauth x11-apps x11-utils imagemagick
      libwine-dev nlohmann-json3-dev python3)
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    updated=0
fi
for p in "${pkgs[@]}"; do have "$p" || need+=("$p"); done
if [ ${#need[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${need[@]}"
fi
