#!/usr/bin/env bash
# Installs a damaged Kelvaris Demo into the Wine machine of $WINEPREFIX (already created):
# - installer packages built with wixl and installed by the real msiexec: two versions under
#   the upgrade code the demo configuration names, one under a built-in upgrade code, an
#   older one that was half removed (its files are gone, its registrations stay), and
#   another publisher's product;
# - a running service of the product and two running tray programs, and another publisher's
#   service and tray program;
# - files under Program Files, in two user profiles (one of them read-only), on the desktop,
#   in ProgramData and a start-menu folder;
# - registry keys and values in both registry views (some only in the 64-bit one), a key whose
#   access list denies deletion, a shell MUICache entry and an installer folder value;
# - and, beside all of them, things the removal must leave alone.
# The codes and names are those of demo/inventory.sh.
# Usage: demo/prepare.sh BUILD-FOLDER (the windows build, with its programs/ folder)
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX must name a prepared Wine machine}"
build=${1:?the windows build folder}
here=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=inventory.sh
. "$here/demo/inventory.sh"
c="$WINEPREFIX/drive_c"
programs="$build/programs"
user=$(ls "$c/users" | grep -vix public | grep -vx Second | head -n 1)

put() { mkdir -p "$(dirname "$1")" && printf '%s\n' "${2:-demo}" > "$1"; }

pf="$c/Program Files (x86)"

# The packages, installed by the real msiexec. Each puts a text file into its own folder
# below Program Files and a "Version" value under HKLM\SOFTWARE\<publisher>\<name>.
packages="$c/DemoPackages"
mkdir -p "$packages"
mk="$here/tests/windows/packages/make_msi.sh"
bash "$mk" "$packages/demo1.msi" "Kelvaris Demo" "$DEMO_P1" "$DEMO_UC" 1.0.0 "$DEMO_MAKER" >/dev/null
bash "$mk" "$packages/demo2.msi" "Kelvaris Demo" "$DEMO_P2" "$DEMO_UC" 2.0.0 "$DEMO_MAKER" >/dev/null
bash "$mk" "$packages/agent.msi" "Kelvaris Demo Agent" "$DEMO_P3" "$DEMO_BUILTIN" 3.1.0 "$DEMO_MAKER" >/dev/null
bash "$mk" "$packages/legacy.msi" "Kelvaris Demo Legacy" "$DEMO_P4" "$DEMO_UOLD" 0.9.0 "$DEMO_MAKER" >/dev/null
bash "$mk" "$packages/other.msi" "Other Vendor App" "$DEMO_P5" "$DEMO_UOTHER" 4.2.0 "Other Vendor Inc" >/dev/null
for p in demo1 demo2 agent legacy other; do
    wine msiexec /i "C:\\DemoPackages\\$p.msi" /qn >/dev/null 2>&1 || echo "note: msiexec did not install $p.msi"
done
wineserver -w
rm -rf "$packages"
# The older version was half removed: its files went, its registrations and cached package
# stayed.
rm -rf "$pf/Kelvaris Demo Legacy"

put "$pf/Kelvaris Demo/demo.exe"
put "$pf/Kelvaris Demo/core.dll"
put "$pf/Kelvaris Demo/readme.txt" "read me"
chmod a-w "$pf/Kelvaris Demo/readme.txt"  # Wine shows this as FILE_ATTRIBUTE_READONLY
put "$pf/Kelvaris Demo/Bin/engine.dll"
put "$pf/Kelvaris Demo/Bin/Plugins/scanner.dll"
put "$pf/Kelvaris Demo/Licenses/license.key"
put "$pf/Kelvaris Demo Tools/repair.exe"
put "$pf/Other Vendor/app.exe"
for u in "$user" Second; do
    put "$c/users/$u/AppData/Roaming/Kelvaris Demo/settings.ini"
    put "$c/users/$u/AppData/Roaming/Kelvaris Demo/History/today.log"
done
put "$c/users/Second/AppData/Roaming/Kelvaris Demo/Quarantine/held.bin"
# A marker counts only when it and its folder belong to the machine's own accounts; Wine owns
# every file as its user, so the demo shows the refusal.
put "$c/ProgramData/KvDemoCache/kvdemo.id"
put "$c/ProgramData/KvDemoCache/cache.bin"
put "$c/ProgramData/OtherCache/kvdemo.txt"
put "$c/users/$user/Desktop/Kelvaris Demo.lnk"
put "$c/users/$user/Desktop/Other Vendor App.lnk"
programs_menu="$c/ProgramData/Microsoft/Windows/Start Menu/Programs"
put "$programs_menu/Kelvaris Demo/Kelvaris Demo.lnk"
put "$programs_menu/Kelvaris Demo/Uninstall Kelvaris Demo.lnk"
put "$programs_menu/Other Vendor App/Other Vendor App.lnk"

