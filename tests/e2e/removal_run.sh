#!/usr/bin/env bash
# The whole removal run under Wine with the real sweeptool.exe --NOGUI --noreboot on the
# demo product: files in Program Files and two profiles, registry entries in both views,
# a read-only file, a key that refuses deletion, and a configuration with wildcards,
# macros, data matches and ignore entries. Then a restart of the Wine machine.
set -uo pipefail
build=${1:?build folder with sweeptool.exe}
here=$(cd "$(dirname "$0")/../.." && pwd)
. "$here/scripts/lib/wine.sh"

wine_new_prefix
trap wine_drop_prefix EXIT
c="$WINEPREFIX/drive_c"
bash "$here/demo/prepare.sh" "$build"
mkdir -p "$c/Tools"
cp "$build/sweeptool.exe" "$build/instkvps_x64.exe" "$c/Tools/"
cp "$here/demo/sweeptool.cfg" "$c/Tools/sweeptool.cfg"
user=$(ls "$c/users" | grep -vix public | grep -vx Second | head -n 1)
pf="$c/Program Files (x86)"

key_in() { wine reg query "$1" "/reg:$2" >/dev/null 2>&1; }
value_in() { wine reg query "$1" /v "$2" "/reg:$3" >/dev/null 2>&1; }
present() { [ -e "$1" ]; }
not() { ! "$@"; }
absent() { [ ! -e "$1" ]; }

# A registry link a user planted in a listed key, pointing at a key outside the plan.
wine reg add 'HKLM\SOFTWARE\LinkVictim\Deep' /v Data /d victim /f /reg:64 >/dev/null 2>&1
wine "$build/programs/make_key_link.exe" HKLM 'SOFTWARE\Kelvaris Demo\Components\Evil' \
    '\Registry\Machine\SOFTWARE\LinkVictim' 64 >/dev/null 2>&1
e2e_check "planted: a link below a listed key leads to another key" \
    value_in 'HKLM\SOFTWARE\Kelvaris Demo\Components\Evil\Deep' Data 64
code=$(wine_exit_code 'C:\Tools\sweeptool.exe' --NOGUI --noreboot)
e2e_equal "the run goes through (3010: restart needed)" 3010 "$code"

# Registry, right after the run.
e2e_check "removed: 64-bit-only key Kelvaris Demo Agent (wildcard)" not key_in 'HKLM\SOFTWARE\Kelvaris Demo Agent' 64
e2e_check "removed: subtree Kelvaris Demo\\Components (64-bit view)" \
    not key_in 'HKLM\SOFTWARE\Kelvaris Demo\Components' 64
e2e_check "removed: value Kelvaris Demo\\Version (64-bit view)" \
    not value_in 'HKLM\SOFTWARE\Kelvaris Demo' Version 64
e2e_check "removed: uninstall entry found by its DisplayName (data match)" \
    not key_in 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{6F2A5C11-0D3E-4B7A-9C21-3E5D0A7B9F10}' 64
e2e_check "removed: Run value of the 32-bit view found by its data" \
    not value_in 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run' KelvarisDemo 32
e2e_check "removed: Run value that exists only in the 64-bit view" \
    not value_in 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run' KelvarisDemo64 64
e2e_check "removed: the user's key, with the subkey that refused deletion" \
    not key_in 'HKCU\Software\Kelvaris Demo' 64
e2e_check "removed: the user's Run value" \
    not value_in 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' KelvarisDemoUser 64
e2e_check "kept: ignored key Kelvaris Demo\\Shared with its value" \
    value_in 'HKLM\SOFTWARE\Kelvaris Demo\Shared' Owner 64
e2e_check "kept: ignored value Kelvaris Demo\\InstallDir" \
    value_in 'HKLM\SOFTWARE\Kelvaris Demo' InstallDir 64
e2e_check "kept: another vendor's uninstall entry" \
    key_in 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{0B8E3D22-7A41-4C19-8E53-A1F2C4D6E830}' 64
e2e_check "kept: another vendor's Run value" \
    value_in 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run' OtherTray 32
