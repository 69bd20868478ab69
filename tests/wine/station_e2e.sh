#!/usr/bin/env bash
# vrk.exe as a production station under Wine, with its SQLite records:
# - --simulate: the unit inside vrk.exe gets W00001 from the scheme, and vrk.exe log lists it;
# - two simulated units on COM1 and COM2, a recipe file with an ID scheme, the machine's
#   default database (C:\ProgramData\vrk\station.db): two units, two IDs, two rows;
# - vrk.exe killed between reserving an ID and the unit's confirmation: the row written before
#   the kill is in the file (WAL, synchronous=FULL), and the next run on the same unit, beside
#   another unit, never gives one ID to two units;
# - --repeat on COM3, whose adapter is plugged in only after vrk.exe started: it waits for the
#   port (the CPU it uses while waiting is printed) and flashes the unit once it is there.
#
# Usage: station_e2e.sh WINE VRK_EXE VRK_SIM LINK_FOLDER OUT_DIR
# Needs WINEPREFIX with COM1, COM2 and COM3 mapped to LINK_FOLDER/com1, com2 and com3 and a
# running wineserver (scripts/test-windows).
set -u
wine=$1 vrk=$2 sim=$3 links=$4 out=$5
work="$out/station-e2e"
rm -rf "$work"
mkdir -p "$work"
sim_pid="" sim2_pid="" vrk_pid=""
cleanup() {
    local pid
    for pid in "$vrk_pid" "$sim_pid" "$sim2_pid"; do [ -n "$pid" ] && kill "$pid" 2>/dev/null; done
}
trap cleanup EXIT
. "$(dirname "$0")/e2e_common.sh"
cd "$work" || exit 1
drive_c="$WINEPREFIX/drive_c"
rm -rf "$drive_c/ProgramData/vrk" "$drive_c"/st.db* "$drive_c"/kill.db* "$drive_c"/repeat.db*

# Starts a simulated unit on link $1 (com1...) with the options after it; its pid in $started.
start_unit() {
    local link="$links/$1"
    shift
    rm -f "$link"
    "$sim" --link "$link" "$@" >>"$work/sim.log" 2>&1 &
    started=$!
    wait_for 10 test -L "$link" || fail "the simulator made no link $link"
}
stop_unit() {  # pid
    kill "$1" 2>/dev/null
    wait "$1" 2>/dev/null
}
# vrk.exe log as CSV, CR LF ends removed, into the file $1; the options after it.
export_log() {
    local file=$1
    shift
    "$wine" "$vrk" "$@" log --format csv 2>"$work/$file.err" | tr -d '\r' >"$work/$file"
    [ "${PIPESTATUS[0]}" -eq 0 ] || fail "vrk.exe $* log exited with ${PIPESTATUS[0]}"
}
# The ID a unit (by serial number) left with, from a vrk.exe --json run's finished objects.
id_of() {  # json_file serial
    grep '"event":"finished"' "$1" | grep "\"serial_number\":$2[,}]" |
        sed -n 's/.*"id_after":"\([^"]*\)".*/\1/p' | tail -n 1
}
head -c 5000 /dev/urandom >"$work/app.vr4"

# The unit inside vrk.exe, a database at a path of Windows' own.
"$wine" "$vrk" --simulate program app.vr4 --id-format 'W{:05}' --db 'C:\st.db' \
    >"$work/simulate.log" 2>&1
rc=$?
[ "$rc" -eq 0 ] || fail "vrk.exe --simulate program exited with $rc"
[ -f "$drive_c/st.db" ] || fail "no database at C:\\st.db"
export_log simulate.csv --db 'C:\st.db'
grep -q ',W00001,' "$work/simulate.csv" || fail "vrk.exe log does not list W00001"
grep -q '^run_key,' "$work/simulate.csv" || fail "vrk.exe log wrote no header row"

# Two units on two COM ports, a recipe file, the machine's database.
cat >"$work/station.toml" <<'TOML'
image = "app.vr4"
verify = true
id_format = "S{:04}"
id_start = 7
TOML
start_unit com1 --serial 91001
sim_pid=$started
start_unit com2 --serial 91002
sim2_pid=$started
"$wine" "$vrk" --json --port COM1 --port COM2 program --recipe station.toml \
    >"$work/two.json" 2>"$work/two.log"
rc=$?
[ "$rc" -eq 0 ] || fail "vrk.exe program on COM1 and COM2 exited with $rc"
stop_unit "$sim_pid"
stop_unit "$sim2_pid"
sim_pid="" sim2_pid=""
first=$(id_of "$work/two.json" 91001)
second=$(id_of "$work/two.json" 91002)
[ -n "$first" ] && [ -n "$second" ] && [ "$first" != "$second" ] ||
    fail "the two units were given the IDs '$first' and '$second'"
