#!/usr/bin/env bash
# How much the real removal costs on top of the operating-system calls it cannot avoid.
# For each size N a product of N files (folders of 100) and N registry keys with one value
# each (in the 64-bit view, under a key per hundred) is made in a throw-away Wine machine;
# a size written "Nflat" puts the N keys side by side right below the listed key instead.
# the machine is copied, sweeptool.exe --NOGUI --noreboot removes the product on one copy
# and rawfloor.exe makes the same raw calls on the other. A copy with no product gives the
# run's fixed cost (the mandated pauses among it). Prints per phase the tool's milliseconds,
# read from its log's stamps, the floor's, and their ratio.
#
# Usage: bench/wine_removal.sh BUILD_DIR [N|Nflat...]     (defaults: 1000 4000 4000flat)
#
# The machines are made side by side; the timed runs go one at a time, so that they do not
# share the processor with each other. Numbers from a machine busy with other work are rough.
set -uo pipefail
build=${1:?build folder with sweeptool.exe and programs/rawfloor.exe}
shift
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1000 4000 4000flat)
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/lib/wine.sh"

PER_FOLDER=100
PRODUCT='Program Files (x86)\KvBench'

machines=()
declare -A tool_pfx floor_pfx
work=$(mktemp -d /tmp/sweep-bench.XXXXXX)
drop_all() {
    local p
    for p in "${machines[@]}"; do WINEPREFIX=$p wine_drop_prefix; done
    rm -rf "$work"
}
trap drop_all EXIT

# Prints the copy's path; the caller adds it to the machines to drop.
copy_machine() {
    local dir
    dir=$(mktemp -d /tmp/sweep-wine.XXXXXX)
    cp -a "$1" "$dir/pfx"
    echo "$dir/pfx"
}

# The machine every copy starts from: the tool with its configuration and a log that no run
# rotates, and the floor program.
wine_new_prefix
base=$WINEPREFIX
machines+=("$base")
mkdir -p "$base/drive_c/Tools"
cp "$build/sweeptool.exe" "$build/instkvps_x64.exe" "$build/programs/rawfloor.exe" "$base/drive_c/Tools/" || exit 1
cat >"$base/drive_c/Tools/sweeptool.cfg" <<'CFG'
[msi upgradecode 1]
[service 1]
[process 1]
[registry value 1]
[registry key 1]
remove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\SOFTWARE\KvBench
[file 1]
remove=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%\KvBench
CFG
wine reg add 'HKLM\SOFTWARE\Kelvaris\QMR\Logging' /v LogMaxSizeKB /t REG_DWORD /d 262144 /f /reg:32 >/dev/null 2>&1
wineserver -k
wineserver -w

reg_file() {
    local n=${1%flat} k
    echo 'Windows Registry Editor Version 5.00'
    for ((k = 0; k < n; k++)); do
        if [ "$1" != "$n" ]; then
            printf '\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\KvBench\\k%d]\r\n"Data"="%d"\r\n' "$k" "$k"
        else
            printf '\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\KvBench\\k%d\\k%d]\r\n"Data"="%d"\r\n' \
                $((k / PER_FOLDER)) $((k % PER_FOLDER)) "$k"
        fi
    done
}

# A copy of the base with a product of n files and n keys, printed as its path.
make_product() {
    local n=${1%flat} pfx c k
    pfx=$(copy_machine "$base")
    c="$pfx/drive_c"
    for ((k = 0; k < n; k++)); do
        ((k % PER_FOLDER == 0)) && mkdir -p "$c/Program Files (x86)/KvBench/d$((k / PER_FOLDER))"
        echo "$k" >"$c/Program Files (x86)/KvBench/d$((k / PER_FOLDER))/f$((k % PER_FOLDER)).dat"
    done
    reg_file "$1" >"$c/keys.reg"
    WINEPREFIX=$pfx wine reg import 'C:\keys.reg' /reg:64 >/dev/null 2>&1
    rm -f "$c/keys.reg"
    WINEPREFIX=$pfx wineserver -k
    WINEPREFIX=$pfx wineserver -w
    echo "$pfx"
}

echo "== making the machines (${sizes[*]} objects, and an empty product)"
empty=$(copy_machine "$base")
machines+=("$empty")
for n in "${sizes[@]}"; do
    make_product "$n" >"$work/$n.machine" &
done
wait
for n in "${sizes[@]}"; do
    tool_pfx[$n]=$(cat "$work/$n.machine")
    machines+=("${tool_pfx[$n]}")
    floor_pfx[$n]=$(copy_machine "${tool_pfx[$n]}")
    machines+=("${floor_pfx[$n]}")
done

# Milliseconds since the epoch of a log record "YYYY-MM-DD HH:MM:SS.mmm [....] ...".
stamp_ms() { date -d "${1:0:23}" +%s%3N; }

run_tool() {
    export WINEPREFIX=$1
    local out=$2
    wine_exit_code 'C:\Tools\sweeptool.exe' --NOGUI --noreboot >"$out.code"
    iconv -f UTF-16LE -t UTF-8 "$WINEPREFIX/drive_c/ProgramData/Kelvaris/Logs/tool/sweeptool.log" 2>/dev/null |
        tr -d '\r' | grep -E '^[0-9]{4}-[0-9]{2}-[0-9]{2} ' >"$out.log"
    wineserver -k
    wineserver -w
}

