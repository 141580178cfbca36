#!/usr/bin/env bash
# A configuration that names protected locations themselves — the program-files folder, the
# drive root, the user's roaming folder, registry values holding the x86 program-files folder
# (also by its 8.3 name and as a stream), HKLM\SOFTWARE\Microsoft and the user's Software
# key — next to a product folder and key below them. Under Wine with the real sweeptool.exe --NOGUI --noreboot and a restart:
# the protected locations and everything else in them stay, the product's own entries go.
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

put "$pf/Kelvaris Probe/probe.exe"
put "$pf/Other Vendor/app.exe"
put "$c/keep.txt"
put "$c/users/$user/AppData/Roaming/OtherApp/settings.ini"
# REG_VALUE entries read the default (32-bit) view, REG_KEY entries find keys in the 64-bit one.
wine reg add 'HKLM\SOFTWARE\Kelvaris Probe Paths' /v InstallDir /t REG_SZ /d 'C:\Program Files (x86)' /f /reg:32 >/dev/null 2>&1
# The same folder by its 8.3 name and as a stream of itself: each spelling is that folder.
short=$(wine cmd /c 'dir /x C:\' 2>/dev/null | tr -d '\r' | sed -n 's/.*<DIR> *\([^ ]*~[^ ]*\) *Program Files (x86)$/\1/p')
wine reg add 'HKLM\SOFTWARE\Kelvaris Probe Paths' /v ShortDir /t REG_SZ /d "C:\\$short" /f /reg:32 >/dev/null 2>&1
wine reg add 'HKLM\SOFTWARE\Kelvaris Probe Paths' /v StreamDir /t REG_SZ /d 'C:\Program Files (x86)::$INDEX_ALLOCATION' /f /reg:32 >/dev/null 2>&1
wine reg add 'HKLM\SOFTWARE\Kelvaris Probe' /v Version /t REG_SZ /d 1 /f /reg:64 >/dev/null 2>&1
wine reg add 'HKCU\Software\OtherApp' /v Keep /t REG_SZ /d 1 /f >/dev/null 2>&1

mkdir -p "$c/Tools"
cp "$build/sweeptool.exe" "$build/instkvps_x64.exe" "$c/Tools/"
cat > "$c/Tools/sweeptool.cfg" <<'CFG'
[msi upgradecode 1]
[service 1]
[process 1]
[registry value 1]
[registry key 1]
remove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft
remove=REG_KEY,BY_VALUE,HKEY_CURRENT_USER\Software
remove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris Probe
[file 1]
remove=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%
remove=FILE_NAME,BY_VALUE,C:\
remove=FILE_NAME_EXPAND,BY_VALUE,%APPDATA%
remove=REG_VALUE,BY_REFERENCE,HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris Probe Paths\InstallDir
remove=REG_VALUE,BY_REFERENCE,HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris Probe Paths\ShortDir
remove=REG_VALUE,BY_REFERENCE,HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris Probe Paths\StreamDir
remove=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%\Kelvaris Probe
CFG

e2e_check "Wine gives Program Files (x86) an 8.3 name ($short)" test -n "$short"
code=$(wine_exit_code 'C:\Tools\sweeptool.exe' --NOGUI --noreboot)
e2e_equal "the run goes through (3010: restart needed)" 3010 "$code"

key_in() { wine reg query "$1" "/reg:$2" >/dev/null 2>&1; }
not() { ! "$@"; }
e2e_check "kept: HKLM\\SOFTWARE\\Microsoft (64-bit view)" key_in 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion' 64
e2e_check "kept: HKLM\\SOFTWARE\\Microsoft (32-bit view)" key_in 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion' 32
e2e_check "kept: the user's Software key with another program's key" key_in 'HKCU\Software\OtherApp' 64
e2e_check "removed: the product's key below SOFTWARE" not key_in 'HKLM\SOFTWARE\Kelvaris Probe' 64

log="$c/ProgramData/Kelvaris/Logs/tool/sweeptool.log"
text=$(iconv -f UTF-16LE -t UTF-8 "$log" 2>/dev/null | tr -d '\r')
refusals=$(grep -c 'is a protected location' <<<"$text")
e2e_check "log: a level-2 refusal per protected entry, the 8.3 name $short too (got $refusals)" test "$refusals" -ge 7
e2e_check "log: the stream of Program Files (x86) is not listed" grep -q '\.W: .*names a stream, not listed' <<<"$text"
e2e_check "log: refusals are errors (level 2)" grep -q '\*E: .*is a protected location' <<<"$text"

wine_restart
for p in "$pf/Other Vendor/app.exe" "$c/keep.txt" "$c/users/$user/AppData/Roaming/OtherApp/settings.ini" \
    "$c/windows/system32/kernel32.dll" "$pf"; do
    e2e_check "intact after the restart: ${p#"$c"/}" test -e "$p"
done
e2e_check "gone after the restart: the product's folder below Program Files" test ! -e "$pf/Kelvaris Probe"
[ -n "${E2E_KEEP_LOG:-}" ] && cp "$log" "$E2E_KEEP_LOG"
e2e_summary
