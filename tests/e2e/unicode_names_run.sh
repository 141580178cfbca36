#!/usr/bin/env bash
# Names outside the machine's legacy code page (1252) under Wine with the real sweeptool.exe
# --NOGUI --noreboot and a restart, in two Wine machines seeded alike:
# - a configuration saved in Windows-1252 names "naïve.txt" and "Café" in its own bytes and
#   reaches Greek and Cyrillic names through wildcards and the profile folders;
# - a configuration saved in UTF-8 with a byte order mark names Greek, Cyrillic and CJK files,
#   folders, registry keys and values directly.
# Beside them stand ASCII look-alikes ("Omega" for "Ωmega", ignored) and bystanders whose names
# differ from removed ones in one such letter ("Kelvarίs" with a Greek iota): all of them stay.
# The log names each removed object in its own letters, never by a best-fit alias or as "??",
# and --check tells which encoding it read each configuration in.
set -uo pipefail
build=${1:?build folder with sweeptool.exe}
here=$(cd "$(dirname "$0")/../.." && pwd)
. "$here/scripts/lib/wine.sh"
# Unix file names in the Wine machine's drive are UTF-8; Wine passes names on through this locale.
export LC_ALL=C.UTF-8
work=$(mktemp -d /tmp/sweep-unicode.XXXXXX)
trap 'rm -rf "$work"' EXIT

not() { ! "$@"; }
reg_has() { wine reg query "$@" </dev/null >/dev/null 2>&1; }
# A registry file (UTF-16 with its mark, CR LF) imported into one view.
reg_import() { { printf '\xef\xbb\xbfWindows Registry Editor Version 5.00\n'; cat; } | sed 's/$/\r/' |
    iconv -f UTF-8 -t UTF-16LE >"$c/seed.reg" && wine reg import 'C:\seed.reg' "/reg:$1" >/dev/null 2>&1; }

# A Wine machine of its own with every object both runs look at, and the tool in C:\Tools.
new_machine() {
    local f u
    wine_new_prefix
    c="$WINEPREFIX/drive_c"
    pf="$c/Program Files (x86)"
    user=$(ls "$c/users" | grep -vix public | head -n 1)
    logs="$c/ProgramData/Kelvaris/Logs/tool"
    mkdir -p "$c/Tools"
    cp "$build/sweeptool.exe" "$build/instkvps_x64.exe" "$c/Tools/"
    for f in Kelvaris/Ωmega/data.bin Kelvaris/Omega/keep.bin Kelvaris/报告/摘要.txt Kelvaris/Дневник.txt \
        Kelvaris/naïve.txt Kelvaris/naive.txt Kelvaris/Café/menu.txt Kelvaris/Cafe/menu.txt \
        Kelvarίs/Ωmega/data.bin Kelvarίs/Дневник.txt Kelvarίs/naïve.txt; do
        mkdir -p "$(dirname "$pf/$f")" && echo x >"$pf/$f"
    done
    for u in "$user" Дмитрий; do
        for f in Kelvaris/Журнал/today.log Kelvaris/Журналы/old.log Kelvarίs/keep.ini; do
            mkdir -p "$(dirname "$c/users/$u/AppData/Roaming/$f")" && echo x >"$c/users/$u/AppData/Roaming/$f"
        done
    done
    reg_import 64 <<'REG'
[HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris]
"Дата"="报告"
[HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris\Ωmega]
"Версия"="1"
[HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris\Ωmega\报告]
"Дата"="报告"
[HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris\Omega]
"Version"="1"
[HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris\Café]
[HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris\Cafe]
[HKEY_LOCAL_MACHINE\SOFTWARE\Kelvarίs\Ωmega]
"Дата"="报告"
REG
    # Values matched by their data are read in the 32-bit view.
    reg_import 32 <<'REG'
[HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris]
"Путь"="C:\\Program Files (x86)\\Kelvaris\\报告"
"Заметка"="C:\\Program Files (x86)\\Kelvaris\\报告书"
REG
    rm -f "$c/seed.reg"
    # Every record, deletions included, goes to the log (the tool reads the 32-bit view).
    wine reg add 'HKLM\SOFTWARE\Kelvaris\QMR\Logging' /v LogLevel /t REG_DWORD /d 5 /f /reg:32 >/dev/null 2>&1
    wine reg add 'HKLM\SOFTWARE\Kelvaris\QMR\Logging' /v LogMaxSizeKB /t REG_DWORD /d 16384 /f /reg:32 >/dev/null 2>&1
}

