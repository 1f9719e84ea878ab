#!/usr/bin/env bash
# The README's main command on a machine that cannot execute 32-bit programs
# (its 32-bit Wine loader fails with 126, "Exec format error"), in a Wine
# prefix of its own: the demo says so in one loud line, runs the x86_64 build
# to its end and leaves compressed PNG screenshots of the window.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /tmp/vexilo-demo-test-XXXXXX)
export WINEPREFIX=$work/prefix
# A copy of the run's idle prefix when there is one; the demo makes it otherwise.
(source "$root/tools/wine-env.sh" && vx_copy_template)
fake=$work/wine32
printf '#!/bin/sh\necho "$0: cannot execute binary file: Exec format error" >&2\nexit 126\n' >"$fake"
chmod +x "$fake"
cleanup() { WINEPREFIX=$work/prefix wineserver -k 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

failures=0
check() {  # description command...
    local what=$1; shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

# Decided anew by the demo, not taken from the run that started this test;
# and as on a machine without a display, so the demo drives the window itself.
unset VX_I686_RUNS DISPLAY
VX_WINE32=$fake VX_SHOTS=$work/shots "$root/tools/demo.sh" >"$work/out.txt" 2>&1
status=$?
tr -d '\r' <"$work/out.txt"
check "the demo ends with exit code 0 (got $status)" test "$status" -eq 0
check "one loud line says why x86_64 runs" \
    test "$(grep -c '^!!!!! THIS MACHINE CANNOT RUN 32-BIT WINDOWS PROGRAMS.*the demo runs the x86_64 build' "$work/out.txt")" -eq 1
check "the sample client's trace is printed" grep -q 'UNLOAD DLL' "$work/out.txt"
shots=("$work"/shots/*.png)
check "the window's views are saved (${#shots[@]} files)" test "${#shots[@]}" -ge 3
for shot in "${shots[@]}"; do
    [ -f "$shot" ] || continue
    size=$(stat -c %s "$shot")
    check "$(basename "$shot") is a PNG file" test "$(head -c 8 "$shot" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a
    check "$(basename "$shot") is compressed ($size bytes)" test "$size" -lt 204800
done
exit $((failures == 0 ? 0 : 1))
