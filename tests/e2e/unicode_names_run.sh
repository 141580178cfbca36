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
# Unix file names in the Wine machine's drive are UTF-8, and Wine passes arguments and names on
# through this locale.
export LC_ALL=C.UTF-8

work=$(mktemp -d /tmp/sweep-unicode.XXXXXX)
trap 'rm -rf "$work"' EXIT

put() { mkdir -p "$(dirname "$1")" && printf 'x\n' >"$1"; }
present() { [ -e "$1" ]; }
absent() { [ ! -e "$1" ]; }
not() { ! "$@"; }
key_in() { wine reg query "$1" /reg:64 >/dev/null 2>&1; }
value_in() { wine reg query "$1" /v "$2" "/reg:${3:-64}" >/dev/null 2>&1; }

# A Wine machine of its own with every object both runs look at, and the tool in C:\Tools.
# The registry goes in with an import of a UTF-16 file in each view.
new_machine() {
    local u
    wine_new_prefix
    c="$WINEPREFIX/drive_c"
    pf="$c/Program Files (x86)"
    user=$(ls "$c/users" | grep -vix public | head -n 1)
    logs="$c/ProgramData/Kelvaris/Logs/tool"
    mkdir -p "$c/Tools"
    cp "$build/sweeptool.exe" "$build/instkvps_x64.exe" "$c/Tools/"
    put "$pf/Kelvaris/Ωmega/data.bin"
    put "$pf/Kelvaris/Omega/keep.bin"
    put "$pf/Kelvaris/报告/摘要.txt"
    put "$pf/Kelvaris/Дневник.txt"
    put "$pf/Kelvaris/naïve.txt"
    put "$pf/Kelvaris/naive.txt"
    put "$pf/Kelvaris/Café/menu.txt"
    put "$pf/Kelvaris/Cafe/menu.txt"
    put "$pf/Kelvarίs/Ωmega/data.bin"
    put "$pf/Kelvarίs/Дневник.txt"
    put "$pf/Kelvarίs/naïve.txt"
    for u in "$user" Дмитрий; do
        put "$c/users/$u/AppData/Roaming/Kelvaris/Журнал/today.log"
        put "$c/users/$u/AppData/Roaming/Kelvaris/Журналы/old.log"
        put "$c/users/$u/AppData/Roaming/Kelvarίs/keep.ini"
    done
    {
        printf '\xef\xbb\xbf'
        cat <<'REG'
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris]
"Дата"="报告"

[HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris\Ωmega]
"Версия"="1"

[HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris\Ωmega\报告]
"Дата"="报告"

[HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris\Omega]
"Version"="1"

[HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris\Café]
"Menu"="1"

[HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris\Cafe]
"Menu"="1"

[HKEY_LOCAL_MACHINE\SOFTWARE\Kelvarίs\Ωmega]
"Дата"="报告"
REG
    } | sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16LE >"$c/seed.reg"
    wine reg import 'C:\seed.reg' /reg:64 >/dev/null 2>&1
    # Values matched by their data are read in the 32-bit view.
    {
        printf '\xef\xbb\xbf'
        cat <<'REG'
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris]
"Путь"="C:\\Program Files (x86)\\Kelvaris\\报告"
"Заметка"="C:\\Program Files (x86)\\Kelvaris\\报告书"
REG
    } | sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16LE >"$c/seed.reg"
    wine reg import 'C:\seed.reg' /reg:32 >/dev/null 2>&1
    rm -f "$c/seed.reg"
    # Every record, deletions included, goes to the log (the tool reads the 32-bit view).
    wine reg add 'HKLM\SOFTWARE\Kelvaris\QMR\Logging' /v LogLevel /t REG_DWORD /d 5 /f /reg:32 >/dev/null 2>&1
    wine reg add 'HKLM\SOFTWARE\Kelvaris\QMR\Logging' /v LogMaxSizeKB /t REG_DWORD /d 16384 /f /reg:32 >/dev/null 2>&1
}

# The tool started from cmd, its console output caught (as UTF-8) with its exit code.
console_of() { wine cmd /c "C:\\Tools\\sweeptool.exe $* & echo EXIT=%errorlevel%" 2>/dev/null | tr -d '\r'; }
exit_in() { sed -n 's/^EXIT=//p' <<<"$1" | tail -n 1; }

