#!/usr/bin/env bash
# --check, --preview, the registry backup and the run report of the real sweeptool.exe under
# Wine, on the demo machine of scripts/demo:
# - --check of the demo configuration is clean (0), of a broken copy lists each problem (1610);
# - --preview prints the plan to the console it was started from, writes it beside the log,
#   and leaves the machine as it was (registry exports of both views and a file listing);
# - a real run then saves every registry entry it deletes, and "reg import" of that file in the
#   64-bit view puts each one back exactly;
# - every run leaves a report that parses as JSON, whose counts are those of the log.
set -uo pipefail
build=${1:?build folder with sweeptool.exe}
here=$(cd "$(dirname "$0")/../.." && pwd)
. "$here/scripts/lib/wine.sh"

work=$(mktemp -d /tmp/sweep-preview.XXXXXX)
cleanup() {
    wine_drop_prefix
    rm -rf "$work"
}
trap cleanup EXIT

wine_new_prefix
c="$WINEPREFIX/drive_c"
bash "$here/demo/prepare.sh" "$build"
mkdir -p "$c/Tools"
cp "$build/sweeptool.exe" "$build/instkvps_x64.exe" "$c/Tools/"
cp "$here/demo/sweeptool.cfg" "$c/Tools/sweeptool.cfg"
logs="$c/ProgramData/Kelvaris/Logs/tool"
# The tool's own folder, below the Windows folder's Logs (Wine spells both in lower case).
tool_file() { find "$c/windows" -maxdepth 4 -ipath "*/logs/sweeptool/$1" | head -n 1; }

# What a console shows: the tool started from cmd, its output caught as the console's.
console_of() { wine cmd /c "C:\\Tools\\sweeptool.exe $* & echo EXIT=%errorlevel%" 2>/dev/null | tr -d '\r'; }
exit_in() { sed -n 's/^EXIT=//p' <<<"$1" | tail -n 1; }
json() { python3 -c "import json,sys; d=json.load(open(sys.argv[1])); print(eval(sys.argv[2]))" "$(tool_file sweeptool.report.json)" "$1" 2>/dev/null; }
text_of_log() { iconv -f UTF-16LE -t UTF-8 "$logs/sweeptool.log" 2>/dev/null | tr -d '\r'; }

# --- The check.
out=$(console_of --check)
e2e_equal "--check of the demo configuration: 0" 0 "$(exit_in "$out")"
e2e_check "--check prints its verdict to the console" grep -qi "no problems" <<<"$out"
e2e_equal "--check leaves a report (mode check, exit code 0)" "check 0" "$(json 'd["mode"], d["exitCode"]' | tr -d "(),'")"
cp "$c/Tools/sweeptool.cfg" "$work/good.cfg"
{
    cat "$work/good.cfg"
    printf 'remove=FILE_NAME_EXPAND,BY_VALUE,%%NOWHERE%%\\Kelvaris\r\n'
    printf 'remove=REG_KEY,BY_VALUE,SOFTWARE\\Kelvaris Demo\r\n'
} >"$c/Tools/sweeptool.cfg"
lines=$(wc -l <"$c/Tools/sweeptool.cfg")
out=$(console_of --check)
e2e_equal "--check of a broken configuration: 1610" 1610 "$(exit_in "$out")"
e2e_check "--check names the unknown macro with its line ($((lines - 1)))" grep -q "line $((lines - 1)) " <<<"$out"
e2e_check "--check names the key without a root with its line ($lines)" grep -q "line $lines " <<<"$out"
cp "$work/good.cfg" "$c/Tools/sweeptool.cfg"

# --- The preview changes nothing.
# Exported outside the machine's drive (through Wine's Z:), so that taking a snapshot
# changes nothing that the next one sees.
snapshot() {
    local to=$1 view
    for view in 32 64; do
        wine reg export HKLM "$(winepath -w "$to.hklm$view.reg")" "/reg:$view" /y >/dev/null 2>&1
        iconv -f UTF-16LE -t UTF-8 "$to.hklm$view.reg" >"$to.hklm$view"
    done
    wine reg export HKCU "$(winepath -w "$to.hkcu.reg")" /y >/dev/null 2>&1
    iconv -f UTF-16LE -t UTF-8 "$to.hkcu.reg" >"$to.hkcu"
    # Every file with its size, attributes and time, and every folder (not its time), the log's
    # included, but the plan and the report the preview writes and the lock it holds.
    (cd "$c" && find . \( -ipath ./windows/logs/sweeptool/sweeptool.plan.txt -o -ipath ./windows/logs/sweeptool/sweeptool.report.json -o -ipath ./windows/logs/sweeptool/sweeptool.lock \) -prune -o \
        -type d -printf '%p %m\n' -o -printf '%p %s %m %T@\n' | sort) >"$to.files"
}
# A full log with its older generations: opening it would rotate it and delete the oldest.
mkdir -p "$logs" && for g in "" .1 .2; do head -c 300000 /dev/zero >"$logs/sweeptool$g.log"; done
snapshot "$work/before"
out=$(console_of --preview)
snapshot "$work/after"
e2e_equal "--preview of the demo machine: 0" 0 "$(exit_in "$out")"
for part in hklm32 hklm64 hkcu files; do
    e2e_check "--preview leaves the machine unchanged: $part" cmp -s "$work/before.$part" "$work/after.$part"
    cmp -s "$work/before.$part" "$work/after.$part" || diff "$work/before.$part" "$work/after.$part" | head -n 10
