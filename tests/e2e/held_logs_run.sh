#!/usr/bin/env bash
# A user's program holds C:\windows\Logs, the tool's own folder below it and C:\ProgramData
# open for listing and shared with nobody, for the whole of a real sweeptool.exe --NOGUI
# --noreboot run under Wine on a small product (files below Program Files and ProgramData, a
# key in each registry view and one in the user's hive, a Run value). The run still goes
# through: the keys are saved to the tool's backup and deleted, the files go at the restart.
set -uo pipefail
build=${1:?build folder with sweeptool.exe}
here=$(cd "$(dirname "$0")/../.." && pwd)
. "$here/scripts/lib/wine.sh"

holder_out=$(mktemp /tmp/sweep-held.XXXXXX)
holder_pid=
cleanup() {
    [ -n "$holder_pid" ] && kill "$holder_pid" 2>/dev/null
    wine_drop_prefix
    rm -f "$holder_out"
}
trap cleanup EXIT

wine_new_prefix
c="$WINEPREFIX/drive_c"
pf="$c/Program Files (x86)"
put() { mkdir -p "$(dirname "$1")" && printf 'x\n' >"$1"; }
key_in() { wine reg query "$1" "/reg:$2" >/dev/null 2>&1; }
value_in() { wine reg query "$1" /v "$2" "/reg:$3" >/dev/null 2>&1; }
not() { ! "$@"; }

put "$pf/Kelvaris Vigil/vigil.exe"
put "$pf/Kelvaris Vigil/Bin/core.dll"
put "$c/ProgramData/Kelvaris Vigil/state.dat"
put "$pf/Other Vendor/app.exe"
wine reg add 'HKLM\SOFTWARE\Kelvaris Vigil\Components\Core' /v Path /d core.dll /f /reg:64 >/dev/null 2>&1
wine reg add 'HKLM\SOFTWARE\Kelvaris Vigil Agent\Settings' /v Mode /d full /f /reg:32 >/dev/null 2>&1
wine reg add 'HKCU\Software\Kelvaris Vigil' /v LastScan /d today /f >/dev/null 2>&1
wine reg add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run' /v KelvarisVigil \
    /d 'C:\Program Files (x86)\Kelvaris Vigil\vigil.exe' /f /reg:32 >/dev/null 2>&1
# Every record, deletions included, goes to the log (the tool reads the 32-bit view).
wine reg add 'HKLM\SOFTWARE\Kelvaris\QMR\Logging' /v LogLevel /t REG_DWORD /d 5 /f /reg:32 >/dev/null 2>&1

mkdir -p "$c/Tools"
cp "$build/sweeptool.exe" "$build/instkvps_x64.exe" "$c/Tools/"
cat >"$c/Tools/sweeptool.cfg" <<'CFG'
[msi upgradecode 1]
[service 1]
[process 1]
[registry value 1]
remove=REG_VALUE,BY_VALUE,HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run\KelvarisVigil
[registry key 1]
remove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris Vigil
remove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\SOFTWARE\WOW6432Node\Kelvaris Vigil Agent
remove=REG_KEY,BY_VALUE,HKEY_CURRENT_USER\Software\Kelvaris Vigil
[file 1]
remove=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%\Kelvaris Vigil
remove=FILE_NAME,BY_VALUE,C:\ProgramData\Kelvaris Vigil
CFG

# A preview changes nothing but leaves the tool's folder behind, as an earlier run would, so
# that it is there to be held too.
wine_exit_code 'C:\Tools\sweeptool.exe' --preview >/dev/null
tool_folder=$(find "$c/windows" -maxdepth 2 -ipath "$c/windows/logs/sweeptool" | head -n 1)
e2e_check "the tool's folder is there before the run" test -n "$tool_folder"

# The holder keeps its handles until the stop file appears.
wine "$build/programs/listholder.exe" 'C:\held.stop' 'C:\windows\Logs' 'C:\windows\Logs\SweepTool' \
    'C:\ProgramData' >"$holder_out" 2>&1 &
