#!/usr/bin/env bash
# Runs every test: installs what is missing, builds both architectures, makes
# a fresh Wine prefix for this run and runs each architecture's ctest under its
# Wine loader (i686 through wine32 in the same WoW64 prefix), one after the
# other, since both trace through the one shared App Paths key.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh" || exit 1
"$root/tools/build.sh" || exit 1

export WINEPREFIX=$(mktemp -d /tmp/vexilo-test-XXXXXX)
rmdir "$WINEPREFIX"
source "$root/tools/wine-env.sh"
vx_start_wine
cleanup() { wineserver -k 2>/dev/null; rm -rf "$WINEPREFIX"; }
trap cleanup EXIT
# The desktop process, started by the first test that makes a window, would
# hold that test's output open until the last window of the run is gone.
"$VX_WINE64" "$root/build/x86_64/tools/vxprobe.exe" desktop </dev/null >/dev/null 2>&1 &

i686_runs=$VX_I686_RUNS
[ "$i686_runs" = 1 ] || echo "$VX_NO_I686_LINE: i686 gets its build and binary checks only !!!!!"

total_passed=0
total_failed=0
status=0
run_ctest() {  # arch [ctest arguments...]
    local arch=$1; shift
    local log="$root/build/$arch/ctest.log"
    echo "== testing $arch"
    ctest --test-dir "$root/build/$arch" --output-on-failure -j2 --timeout 600 "$@" 2>&1 | tee "$log"
    local line passed failed
    line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
    if [ -z "$line" ]; then
        echo "$arch: ctest gave no summary"
        status=1
        return
    fi
    failed=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
    passed=$(( $(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line") - failed ))
    total_passed=$((total_passed + passed))
    total_failed=$((total_failed + failed))
    [ "$failed" -eq 0 ] || status=1
}

if [ "$i686_runs" = 1 ]; then
    run_ctest i686
else
    run_ctest i686 -L binary
fi
run_ctest x86_64

echo "== $total_passed passed, $total_failed failed"
[ "$i686_runs" = 1 ] || echo "$VX_NO_I686_LINE: i686 ran its build and binary checks only !!!!!"
exit $status
