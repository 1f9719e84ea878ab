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
# One idle prefix made once, copied by this run and by the tests that need a
# prefix of their own (vx_copy_template): a copy takes a second, wineboot twenty.
export VX_TEMPLATE_PREFIX=$(mktemp -d /tmp/vexilo-template-XXXXXX)
rmdir "$VX_TEMPLATE_PREFIX"
(WINEPREFIX=$VX_TEMPLATE_PREFIX; vx_start_wine && wineserver -k; wineserver -w)
vx_copy_template
vx_start_wine
cleanup() { wineserver -k 2>/dev/null; rm -rf "$WINEPREFIX" "$VX_TEMPLATE_PREFIX"; }
trap cleanup EXIT
# The desktop process, started by the first test that makes a window, would
# hold that test's output open until the last window of the run is gone.
"$VX_WINE64" "$root/build/x86_64/tools/vxprobe.exe" desktop </dev/null >/dev/null 2>&1 &
# Wait for it: a window test that starts first (ctest runs the slowest
# first once it has timings) would make the desktop itself, and hang on it.
desktop_up() {
    local pid
    for pid in $(pgrep -f 'explorer.exe /desktop'); do
        tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && return 0
    done
    return 1
}
for _ in $(seq 300); do desktop_up && break; sleep 0.1; done
desktop_up || echo "the prefix's desktop did not come up: window tests may hold their output"

i686_runs=$VX_I686_RUNS
[ "$i686_runs" = 1 ] || echo "$VX_NO_I686_LINE: i686 gets its build and binary checks only !!!!!"

total_passed=0
total_failed=0
total_retried=0
status=0
# ctest's summary of a log: "passed failed", or nothing.
counts() {
    local line
    line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$1" | tail -1)
    [ -n "$line" ] || return 1
    sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2 \1/' <<<"$line" | awk '{print $1 - $2, $2}'
}
run_ctest() {  # arch [ctest arguments...]
    local arch=$1; shift
    local dir="$root/build/$arch" log="$root/build/$arch/ctest.log"
    echo "== testing $arch"
    ctest --test-dir "$dir" --output-on-failure -j2 --timeout 600 --output-junit "$dir/ctest.xml" "$@" 2>&1 | tee "$log"
    local passed failed
    if ! read -r passed failed < <(counts "$log"); then
        echo "$arch: ctest gave no summary"
        status=1
        return
    fi
    # A test that printed nothing and ended within a second never started
    # (Wine fails to bring up a process now and then under load): run once more.
    local quiet
    mapfile -t quiet < <(python3 "$root/tools/quiet_failures.py" "$dir/ctest.xml")
    if [ ${#quiet[@]} -gt 0 ] && [ "$failed" -gt 0 ]; then
        local pattern
        pattern=$(printf '%s\n' "${quiet[@]}" | python3 -c 'import re,sys; print("^(" + "|".join(re.escape(l.strip()) for l in sys.stdin if l.strip()) + ")$")')
        echo "== $arch: ${#quiet[@]} test(s) printed nothing and ended at once; running them once more: ${quiet[*]}"
        ctest --test-dir "$dir" --output-on-failure --timeout 600 -R "$pattern" 2>&1 | tee "$dir/ctest-retry.log"
        local again_passed again_failed
        if read -r again_passed again_failed < <(counts "$dir/ctest-retry.log"); then
            passed=$((passed + again_passed))
            failed=$((failed - again_passed))
        fi
        total_retried=$((total_retried + ${#quiet[@]}))
    fi
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

echo "== $total_passed passed, $total_failed failed, $total_retried retried"
[ "$i686_runs" = 1 ] || echo "$VX_NO_I686_LINE: i686 ran its build and binary checks only !!!!!"
exit $status