# --check, the run and the restart, with the configuration in place; the check's output is left
# in $check_out and the log's text in $text.
check_out=
text=
run_tool() {
    local name=$1 code
    check_out=$(console_of --check)
    e2e_equal "$name: --check finds no errors" 0 "$(exit_in "$check_out")"
    code=$(wine_exit_code 'C:\Tools\sweeptool.exe' --NOGUI --noreboot)
    e2e_equal "$name: the run goes through (3010: restart needed)" 3010 "$code"
    text=$(iconv -f UTF-16LE -t UTF-8 "$logs/sweeptool.log" 2>/dev/null | tr -d '\r')
    printf '%s\n%s\n' "$check_out" "$text" >"$work/log-$name.txt"
    wine_restart
}
logged() { grep -qF -- "$1" <<<"$text"; }
# The log's record of a removal, naming the object in upper case as the configuration's paths
# are: a file or folder leaves for the staging folder, a key or value is deleted.
removal_logged() { grep -F -- "$1' was successful" <<<"$text" | grep -qE 'MoveFileEx for|Deleting registry'; }

# --- The configuration in Windows-1252: only what that code page spells is written out, in
# its own bytes; "?" and "*" stand for the Greek letter.
case_1252() {
    new_machine
    iconv -f UTF-8 -t WINDOWS-1252 <<'CFG' | sed 's/$/\r/' >"$c/Tools/sweeptool.cfg"
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
    run_tool 1252
    e2e_check "1252: --check says it read the file in code page 1252" \
        grep -qx 'C:\\Tools\\sweeptool.cfg: read as ANSI code page 1252' <<<"$check_out"

    local p r
    for p in "$pf/Kelvaris/naïve.txt" "$pf/Kelvaris/Café" "$pf/Kelvaris/Ωmega" \
        "$c/users/$user/AppData/Roaming/Kelvaris" "$c/users/Дмитрий/AppData/Roaming/Kelvaris"; do
        e2e_check "1252: gone after the restart: ${p#"$c"/}" absent "$p"
    done
    for p in "$pf/Kelvaris/naive.txt" "$pf/Kelvaris/Cafe/menu.txt" "$pf/Kelvaris/Omega/keep.bin" \
        "$pf/Kelvaris/报告/摘要.txt" "$pf/Kelvaris/Дневник.txt" "$pf/Kelvarίs/naïve.txt" "$pf/Kelvarίs/Ωmega/data.bin" \
        "$c/users/Дмитрий/AppData/Roaming/Kelvarίs/keep.ini"; do
        e2e_check "1252: intact after the restart: ${p#"$c"/}" present "$p"
    done
    e2e_check "1252: removed: key Kelvaris\\Ωmega (by \"*mega\")" not key_in 'HKLM\SOFTWARE\Kelvaris\Ωmega'
    e2e_check "1252: removed: key Kelvaris\\Café" not key_in 'HKLM\SOFTWARE\Kelvaris\Café'
    e2e_check "1252: kept: ignored key Kelvaris\\Omega" value_in 'HKLM\SOFTWARE\Kelvaris\Omega' Version
    e2e_check "1252: kept: key Kelvaris\\Cafe" key_in 'HKLM\SOFTWARE\Kelvaris\Cafe'
    e2e_check "1252: kept: key Kelvarίs\\Ωmega outside the listed key" value_in 'HKLM\SOFTWARE\Kelvarίs\Ωmega' Дата
    for r in '(X86)\KELVARIS\NAÏVE.TXT' '(X86)\KELVARIS\CAFÉ' '(X86)\KELVARIS\ΩMEGA' 'SOFTWARE\KELVARIS\ΩMEGA' \
        'SOFTWARE\KELVARIS\CAFÉ' 'USERS\ДМИТРИЙ\APPDATA\ROAMING\KELVARIS'; do
        e2e_check "1252: log: the removal of '$r'" removal_logged "$r"
    done
    e2e_check "1252: log: the ignore line takes out KELVARIS\\OMEGA" logged "KELVARIS\\OMEGA' excluded"
    e2e_check "1252: log: ... and not KELVARIS\\ΩMEGA" not logged "KELVARIS\\ΩMEGA' excluded"
    e2e_check "1252: log: nothing removed under the alias 'OMEGA'" not removal_logged 'KELVARIS\OMEGA'
    e2e_check "1252: log: no name spelt with '??'" not logged '??'
}

