#!/usr/bin/env bash
# Cost of a decoded call on a standard interface described by the kernel's own
# library (VxSample's Widget) against a call of the same shape on an interface
# that the component's registered type library describes (VxSample's ITypes):
# no parameter (Ping, IsDirty), and an interface id in with a result out
# (IsCalcIid, GetSite). The sample hooked, both trace streams on; each figure
# is the traced call's time less the untraced one, per call.
#   bench/known.sh [i686|x86_64] [N]      (after a build; WINEPREFIX may be set)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=${1:-x86_64}
calls=${2:-5000}
export WINEPREFIX=${WINEPREFIX:-$HOME/.vexilo-demo}
source "$root/tools/wine-env.sh"
vx_start_wine
wine=$(vx_wine_for "$arch")
build="$root/build/$arch"
sample=$(vx_winpath "$build/samples/bin/VxSample.dll")
folder='C:\VexiloBench'
timing=$(mktemp /tmp/vx-known-XXXXXX)
export VXCLIENT_TIMING=$("$wine" winepath -w "$timing" 2>/dev/null | tr -d '\r')
run() {  # the client's own times, "label microseconds" per line
    : >"$timing"
    "$wine" "$build/samples/bin/vxclient.exe" knownloop "$calls" >/dev/null
    tr -d '\r' <"$timing"
}
register() { "$wine" "$build/tools/vxinstall.exe" register "$sample"; }

register
untraced=$(run)
"$wine" "$build/tools/vxinstall.exe" install "$(vx_winpath "$build/stage")" "$folder" --full --module "$sample"
"$wine" "$build/tools/vxinstall.exe" hook "$folder" 1 "$sample"
traced=$(run)
register
rm -f "$timing"
echo "$arch, $calls calls each, both streams on; decoded (ENTER+EXIT) cost per call over the untraced call:"
awk -v n="$calls" 'NR == FNR { base[$1] = $2; next }
    { cost[$1] = ($2 - base[$1]) / n }
    END {
        printf "  no parameter:         registered ITypes.Ping +%.2f us   known IPersistStreamInit.IsDirty +%.2f us\n",
               cost["registered-none"], cost["known-none"]
        printf "  interface id in, out: registered ITypes.IsCalcIid +%.2f us   known IObjectWithSite.GetSite +%.2f us\n",
               cost["registered-iid"], cost["known-iid"]
    }' <(echo "$untraced") <(echo "$traced")
