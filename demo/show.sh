#!/usr/bin/env bash
# Prints what is left of the demo product in the Wine machine of $WINEPREFIX: its files,
# the deletions still queued for the next restart, and its registry entries in both views.
set -uo pipefail
: "${WINEPREFIX:?WINEPREFIX must name the Wine machine}"
c="$WINEPREFIX/drive_c"

echo "-- files"
shopt -s nullglob
for p in "$c/Program Files (x86)/Kelvaris Demo" "$c/Program Files (x86)/Kelvaris Demo Tools" \
         "$c/Program Files (x86)/Other Vendor" "$c/ProgramData/KvDemoCache" "$c/ProgramData/OtherCache" \
         "$c"/users/*/AppData/Roaming/"Kelvaris Demo"; do
    [ -e "$p" ] && (cd "$c" && find "${p#"$c"/}" | sed 's/^/  C:\//')
done

echo "-- queued for deletion at restart"
wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations 2>/dev/null |
    tr -d '\r' | sed -n 's/.*REG_MULTI_SZ *//p' | sed 's/\\0/\n/g' | grep -v '^$' | sed 's/^/  /' || true

echo "-- registry"
query() {
    local key=$1 view=$2
    if wine reg query "$key" "/reg:$view" >/dev/null 2>&1; then
        echo "  present ($view-bit view): $key"
        wine reg query "$key" "/reg:$view" 2>/dev/null | tr -d '\r' | grep -E '^ +[^ ]' | sed 's/^ */      /'
    else
        echo "  gone    ($view-bit view): $key"
    fi
}
query 'HKLM\SOFTWARE\Kelvaris Demo' 64
query 'HKLM\SOFTWARE\Kelvaris Demo\Components' 64
query 'HKLM\SOFTWARE\Kelvaris Demo\Shared' 64
query 'HKLM\SOFTWARE\Kelvaris Demo Agent' 64
query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{6F2A5C11-0D3E-4B7A-9C21-3E5D0A7B9F10}' 64
query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{0B8E3D22-7A41-4C19-8E53-A1F2C4D6E830}' 64
query 'HKLM\SOFTWARE\Kelvaris Shared' 32
query 'HKCU\Software\Kelvaris Demo' 64
echo "  Run values (64-bit view):"
wine reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run' /reg:64 2>/dev/null | tr -d '\r' | grep -E '^ +[^ ]' | sed 's/^ */      /'
echo "  Run values (32-bit view):"
wine reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run' /reg:32 2>/dev/null | tr -d '\r' | grep -E '^ +[^ ]' | sed 's/^ */      /'
echo "  Run values (current user):"
wine reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' 2>/dev/null | tr -d '\r' | grep -E '^ +[^ ]' | sed 's/^ */      /'
