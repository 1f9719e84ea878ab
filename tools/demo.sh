#!/usr/bin/env bash
# The main job, end to end: installs what is missing, builds both
# architectures, installs Vexilo (i686, the 32-bit target) into a Wine prefix
# at C:\Vexilo with its setup.exe (which registers the servers and makes the
# first component scan), registers the sample component, hooks it with
# vxtrace and runs the sample client under `vxtrace run`, which prints the
# client's output and the decoded trace as it arrives.
#   tools/demo.sh [SCENARIO]      (default: basic; see vxclient's usage)
# The prefix stays in $WINEPREFIX (default ~/.vexilo-demo) for a look around.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
scenario=${1:-basic}
"$root/tools/install-deps.sh"
"$root/tools/build.sh"

export WINEPREFIX=${WINEPREFIX:-$HOME/.vexilo-demo}
source "$root/tools/wine-env.sh"
vx_start_wine

build="$root/build/i686"
winpath() { echo "Z:${1//\//\\}"; }
sample=$(winpath "$build/samples/bin/VxSample.dll")
folder='C:\Vexilo'
"$VX_WINE32" "$(winpath "$build/stage")\\setup.exe" /quiet /dir "$folder"
"$VX_WINE32" regsvr32 /s "$sample"
vxtrace() { "$VX_WINE32" "$WINEPREFIX/drive_c/Vexilo/vxtrace.exe" "$@"; }
vxtrace hook "$sample"
echo "== installed into $folder of $WINEPREFIX"

echo "== vxtrace run -- vxclient $scenario"
status=0
printed=$(mktemp)
# Into a file first: the client it starts must not hold a pipe of ours.
vxtrace run --out 'C:\Vexilo\demo-trace.txt' -- "$(winpath "$build/samples/bin/vxclient.exe")" "$scenario" \
    >"$printed" 2>&1 || status=$?
tr -d '\r' <"$printed"
rm -f "$printed"
echo "== the same records are in $WINEPREFIX/drive_c/Vexilo/demo-trace.txt"
echo "== (remove it all again with: WINEPREFIX=$WINEPREFIX $VX_WINE32 'C:\Vexilo\Uninstall.exe' /quiet)"
exit $status