for id in "$first" "$second"; do
    case $id in S0007 | S0008) ;; *) fail "$id is not one of the scheme's first two IDs" ;; esac
done
[ -f "$drive_c/ProgramData/vrk/station.db" ] ||
    fail "the default database is not C:\\ProgramData\\vrk\\station.db"
export_log two.csv
[ "$(grep -c ',91001,' "$work/two.csv")" = 1 ] && [ "$(grep -c ',91002,' "$work/two.csv")" = 1 ] ||
    fail "the default database does not hold one row per unit"
grep -q ",$first," "$work/two.csv" && grep -q ",$second," "$work/two.csv" ||
    fail "the rows do not hold the units' IDs"

# Killed between reserve and confirm: the unit takes K00001 but holds back its answer.
start_unit com1 --serial 92001 --no-id-reply --log "$work/held-unit.log"
sim_pid=$started
"$wine" "$vrk" --json --port COM1 program app.vr4 --db 'C:\kill.db' --id-format 'K{:05}' \
    >"$work/killed.json" 2>"$work/killed.log" &
vrk_pid=$!
wait_for 120 grep -q '"event":"id_reserved"' "$work/killed.json" || fail "no ID was reserved"
grep -q '"id":"K00001"' "$work/killed.json" || fail "K00001 was not the ID reserved"
# The ID's message to the unit: 'K00001' on the wire.
wait_for 60 grep -q '4B 30 30 30 30 31' "$work/held-unit.log" || fail "the unit was not sent K00001"
kill -KILL "$vrk_pid"
wait "$vrk_pid" 2>/dev/null
vrk_pid=""
stop_unit "$sim_pid"
sim_pid=""
# The row written as the unit's run started was committed before the kill.
export_log killed.csv --db 'C:\kill.db'
grep -q ',92001,' "$work/killed.csv" || fail "the row committed before the kill is not in the file"

# The same unit again (it kept the ID it was sent), and another beside it.
start_unit com1 --serial 92001 --id K00001
sim_pid=$started
start_unit com2 --serial 92002
sim2_pid=$started
"$wine" "$vrk" --json --port COM1 --port COM2 program app.vr4 --db 'C:\kill.db' \
    --id-format 'K{:05}' >"$work/again.json" 2>"$work/again.log"
rc=$?
[ "$rc" -eq 0 ] || fail "vrk.exe after the kill exited with $rc"
stop_unit "$sim_pid"
stop_unit "$sim2_pid"
sim_pid="" sim2_pid=""
held=$(id_of "$work/again.json" 92001)
other=$(id_of "$work/again.json" 92002)
[ -n "$held" ] && [ -n "$other" ] && [ "$held" != "$other" ] ||
    fail "after the kill the units were given '$held' and '$other'"
[ "$other" != K00001 ] || fail "the reservation of the killed run went to another unit"
# The reservation stays with its unit: it gets the same ID.
[ "$held" = K00001 ] || fail "the unit killed on got $held, not its reservation K00001"

# --repeat on a port whose adapter is not there yet.
rm -f "$links/com3"
"$wine" "$vrk" --json --repeat --count 1 --port COM3 program app.vr4 --db 'C:\repeat.db' \
    --id-format 'R{:05}' >"$work/repeat.json" 2>"$work/repeat.log" &
vrk_pid=$!
wait_for 60 grep -q '"for":"port"' "$work/repeat.json" || fail "vrk.exe --repeat did not wait for COM3"
# What waiting costs: the process's CPU time over three seconds, from /proc (the Wine process
# is this Linux process).
ticks() { awk '{ print $14 + $15 }' "/proc/$vrk_pid/stat"; }
before=$(ticks)
sleep 3
after=$(ticks)
echo "vrk.exe waiting for a COM port: $(((after - before) * 1000 / $(getconf CLK_TCK) / 3)) ms of CPU per second"
start_unit com3 --serial 93001
sim_pid=$started
wait_for 120 bash -c "! kill -0 $vrk_pid 2>/dev/null" || fail "vrk.exe --repeat --count 1 did not end"
wait "$vrk_pid"
rc=$?
vrk_pid=""
[ "$rc" -eq 0 ] || fail "vrk.exe --repeat on a port plugged in later exited with $rc"
[ "$(id_of "$work/repeat.json" 93001)" = R00001 ] || fail "the unit on COM3 did not get R00001"
echo "vrk.exe program: --simulate gave W00001, two COM ports gave $first and $second, a kill" \
    "between reserve and confirm gave no ID twice ($held, $other), --repeat waited for COM3"
