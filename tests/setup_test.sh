#!/usr/bin/env bash
# Setup and uninstall as a user runs them, in a Wine prefix of their own
# (uninstalling one architecture removes registry keys both views share):
# install from a media folder with /quiet and /dir on a machine without a
# display (a CI runner); with one, trace the sample through the installation
# and run the main program; without one again, uninstall while a traced
# client still runs, and find nothing of the product left once it has ended.
#   setup_test.sh ARCH STAGE_DIR SAMPLES_BIN_DIR
set -uo pipefail
arch=$1 stage=$(cd "$2" && pwd) samples=$(cd "$3" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=$(mktemp -d /tmp/vexilo-setup-XXXXXX)
rmdir "$WINEPREFIX"
source "$root/tools/wine-env.sh"
vx_copy_template
vx_start_wine >/dev/null
trap 'wineserver -k 2>/dev/null; rm -rf "$WINEPREFIX"' EXIT
run=$(vx_wine_for "$arch")

failures=0
check() {  # description command...: fails as the command does
    local what=$1; shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); return 1; fi
}

# The checks of one moment read one registry text in reg export's format
# instead of starting a reg.exe each.
exported() {  # key...: the keys as reg export writes them, missing ones left out
    local key
    for key in "$@"; do
        "$run" reg export "$key" 'C:\export.reg' /y >/dev/null 2>&1 &&
            iconv -f UTF-16LE -t UTF-8 "$WINEPREFIX/drive_c/export.reg" | tr -d '\r'
        rm -f "$WINEPREFIX/drive_c/export.reg"
    done
}
# The server writes the registry out when it ends: ending it with every
# process of the prefix gives the registry as files, far faster than reg
# export (3 s for HKLM\Software). Volatile keys are not written; the product
# makes none.
hive() {  # hive file, root, subtree: its keys as reg export writes them, without write times
    awk -v root="$2" -v tree="$3" '
        /^\[/ {
            key = $0; sub(/\]( [0-9]+)?$/, "", key); key = substr(key, 2); gsub(/\\\\/, "\\", key)
            inside = tolower(key) == tolower(tree) || index(tolower(key), tolower(tree "\\")) == 1
            if (inside) print "\n[" root "\\" key "]"
            next
        }
        inside && !/^#/ && NF' "$WINEPREFIX/$1"
}
key_names() {  # key: its names in a text (HKEY_CLASSES_ROOT is the machine's classes and the user's;
               # a 32-bit program's classes are kept under Wow6432Node in the hive)
    local path=${1#*\\}
    case $1 in
        HKCR\\*) printf '%s\n' "HKEY_CLASSES_ROOT\\$path" "HKEY_LOCAL_MACHINE\\Software\\Classes\\$path" \
            "HKEY_CURRENT_USER\\Software\\Classes\\$path"
            if [ "$arch" = i686 ]; then printf '%s\n' "HKEY_LOCAL_MACHINE\\Software\\Classes\\Wow6432Node\\$path"; fi ;;
        HKLM\\*) echo "HKEY_LOCAL_MACHINE\\$path" ;;
        HKCU\\*) echo "HKEY_CURRENT_USER\\$path" ;;
    esac
}
# A hive file leaves out keys that hold only keys: a key is there when it or a
# key under it is.
has_key() {  # text key
    awk -v keys="$(key_names "$2")" '
        BEGIN { n = split(tolower(keys), k, "\n") }
        /^\[/ { for (i = 1; i <= n; i++) found = found || tolower($0) == "[" k[i] "]" || index(tolower($0), "[" k[i] "\\") == 1 }
        END { exit !found }' "$1"
}
reg_value() {  # text key [value name]: the value's string, empty when missing
    awk -v keys="$(key_names "$2")" -v name="${3-}" '
        BEGIN {
            n = split(tolower(keys), k, "\n"); for (i = 1; i <= n; i++) wanted["[" k[i] "]"] = 1
            start = name == "" ? "@=" : "\"" tolower(name) "\"="
        }
        /^\[/ { inside = tolower($0) in wanted; next }
        inside && index(tolower($0), start) == 1 {
            v = substr($0, length(start) + 1); sub(/^str\([0-9]\):/, "", v)
            if (v !~ /^".*"$/) next
            v = substr(v, 2, length(v) - 2); gsub(/\\\\/, "\001", v); gsub(/\\"/, "\"", v); gsub(/\001/, "\\", v)
            print v; exit
        }' "$1"
}
start_server() { wineserver -p; "$run" cmd /c exit >/dev/null 2>&1; }

media="$WINEPREFIX/drive_c/Vexilo Media"
mkdir -p "$media"
cp "$stage"/* "$media/"
folder='C:\Program Files\Vexilo Test\'
unix_folder="$WINEPREFIX/drive_c/Program Files/Vexilo Test"

# A media folder that lacks a file is refused before anything is written.
mkdir -p "$WINEPREFIX/drive_c/broken"
cp "$stage"/* "$WINEPREFIX/drive_c/broken/"
rm "$WINEPREFIX/drive_c/broken/Korbin.dll"
out=$("$run" 'C:\broken\setup.exe' /quiet /dir 'C:\never' 2>&1); rc=$?
check "setup refuses incomplete media (exit 2)" test "$rc" = 2
check "and says which file" grep -q 'Korbin.dll" is missing' <<<"$out"
check "and writes nothing" test ! -e "$WINEPREFIX/drive_c/never"

# What the prefix holds before setup (the sample already registered, as a
# user's component is): uninstall must leave exactly this.
sample=$(vx_winpath "$samples/VxSample.dll")
clsid='HKCR\CLSID\{80441EE8-5922-4360-A028-72C8C848D8F3}\InprocServer32'
"$run" regsvr32 /s "$sample"
drive() { (cd "$WINEPREFIX/drive_c" && find . -path ./users -prune -o -path ./windows -prune -o -print | sort); }
snapshot() {  # file: HKLM\Software, the user's classes and the C: drive, as text; ends the server
    wineserver -k; wineserver -w
    { hive system.reg HKEY_LOCAL_MACHINE Software; hive user.reg HKEY_CURRENT_USER 'Software\Classes'; drive; } >"$1"
}
snapshot "$WINEPREFIX/before.txt"
check "the snapshot sees the sample's class" test "$(reg_value "$WINEPREFIX/before.txt" "$clsid")" = "$sample"
check "and the machine's App Paths" has_key "$WINEPREFIX/before.txt" 'HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vexilo'
wait_removed() {  # the folder and the uninstall entry gone, 20 s at most
    for _ in $(seq 100); do
        [ -e "$unix_folder" ] || [ -n "$(exported "$uninstall_key")" ] || return 0
        sleep 0.2
    done
    return 1
}

# No display: a wineserver started without one gives its programs no windows
# (the snapshot ended the one before).
saved_display=$DISPLAY
unset DISPLAY
start_server
# With a display notepad would stay open until the time-out (124).
timeout 30 "$run" notepad >/dev/null 2>&1; rc=$?
check "without a display no window opens (notepad ends at once, exit $rc)" test "$rc" != 0 -a "$rc" != 124

# A scanner program that ends without signalling: setup says how it ended.
bad="$WINEPREFIX/drive_c/badscan"
mkdir -p "$bad"
cp "$stage"/* "$bad/"
cp "$samples/vxclient.exe" "$bad/PolluxTest.exe"
"$run" "$(vx_winpath "$samples/vxclient.exe")" 'C:\badscan\' >/dev/null 2>&1; code=$?
out=$("$run" 'C:\badscan\setup.exe' /quiet /dir 'C:\Vexilo Bad' 2>&1); rc=$?
check "setup whose scanner fails exits 6 (exit $rc)" test "$rc" = 6
check "and gives the scanner's exit code: $out" \
    grep -qF "PolluxTest.exe ended with exit code $code without finishing the component scan" <<<"$out"
out=$("$run" 'C:\Vexilo Bad\Uninstall.exe' /quiet 2>&1); rc=$?
check "the unfinished installation uninstalls (exit $rc)" test "$rc" = 0
for _ in $(seq 100); do [ -e "$WINEPREFIX/drive_c/Vexilo Bad" ] || break; sleep 0.2; done
rm -rf "$bad"

out=$("$run" 'C:\Vexilo Media\setup.exe' /quiet /dir "$folder" 2>&1); rc=$?
echo "$out"
check "setup /quiet without a display succeeds (exit $rc)" test "$rc" = 0
check "the scanner wrote the component list without a window" test -s "$unix_folder/CompList.txt"
check "and the type-library list" test -s "$unix_folder/TLBlist.txt"
check "and completed the settings" \
    test "$(tr -d '\r' <"$unix_folder/Vexilo.txt" | grep -A1 -xF '[Path to file with TypeLibs structure]' | sed -n 2p)" = "${folder}TLBlist.txt"
check "the snapshot sees the installation's files" grep -qxF './Program Files/Vexilo Test/Ledra.dll' <(drive)
for f in Vexilo.exe Help.rtf VxKnown.tlb Vexilo.dll Korbin.dll Ledra.dll Pollux.dll PolluxTest.exe vxtrace.exe Uninstall.exe Vexilo.txt VexiloAdv.txt; do
    check "installed $f" test -f "$unix_folder/$f"
done
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Vexilo.lnk"
check "the Start menu has the Vexilo shortcut" test -s "$shortcut"
check "which starts the installed Vexilo.exe" grep -aqF "${folder}Vexilo.exe" "$shortcut"
check "setup.exe itself is not installed" test ! -e "$unix_folder/setup.exe"
app_path='HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths\Vexilo.exe'
# The servers' registrations are at work: the scanner filled the lists above
# through the scan engine's class, vxtrace hooks below through the reader's
# (their ProgIDs, from the same regsvr32 run, are the servers' own tests').
installed=$(exported "$app_path" "$uninstall_key")
check "App Paths names Vexilo.exe in the folder" test "$(reg_value <(echo "$installed") "$app_path")" = "${folder}Vexilo.exe"
check "the uninstall entry points at Uninstall.exe" \
    test "$(reg_value <(echo "$installed") "$uninstall_key" UninstallString)" = "\"${folder}Uninstall.exe\""

# The installation at work, with a display for the main program: hook the
# sample and trace its client.
wineserver -k; wineserver -w
export DISPLAY=$saved_display
start_server
vxtrace() { "$run" "${folder}vxtrace.exe" "$@"; }
check "vxtrace hooks the sample" vxtrace hook "$sample"
trace=$(vxtrace run -- "$(vx_winpath "$samples/vxclient.exe")" basic 2>&1 | tr -d '\r')
decoded=$'Method: VT_HRESULT Add (\n               [in]  a=2 (2h)  (VT_I4),'
check "the client's calls are traced and decoded" grep -qF "$decoded" <<<"$trace" ||
    { echo "--- vxtrace run printed:"; echo "$trace"; }
check "the class points at the stub copy" test "$(reg_value <(exported "$clsid") "$clsid")" = "${folder}Zor#_01.dll"

# The main program from the shortcut's target, leaving the hook in place at
# exit; closed as a user closes it, it keeps its window settings per user.
sed -i 's/^Exit with remaining hooks ? \[Y\/N\]: N/Exit with remaining hooks ? [Y\/N]: Y/' "$unix_folder/Vexilo.txt"
"$run" "${folder}Vexilo.exe" >/dev/null 2>&1 &
main_pid=$!
# Asked to close (taskkill sends the close a user's click sends) until it has
# ended: a request before its window is up finds nothing to close.
for _ in $(seq 60); do
    "$run" taskkill /im Vexilo.exe >/dev/null 2>&1
    for _ in $(seq 5); do kill -0 "$main_pid" 2>/dev/null || break 2; sleep 0.2; done
done
if kill -0 "$main_pid" 2>/dev/null; then main_rc='none: still running'; else wait "$main_pid"; main_rc=$?; fi
closed=$(exported 'HKCU\Software\Vexilo' "$clsid")
state=$(reg_value <(echo "$closed") 'HKCU\Software\Vexilo\Settings' WindowState)
check "Vexilo.exe ran and closed (exit $main_rc)" test "$state" = 0 ||
    { echo "--- its settings and the class:"; echo "$closed"; }
check "and left the hook in place" test "$(reg_value <(echo "$closed") "$clsid")" = "${folder}Zor#_01.dll"

# Uninstall without a display again.
wineserver -k; wineserver -w
unset DISPLAY
start_server
out=$("$run" "${folder}Uninstall.exe" /quiet /extra 2>&1); rc=$?
check "uninstall refuses unknown arguments (exit 1)" test "$rc" = 1

# Uninstall while a traced client still holds the kernel and the stub copy.
mkfifo "$WINEPREFIX/client-input"
"$run" "$(vx_winpath "$samples/vxclient.exe")" wait <"$WINEPREFIX/client-input" >"$WINEPREFIX/client-output" 2>&1 &
client=$!
exec 3>"$WINEPREFIX/client-input"
for _ in $(seq 100); do grep -q waiting "$WINEPREFIX/client-output" && break; sleep 0.2; done
check "the client holds a traced object" grep -q waiting "$WINEPREFIX/client-output"
# To a file, not a pipe: under Wine every process keeps its parent's Unix
# standard error, and the copy that waits for the client would hold the pipe.
"$run" "${folder}Uninstall.exe" /quiet >"$WINEPREFIX/uninstall-output" 2>&1 3>&-; rc=$?
out=$(cat "$WINEPREFIX/uninstall-output")
echo "$out"
check "uninstall with a client alive exits 8 (exit $rc)" test "$rc" = 8
check "and names the process that holds what stays" grep -qE ' are in use by vxclient.exe \(process [0-9]+\)\.' <<<"$out"
check "the kernel among it" grep -qF '"Korbin.dll"' <<<"$out"
check "and the stub copy" grep -qF '"Zor#_01.dll"' <<<"$out"
check "and says when it goes" grep -qF 'removed as soon as it ends; until then Uninstall.exe and its uninstall entry stay' <<<"$out"
# The copy in the temporary folder makes its first pass over the folder as
# soon as the uninstaller has ended; reading the registry (two reg.exe runs)
# takes longer than that pass, so what it would wrongly remove is gone by the
# checks below.
held=$(exported "$uninstall_key")
check "the trace reader is unregistered already" test -z "$(exported 'HKCR\Ledra.TraceReader')"
check "the held kernel stays" test -f "$unix_folder/Korbin.dll"
check "Uninstall.exe stays" test -f "$unix_folder/Uninstall.exe"
check "the uninstall entry stays" has_key <(echo "$held") "$uninstall_key"
check "the rest is gone" test ! -e "$unix_folder/Ledra.dll" -a ! -e "$unix_folder/Vexilo.txt"
echo >&3
exec 3>&-
wait "$client"; rc=$?
rm -f "$WINEPREFIX/client-input" "$WINEPREFIX/client-output" "$WINEPREFIX/uninstall-output"
check "the client ends normally (exit $rc)" test "$rc" = 0
check "once it has ended, the folder and the uninstall entry go" wait_removed
after="$WINEPREFIX/after.txt"
snapshot "$after"
check "the per-user settings are gone" test -z "$(hive user.reg HKEY_CURRENT_USER 'Software\Vexilo')"

# The sample's own registration back without a real path beside it, App
# Paths, the uninstall entry, the servers' keys and the shortcut gone.
changes=$(diff "$WINEPREFIX/before.txt" "$after")
check "without a display too, registry and drive are as before setup" test -z "$changes" || echo "$changes" | head -40

echo "== $failures failed"
[ "$failures" -eq 0 ]
