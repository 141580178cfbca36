#!/usr/bin/env bash
# The refusals and the network step of the real sweeptool.exe under Wine:
# - another product of the maker that must not be touched (the shell client's key) stops the
#   run with 1625 before anything changes;
# - with --removeall, a product whose recorded root is a folder of the machine itself
#   (the 64-bit program-files folder, the 32-bit one, a user profile folder, the drive root)
#   is refused the same way;
# - a normal product with --removeall loses its root folder, its start-menu folder and its
#   desktop entries, and the run leaves the 64-bit provider remover beside it alone (under
#   Wine every file is its user's, so a standard user could have replaced it), resets the
#   32-bit provider catalogue and drives the real firewall objects (Windows 10 reported, so
#   the firewall step runs), each answer logged.
set -uo pipefail
build=${1:?build folder with sweeptool.exe}
here=$(cd "$(dirname "$0")/../.." && pwd)
. "$here/scripts/lib/wine.sh"

wine_new_prefix
trap wine_drop_prefix EXIT
c="$WINEPREFIX/drive_c"
pf="$c/Program Files (x86)"
user=$(ls "$c/users" | grep -vix public | head -n 1)
put() { mkdir -p "$(dirname "$1")" && printf 'x\n' > "$1"; }
reg32() { wine reg add "$1" /v "$2" /t REG_SZ /d "$3" /f /reg:32 >/dev/null 2>&1; }
key_in() { wine reg query "$1" "/reg:$2" >/dev/null 2>&1; }
not() { ! "$@"; }
log="$c/ProgramData/Kelvaris/Logs/tool/sweeptool.log"
agent='HKLM\SOFTWARE\Kelvaris\Aurel Agent'

mkdir -p "$c/Tools"
cp "$build/sweeptool.exe" "$build/instkvps_x64.exe" "$c/Tools/"
cat > "$c/Tools/sweeptool.cfg" <<'CFG'
[msi upgradecode 1]
[service 1]
[process 1]
[registry value 1]
[registry key 1]
remove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris Suite Settings
[file 1]
remove=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%\Kelvaris\Shared
CFG
put "$pf/Kelvaris/Shared/shared.dll"
wine reg add 'HKLM\SOFTWARE\Kelvaris Suite Settings' /v Theme /t REG_SZ /d blue /f /reg:64 >/dev/null 2>&1
pending() {
    wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations \
        2>/dev/null | grep -qi 'kelvaris'
}
untouched() {
    e2e_check "$1: nothing queued for deletion" not pending
    e2e_check "$1: the listed key is still there" key_in 'HKLM\SOFTWARE\Kelvaris Suite Settings' 64
    e2e_check "$1: no log was opened (the refusal is silent)" test ! -e "$log"
}
run() { wine_exit_code 'C:\Tools\sweeptool.exe' --NOGUI --noreboot "$@"; }

# --- another product of the maker ---
shell_client='HKLM\SOFTWARE\Kelvaris Corporation\Kelvaris Shell Client'
reg32 "$shell_client" Version 3
e2e_equal "shell client's key: refused with 1625" 1625 "$(run)"
untouched "shell client's key"
wine reg delete "$shell_client" /f /reg:32 >/dev/null 2>&1

# A running shell-client process counts only when no standard user could have put its image
# there; Wine keeps no owners, so under Wine none counts (planted_conflict_run.sh).

# --- unsafe roots with --removeall ---
reg32 "$agent" ProductName 'Kelvaris Suite Pro'
for root in 'C:\Program Files' 'C:\Program Files (x86)\' "C:\\users\\$user\\AppData\\Roaming\\Kelvaris" 'C:\' \
    'C:\Program Files (x86)\Kelvaris\..'; do
    reg32 "$agent" InstallPath "$root"
    e2e_equal "root '$root' with --removeall: refused with 1625" 1625 "$(run --removeall)"
