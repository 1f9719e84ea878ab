#!/usr/bin/env bash
# The main job, end to end: installs what is missing, builds both
# architectures, installs Vexilo (i686, the 32-bit target) into a Wine prefix
# at C:\Vexilo, registers and hooks the sample component, runs the sample
# client through the hook and prints both trace files.
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
"$VX_WINE32" "$build/tools/vxinstall.exe" install "$(winpath "$build/install")" "$folder" --full --module "$sample"
"$VX_WINE32" "$build/tools/vxinstall.exe" hook "$folder" 1 "$sample"
echo "== installed into $folder of $WINEPREFIX; VxSample.dll hooked as number 1"

echo "== running: vxclient $scenario"
status=0
"$VX_WINE32" "$build/samples/bin/vxclient.exe" "$scenario" || status=$?

traces="$WINEPREFIX/drive_c/Vexilo"
for file in TraceDistilled.txt TraceFull.txt; do
    echo
    echo "================ $file ================"
    # Records end with a 0x01 byte; show the text only.
    tr -d '\r\001' <"$traces/$file"
    echo
done
exit $status
