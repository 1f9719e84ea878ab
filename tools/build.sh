#!/usr/bin/env bash
# Configures and builds both architectures under build/<arch> (one after the
# other: two cores), then lays out each installation folder under
# build/<arch>/install. Needs what tools/install-deps.sh installs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
for arch in i686 x86_64; do
    dir="$root/build/$arch"
    if [ ! -f "$dir/build.ninja" ]; then
        cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch.cmake" >/dev/null
    fi
    echo "== building $arch"
    cmake --build "$dir" -j2
    rm -rf "$dir/install"
    cmake --install "$dir" --prefix "$dir/install" --component product >/dev/null
done