# The tool's phases in milliseconds, from its log: lists, files, values, keys, whole. The
# tool as shipped logs no record where its file, value and key steps end; a step ends at the
# next step's first record (the first object's first try), and the key step at its last
# record. Each boundary is thus late or early by about one object's time.
tool_phases() {
    local log=$1 s l fs fe ve ke first last
    read -r s l fs fe ve ke < <(awk '
        function at() { return $1 "T" $2 }
        /InitializeLists: Config file found/ && !s { s = at() }
        /PopulateRemoveFileList was successful/ && !l { l = at() }
        /Files of this run leave their folders for/ && !fs { fs = at(); next }
        fs && !fe && /CNuke::(DeleteRegistryValue|DeleteRegistryKey|CleanupReg)|RegistryBackup::/ { fe = at() }
        fe && !ve && /CNuke::(DeleteRegistryKey|CleanupRegKeys)/ { ve = at() }
        ve && /CNuke::(DeleteRegistryKey|CleanupRegKeys)/ { ke = at() }
        END { print (s ? s : "-"), (l ? l : "-"), (fs ? fs : "-"), (fe ? fe : "-"), (ve ? ve : "-"), (ke ? ke : "-") }
    ' "$log")
    first=$(stamp_ms "$(head -n 1 "$log")")
    last=$(stamp_ms "$(tail -n 1 "$log")")
    if [ "$ke" = - ] || [ "$l" = - ]; then
        echo "- - - - $((last - first))"
        return
    fi
    s=$(stamp_ms "${s/T/ }") l=$(stamp_ms "${l/T/ }") fs=$(stamp_ms "${fs/T/ }")
    fe=$(stamp_ms "${fe/T/ }") ve=$(stamp_ms "${ve/T/ }") ke=$(stamp_ms "${ke/T/ }")
    echo "$((l - s)) $((fe - fs)) $((ve - fe)) $((ke - ve)) $((last - first))"
}

echo "== the empty product"
run_tool "$empty" "$work/empty"
read -r _ _ _ _ empty_whole < <(tool_phases "$work/empty.log")
echo "   exit code $(cat "$work/empty.code"), ${empty_whole} ms from the first record to the last"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || b <= 0) print "-"; else printf "%.1fx", a / b }'; }
row() { printf '| %-28s | %9s | %9s | %7s |\n' "$1" "$2" "$3" "$(ratio "$2" "$3")"; }

for n in "${sizes[@]}"; do
    echo "== N = $n: sweeptool.exe"
    run_tool "${tool_pfx[$n]}" "$work/tool$n"
    read -r t_lists t_files t_values t_keys t_whole < <(tool_phases "$work/tool$n.log")
    echo "   exit code $(cat "$work/tool$n.code");" \
        "$(grep -m1 -oE "PopulateRemoveFileList was successful with '[0-9]+'" "$work/tool$n.log" | grep -oE '[0-9]+') files and folders," \
        "$(grep -m1 -oE "PopulateRemoveRegList was successful with '[0-9]+' keys and '[0-9]+' values" "$work/tool$n.log" |
            grep -oE '[0-9]+' | tr '\n' ' ')(keys, values) listed"

    echo "== N = $n: rawfloor.exe"
    export WINEPREFIX=${floor_pfx[$n]}
    wine 'C:\Tools\rawfloor.exe' "C:\\$PRODUCT" '64:SOFTWARE\KvBench' '32:SOFTWARE\KvBench' 2>/dev/null |
        tr -d '\r' >"$work/floor$n.out"
    wineserver -k
    wineserver -w
    f() { awk -v p="$1" '$1 == "phase" && $2 == p { printf "%d", $3 + 0.5 }' "$work/floor$n.out"; }
    f_lists=$(($(f walk_files) + $(f walk_keys)))
    f_files=$(f queue) f_values=$(f values) f_keys=$(f keys)
    f_whole=$((f_lists + f_files + f_values + f_keys))
    echo "   $(awk '$1 == "phase" { printf "%s %s; ", $2, $4 }' "$work/floor$n.out")$(grep failures "$work/floor$n.out")"

    echo
    echo "N = $n (milliseconds)"
    printf '| %-28s | %9s | %9s | %7s |\n' phase tool floor ratio
    echo '|------------------------------|-----------|-----------|---------|'
    row 'list building' "$t_lists" "$f_lists"
    row 'files (queueing)' "$t_files" "$f_files"
    row 'values (with the backup)' "$t_values" "$f_values"
    row 'keys' "$t_keys" "$f_keys"
    if [ "$t_whole" != - ]; then
        row 'whole run minus empty run' $((t_whole - empty_whole)) "$f_whole"
    fi
    echo
done
[ -n "${BENCH_KEEP_WORK:-}" ] && cp -r "$work" "$BENCH_KEEP_WORK"
exit 0
