#!/usr/bin/env bash
# Cost of a fully decoded call (ENTER and EXIT records of Calc.Add) in a real
# client process under the hook, against the untraced call: the client's
# loop of N calls timed whole, less a run of one call (start-up and unload).
# Each stream alone and both, then both with a live reader attached (vxtrace
# run, records to a file); records written per second follow from the pair.
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
client=$(winpath "$build/samples/bin/vxclient.exe")
folder='C:\VexiloBench'
unix_folder=$("$VX_WINE32" winepath -u "$folder" 2>/dev/null | tr -d '\r')
elapsed_us() {  # N [prefix...]: microseconds of one client run of N calls
    local n=$1 start end; shift
    start=$(date +%s%N)
    "$@" "$build/samples/bin/vxclient.exe" loop "$n" >/dev/null
    end=$(date +%s%N)
    echo $(( (end - start) / 1000 ))
}
per_call() { echo $(( ($(elapsed_us "$calls" "$wine") - $(elapsed_us 1 "$wine")) / (calls - 1) )); }
with_reader() {  # N: the client run under vxtrace run
    local start end
    start=$(date +%s%N)
    "$wine" "$unix_folder/vxtrace.exe" run --out "$folder\\run.txt" -- "$client" loop "$1" >/dev/null
    end=$(date +%s%N)
    echo $(( (end - start) / 1000 ))
}
install() {  # settings options...
    "$wine" "$build/tools/vxinstall.exe" install "$(winpath "$build/install")" "$folder" "$@" --module "$sample"
    "$wine" "$build/tools/vxinstall.exe" hook "$folder" 1 "$sample"
}

"$wine" "$build/tools/vxinstall.exe" register "$sample"
plain=$(per_call)
install --no-distilled
off=$(per_call)
install --full --no-distilled
full=$(per_call)
install
distilled=$(per_call)
install --full
both=$(per_call)
"$wine" regsvr32 /s "$folder\\Ledra.dll"
reader=$(( ($(with_reader "$calls") - $(with_reader 1)) / (calls - 1) ))
"$wine" "$build/tools/vxinstall.exe" register "$sample"
echo "$arch, $calls calls, microseconds per call (ENTER+EXIT pair) over the untraced ${plain} us:"
echo "  streams off +$((off - plain))  full only +$((full - plain))  distilled only +$((distilled - plain))" \
     " both +$((both - plain))  both with a reader attached +$((reader - plain))"
pair=$((reader - plain)); [ "$pair" -gt 0 ] || pair=1
echo "  records written per second with both streams and a reader: $(( 2 * 1000000 / pair ))"
