#!/usr/bin/env bash
# A run ended on the way is finished by the next. A product of a few thousand files and keys,
# with an installed package and a running service, is built once; the Wine machine is copied.
# On one copy two runs start at once: one removes the product, the other ends with 1618. On
# the others the real sweeptool.exe process is ended while it builds its lists, while it
# moves the files and while it deletes the registry entries; the tool is run again. After the
# restart every copy holds the same files, keys, values, services and products.
set -uo pipefail
build=${1:?build folder with sweeptool.exe}
here=$(cd "$(dirname "$0")/../.." && pwd)
. "$here/scripts/lib/wine.sh"

UC='{3C4D5E6F-7A8B-4C9D-8E0F-1A2B3C4D5E6F}'
PC='{3C4D5E6F-7A8B-4C9D-8E0F-1A2B3C4D5E70}'
FOLDERS=20 PER_FOLDER=100

copies=()
drop_all() {
    local p
    for p in "${copies[@]}"; do WINEPREFIX=$p wine_drop_prefix; done
}
trap drop_all EXIT

wine_new_prefix
copies+=("$WINEPREFIX")
c="$WINEPREFIX/drive_c"
pf="$c/Program Files (x86)"

# The installed package, and the service, whose program lies in the product's folder.
mkdir -p "$c/pkgs" "$c/Tools" "$pf/KvCut/svc"
bash "$here/tests/windows/packages/make_msi.sh" "$c/pkgs/kvcut.msi" KvCutSuite "$PC" "$UC" 1.0.0 'Kelvaris Corporation' >/dev/null
wine msiexec /i 'C:\pkgs\kvcut.msi' /qn >/dev/null 2>&1
cp "$build/programs/kvsvc.exe" "$pf/KvCut/svc/kvcutsvc.exe"
wine sc create KvCutSvc binPath= 'C:\Program Files (x86)\KvCut\svc\kvcutsvc.exe' start= auto >/dev/null 2>&1

# The files, folders of a hundred each, and as many keys with a value each, most of them in
# the 64-bit view, some in the 32-bit one. No key is in both views: a run deletes such a key
# in the 32-bit view only, and the next run its 64-bit copy, so one run and two would differ.
for ((d = 0; d < FOLDERS; d++)); do
    mkdir -p "$pf/KvCut/data/d$d"
    for ((f = 0; f < PER_FOLDER; f++)); do echo "$d.$f" >"$pf/KvCut/data/d$d/f$f.dat"; done
done
reg_file() {
    local root=$1 from=$2 to=$3 d k
    echo 'Windows Registry Editor Version 5.00'
    for ((d = from; d < to; d++)); do
        for ((k = 0; k < PER_FOLDER; k++)); do
            printf '\r\n[%s\\k%d\\k%d]\r\n"Data"="%d.%d"\r\n' "$root" "$d" "$k" "$d" "$k"
        done
    done
}
reg_file 'HKEY_LOCAL_MACHINE\SOFTWARE\KvCut' 0 $((FOLDERS - 5)) >"$c/keys64.reg"
reg_file 'HKEY_LOCAL_MACHINE\SOFTWARE\KvCutAgent' $((FOLDERS - 5)) "$FOLDERS" >"$c/keys32.reg"
wine reg import 'C:\keys64.reg' /reg:64 >/dev/null 2>&1
wine reg import 'C:\keys32.reg' /reg:32 >/dev/null 2>&1
rm -f "$c/keys64.reg" "$c/keys32.reg"

cp "$build/sweeptool.exe" "$build/instkvps_x64.exe" "$build/programs/proclist.exe" "$build/programs/msiquery.exe" "$c/Tools/"
cat >"$c/Tools/sweeptool.cfg" <<CFG
[msi upgradecode 1]
remove=GUID,BY_VALUE,$UC
[service 1]
remove=SERVICE_NAME,BY_VALUE,KvCutSvc
[process 1]
[registry value 1]
[registry key 1]
remove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\SOFTWARE\KvCut
remove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\SOFTWARE\WOW6432Node\KvCutAgent
[file 1]
remove=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%\KvCut
CFG
# One log file for the whole script, which no run rotates.
wine reg add 'HKLM\SOFTWARE\Kelvaris\QMR\Logging' /v LogMaxSizeKB /t REG_DWORD /d 65536 /f /reg:32 >/dev/null 2>&1
wine sc start KvCutSvc >/dev/null 2>&1
running() { wine 'C:\Tools\proclist.exe' 2>/dev/null | tr -d '\r' | grep -cix -- "$1"; }
e2e_equal "before: the service runs" 1 "$(running kvcutsvc.exe)"
e2e_equal "before: the package is installed" "$PC" "$(wine 'C:\Tools\msiquery.exe' related "$UC" 2>/dev/null | tr -d '\r')"
e2e_equal "before: the product's files" $((FOLDERS * PER_FOLDER)) "$(find "$pf/KvCut/data" -type f | wc -l)"
key_in() { wine reg query "$1" "/reg:$2" >/dev/null 2>&1; }
e2e_check "before: the product's keys in the 64-bit view" key_in 'HKLM\SOFTWARE\KvCut\k0\k0' 64
e2e_check "before: and in the 32-bit view" key_in "HKLM\\SOFTWARE\\KvCutAgent\\k$((FOLDERS - 1))\\k0" 32
wineserver -k
wineserver -w

copy_machine() {
    local dir
    dir=$(mktemp -d /tmp/sweep-wine.XXXXXX)
    cp -a "$1" "$dir/pfx"
    copies+=("$dir/pfx")
}
for _ in 1 2 3; do copy_machine "${copies[0]}"; done

