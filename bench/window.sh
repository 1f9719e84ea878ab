#!/usr/bin/env bash
# The main window's component list in a prefix with its own ~600 classes:
# installs with setup.exe (which makes the first scan) and times the listing.
#   bench/window.sh [i686|x86_64]      (after tools/build.sh; WINEPREFIX may be set)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=${1:-i686}
export WINEPREFIX=${WINEPREFIX:-$HOME/.vexilo-demo}
source "$root/tools/wine-env.sh"
vx_start_wine
wine=$(vx_wine_for "$arch")
build="$root/build/$arch"
folder='C:\VexiloWindowBench'
"$wine" "$(vx_winpath "$build/stage")\\setup.exe" /quiet /dir "$folder"
echo "$arch:"
"$wine" "$build/bench/bench_window.exe" "$folder" | tr -d '\r'
"$wine" "$folder\\Uninstall.exe" /quiet
