#!/usr/bin/env bash
# Cost of a fully decoded call (ENTER and EXIT records of Calc.Add) in a real
# client process under the hook, against the untraced call: the client's
# loop of N calls, timed by the client itself.
# Each stream alone and both, then both with a live reader attached (vxtrace
# run, records to a file); records written per second follow from the pair.
#   bench/decoded.sh [i686|x86_64] [N] [N under the reader]      (after tools/build.sh; WINEPREFIX may be set)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=${1:-i686}
calls=${2:-20000}
# The reader takes the records in at its own pace and vxtrace run waits for
# the last: fewer calls keep that wait short.
reader_calls=${3:-2000}
export WINEPREFIX=${WINEPREFIX:-$HOME/.vexilo-demo}
source "$root/tools/wine-env.sh"
vx_start_wine
wine=$(vx_wine_for "$arch")
build="$root/build/$arch"
sample=$(vx_winpath "$build/samples/bin/VxSample.dll")
client=$(vx_winpath "$build/samples/bin/vxclient.exe")
folder='C:\VexiloBench'
unix_folder=$("$wine" winepath -u "$folder" 2>/dev/null | tr -d '\r')
# The client times its own loop (VXCLIENT_TIMING names the file it appends
# the microseconds to): process start-up and unload stay out of the figure.
timing=$(mktemp /tmp/vx-decoded-XXXXXX)
export VXCLIENT_TIMING=$("$wine" winepath -w "$timing" 2>/dev/null | tr -d '\r')
loop_us() {  # command...: the client's own time for its calls
    : >"$timing"
    "$@" >/dev/null
    tr -d '\r' <"$timing" | tail -1
}
# Nanoseconds per call of one run.
per_call() { awk -v t="$(loop_us "$wine" "$build/samples/bin/vxclient.exe" loop "$calls")" -v n="$calls" \
                 'BEGIN { printf "%d", t * 1000 / n }'; }
with_reader() {  # the client run under vxtrace run, records to a file
    awk -v t="$(loop_us "$wine" "$unix_folder/vxtrace.exe" run --out "$folder\\run.txt" -- \
                 "$client" loop "$reader_calls")" -v n="$reader_calls" 'BEGIN { printf "%d", t * 1000 / n }'
}
install() {  # settings options...
    "$wine" "$build/tools/vxinstall.exe" install "$(vx_winpath "$build/install")" "$folder" "$@" --module "$sample"
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
reader=$(with_reader)
"$wine" "$build/tools/vxinstall.exe" register "$sample"
rm -f "$timing"
ns() { awk -v d="$1" 'BEGIN { printf "%.2f us", d / 1000 }'; }
echo "$arch, $calls calls ($reader_calls under a reader), per call (ENTER+EXIT pair) over the untraced $(ns "$plain"):"
echo "  streams off +$(ns $((off - plain)))  full only +$(ns $((full - plain)))" \
     " distilled only +$(ns $((distilled - plain)))  both +$(ns $((both - plain)))"
echo "  both with a reader attached +$(ns $((reader - plain)))"
pair=$((reader - plain)); [ "$pair" -gt 0 ] || pair=1
echo "  records written per second with both streams and a reader: $(( 2 * 1000000000 / pair ))"
