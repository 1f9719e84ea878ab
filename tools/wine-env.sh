# Sourced by the demo, test and bench scripts: the Wine loaders, a display for
# windows, a Wine prefix with a persistent, warmed wineserver. Set WINEPREFIX
# before sourcing to choose the prefix; it is made when missing.
# VX_WINE32 and VX_WINE64 name the loaders (a test may name a 32-bit loader
# that fails, as on a machine that cannot execute 32-bit programs).
export WINEDEBUG=${WINEDEBUG:--all}
# winemenubuilder would turn shortcuts into desktop entries of the host machine.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml,winemenubuilder.exe=}
VX_WINE32=${VX_WINE32:-/usr/bin/wine}
VX_WINE64=${VX_WINE64:-/usr/lib/wine/wine64}

# Decided once: whether this machine executes 32-bit programs. Some kernels
# and containers refuse 32-bit executables even with Wine's 32-bit loader
# installed: the loader then fails ("Exec format error", 126) before Wine runs.
if [ -z "${VX_I686_RUNS:-}" ]; then
    if "$VX_WINE32" --version >/dev/null 2>&1; then VX_I686_RUNS=1; else VX_I686_RUNS=0; fi
fi
export VX_WINE32 VX_WINE64 VX_I686_RUNS
VX_NO_I686_LINE="!!!!! THIS MACHINE CANNOT RUN 32-BIT WINDOWS PROGRAMS (its 32-bit Wine loader $VX_WINE32 does not start)"

# The wine loader for an architecture's programs: vx_wine_for i686|x86_64.
vx_wine_for() { if [ "$1" = x86_64 ]; then echo "$VX_WINE64"; else echo "$VX_WINE32"; fi; }
# A host path as Windows programs see it (the Z: drive).
vx_winpath() { echo "Z:${1//\//\\}"; }

vx_start_display() {
    if [ -z "${DISPLAY:-}" ] || ! xdpyinfo -display "$DISPLAY" >/dev/null 2>&1; then
        export DISPLAY=:99
        if ! xdpyinfo -display :99 >/dev/null 2>&1; then
            Xvfb :99 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
            for _ in $(seq 50); do xdpyinfo -display :99 >/dev/null 2>&1 && break; sleep 0.1; done
        fi
    fi
}

# Makes WINEPREFIX, when it has no prefix yet, a copy of the idle prefix
# VX_TEMPLATE_PREFIX names (tools/test.sh makes one a run): a second instead
# of wineboot's twenty. Without one vx_start_wine makes the prefix as before.
# The copy leaves out the file naming the template server's socket folder, so
# that Wine gives the copy one of its own (its server is keyed on the prefix
# folder anyway).
vx_copy_template() {
    [ -n "${VX_TEMPLATE_PREFIX:-}" ] && [ -f "$VX_TEMPLATE_PREFIX/system.reg" ] || return 0
    [ -f "$WINEPREFIX/system.reg" ] && return 0
    mkdir -p "$WINEPREFIX" && cp -a "$VX_TEMPLATE_PREFIX/." "$WINEPREFIX/" && rm -f "$WINEPREFIX/wineserver"
}

vx_start_wine() {
    vx_start_display
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "== making Wine prefix $WINEPREFIX"
        # The 64-bit loader makes the same WoW64 prefix, on every machine.
        "$VX_WINE64" wineboot -i >/dev/null 2>&1
        wineserver -w
        # A crashing client ends at once instead of waiting in the debugger.
        for view in 32 64; do
            "$VX_WINE64" reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
                /v Debugger /f "/reg:$view" >/dev/null 2>&1 || true
        done
        wineserver -w
    fi
    wineserver -p 2>/dev/null || true  # already running is fine
    "$VX_WINE64" cmd /c exit >/dev/null 2>&1 || true
}
