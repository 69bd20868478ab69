#!/usr/bin/env bash
# The Windows installer under Wine, silently (/S) as an IT department runs it: an installation
# elsewhere is replaced by one in Program Files; the programs, the demo image, the Start menu
# entry, the .vr4 association, the uninstall entry, the PATH entry and the folder for the
# station's records are in place; the installed vrkcfg.exe passes its self-test against the
# simulated unit inside it; the uninstaller leaves nothing behind but the station's records, and
# leaves .vr4 files alone once another program has taken them over.
#
# Usage: installer_e2e.sh WINE SETUP_EXE VRKCFG_EXE VRK_EXE VRK_SIM OUT_DIR
# Needs WINEPREFIX (a fresh prefix), a running wineserver and DISPLAY (scripts/test-windows).
set -u
wine=$1 setup=$2 built_vrkcfg=$3 built_vrk=$4 sim=$5 out=$6
work="$out/installer-e2e"
rm -rf "$work" "$out/wine-installed-main.png"
mkdir -p "$work"
sim_pid=""
. "$(dirname "$0")/e2e_common.sh"

drive_c="$WINEPREFIX/drive_c"
installed="$drive_c/Program Files/vrkcfg"
old="$drive_c/vrkcfg-old"
menu_entry="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/VRK 700 Configuration.lnk"

# Every registry value the installer writes, read by one batch file: a Wine process takes up to a
# second to start on a busy machine, and this is one. A key that is not there prints only an
# error, which names no key.
cat >"$work/registry.bat" <<'BATCH'
@reg query "HKLM\Software\Classes\.vr4" /ve
@reg query "HKLM\Software\Classes\vrkcfg.vr4"
@reg query "HKLM\Software\Classes\vrkcfg.vr4\shell\open\command" /ve
@reg query "HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\vrkcfg" /v DisplayVersion
@reg query "HKLM\Software\vrkcfg" /v InstallDir
@reg query "HKLM\System\CurrentControlSet\Control\Session Manager\Environment" /v Path
BATCH
registry() {
    "$wine" cmd /c "Z:${work//\//\\}\\registry.bat" 2>&1 | tr -d '\r' >"$work/$1"
}
has_value() { grep -qxF "    $2" "$work/$1"; }
path_entries() { sed -n 's/^    Path    REG_EXPAND_SZ    //p' "$work/$1" | tr ';' '\n'; }
gone() { [ ! -e "$1" ]; }
install() {
    "$wine" "$setup" /S >>"$work/setup.log" 2>&1 || fail "the installer failed"
}
# /D= must come last and unquoted, spaces and all: through cmd, which passes it on as written.
install_into() {
    "$wine" cmd /c "Z:${setup//\//\\} /S /D=$1" >>"$work/setup.log" 2>&1 ||
        fail "the installer failed (into $1)"
}
# The uninstaller copies itself to the temporary folder, starts that copy and returns at once:
# it is done when the installation folder has gone (it removes the folder last).
uninstall() {
    "$wine" 'C:\Program Files\vrkcfg\uninstall.exe' /S >>"$work/setup.log" 2>&1 ||
        fail "the uninstaller did not start"
    wait_for 60 gone "$installed" || fail "the uninstaller left $installed"
}

# An installation somewhere else first: the next one, into Program Files, replaces it. (Without
# /D an installation goes where the last one went.)
install_into 'C:\vrkcfg-old'
[ -f "$old/vrkcfg.exe" ] || fail "the first installation is not in C:\\vrkcfg-old"
install_into 'C:\Program Files\vrkcfg'
gone "$old" || fail "the installation in C:\\vrkcfg-old was not replaced"

for file in vrkcfg.exe vrk.exe VRK700-demo.vr4 uninstall.exe; do
    [ -f "$installed/$file" ] || fail "$file is not installed"
done
cmp "$built_vrkcfg" "$installed/vrkcfg.exe" || fail "the installed vrkcfg.exe is not the one built"
cmp "$built_vrk" "$installed/vrk.exe" || fail "the installed vrk.exe is not the one built"
"$sim" --make-demo-image "$work/demo.vr4" || fail "no demo image"
cmp "$work/demo.vr4" "$installed/VRK700-demo.vr4" || fail "the installed demo image differs"
[ -f "$menu_entry" ] || fail "no Start menu entry"
records="$drive_c/ProgramData/vrk"
[ -d "$records" ] || fail "no folder for the station's records in ProgramData"
echo "kept" >"$records/installer-test.db"

registry installed.txt
has_value installed.txt '(Default)    REG_SZ    vrkcfg.vr4' || fail ".vr4 is not vrkcfg's"
has_value installed.txt '(Default)    REG_SZ    "C:\Program Files\vrkcfg\vrkcfg.exe" "%1"' ||
    fail "opening a .vr4 does not run the installed vrkcfg.exe with the file"
has_value installed.txt 'DisplayVersion    REG_SZ    42.15' || fail "no uninstall entry for 42.15"
[ "$(path_entries installed.txt | grep -cix 'C:\\Program Files\\vrkcfg')" = 1 ] ||
    fail "the PATH does not name the installation once"
path_entries installed.txt | grep -qi 'vrkcfg-old' && fail "the PATH names the replaced installation"

# The installed programs: the window against the simulated unit inside it, given the demo image
# with its folder as opening the file from Explorer gives it (it works in that folder, the image
# chosen in its list), and vrk's version.
picture="$out/wine-installed-main.png"
"$wine" 'C:\Program Files\vrkcfg\vrkcfg.exe' --simulate --self-test "Z:${picture//\//\\}" \
    'C:\Program Files\vrkcfg\VRK700-demo.vr4' >"$work/self-test.log" 2>&1
rc=$?
[ "$rc" -eq 0 ] || fail "the installed vrkcfg.exe --simulate --self-test exited with $rc"
[ -s "$picture" ] || fail "the installed program's self-test saved no picture"
"$wine" 'C:\Program Files\vrkcfg\vrk.exe' --version 2>/dev/null | tr -d '\r' >"$work/version.log"
grep -qx "vrk 42.15" "$work/version.log" || fail "vrk.exe --version: $(cat "$work/version.log")"

uninstall
gone "$menu_entry" || fail "the Start menu entry was left"
[ -f "$records/installer-test.db" ] || fail "the uninstaller took the station's records"
rm -f "$records/installer-test.db"
registry uninstalled.txt
grep -i 'vrkcfg' "$work/uninstalled.txt" && fail "the uninstaller left the registry entries above"

# .vr4 files given to another program since: the uninstaller leaves them there.
install
"$wine" reg add 'HKLM\Software\Classes\.vr4' /ve /d OtherProgram.vr4 /f >/dev/null 2>&1 ||
    fail "reg add"
uninstall
registry taken-over.txt
has_value taken-over.txt '(Default)    REG_SZ    OtherProgram.vr4' ||
    fail "the uninstaller took .vr4 from the program that has it now"
echo "installer: replaced an older installation, installed, self-test passed, uninstalled cleanly"