# --- The configuration in UTF-8 with a byte order mark, naming every object in its own letters
# ("дневник" in lower case, for "Дневник").
case_utf8() {
    new_machine
    {
        printf '\xef\xbb\xbf'
        cat <<'CFG'
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
    } | sed 's/$/\r/' >"$c/Tools/sweeptool.cfg"
    run_tool utf8
    e2e_check "utf8: --check says it read the file as UTF-8 with its byte order mark" \
        grep -qx 'C:\\Tools\\sweeptool.cfg: read as UTF-8 with a byte order mark' <<<"$check_out"
    e2e_check "utf8: --check sees that the ignore line of Omega reaches nothing listed (not Ωmega)" \
        grep -qF 'so the ignore line keeps nothing: ignore=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%\Kelvaris\Omega' <<<"$check_out"

    local p r
    for p in "$pf/Kelvaris/Ωmega" "$pf/Kelvaris/报告" "$pf/Kelvaris/Дневник.txt" \
        "$c/users/$user/AppData/Roaming/Kelvaris/Журнал" "$c/users/Дмитрий/AppData/Roaming/Kelvaris/Журнал"; do
        e2e_check "utf8: gone after the restart: ${p#"$c"/}" absent "$p"
    done
    for p in "$pf/Kelvaris/Omega/keep.bin" "$pf/Kelvaris/naïve.txt" "$pf/Kelvaris/Café/menu.txt" \
        "$pf/Kelvarίs/Ωmega/data.bin" "$pf/Kelvarίs/Дневник.txt" \
        "$c/users/Дмитрий/AppData/Roaming/Kelvaris/Журналы/old.log" "$c/users/Дмитрий/AppData/Roaming/Kelvarίs/keep.ini"; do
        e2e_check "utf8: intact after the restart: ${p#"$c"/}" present "$p"
    done
    e2e_check "utf8: removed: key Kelvaris\\Ωmega with its subkey 报告" not key_in 'HKLM\SOFTWARE\Kelvaris\Ωmega'
    e2e_check "utf8: removed: value Kelvaris\\Дата" not value_in 'HKLM\SOFTWARE\Kelvaris' Дата
    e2e_check "utf8: removed: value Kelvaris\\Путь (its data ends in \\报告)" not value_in 'HKLM\SOFTWARE\Kelvaris' Путь 32
    e2e_check "utf8: kept: value Kelvaris\\Заметка (its data ends in \\报告书)" value_in 'HKLM\SOFTWARE\Kelvaris' Заметка 32
    e2e_check "utf8: kept: ignored key Kelvaris\\Omega" value_in 'HKLM\SOFTWARE\Kelvaris\Omega' Version
    e2e_check "utf8: kept: key Kelvarίs\\Ωmega outside the listed key" value_in 'HKLM\SOFTWARE\Kelvarίs\Ωmega' Дата
    for r in '(X86)\KELVARIS\ΩMEGA' '(X86)\KELVARIS\报告' '(X86)\KELVARIS\ДНЕВНИК.TXT' 'SOFTWARE\KELVARIS\ΩMEGA' \
        'SOFTWARE\KELVARIS\ΩMEGA\报告' 'SOFTWARE\KELVARIS\ДАТА' 'USERS\ДМИТРИЙ\APPDATA\ROAMING\KELVARIS\ЖУРНАЛ'; do
        e2e_check "utf8: log: the removal of '$r'" removal_logged "$r"
    done
    # The deletion record of a value in the 32-bit view names its key alone: the list names it.
    e2e_check "utf8: log: the value list names KELVARIS\\ПУТЬ, found by its data" \
        logged 'LogListContent: HKEY_LOCAL_MACHINE\SOFTWARE\KELVARIS\ПУТЬ'
    e2e_check "utf8: log: the ignore line of OMEGA does not take out KELVARIS\\ΩMEGA" not logged "KELVARIS\\ΩMEGA' excluded"
    e2e_check "utf8: log: nothing removed under the alias 'OMEGA'" not removal_logged 'KELVARIS\OMEGA'
    e2e_check "utf8: log: no name spelt with '??'" not logged '??'
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
[ -n "${E2E_KEEP_LOG:-}" ] && cat "$work"/log-*.txt >"$E2E_KEEP_LOG"
e2e_summary
