#!/usr/bin/env bash
# Installs the demo product Kelvaris Demo into the Wine machine of $WINEPREFIX (already
# created): files under Program Files and in two user profiles (one of them read-only),
# registry keys and values in both registry views (some only in the 64-bit one), a key
# whose access list denies deletion, and things the removal must leave alone.
# Usage: demo/prepare.sh [folder holding programs/deny_key_delete.exe]
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX must name a prepared Wine machine}"
build=${1:-}
c="$WINEPREFIX/drive_c"
user=$(ls "$c/users" | grep -vix public | grep -vx Second | head -n 1)

put() { mkdir -p "$(dirname "$1")" && printf '%s\n' "${2:-demo}" > "$1"; }

pf="$c/Program Files (x86)"
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
put "$c/ProgramData/KvDemoCache/kvdemo.id"
put "$c/ProgramData/KvDemoCache/cache.bin"
put "$c/ProgramData/OtherCache/kvdemo.txt"

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

[HKEY_CURRENT_USER\Software\Kelvaris Demo]
"LastScan"="today"

[HKEY_CURRENT_USER\Software\Kelvaris Demo\Locked]
"Guard"="on"

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run]
"KelvarisDemoUser"="C:\\Program Files (x86)\\Kelvaris Demo\\demo.exe"
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

deny="$build/programs/deny_key_delete.exe"
if [ -n "$build" ] && [ -f "$deny" ]; then
    wine "$deny" HKCU 'Software\Kelvaris Demo\Locked' 2>/dev/null ||
        echo "note: could not deny deletion of HKCU\\Software\\Kelvaris Demo\\Locked"
else
    echo "note: $deny not built; the key HKCU\\Software\\Kelvaris Demo\\Locked keeps its access list"
fi
wineserver -w