# The configuration (all six sections, CR LF) with the lines of stdin in the last three.
config() { sed 's/$/\r/' >"$c/Tools/sweeptool.cfg"; }

# --check, the run and the restart; then each line of stdin, "what object", is checked:
# gone/kept (a path below drive C), key/nokey (a 64-bit key below HKLM), val/noval ("key|value|view"),
# removed/notremoved (the log's record of a removal naming it), log/nolog (a text of the log).
run_and_check() {
    local name=$1 encoding=$2 out code text what obj k v view found
    out=$(wine cmd /c "C:\\Tools\\sweeptool.exe --check & echo EXIT=%errorlevel%" 2>/dev/null | tr -d '\r')
    e2e_equal "$name: --check finds no errors" 0 "$(sed -n 's/^EXIT=//p' <<<"$out" | tail -n 1)"
    e2e_check "$name: --check says it read $encoding" grep -qxF "C:\\Tools\\sweeptool.cfg: read as $encoding" <<<"$out"
    code=$(wine_exit_code 'C:\Tools\sweeptool.exe' --NOGUI --noreboot)
    e2e_equal "$name: the run goes through (3010: restart needed)" 3010 "$code"
    text=$(printf '%s\n' "$out"; iconv -f UTF-16LE -t UTF-8 "$logs/sweeptool.log" 2>/dev/null | tr -d '\r')
    wine_restart
    while read -r what obj; do
        [ -n "$what" ] || continue
        obj=${obj//@U/$user}
        IFS='|' read -r k v view <<<"$obj"
        case $what in
        gone) e2e_check "$name: gone: $obj" test ! -e "$c/$obj" ;;
        kept) e2e_check "$name: kept: $obj" test -e "$c/$obj" ;;
        key) e2e_check "$name: kept: key $obj" reg_has "HKLM\\$obj" /reg:64 ;;
        nokey) e2e_check "$name: removed: key $obj" not reg_has "HKLM\\$obj" /reg:64 ;;
        val) e2e_check "$name: kept: value $obj" reg_has "HKLM\\$k" /v "$v" "/reg:$view" ;;
        noval) e2e_check "$name: removed: value $obj" not reg_has "HKLM\\$k" /v "$v" "/reg:$view" ;;
        removed | notremoved)
            grep -F -- "$obj' was successful" <<<"$text" | grep -qE 'MoveFileEx for|Deleting registry'
            found=$?
            e2e_equal "$name: log: $what '$obj'" "$([ "$what" = removed ] && echo 0 || echo 1)" "$found" ;;
        log) e2e_check "$name: log holds: $obj" grep -qF -- "$obj" <<<"$text" ;;
        nolog) e2e_check "$name: log lacks: $obj" not grep -qF -- "$obj" <<<"$text" ;;
        esac
    done
}

# --- The configuration in Windows-1252: only what that code page spells is written out, in its
# own bytes; "?" and "*" stand for the Greek letter, %APPDATA% reaches the Cyrillic profile.
case_1252() {
    new_machine
    iconv -f UTF-8 -t WINDOWS-1252 <<'CFG' | config
[msi upgradecode 1]
[service 1]
[process 1]
[registry value 1]
[registry key 1]
remove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris\*mega
remove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris\Café
ignore=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris\Omega
[file 1]
remove=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%\Kelvaris\naïve.txt
remove=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%\Kelvaris\Café
remove=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%\Kelvaris\?mega
remove=FILE_NAME_EXPAND,BY_VALUE,%APPDATA%\Kelvaris
ignore=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%\Kelvaris\Omega
CFG
    e2e_check "1252: the configuration holds 'ï' as the single byte EF" grep -q $'na\xefve' "$c/Tools/sweeptool.cfg"
    run_and_check 1252 "ANSI code page 1252" <<'EXPECT'
gone Program Files (x86)/Kelvaris/naïve.txt
gone Program Files (x86)/Kelvaris/Café
gone Program Files (x86)/Kelvaris/Ωmega
gone users/@U/AppData/Roaming/Kelvaris
gone users/Дмитрий/AppData/Roaming/Kelvaris
kept Program Files (x86)/Kelvaris/naive.txt
kept Program Files (x86)/Kelvaris/Cafe/menu.txt
kept Program Files (x86)/Kelvaris/Omega/keep.bin
kept Program Files (x86)/Kelvaris/报告/摘要.txt
kept Program Files (x86)/Kelvaris/Дневник.txt
kept Program Files (x86)/Kelvarίs/naïve.txt
kept Program Files (x86)/Kelvarίs/Ωmega/data.bin
kept users/Дмитрий/AppData/Roaming/Kelvarίs/keep.ini
nokey SOFTWARE\Kelvaris\Ωmega
nokey SOFTWARE\Kelvaris\Café
val SOFTWARE\Kelvaris\Omega|Version|64
key SOFTWARE\Kelvaris\Cafe
val SOFTWARE\Kelvarίs\Ωmega|Дата|64
removed (X86)\KELVARIS\NAÏVE.TXT
removed (X86)\KELVARIS\CAFÉ
removed (X86)\KELVARIS\ΩMEGA
removed SOFTWARE\KELVARIS\ΩMEGA
removed SOFTWARE\KELVARIS\CAFÉ
removed USERS\ДМИТРИЙ\APPDATA\ROAMING\KELVARIS
log KELVARIS\OMEGA' excluded
nolog KELVARIS\ΩMEGA' excluded
notremoved KELVARIS\OMEGA
nolog ??
EXPECT
}