holder_pid=$!
for _ in $(seq 1 150); do
    grep -q '^ready' "$holder_out" && break
    sleep 0.2
done
# grep reads all its input: with -q it could stop early, and under pipefail the writer's broken
# pipe would fail the check whatever it found.
said() { tr -d '\r' <"$holder_out" | grep -xF -- "$1" >/dev/null; }
keeps_out_sharers_only() { said "shared-open $1 32" && said "light-open $1 0"; }
for f in 'C:\windows\Logs' 'C:\windows\Logs\SweepTool' 'C:\ProgramData'; do
    e2e_check "held for listing, shared with nobody: $f" said "held $f"
    # Were an open that takes part in sharing let in, the run below would prove nothing; the
    # tool's own opens of these folders take no part in it.
    e2e_check "the hold keeps out an open that takes part in sharing (32), not one that takes none: $f" \
        keeps_out_sharers_only "$f"
done

code=$(wine_exit_code 'C:\Tools\sweeptool.exe' --NOGUI --noreboot)
e2e_equal "the run goes through while the folders are held (3010: restart needed)" 3010 "$code"
holding() { kill -0 "$holder_pid" 2>/dev/null && ! said released; }
e2e_check "the folders were held for the whole run" holding
touch "$c/held.stop"
for _ in $(seq 1 50); do
    said released && break
    sleep 0.2
done
kill "$holder_pid" 2>/dev/null
wait "$holder_pid" 2>/dev/null
holder_pid=

e2e_check "removed: HKLM\\SOFTWARE\\Kelvaris Vigil (64-bit view)" not key_in 'HKLM\SOFTWARE\Kelvaris Vigil' 64
e2e_check "removed: HKLM\\SOFTWARE\\Kelvaris Vigil Agent (32-bit view)" not key_in 'HKLM\SOFTWARE\Kelvaris Vigil Agent' 32
e2e_check "removed: HKCU\\Software\\Kelvaris Vigil" not key_in 'HKCU\Software\Kelvaris Vigil' 64
e2e_check "removed: the Run value KelvarisVigil" \
    not value_in 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run' KelvarisVigil 32

backups() { find "$c/windows" -maxdepth 4 -ipath "$c/windows/logs/sweeptool/backup/*.reg" "$@" 2>/dev/null; }
saved() { backups -exec cat {} + | iconv -f UTF-16LE -t UTF-8 | grep -iF -- "$1" >/dev/null; }
e2e_check "backup: written below C:\\windows\\Logs\\SweepTool\\Backup" test -n "$(backups)"
e2e_check "backup: Kelvaris Vigil\\Components\\Core" saved 'Kelvaris Vigil\Components\Core]'
e2e_check "backup: Kelvaris Vigil Agent\\Settings" saved 'Kelvaris Vigil Agent\Settings]'
e2e_check "backup: the user's key" saved 'HKEY_CURRENT_USER\Software\Kelvaris Vigil]'
e2e_check "backup: the Run value" saved '"KelvarisVigil"='

log="$c/ProgramData/Kelvaris/Logs/tool/sweeptool.log"
logged() { iconv -f UTF-16LE -t UTF-8 "$log" 2>/dev/null | grep -F -- "$1" >/dev/null; }
e2e_check "log: the run's deletions are written below the held C:\\ProgramData" \
    logged "Deleting registry key 'HKEY_CURRENT_USER\SOFTWARE\KELVARIS VIGIL' was successful"

wine_restart
for p in "$pf/Kelvaris Vigil" "$c/ProgramData/Kelvaris Vigil"; do
    e2e_check "gone after the restart: ${p#"$c"/}" test ! -e "$p"
done
e2e_check "intact after the restart: Program Files (x86)/Other Vendor/app.exe" test -e "$pf/Other Vendor/app.exe"
[ -n "${E2E_KEEP_LOG:-}" ] && cp "$log" "$E2E_KEEP_LOG"
e2e_summary
