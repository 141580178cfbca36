#!/usr/bin/env bash
# The product taken off for real under Wine: packages built with wixl and installed by the
# real msiexec (two versions under an upgrade code of the configuration, one under a
# built-in upgrade code, a half-removed one whose files are gone but whose registrations
# stay, beside an older one whose properties are gone, a customised edition that another
# publisher distributes under an upgrade code of the configuration, and a bystander of
# another publisher under an upgrade code of its own),
# a running service of the product, two running instances of a listed process and a
# follow-up program in a folder a user can change. Then sweeptool.exe --NOGUI --noreboot, and a restart of the machine.
set -uo pipefail
build=${1:?build folder with sweeptool.exe}
here=$(cd "$(dirname "$0")/../.." && pwd)
. "$here/scripts/lib/wine.sh"

wine_new_prefix
trap wine_drop_prefix EXIT
c="$WINEPREFIX/drive_c"
pf="$c/Program Files (x86)"
mk="$here/tests/windows/packages/make_msi.sh"
tools="$build/programs"

UC='{4D1F2C3B-8A7E-4B6C-9D10-2E3F4A5B6C7D}'      # named in the configuration
BUILTIN='{245AD883-64A7-46AF-A384-9A507E395957}' # one of the built-in codes
UOLD='{5E6F7A8B-9C0D-4E1F-A2B3-C4D5E6F7A8B9}'    # the half-removed product's
UOTHER='{6A7B8C9D-0E1F-4A2B-B3C4-D5E6F7A8B9C0}'  # the customised edition's, named in the configuration too
UBYST='{8B9C0D1E-2F3A-4B5C-8D6E-7F8A9B0C1D2E}'   # the bystander's, not named
P1='{1F6B2A10-3C4D-4E5F-8A9B-0C1D2E3F4A01}'      # KvSuite 1.0
P2='{1F6B2A10-3C4D-4E5F-8A9B-0C1D2E3F4A02}'      # KvSuite 2.0
P3='{1F6B2A10-3C4D-4E5F-8A9B-0C1D2E3F4A03}'      # KvAgent
P4='{1F6B2A10-3C4D-4E5F-8A9B-0C1D2E3F4A04}'      # KvLegacy, half removed
P5='{7A8B9C0D-1E2F-4A3B-9C4D-5E6F7A8B9C05}'      # KvSuite ISP Edition, another publisher's
P6='{7A8B9C0D-1E2F-4A3B-9C4D-5E6F7A8B9C06}'      # the bystander
P7='{1F6B2A10-3C4D-4E5F-8A9B-0C1D2E3F4A07}'      # KvLegacyTool, its properties gone
MAKER='Kelvaris Corporation'

