#!/usr/bin/env bash
# vrkcfg.exe under Wine, on an X server, against the simulated unit on COM1, driven from the
# keyboard as a person would: the port dialog lists COM1 and Enter chooses it; the unit links;
# a new ID is sent; the second image of the list is downloaded, lands in the unit's flash and
# is verified; Exit ends the program with 0. Then --self-test checks that the panel fills. Then
# the same with --simulate, the unit inside vrkcfg.exe itself: the window links, the demo image
# is downloaded and checked in the flash it writes out; a simulated unit that cannot start ends
# it with 3. A picture of each dialog is saved in OUT_DIR.
#
# Usage: vrkcfg_e2e.sh WINE VRKCFG_EXE VRK_SIM COM1_LINK OUT_DIR
# Needs WINEPREFIX with COM1 mapped to COM1_LINK, a running wineserver and DISPLAY (see
# scripts/test-windows), xdotool and ImageMagick's import.
set -u
wine=$1 vrkcfg=$2 sim=$3 link=$4 out=$5
work="$out/vrkcfg-e2e"
rm -rf "$work" "$out"/wine-*.png
mkdir -p "$work/images"
sim_pid="" app_pid=""
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
}
trap cleanup EXIT
. "$(dirname "$0")/e2e_common.sh"
window_named() { xdotool search --name "^$1\$" 2>/dev/null | head -n 1; }
has_window() { [ -n "$(window_named "$1")" ]; }
logged() { grep -q "$1" "$work/sim.log" 2>/dev/null; }
app_gone() { ! kill -0 "$app_pid" 2>/dev/null; }
focus_and_type() {  # window keys...
    local window=$1
    shift
    xdotool windowfocus --sync "$window" && xdotool key --delay 50 "$@"
}

# Two images, so that choosing the second is a change of selection (what enables Download).
head -c 3000 /dev/urandom >"$work/images/TINY.vr4"
head -c 100 /dev/urandom >"$work/images/alpha.vr4"

# The unit's external device is the table's Hebrew row (code page 1255), drawn as Hebrew.
"$sim" --external-device 50 --link "$link" --log "$work/sim.log" --flash-out "$work/flash.bin" >"$work/sim-out.log" 2>&1 &
sim_pid=$!
wait_for 10 test -L "$link" || fail "the simulator made no link $link"

cd "$work/images" || exit 1
"$wine" "$vrkcfg" >"$work/vrkcfg.log" 2>&1 &
app_pid=$!

wait_for 60 has_window "Select COMM Port" || fail "no port dialog"
chooser=$(window_named "Select COMM Port")
import -window "$chooser" "$out/wine-select-port.png" || fail "no picture of the port dialog"
# COM1 sorts first and is selected; Enter presses OK.
focus_and_type "$chooser" Home Return || fail "keys to the port dialog"

wait_for 60 has_window "VRK 700 Configuration 42.15" || fail "no main window"
main=$(window_named "VRK 700 Configuration 42.15")
# The last of the settings queries goes out once the unit has answered the first ones.
wait_for 60 logged "^18 00" || fail "the unit never linked"

# Alt+I: the ID box, its text selected; type a new ID; Alt+S sends it.
focus_and_type "$main" alt+i W I N E 0 0 0 1 alt+s || fail "keys to the main window"
wait_for 30 logged "57 49 4E 45 30 30 30 31" || fail "the new ID was not sent"
import -window "$main" "$out/wine-main.png" || fail "no picture of the main window"

# Alt+A: the application list; Down twice selects its second image (TINY.vr4); Alt+D.
focus_and_type "$main" alt+a Down Down alt+d || fail "keys to the main window"
# Pages go out from the last to page 0, then (Verify is checked at every start) each is
# compared, again down to page 0.
wait_for 120 logged "^2A 00 " || fail "the download did not reach page 0"
wait_for 120 logged "^2F 00 00 00 " || fail "the download did not verify page 0"
focus_and_type "$main" alt+x || fail "keys to the main window"
wait_for 30 app_gone || fail "Exit did not end the program"
wait "$app_pid"
rc=$?
app_pid=""
[ "$rc" -eq 0 ] || fail "vrkcfg.exe exited with $rc"

# The same unit again: the self-test runs until the panel shows the unit's settings.
picture="$out/wine-main-linked.png"
rm -f "$picture"
"$wine" "$vrkcfg" --port COM1 --self-test "Z:${picture//\//\\}" >"$work/self-test.log" 2>&1
rc=$?
[ "$rc" -eq 0 ] || fail "vrkcfg.exe --self-test exited with $rc"
[ -s "$out/wine-main-linked.png" ] || fail "the self-test saved no picture"

stop_sim
cmp -n 3000 "$work/images/TINY.vr4" "$work/flash.bin" || fail "the unit's flash does not hold the image"

# The simulated unit inside the program: no port dialog, the window links at once. The demo
# image (100,000 bytes: block erase, wide pages, a short last page) is the list's second.
mkdir -p "$work/simulated"
"$sim" --make-demo-image "$work/simulated/VRK700-demo.vr4" || fail "no demo image"
head -c 100 /dev/urandom >"$work/simulated/alpha.vr4"
cd "$work/simulated" || exit 1
unit_log="$work/simulated/unit.log"
taken() { grep -q "$1" "$unit_log" 2>/dev/null; }
"$wine" "$vrkcfg" --simulate --simulate-log unit.log --simulate-flash-out flash.bin \
    >"$work/vrkcfg-simulate.log" 2>&1 &
app_pid=$!
wait_for 60 has_window "VRK 700 Configuration 42.15" || fail "no main window with --simulate"
main=$(window_named "VRK 700 Configuration 42.15")
wait_for 60 taken "^18 00" || fail "the simulated unit never linked"
focus_and_type "$main" alt+a Down Down alt+d || fail "keys to the main window"
wait_for 120 taken "^2A 00 " || fail "the download to the simulated unit did not reach page 0"
wait_for 120 taken "^2F 00 00 00 " || fail "the download to the simulated unit was not verified"
import -window "$main" "$out/wine-simulate-main.png" || fail "no picture of the simulated run"
focus_and_type "$main" alt+x || fail "keys to the main window"
wait_for 30 app_gone || fail "Exit did not end the program"
wait "$app_pid"
rc=$?
app_pid=""
[ "$rc" -eq 0 ] || fail "vrkcfg.exe --simulate exited with $rc"
cmp "$work/simulated/VRK700-demo.vr4" "$work/simulated/flash.bin" ||
    fail "the simulated flash does not hold the demo image"
# A simulated unit that cannot start (its log cannot be created) ends the program as vrk ends:
# the code vrk gives a port that cannot be opened, and the same text.
"$wine" "$vrkcfg" --simulate --simulate-log no-such-folder/unit.log >"$work/vrkcfg-no-unit.log" 2>&1
rc=$?
[ "$rc" -eq 3 ] || fail "vrkcfg.exe with a simulated unit that cannot start exited with $rc"
grep -q "^vrkcfg: the simulated unit could not be started: " "$work/vrkcfg-no-unit.log" ||
    fail "vrkcfg.exe did not say why the simulated unit could not start"
echo "vrkcfg.exe: port chosen, linked, ID sent, image downloaded, also with --simulate; pictures in $out"