# --- The configuration in UTF-8 with a byte order mark, naming every object in its own letters
# ("дневник" in lower case, for "Дневник").
case_utf8() {
    new_machine
    { printf '\xef\xbb\xbf'; cat; } <<'CFG' | config
[msi upgradecode 1]
[service 1]
[process 1]
[registry value 1]
remove=REG_VALUE,BY_VALUE,HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris\Дата
remove=REG_VALUE,BY_DATA_MATCH,"HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris\*","*\报告"
[registry key 1]
remove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris\Ωmega
ignore=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris\Omega
[file 1]
remove=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%\Kelvaris\Ωmega
remove=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%\Kelvaris\报告
remove=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%\Kelvaris\дневник.txt
remove=FILE_NAME_EXPAND,BY_VALUE,%APPDATA%\Kelvaris\Журнал
ignore=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%\Kelvaris\Omega
CFG
    # --check tells the ignore line of Omega from Ωmega: it reaches nothing the file lists.
    run_and_check utf8 "UTF-8 with a byte order mark" <<'EXPECT'
log so the ignore line keeps nothing: ignore=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%\Kelvaris\Omega
gone Program Files (x86)/Kelvaris/Ωmega
gone Program Files (x86)/Kelvaris/报告
gone Program Files (x86)/Kelvaris/Дневник.txt
gone users/@U/AppData/Roaming/Kelvaris/Журнал
gone users/Дмитрий/AppData/Roaming/Kelvaris/Журнал
kept Program Files (x86)/Kelvaris/Omega/keep.bin
kept Program Files (x86)/Kelvaris/naïve.txt
kept Program Files (x86)/Kelvaris/Café/menu.txt
kept Program Files (x86)/Kelvarίs/Ωmega/data.bin
kept Program Files (x86)/Kelvarίs/Дневник.txt
kept users/Дмитрий/AppData/Roaming/Kelvaris/Журналы/old.log
kept users/Дмитрий/AppData/Roaming/Kelvarίs/keep.ini
nokey SOFTWARE\Kelvaris\Ωmega
noval SOFTWARE\Kelvaris|Дата|64
noval SOFTWARE\Kelvaris|Путь|32
val SOFTWARE\Kelvaris|Заметка|32
val SOFTWARE\Kelvaris\Omega|Version|64
val SOFTWARE\Kelvarίs\Ωmega|Дата|64
removed (X86)\KELVARIS\ΩMEGA
removed (X86)\KELVARIS\报告
removed (X86)\KELVARIS\ДНЕВНИК.TXT
removed SOFTWARE\KELVARIS\ΩMEGA
removed SOFTWARE\KELVARIS\ΩMEGA\报告
removed SOFTWARE\KELVARIS\ДАТА
removed USERS\ДМИТРИЙ\APPDATA\ROAMING\KELVARIS\ЖУРНАЛ
log LogListContent: HKEY_LOCAL_MACHINE\SOFTWARE\KELVARIS\ПУТЬ
nolog KELVARIS\ΩMEGA' excluded
notremoved KELVARIS\OMEGA
nolog ??
EXPECT
}

# The two runs mostly wait out the tool's pauses: each goes in a machine of its own, side by
# side, and their results are read in order once both have ended.
for name in 1252 utf8; do
    ( trap wine_drop_prefix EXIT; "case_$name" ) >"$work/out-$name.txt" 2>&1 &
done
wait
cat "$work"/out-1252.txt "$work"/out-utf8.txt
E2E_PASSED=$(cat "$work"/out-*.txt | grep -c '^PASS:')
E2E_FAILED=$(cat "$work"/out-*.txt | grep -c '^FAIL:')
e2e_summary