# The packed form the installer's registry keys use.
packed() {
    local g=${1//[\{\}-]/} out='' i
    rev() { local s=$1 r='' k; for ((k = ${#s} - 1; k >= 0; k--)); do r+=${s:k:1}; done; echo "$r"; }
    out+=$(rev "${g:0:8}")$(rev "${g:8:4}")$(rev "${g:12:4}")
    for ((i = 16; i < 32; i += 2)); do out+=${g:i+1:1}${g:i:1}; done
    echo "$out"
}

mkdir -p "$c/pkgs" "$c/Tools/svc"
bash "$mk" "$c/pkgs/suite1.msi" KvSuite "$P1" "$UC" 1.0.0 "$MAKER" >/dev/null
bash "$mk" "$c/pkgs/suite2.msi" KvSuite "$P2" "$UC" 2.0.0 "$MAKER" >/dev/null
bash "$mk" "$c/pkgs/agent.msi" KvAgent "$P3" "$BUILTIN" 3.1.0 "$MAKER" >/dev/null
bash "$mk" "$c/pkgs/legacy.msi" KvLegacy "$P4" "$UOLD" 0.9.0 "$MAKER" >/dev/null
bash "$mk" "$c/pkgs/legacytool.msi" KvLegacyTool "$P7" "$UOLD" 0.8.0 "$MAKER" >/dev/null
bash "$mk" "$c/pkgs/isp.msi" "KvSuite ISP Edition" "$P5" "$UOTHER" 2.0.1 "Norvane Telecom" >/dev/null
bash "$mk" "$c/pkgs/bridge.msi" "Kelvaris Bridge by Other" "$P6" "$UBYST" 1.2.0 "Other Vendor Inc" >/dev/null
for p in suite1 suite2 agent legacy legacytool isp bridge; do
    wine msiexec /i "C:\\pkgs\\$p.msi" /qn >/dev/null 2>&1
done
wineserver -w

cp "$tools/msiquery.exe" "$tools/proclist.exe" "$c/Tools/"
q() { wine 'C:\Tools\msiquery.exe' "$@" 2>/dev/null | tr -d '\r'; }
running() { wine 'C:\Tools\proclist.exe' 2>/dev/null | tr -d '\r' | grep -cix -- "$1"; }
unix_path() { local p=${1#[Cc]:\\}; echo "$c/${p//\\//}"; }

# The half-removed product: its files go, its registrations and cached package stay.
legacy_package=$(q info "$P4" LocalPackage)
rm -rf "$pf/KvLegacy"
wine reg delete "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\$(packed "$P7")\\InstallProperties" /f /reg:64 >/dev/null 2>&1
bridge_package=$(q info "$P6" LocalPackage)

# A running service of the product, two running tray processes, a follow-up program.
cp "$tools/kvsvc.exe" "$c/Tools/svc/kvsvc.exe"
wine sc create KvSweepSvc binPath= 'C:\Tools\svc\kvsvc.exe' >/dev/null 2>&1
wine sc start KvSweepSvc >/dev/null 2>&1
cp "$tools/kvsleeper.exe" "$c/Tools/kvtray.exe"
wine cmd /c start "" 'C:\Tools\kvtray.exe' >/dev/null 2>&1
wine cmd /c start "" 'C:\Tools\kvtray.exe' >/dev/null 2>&1
cp "$tools/kvfollowup.exe" "$c/Tools/kvfollowup.exe"
sleep 2

e2e_equal "before: two versions under the configured upgrade code" 2 "$(q related "$UC" | grep -c .)"
e2e_equal "before: one product under the built-in code" "$P3" "$(q related "$BUILTIN")"
e2e_equal "before: the half-removed product is still known" "0.9.0" "$(q info "$P4" VersionString)"
e2e_check "before: its files are gone, its cached package is not" test ! -e "$pf/KvLegacy" -a -e "$(unix_path "$legacy_package")"
e2e_equal "before: the service runs" 1 "$(running kvsvc.exe)"
e2e_equal "before: two tray processes run" 2 "$(running kvtray.exe)"

# Every record up to the debug ones reaches one log file that is not rotated during the run.
wine reg add 'HKLM\SOFTWARE\Kelvaris\QMR\Logging' /v LogLevel /t REG_DWORD /d 5 /f /reg:32 >/dev/null 2>&1
wine reg add 'HKLM\SOFTWARE\Kelvaris\QMR\Logging' /v LogMaxSizeKB /t REG_DWORD /d 16384 /f /reg:32 >/dev/null 2>&1
cp "$build/sweeptool.exe" "$build/instkvps_x64.exe" "$c/Tools/"
cat > "$c/Tools/sweeptool.cfg" <<CFG
; The product of the installer run.
[msi upgradecode 1]
remove=GUID,BY_VALUE,$UC
remove=GUID,BY_VALUE,$UOTHER
[service 1]
remove=SERVICE_NAME,BY_VALUE,KvSweepSvc
[process 1]
stop=PROCESS_NAME,BY_VALUE,kvtray.exe
start=FILE_NAME,BY_VALUE,C:\Tools\kvfollowup.exe
[registry value 1]
[registry key 1]
[file 1]
CFG

start=$(date +%s.%N)
code=$(wine_exit_code 'C:\Tools\sweeptool.exe' --NOGUI --noreboot)
end=$(date +%s.%N)
e2e_equal "the run goes through (3010: restart needed)" 3010 "$code"
echo "timing: whole run $(awk "BEGIN { printf \"%.1f\", $end - $start }") s, of which mandated pauses 81.5 s plus one 1 s poll per service"

# The installer knows none of the maker's products any more.
e2e_equal "gone: both versions under the configured code" "" "$(q related "$UC")"
e2e_equal "gone: the product under the built-in code" "" "$(q related "$BUILTIN")"
e2e_equal "gone: the customised edition under the configured code" "" "$(q related "$UOTHER")"
e2e_check "gone: the customised edition's files" test ! -e "$pf/KvSuite ISP Edition"
for p in "$P1" "$P2" "$P3" "$P4" "$P5"; do
    e2e_equal "unknown to the installer: $p" "ERROR 1605" "$(q info "$p" VersionString)"
done
e2e_check "gone: KvSuite's files" test ! -e "$pf/KvSuite"
e2e_check "gone: KvAgent's files" test ! -e "$pf/KvAgent"

key_in() { wine reg query "$1" /reg:64 >/dev/null 2>&1; }
not() { ! "$@"; }
inst='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Installer'
for u in "$UC" "$BUILTIN" "$UOLD"; do
    e2e_check "gone: UpgradeCodes registration of $u" not key_in "$inst\\UpgradeCodes\\$(packed "$u")"
    e2e_check "gone: Classes UpgradeCodes registration of $u" not key_in "HKLM\\SOFTWARE\\Classes\\Installer\\UpgradeCodes\\$(packed "$u")"
done
for p in "$P1" "$P2" "$P3" "$P4"; do
    e2e_check "gone: UserData product $p" not key_in "$inst\\UserData\\S-1-5-18\\Products\\$(packed "$p")"
    e2e_check "gone: Classes Features of $p" not key_in "HKLM\\SOFTWARE\\Classes\\Installer\\Features\\$(packed "$p")"
    e2e_check "gone: Classes Products of $p" not key_in "HKLM\\SOFTWARE\\Classes\\Installer\\Products\\$(packed "$p")"
done
components=$(wine reg query "$inst\\UserData\\S-1-5-18\\Components" /s /reg:64 2>/dev/null | tr -d '\r')
for p in "$P1" "$P2" "$P3" "$P4"; do
    e2e_check "gone: every component registration of $p" not grep -qi "$(packed "$p")" <<<"$components"
done

# The bystander of another publisher keeps everything, although its folder and components
# hold the maker's name.
e2e_equal "kept: the other publisher's product" "$P6" "$(q related "$UBYST")"
e2e_equal "kept: its publisher" "Other Vendor Inc" "$(q info "$P6" Publisher)"
e2e_check "kept: its files" test -d "$pf/Kelvaris Bridge by Other"
e2e_check "kept: its component registrations" grep -qi "$(packed "$P6")" <<<"$components"
e2e_check "kept: its UpgradeCodes registration" key_in "$inst\\UpgradeCodes\\$(packed "$UBYST")"

# Service, processes, follow-up program.
e2e_check "gone: the service's registration" not key_in 'HKLM\System\CurrentControlSet\Services\KvSweepSvc'
e2e_equal "stopped: the service's process" 0 "$(running kvsvc.exe)"
e2e_equal "ended: both tray processes" 0 "$(running kvtray.exe)"
# Wine keeps no owners: every file is its user's, so the follow-up program is one a standard
# user could have replaced, and the elevated run does not start it.
started_marker() { [ -n "$(find "$c/Tools" -maxdepth 1 -iname 'kvfollowup.exe.started')" ]; }
e2e_check "not started: the follow-up program a user could replace" not started_marker

log="$c/ProgramData/Kelvaris/Logs/tool/sweeptool.log"
text=$(iconv -f UTF-16LE -t UTF-8 "$log" 2>/dev/null | tr -d '\r')
logged() { grep -qF -- "$1" <<<"$text"; }
for r in "CNuke::MsiUninstall: MsiUninstall calling KvMsi api using command '/uninstall /u:$UC'..." \
    "CNuke::MsiUninstall: MsiUninstall returned value '0'" \
    "CNuke::HCMSIUninstall: HCMSIUninstall calling KvMsi api using command '/uninstall /u:$BUILTIN'..." \
    "CNuke::VerifyRelatedProductsRemoved: VerifyRelatedProductsRemoved: No products left related to UpgradeCode $BUILTIN (ret 259)" \
    "CNuke::ProductBasedMSIRemoval: ProductBasedMSIRemoval: cleaning MSI registry database with product id '$(packed "$P4")'..." \
    "CNuke::StopNTProcesses: Terminating process: 'kvtray.exe'" \
    "CNuke::StopNTServices: Terminating service 'KVSWEEPSVC' was successful" \
    "CNuke::StopNTServices: StopNTServices was successful" \
    "CNuke::StartNTProcesses: Process 'C:\\TOOLS\\KVFOLLOWUP.EXE' not started: a standard user can change 'C:\\TOOLS\\KVFOLLOWUP.EXE' or a folder above it"; do
    e2e_check "log: $r" logged "$r"
done

# The half-removed product's cached package leaves its folder during the run; a name in the
# staging folder is queued, which the restart carries out.
pending=$(wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations 2>/dev/null | tr -d '\r')
e2e_check "moved out: the half-removed product's cached package" test ! -e "$(unix_path "$legacy_package")"
e2e_check "queued: a name in the staging folder" grep -qiF -- 'C:\$SweepTool.Staging.' <<<"$pending"
wine_restart
e2e_check "gone after the restart: the staging folder" bash -c "! compgen -G '$c/\$SweepTool.Staging.*' >/dev/null"
e2e_check "intact after the restart: the other publisher's cached package" test -e "$(unix_path "$bridge_package")"
e2e_check "intact after the restart: the other publisher's files" test -d "$pf/Kelvaris Bridge by Other"
[ -n "${E2E_KEEP_LOG:-}" ] && cp "$log" "$E2E_KEEP_LOG"
e2e_summary
