#!/usr/bin/env bash
# Cost of a fully decoded call (ENTER and EXIT records of Calc.Add) in a real
# client process under the hook, against the untraced call: the client's
# loop of N calls timed whole, less a run of one call (start-up and unload).
#   bench/decoded.sh [i686|x86_64] [N]      (after tools/build.sh; WINEPREFIX may be set)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=${1:-i686}
calls=${2:-2000}
export WINEPREFIX=${WINEPREFIX:-$HOME/.vexilo-demo}
source "$root/tools/wine-env.sh"
vx_start_wine
wine=$VX_WINE32
[ "$arch" = x86_64 ] && wine=$VX_WINE64
build="$root/build/$arch"
winpath() { echo "Z:${1//\//\\}"; }
sample=$(winpath "$build/samples/bin/VxSample.dll")
folder='C:\VexiloBench'
elapsed_us() {  # N: microseconds of one client run of N calls
    local start end
    start=$(date +%s%N)
    "$wine" "$build/samples/bin/vxclient.exe" loop "$1" >/dev/null
    end=$(date +%s%N)
    echo $(( (end - start) / 1000 ))
}
per_call() { echo $(( ($(elapsed_us "$calls") - $(elapsed_us 1)) / (calls - 1) )); }

"$wine" "$build/tools/vxinstall.exe" register "$sample"
plain=$(per_call)
"$wine" "$build/tools/vxinstall.exe" install "$(winpath "$build/install")" "$folder" --module "$sample"
"$wine" "$build/tools/vxinstall.exe" hook "$folder" 1 "$sample"
distilled=$(per_call)
"$wine" "$build/tools/vxinstall.exe" install "$(winpath "$build/install")" "$folder" --full --module "$sample"
"$wine" "$build/tools/vxinstall.exe" hook "$folder" 1 "$sample"
both=$(per_call)
"$wine" "$build/tools/vxinstall.exe" register "$sample"
echo "$arch, $calls calls: untraced ${plain} us, distilled ${distilled} us, full+distilled ${both} us per call"