e2e_check "kept: unlisted 32-bit key Kelvaris Shared" key_in 'HKLM\SOFTWARE\Kelvaris Shared' 32
e2e_check "kept: the key the planted link led to, with its subkey" value_in 'HKLM\SOFTWARE\LinkVictim\Deep' Data 64
# grep reads all its input: with -q it would stop early, and under pipefail the writer's broken pipe
# would fail the check whatever it found.
saved() { find "$c" -iname 'sweeptool-*.reg' -exec cat {} + 2>/dev/null | iconv -f UTF-16LE -t UTF-8 | grep -iF -- "$1" >/dev/null; }
e2e_check "backup: the listed key is saved" saved 'Kelvaris Demo\Components'
e2e_check "backup: nothing read through the link" not saved LinkVictim

# Files leave their folders during the run for the volume's staging folder; only names in it
# are queued for the restart.
pending=$(wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations 2>/dev/null | tr -d '\r' |
    sed -n 's/.*REG_MULTI_SZ *//p' | sed 's/\\0/\n/g' | sed 's/^\\??\\//' | grep -v '^$')
only_staged() { [ -n "$pending" ] && ! grep -qiv '^C:\\\$SweepTool\.Staging\.' <<<"$pending"; }
e2e_check "only names inside the staging folder are queued" only_staged
for p in "$pf/Kelvaris Demo/readme.txt" "$pf/Kelvaris Demo/Bin/Plugins/scanner.dll" "$pf/Kelvaris Demo Tools" \
    "$c/users/$user/AppData/Roaming/Kelvaris Demo/settings.ini" \
    "$c/users/Second/AppData/Roaming/Kelvaris Demo/History/today.log"; do
    e2e_check "left its folder during the run: ${p#"$c"/}" absent "$p"
done

# The log.
log="$c/ProgramData/Kelvaris/Logs/tool/sweeptool.log"
text=$(iconv -f UTF-16LE -t UTF-8 "$log" 2>/dev/null | tr -d '\r')
logged() { grep -qF -- "$1" <<<"$text"; }
logged_re() { grep -qE -- "$1" <<<"$text"; }
e2e_check "log: the version record" logged_re 'Binary version: [0-9]+\.[0-9]+\.[0-9]+\.[0-9]+, compilation time: [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4} [0-9:]{8}$'
for r in "InitRemoveFileList was successful with '" "InitRemoveRegKeyList was successful with '" \
    "PopulateRemoveRegList was successful with '" "PopulateRemoveFileList was successful with '" \
    "MoveFileEx for 'C:\\PROGRAM FILES (X86)\\KELVARIS DEMO\\README.TXT' was successful" \
    "holds 'C:\\PROGRAMDATA\\KVDEMOCACHE\\KVDEMO.ID', but it or the folder is not owned by Administrators, SYSTEM or TrustedInstaller" \
    "Deleting registry key 'HKEY_CURRENT_USER\\SOFTWARE\\KELVARIS DEMO' was successful" \
    "ExcludeIgnoreList: object 'HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS DEMO\\SHARED' excluded" \
    "'HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS DEMO\\COMPONENTS\\EVIL' is a link, not followed"; do
    e2e_check "log: $r" logged "$r"
done

# The restart carries out the queued deletions.
wine_restart
for p in "$pf/Kelvaris Demo/demo.exe" "$pf/Kelvaris Demo/readme.txt" "$pf/Kelvaris Demo/Bin" "$pf/Kelvaris Demo Tools" \
    "$c/users/$user/AppData/Roaming/Kelvaris Demo" "$c/users/Second/AppData/Roaming/Kelvaris Demo/settings.ini"; do
    e2e_check "gone after the restart: ${p#"$c"/}" absent "$p"
done
for p in "$pf/Kelvaris Demo/Licenses/license.key" "$c/users/Second/AppData/Roaming/Kelvaris Demo/Quarantine/held.bin" \
    "$pf/Other Vendor/app.exe" "$c/ProgramData/OtherCache/kvdemo.txt" "$log" \
    "$c/ProgramData/KvDemoCache/kvdemo.id"; do
    e2e_check "intact after the restart: ${p#"$c"/}" present "$p"
done
[ -n "${E2E_KEEP_LOG:-}" ] && cp "$log" "$E2E_KEEP_LOG"
e2e_summary
