#!/usr/bin/env bash
# vrk.exe under Wine against the simulated unit on COM1: info prints the unit's ID, download
# ends with 0 and the image lands in the unit's flash, and a line that dies in a download is the
# port lost. Then --simulate, the unit inside vrk.exe itself: info, and the demo image
# downloaded and verified, checked in the flash it writes out.
#
# Usage: vrk_e2e.sh WINE VRK_EXE VRK_SIM COM1_LINK OUT_DIR
# Needs WINEPREFIX with COM1 mapped to COM1_LINK and a running wineserver (scripts/test-windows).
set -u
wine=$1 vrk=$2 sim=$3 link=$4 out=$5
work="$out/vrk-e2e"
rm -rf "$work"
mkdir -p "$work"
sim_pid=""
trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null' EXIT
. "$(dirname "$0")/e2e_common.sh"

"$sim" --id WINEVRK1 --link "$link" --flash-out "$work/flash.bin" >"$work/sim.log" 2>&1 &
sim_pid=$!
wait_for 10 test -L "$link" || fail "the simulator made no link $link"
cd "$work" || exit 1

"$wine" "$vrk" --port COM1 info >"$work/info.log" 2>&1
rc=$?
[ "$rc" -eq 0 ] || fail "vrk.exe --port COM1 info exited with $rc"
grep -q "WINEVRK1" "$work/info.log" || fail "vrk.exe info did not print the unit's ID"

head -c 5000 /dev/urandom >"$work/app.vr4"
"$wine" "$vrk" --port COM1 download app.vr4 >"$work/download.log" 2>&1
rc=$?
[ "$rc" -eq 0 ] || fail "vrk.exe --port COM1 download exited with $rc"

stop_sim
cmp -n 5000 "$work/app.vr4" "$work/flash.bin" || fail "the unit's flash does not hold the image"

# The line goes dead in the middle of a download (the unit's end closes, as an unplugged
# adapter's would): Wine fails the next write with ERROR_NOT_READY, which is the port lost, and
# vrk ends with the code for "no link".
"$sim" --program-ms 50 --link "$link" --log "$work/lost-sim.log" >"$work/sim.log" 2>&1 &
sim_pid=$!
wait_for 10 test -L "$link" || fail "the simulator made no link $link"
"$wine" "$vrk" --port COM1 download app.vr4 >"$work/lost.log" 2>&1 &
vrk_pid=$!
wait_for 30 grep -qs "^2A " "$work/lost-sim.log" || fail "the download did not start"
stop_sim
wait "$vrk_pid"
rc=$?
[ "$rc" -eq 3 ] || fail "vrk.exe exited with $rc when the port was lost, not 3"
grep -q "gone" "$work/lost.log" || fail "vrk.exe did not say the port is gone"

"$wine" "$vrk" --simulate info >"$work/simulate-info.log" 2>&1
rc=$?
[ "$rc" -eq 0 ] || fail "vrk.exe --simulate info exited with $rc"
grep -q "VRK00042" "$work/simulate-info.log" || fail "vrk.exe --simulate info did not print the ID"
"$sim" --make-demo-image "$work/demo.vr4" || fail "no demo image"
"$wine" "$vrk" --simulate --simulate-flash-out simulated-flash.bin download demo.vr4 \
    >"$work/simulate-download.log" 2>&1
rc=$?
[ "$rc" -eq 0 ] || fail "vrk.exe --simulate download exited with $rc"
cmp "$work/demo.vr4" "$work/simulated-flash.bin" || fail "the simulated flash does not hold the demo image"
echo "vrk.exe: info printed the ID, the image was downloaded and verified, also with --simulate"
