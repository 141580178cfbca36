#!/usr/bin/env bash
# A program any user copied to a shell-client name and started must not stop the real
# sweeptool.exe under Wine: with harmless programs running as ...\Downloads\kvsshaa.exe and
# C:\Shell Client\kvshclient.exe (folders a standard user can change: Wine keeps no owners, so
# every file there is its user's), the run goes through (3010), the log says why each was not
# counted, and the configured file leaves its folder. The 64-bit provider remover beside
# the tool lies in such a folder too: it is not started, and the log says so.
set -uo pipefail
build=${1:?build folder with sweeptool.exe}
here=$(cd "$(dirname "$0")/../.." && pwd)
. "$here/scripts/lib/wine.sh"

wine_new_prefix
trap wine_drop_prefix EXIT
c="$WINEPREFIX/drive_c"
user=$(ls "$c/users" | grep -vix public | head -n 1)
log="$c/ProgramData/Kelvaris/Logs/tool/sweeptool.log"
not() { ! "$@"; }

mkdir -p "$c/Tools" "$c/Program Files (x86)/Kelvaris/Shared"
printf 'x\n' >"$c/Program Files (x86)/Kelvaris/Shared/shared.dll"
cp "$build/sweeptool.exe" "$build/instkvps_x64.exe" "$c/Tools/"
cat >"$c/Tools/sweeptool.cfg" <<'CFG'
[msi upgradecode 1]
[service 1]
[process 1]
[registry value 1]
[registry key 1]
[file 1]
remove=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%\Kelvaris\Shared
CFG

# Two look-alikes, each a copy of a program that runs until it is ended.
planted=("C:\\users\\$user\\Downloads\\kvsshaa.exe" 'C:\Shell Client\kvshclient.exe')
for p in "${planted[@]}"; do
    unix="$c/$(echo "${p#C:\\}" | tr '\\' /)"
    mkdir -p "$(dirname "$unix")"
    cp "$build/programs/kvsleeper.exe" "$unix"
    wine cmd /c start "" "$p" >/dev/null 2>&1
    for _ in $(seq 20); do [ -e "$unix.started" ] && break; sleep 0.5; done
    e2e_check "running: $p" test -e "$unix.started"
done

code=$(wine_exit_code 'C:\Tools\sweeptool.exe' --NOGUI --noreboot)
e2e_equal "the look-alikes do not stop the run (3010)" 3010 "$code"
text=$(iconv -f UTF-16LE -t UTF-8 "$log" 2>/dev/null | tr -d '\r')
for p in "${planted[@]}"; do
    e2e_check "log: '$p' not counted, and why" grep -qiF -- \
        ".W: CDetector::CheckConflictingProducts: Running process '$p' is not counted as Kelvaris Shell Client: a standard user can change it or a folder above it" \
        <<<"$text"
done
e2e_check "log: the remover in a folder a user can change is not started" grep -qF -- \
    "*E: CNuke::RemoveKVLsp64: 'C:\\Tools\\instkvps_x64.exe' not started: a standard user can change it or a folder above it" \
    <<<"$text"
e2e_check "the remover never ran" not grep -qi instkvps_x64 <<<"$(wine "$build/programs/proclist.exe" 2>/dev/null)"
e2e_check "the configured file has left its folder" test ! -e "$c/Program Files (x86)/Kelvaris/Shared/shared.dll"
wine taskkill /f /im kvsshaa.exe >/dev/null 2>&1
wine taskkill /f /im kvshclient.exe >/dev/null 2>&1
[ -n "${E2E_KEEP_LOG:-}" ] && cp "$log" "$E2E_KEEP_LOG"
e2e_summary