log_text() { iconv -f UTF-16LE -t UTF-8 "$WINEPREFIX/drive_c/ProgramData/Kelvaris/Logs/tool/sweeptool.log" 2>/dev/null | tr -d '\r'; }

# What the machine holds, one line per file, key, value, service and product; the tool's own
# log, report and backup files aside, and what Wine itself writes as it runs. A folder's size
# on the disk tells what it once held, not what it holds: it is left out.
inventory() {
    local c="$WINEPREFIX/drive_c" view
    (cd "$c" && find . \( -ipath ./windows/Logs/SweepTool -o -ipath ./ProgramData/Kelvaris/Logs -o -ipath ./windows/temp \
        -o -ipath './users/*/AppData/Local/Temp' -o -ipath './users/*/Temp' \) -prune -o -type d -printf '%y %p\n' \
        -o -printf '%y %p %s\n' | LC_ALL=C sort)
    for view in 32 64; do
        wine reg query 'HKLM\SOFTWARE' /s "/reg:$view" 2>/dev/null | tr -d '\r' | sed "s/^/$view /"
    done
    wine reg query 'HKLM\System\CurrentControlSet\Services' /s /reg:64 2>/dev/null | tr -d '\r'
    wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations 2>/dev/null | tr -d '\r'
    # Wine's RPC server starts when a program first asks for it and ends when idle: whether it
    # runs says nothing of the product.
    echo "running: $(wine 'C:\Tools\proclist.exe' 2>/dev/null | tr -d '\r' | grep -vix 'rpcss.exe' |
        LC_ALL=C sort | tr '\n' ' ')"
    echo "products: $(wine 'C:\Tools\msiquery.exe' related "$UC" 2>/dev/null | tr -d '\r')"
}

# Two starts at once on the first copy: one removes the product, the other finds the first
# under way and ends at once.
both_starts() {
    export WINEPREFIX=$1
    local out=$2
    wine_exit_code 'C:\Tools\sweeptool.exe' --NOGUI --noreboot >"$out.a" &
    wine_exit_code 'C:\Tools\sweeptool.exe' --NOGUI --noreboot >"$out.b" &
    wait
    sort "$out.a" "$out.b" | tr '\n' ' ' >"$out.codes"
    wine_restart
    inventory >"$out.inventory"
}

# Ends the tool's process as soon as the log shows `record`; `after` must not be logged yet.
# Then the tool runs again to its end.
cut_at() {
    export WINEPREFIX=$1
    local record=$2 after=$3 out=$4 pid text
    wine 'C:\Tools\sweeptool.exe' --NOGUI --noreboot >/dev/null 2>&1 &
    pid=$!
    for _ in $(seq 3000); do
        grep -qF -- "$record" <<<"$(log_text)" && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    kill -9 "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    text=$(log_text)
    if grep -qF -- "$record" <<<"$text" && ! grep -qF -- "$after" <<<"$text"; then echo ended >"$out.cut"; else echo missed >"$out.cut"; fi
    grep -c 'LOG AUTO-CLOSED' <<<"$text" >"$out.closed"
    wine_exit_code 'C:\Tools\sweeptool.exe' --NOGUI --noreboot >"$out.codes"
    ls "$WINEPREFIX"/drive_c/windows/[Ll]ogs/SweepTool >"$out.folder" 2>/dev/null
    log_text >"$out.log"
    wine_restart
    inventory >"$out.inventory"
}

work=$(mktemp -d /tmp/sweep-cut.XXXXXX)
trap 'drop_all; rm -rf "$work"' EXIT
both_starts "${copies[0]}" "$work/whole" &
cut_at "${copies[1]}" 'InitRemoveRegKeyList was successful' 'PopulateRemoveFileList was successful' "$work/lists" &
cut_at "${copies[2]}" 'Files of this run leave their folders for' 'CleanupFiles was successful' "$work/files" &
cut_at "${copies[3]}" 'Registry entries are saved to' 'CleanupRegKeys' "$work/registry" &
wait

e2e_equal "two starts at once: one removes, the other finds it under way" "1618 3010 " "$(cat "$work/whole.codes")"
whole="$work/whole.inventory"
e2e_check "after one whole run: the product's files are gone" bash -c "! grep -q 'Program Files (x86)/KvCut' '$whole'"
e2e_check "after one whole run: its keys are gone in both views" bash -c "! grep -qi 'SOFTWARE\\\\KvCut' '$whole'"
e2e_check "after one whole run: its service is gone" bash -c "! grep -qi 'KvCutSvc' '$whole'"
e2e_check "after one whole run: its package is uninstalled" grep -qx 'products: ' "$whole"
e2e_check "after one whole run: nothing is left queued" bash -c "! grep -q PendingFileRenameOperations '$whole'"
e2e_check "files: the next run queues what the ended run left in its staging folder" \
    grep -qF 'left by an ended run' "$work/files.log"
same_as_whole() { diff -u "$whole" "$1" | head -n 40; cmp -s "$whole" "$1"; }
for step in lists files registry; do
    e2e_equal "$step: the process was ended in that step" ended "$(cat "$work/$step.cut")"
    e2e_equal "$step: the ended run closed no log" 0 "$(cat "$work/$step.closed")"
    e2e_equal "$step: the next run goes through" "3010 " "$(tr '\n' ' ' <"$work/$step.codes")"
    e2e_check "$step: the next run leaves no list to take up" bash -c "! grep -qi resume '$work/$step.folder'"
    e2e_check "$step: after the restart the machine is as after one whole run" same_as_whole "$work/$step.inventory"
done
[ -n "${E2E_KEEP_WORK:-}" ] && cp -r "$work" "$E2E_KEEP_WORK"
e2e_summary