done
untouched "unsafe roots"
e2e_check "intact: the program-files folders" test -e "$c/Program Files/Common Files" -a -e "$pf/Kelvaris/Shared/shared.dll"

# --- a normal product with --removeall ---
wine winecfg -v win10 >/dev/null 2>&1
wineserver -w
wine reg add 'HKLM\SOFTWARE\Kelvaris\QMR\Logging' /v LogLevel /t REG_DWORD /d 5 /f /reg:32 >/dev/null 2>&1
wine reg add 'HKLM\SOFTWARE\Kelvaris\QMR\Logging' /v LogMaxSizeKB /t REG_DWORD /d 16384 /f /reg:32 >/dev/null 2>&1
reg32 "$agent" InstallPath 'C:\Program Files (x86)\Kelvaris\Suite\'
suite="$pf/Kelvaris/Suite"
programs="$c/ProgramData/Microsoft/Windows/Start Menu/Programs"
desktop="$c/users/Public/Desktop"
put "$suite/bin/kvsuite.exe"
put "$suite/data/rules.dat"
put "$pf/Kelvaris/Other Product/keep.exe"
put "$pf/Other Vendor/app.exe"
put "$programs/Kelvaris Suite Pro/Kelvaris Suite Pro.lnk"
put "$programs/Kelvaris Suite Pro/Uninstall.lnk"
put "$programs/Other Vendor/app.lnk"
put "$desktop/Kelvaris Suite Pro.lnk"
put "$desktop/Kelvaris Suite Pro Help.url"
put "$desktop/Kelvaris Other.lnk"
put "$desktop/Notes.txt"

e2e_equal "a normal product with --removeall: the run goes through (3010)" 3010 "$(run --removeall)"
text=$(iconv -f UTF-16LE -t UTF-8 "$log" 2>/dev/null | tr -d '\r')
logged() { grep -qE -- "$1" <<<"$text"; }
for r in \
    ' I: CNuke::ResetLspStack: Running in 64bit environment, removing LSP from 64bit stack\.' \
    ' D: CNuke::RemoveKVLsp64: Calling UnInstall function from the installation utility\.' \
    "\\*E: CNuke::RemoveKVLsp64: 'C:\\\\Tools\\\\instkvps_x64\\.exe' not started: a standard user can change it or a folder above it" \
    ' D: CNuke::ResetLspStack: ResetLspStack was successful' \
    'CWinFirewall::WindowsFirewallIsOn: The firewall is (on|off)\.' \
    '\.W: CWinFirewall::WindowsFirewall(TurnOff|TurnOn): put_FirewallEnabled failed: 0x80004001' \
    '\.W: CWinFirewall::TurnICFOn: WindowsFirewall(TurnOff|TurnOn) failed: 0x80004001'; do
    e2e_check "log: $r" logged "$r"
done
e2e_check "the 64-bit remover has ended" not grep -qi instkvps_x64 <<<"$(wine "$build/programs/proclist.exe" 2>/dev/null)"

wine_restart
for p in "$suite" "$programs/Kelvaris Suite Pro" "$desktop/Kelvaris Suite Pro.lnk" "$desktop/Kelvaris Suite Pro Help.url" \
    "$pf/Kelvaris/Shared"; do
    e2e_check "gone after the restart: ${p#"$c"/}" test ! -e "$p"
done
for p in "$pf/Kelvaris/Other Product/keep.exe" "$pf/Other Vendor/app.exe" "$programs/Other Vendor/app.lnk" \
    "$desktop/Kelvaris Other.lnk" "$desktop/Notes.txt" "$programs"; do
    e2e_check "intact after the restart: ${p#"$c"/}" test -e "$p"
done
e2e_check "gone: the listed key" not key_in 'HKLM\SOFTWARE\Kelvaris Suite Settings' 64
[ -n "${E2E_KEEP_LOG:-}" ] && cp "$log" "$E2E_KEEP_LOG"
e2e_summary
