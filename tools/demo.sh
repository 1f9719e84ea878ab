#!/usr/bin/env bash
# The main job, end to end: installs what is missing, builds both
# architectures, installs Vexilo (i686, the 32-bit target; x86_64 on a machine
# that cannot execute 32-bit programs, said in one loud line) into a Wine prefix
# at C:\Vexilo with its setup.exe (which registers the servers and makes the
# first component scan), registers the sample component, hooks it with
# vxtrace and runs the sample client under `vxtrace run`, which prints the
# client's output and the decoded trace as it arrives. Then the main window:
# with a display it opens Vexilo.exe on the installation (the demo ends when
# the window is closed); with none it drives the window under Xvfb (hooked
# list, the client traced live, that trace compared with a changed copy, the
# component list, Quick Help) and saves
# each view as a PNG file in $VX_SHOTS (default demo-screenshots/).
#   tools/demo.sh [SCENARIO]      (default: basic; see vxclient's usage)
# The prefix stays in $WINEPREFIX (default ~/.vexilo-demo) for a look around.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
scenario=${1:-basic}
"$root/tools/install-deps.sh"
"$root/tools/build.sh"

export WINEPREFIX=${WINEPREFIX:-$HOME/.vexilo-demo}
shown=no
[ -n "${DISPLAY:-}" ] && xdpyinfo -display "$DISPLAY" >/dev/null 2>&1 && shown=yes
source "$root/tools/wine-env.sh"
arch=i686
if [ "$VX_I686_RUNS" != 1 ]; then
    arch=x86_64
    echo "$VX_NO_I686_LINE: the demo runs the x86_64 build !!!!!"
fi
wine=$(vx_wine_for "$arch")
vx_start_wine

build="$root/build/$arch"
sample=$(vx_winpath "$build/samples/bin/VxSample.dll")
folder='C:\Vexilo'
"$wine" "$(vx_winpath "$build/stage")\\setup.exe" /quiet /dir "$folder"
"$wine" regsvr32 /s "$sample"
vxtrace() { "$wine" "$WINEPREFIX/drive_c/Vexilo/vxtrace.exe" "$@"; }
vxtrace hook "$sample"
echo "== installed into $folder of $WINEPREFIX"

echo "== vxtrace run -- vxclient $scenario"
status=0
printed=$(mktemp)
# Into a file first: the client it starts must not hold a pipe of ours.
vxtrace run --out 'C:\Vexilo\demo-trace.txt' -- "$(vx_winpath "$build/samples/bin/vxclient.exe")" "$scenario" \
    >"$printed" 2>&1 || status=$?
tr -d '\r' <"$printed"
rm -f "$printed"
echo "== the same records are in $WINEPREFIX/drive_c/Vexilo/demo-trace.txt"

if [ "$shown" = yes ]; then
    echo "== the main window: Vexilo.exe (the demo ends when you close it)"
    "$wine" 'C:\Vexilo\Vexilo.exe' 'C:\Vexilo' >/dev/null 2>&1 || true
else
    shots=${VX_SHOTS:-$root/demo-screenshots}
    rm -rf "$shots"
    mkdir -p "$shots"
    echo "== no display open: the main window under Xvfb ($DISPLAY), its views saved in $shots"
    "$wine" "$build/tools/vxshot.exe" 'C:\Vexilo' "$(vx_winpath "$shots")" "$sample" \
        "$(vx_winpath "$build/samples/bin/vxclient.exe")" "$scenario" || status=$?
    ls "$shots"
fi
echo "== (remove it all again with: WINEPREFIX=$WINEPREFIX $wine 'C:\Vexilo\Uninstall.exe' /quiet)"
exit $status