# The tool is a 32-bit program: under HKLM\SOFTWARE it sees the 32-bit view, and reaches
# the 64-bit one only where it asks for it.
reg64=$(mktemp --suffix=.reg)
reg32=$(mktemp --suffix=.reg)
cat > "$reg64" <<'REG'
REGEDIT4

[HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris Demo]
"Version"="1.0"
"InstallDir"="C:\\Program Files (x86)\\Kelvaris Demo"

[HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris Demo\Components\Core]
"Path"="core.dll"

[HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris Demo\Components\Engine]
"Path"="Bin\\engine.dll"

[HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris Demo\Shared]
"Owner"="another product"

[HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris Demo Agent]
"Port"=dword:00000d05

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{6F2A5C11-0D3E-4B7A-9C21-3E5D0A7B9F10}]
"DisplayName"="Kelvaris Demo 1.0"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{0B8E3D22-7A41-4C19-8E53-A1F2C4D6E830}]
"DisplayName"="Other Vendor App"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run]
"KelvarisDemo64"="C:\\Program Files\\Kelvaris Demo\\agent64.exe"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Installer\Folders]
"C:\\Program Files (x86)\\Kelvaris Demo\\"=""
"C:\\Program Files (x86)\\Other Vendor App\\"=""

[HKEY_CURRENT_USER\Software\Kelvaris Demo]
"LastScan"="today"

[HKEY_CURRENT_USER\Software\Kelvaris Demo\Locked]
"Guard"="on"

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run]
"KelvarisDemoUser"="C:\\Program Files (x86)\\Kelvaris Demo\\demo.exe"

[HKEY_CURRENT_USER\Software\Microsoft\Windows\ShellNoRoam\MUICache]
"C:\\Program Files (x86)\\Kelvaris Demo\\demo.exe"="Kelvaris Demo"
"C:\\Program Files (x86)\\Other Vendor\\app.exe"="Other Vendor App"
REG
cat > "$reg32" <<'REG'
REGEDIT4

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run]
"KelvarisDemo"="\"C:\\Program Files (x86)\\Kelvaris Demo\\demo.exe\" /tray"
"OtherTray"="C:\\Program Files (x86)\\Other Vendor\\app.exe"

[HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris Shared]
"Users"=dword:00000002

REG
wine reg import "$(winepath -w "$reg64")" /reg:64 >/dev/null 2>&1
wine reg import "$(winepath -w "$reg32")" /reg:32 >/dev/null 2>&1
rm -f "$reg64" "$reg32"

# Every record, deletions included, goes to the log (the tool reads the 32-bit view).
wine reg add 'HKLM\SOFTWARE\Kelvaris\QMR\Logging' /v LogLevel /t REG_DWORD /d 5 /f /reg:32 >/dev/null 2>&1
# ... in one file that is not rotated during the run.
wine reg add 'HKLM\SOFTWARE\Kelvaris\QMR\Logging' /v LogMaxSizeKB /t REG_DWORD /d 16384 /f /reg:32 >/dev/null 2>&1

# A running service and two running tray programs of the product, and another publisher's
# service and tray program beside them.
cp "$programs/kvsvc.exe" "$pf/Kelvaris Demo/kvdemosvc.exe"
cp "$programs/kvsvc.exe" "$pf/Other Vendor/othersvc.exe"
cp "$programs/kvsleeper.exe" "$pf/Kelvaris Demo/kvtray.exe"
cp "$programs/kvsleeper.exe" "$pf/Kelvaris Demo/Bin/kvnotify.exe"
cp "$programs/kvsleeper.exe" "$pf/Other Vendor/othertray.exe"
wine sc create KvDemoSvc binPath= '"C:\Program Files (x86)\Kelvaris Demo\kvdemosvc.exe"' >/dev/null 2>&1
wine sc create OtherVendorSvc binPath= '"C:\Program Files (x86)\Other Vendor\othersvc.exe"' >/dev/null 2>&1
wine sc start KvDemoSvc >/dev/null 2>&1
wine sc start OtherVendorSvc >/dev/null 2>&1
for p in 'Kelvaris Demo\kvtray.exe' 'Kelvaris Demo\Bin\kvnotify.exe' 'Other Vendor\othertray.exe'; do
    wine cmd /c start "" "C:\\Program Files (x86)\\$p" >/dev/null 2>&1
done

deny="$programs/deny_key_delete.exe"
if [ -f "$deny" ]; then
    wine "$deny" HKCU 'Software\Kelvaris Demo\Locked' 2>/dev/null ||
        echo "note: could not deny deletion of HKCU\\Software\\Kelvaris Demo\\Locked"
else
    echo "note: $deny not built; the key HKCU\\Software\\Kelvaris Demo\\Locked keeps its access list"
fi
# The services and tray programs keep running: wait for them to start, not to end.
sleep 2