done
echo "$out" | head -n 40
for thing in 'Kelvaris Demo' '2.0.0' 'KvDemoSvc' 'kvtray.exe' 'KELVARIS DEMO\README.TXT' 'KELVARISDEMO64' \
    'database scan' 'built-in upgrade code'; do
    e2e_check "the plan on the console names $thing" grep -qiF -- "$thing" <<<"$out"
done
e2e_check "the plan is also in sweeptool.plan.txt in the tool's folder" \
    bash -c "python3 -c 'import sys; sys.stdout.write(open(sys.argv[1], encoding=\"utf-8-sig\").read())' '$(tool_file sweeptool.plan.txt)' | tr -d '\r' | grep -qiF 'KvDemoSvc'"
e2e_equal "--preview leaves a report (mode preview, exit code 0)" "preview 0" "$(json 'd["mode"], d["exitCode"]' | tr -d "(),'")"
rm -f "$logs"/sweeptool*.log

# --- The real run, its backup and its report.
keys64=('HKLM\SOFTWARE\Kelvaris Demo' 'HKLM\SOFTWARE\Kelvaris Demo Agent' 'HKCU\Software\Kelvaris Demo'
    'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{6F2A5C11-0D3E-4B7A-9C21-3E5D0A7B9F10}'
    'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run' 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
    'HKCU\SOFTWARE\Microsoft\Windows\ShellNoRoam\MUICache'
    'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Installer\Folders')
keys32=('HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run')
export_keys() {
    local to=$1 key view n=0
    : >"$to"
    for key in "${keys64[@]/%/|64}" "${keys32[@]/%/|32}"; do
        view=${key##*|}
        key=${key%|*}
        n=$((n + 1))
        rm -f "$c/key.reg"
        wine reg export "$key" 'C:\key.reg' "/reg:$view" /y >/dev/null 2>&1
        { echo "== $key ($view)"; iconv -f UTF-16LE -t UTF-8 "$c/key.reg" 2>/dev/null || echo missing; } >>"$to"
    done
}
export_keys "$work/keys-before"
out=$(console_of --NOGUI --noreboot)
e2e_equal "the real run goes through (3010)" 3010 "$(exit_in "$out")"
export_keys "$work/keys-after-run"
e2e_check "the run deleted registry entries" bash -c "! cmp -s '$work/keys-before' '$work/keys-after-run'"

log=$(text_of_log)
backup=$(sed -n "s/.*Registry entries are saved to '\([^']*\)' before they are deleted.*/\1/p" <<<"$log" | tail -n 1)
e2e_check "the log names the backup file ($backup)" test -n "$backup"
unix_backup=$(tool_file "backup/${backup##*\\}")
e2e_check "the backup file is in C:\\windows\\Logs\\SweepTool\\Backup" bash -c "[[ '${backup,,}' == 'c:\\windows\\logs\\sweeptool\\backup\\sweeptool-'*'.reg' && -s '$unix_backup' ]]"
e2e_equal "the report names the backup file" "$backup" "$(json 'd["registryBackup"]')"
wine reg import "$backup" /reg:64 >/dev/null 2>&1
e2e_equal "reg import of the backup in the 64-bit view answers 0" 0 "$?"
export_keys "$work/keys-after-import"
e2e_check "the import puts every deleted registry value and key back exactly" cmp -s "$work/keys-before" "$work/keys-after-import"
cmp -s "$work/keys-before" "$work/keys-after-import" || diff "$work/keys-before" "$work/keys-after-import" | head -n 20

# The report's counts against the log's records.
count_of() { sed -n "s/.*$1 \(was successful with\|encountered errors but deleted\) '\([0-9]*\)'.*/\2/p" <<<"$log" | tail -n 1; }
e2e_equal "report: mode run, exit code 3010" "run 3010" "$(json 'd["mode"], d["exitCode"]' | tr -d "(),'")"
e2e_equal "report: files listed as the log's CleanupFiles record" "$(count_of CleanupFiles)" \
    "$(json 'sum(s.get("counts", {}).get("filesListed", 0) for s in d["steps"])')"
e2e_equal "report: values listed as the log's CleanupRegValues record" "$(count_of CleanupRegValues)" \
    "$(json 'sum(s.get("counts", {}).get("valuesListed", 0) for s in d["steps"])')"
e2e_equal "report: keys listed as the log's CleanupRegKeys record" "$(count_of CleanupRegKeys)" \
    "$(json 'sum(s.get("counts", {}).get("keysListed", 0) for s in d["steps"])')"
e2e_equal "report: services deleted as the log's records" "$(grep -c "Terminating service '.*' was successful" <<<"$log")" \
    "$(json 'sum(s.get("counts", {}).get("servicesDeleted", 0) for s in d["steps"])')"
e2e_equal "report: processes ended as the log's records" "$(grep -c "Terminating process: '" <<<"$log")" \
    "$(json 'sum(s.get("counts", {}).get("processesEnded", 0) for s in d["steps"])')"
e2e_summary
