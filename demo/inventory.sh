# The demo product Kelvaris Demo: its installer codes, and every object the demo shows, with
# what the removal must do to it. Sourced by demo/prepare.sh and demo/run.sh.

DEMO_MAKER='Kelvaris Corporation'
DEMO_UC='{4D1F2C3B-8A7E-4B6C-9D10-2E3F4A5B6C7D}'      # named in demo/sweeptool.cfg
DEMO_BUILTIN='{245AD883-64A7-46AF-A384-9A507E395957}' # one of the tool's built-in codes
DEMO_UOLD='{5E6F7A8B-9C0D-4E1F-A2B3-C4D5E6F7A8B9}'    # the half-removed version's, named nowhere
DEMO_UOTHER='{6A7B8C9D-0E1F-4A2B-B3C4-D5E6F7A8B9C0}'  # another publisher's
DEMO_P1='{1F6B2A10-3C4D-4E5F-8A9B-0C1D2E3F4A01}'      # Kelvaris Demo 1.0.0
DEMO_P2='{1F6B2A10-3C4D-4E5F-8A9B-0C1D2E3F4A02}'      # Kelvaris Demo 2.0.0
DEMO_P3='{1F6B2A10-3C4D-4E5F-8A9B-0C1D2E3F4A03}'      # Kelvaris Demo Agent 3.1.0
DEMO_P4='{1F6B2A10-3C4D-4E5F-8A9B-0C1D2E3F4A04}'      # Kelvaris Demo Legacy 0.9.0
DEMO_P5='{7A8B9C0D-1E2F-4A3B-9C4D-5E6F7A8B9C05}'      # Other Vendor App 4.2.0

DEMO_PF='C:\Program Files (x86)'
DEMO_PROGRAMS='C:\ProgramData\Microsoft\Windows\Start Menu\Programs'
DEMO_INSTALLER='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Installer'
DEMO_UNINSTALL='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall'
DEMO_RUN='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run'
DEMO_MUICACHE='HKCU\SOFTWARE\Microsoft\Windows\ShellNoRoam\MUICache'

# The packed form of a braced GUID, as the installer's registry keys name it.
demo_packed() {
    local g=${1//[\{\}-]/} out='' i
    _demo_rev() { local s=$1 r='' k; for ((k = ${#s} - 1; k >= 0; k--)); do r+=${s:k:1}; done; echo "$r"; }
    out+=$(_demo_rev "${g:0:8}")$(_demo_rev "${g:8:4}")$(_demo_rev "${g:12:4}")
    for ((i = 16; i < 32; i += 2)); do out+=${g:i+1:1}${g:i:1}; done
    echo "$out"
}

# One object per line: group|kind|expected|label|argument|argument
#   kinds: product CODE; package CODE (its cached .msi); service NAME PROGRAM; process NAME;
#   key32/key64 KEY; value32/value64 KEY NAME; file PATH (%USER% is the first profile).
#   expected: gone, or kept.
demo_inventory() {
    # Every line gets both argument fields, so that columns pasted after them line up.
    awk -F'|' -v OFS='|' '{ while (NF < 6) $(NF + 1) = ""; print }' <<EOF
installed products|product|gone|Kelvaris Demo 1.0.0 (upgrade code in the .cfg)|$DEMO_P1
installed products|product|gone|Kelvaris Demo 2.0.0 (upgrade code in the .cfg)|$DEMO_P2
installed products|product|gone|Kelvaris Demo Agent 3.1.0 (built-in upgrade code)|$DEMO_P3
installed products|product|gone|Kelvaris Demo Legacy 0.9.0 (half removed)|$DEMO_P4
installed products|package|gone|  its cached package in C:\\windows\\Installer|$DEMO_P4
installed products|product|kept|Other Vendor App 4.2.0 (another publisher)|$DEMO_P5
installed products|package|kept|  its cached package in C:\\windows\\Installer|$DEMO_P5
services|service|gone|KvDemoSvc (the product's)|KvDemoSvc|kvdemosvc.exe
services|service|kept|OtherVendorSvc (another publisher's)|OtherVendorSvc|othersvc.exe
processes|process|gone|kvtray.exe (tray)|kvtray.exe
processes|process|gone|kvnotify.exe (tray)|kvnotify.exe
processes|process|kept|othertray.exe (another publisher's)|othertray.exe
registry|key64|gone|HKLM\\SOFTWARE\\Kelvaris Demo\\Components|HKLM\\SOFTWARE\\Kelvaris Demo\\Components
registry|value64|gone|HKLM\\SOFTWARE\\Kelvaris Demo: Version|HKLM\\SOFTWARE\\Kelvaris Demo|Version
registry|value64|kept|HKLM\\SOFTWARE\\Kelvaris Demo: InstallDir (ignored)|HKLM\\SOFTWARE\\Kelvaris Demo|InstallDir
registry|key64|kept|HKLM\\SOFTWARE\\Kelvaris Demo\\Shared (ignored)|HKLM\\SOFTWARE\\Kelvaris Demo\\Shared
registry|key64|gone|HKLM\\SOFTWARE\\Kelvaris Demo Agent (64-bit view only)|HKLM\\SOFTWARE\\Kelvaris Demo Agent
registry|key32|kept|HKLM\\SOFTWARE\\Kelvaris Shared (not listed)|HKLM\\SOFTWARE\\Kelvaris Shared
registry|key64|gone|Uninstall entry "Kelvaris Demo 1.0" (by its DisplayName)|$DEMO_UNINSTALL\\{6F2A5C11-0D3E-4B7A-9C21-3E5D0A7B9F10}
registry|key64|kept|Uninstall entry "Other Vendor App"|$DEMO_UNINSTALL\\{0B8E3D22-7A41-4C19-8E53-A1F2C4D6E830}
registry|value32|gone|Run: KelvarisDemo (32-bit view, by its data)|$DEMO_RUN|KelvarisDemo
registry|value64|gone|Run: KelvarisDemo64 (64-bit view)|$DEMO_RUN|KelvarisDemo64
registry|value32|kept|Run: OtherTray (32-bit view)|$DEMO_RUN|OtherTray
registry|key64|gone|HKCU\\Software\\Kelvaris Demo (a subkey denies deletion)|HKCU\\Software\\Kelvaris Demo
registry|value64|gone|HKCU Run: KelvarisDemoUser|HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run|KelvarisDemoUser
registry|value64|gone|MUICache: ...\\Kelvaris Demo\\demo.exe|$DEMO_MUICACHE|$DEMO_PF\\Kelvaris Demo\\demo.exe
registry|value64|kept|MUICache: ...\\Other Vendor\\app.exe|$DEMO_MUICACHE|$DEMO_PF\\Other Vendor\\app.exe
registry|value64|gone|Installer\\Folders: ...\\Kelvaris Demo\\|$DEMO_INSTALLER\\Folders|$DEMO_PF\\Kelvaris Demo\\
registry|value64|kept|Installer\\Folders: ...\\Other Vendor App\\|$DEMO_INSTALLER\\Folders|$DEMO_PF\\Other Vendor App\\
registry|key64|gone|Installer UpgradeCodes of the half-removed version|$DEMO_INSTALLER\\UpgradeCodes\\$(demo_packed "$DEMO_UOLD")
registry|key64|gone|Installer UserData of the half-removed version|$DEMO_INSTALLER\\UserData\\S-1-5-18\\Products\\$(demo_packed "$DEMO_P4")
registry|key64|kept|Installer UserData of Other Vendor App|$DEMO_INSTALLER\\UserData\\S-1-5-18\\Products\\$(demo_packed "$DEMO_P5")
files|file|gone|Kelvaris Demo\\demo.exe|$DEMO_PF\\Kelvaris Demo\\demo.exe
files|file|gone|Kelvaris Demo\\readme.txt (read-only)|$DEMO_PF\\Kelvaris Demo\\readme.txt
files|file|gone|Kelvaris Demo\\kvdemosvc.exe (the service's program)|$DEMO_PF\\Kelvaris Demo\\kvdemosvc.exe
files|file|gone|Kelvaris Demo\\Bin (engine, plug-ins, kvnotify.exe)|$DEMO_PF\\Kelvaris Demo\\Bin
files|file|kept|Kelvaris Demo\\Licenses\\license.key (ignored)|$DEMO_PF\\Kelvaris Demo\\Licenses\\license.key
files|file|gone|Program Files (x86)\\Kelvaris Demo Tools|$DEMO_PF\\Kelvaris Demo Tools
files|file|gone|Program Files (x86)\\Kelvaris Demo Agent (its package's)|$DEMO_PF\\Kelvaris Demo Agent
files|file|kept|Program Files (x86)\\Other Vendor (app, service, tray)|$DEMO_PF\\Other Vendor
files|file|kept|Program Files (x86)\\Other Vendor App (its package's)|$DEMO_PF\\Other Vendor App
files|file|gone|first profile: AppData\\Roaming\\Kelvaris Demo|C:\\users\\%USER%\\AppData\\Roaming\\Kelvaris Demo
files|file|gone|second profile: ...\\Kelvaris Demo\\settings.ini|C:\\users\\Second\\AppData\\Roaming\\Kelvaris Demo\\settings.ini
files|file|kept|second profile: ...\\Kelvaris Demo\\Quarantine (ignored)|C:\\users\\Second\\AppData\\Roaming\\Kelvaris Demo\\Quarantine\\held.bin
files|file|gone|desktop: Kelvaris Demo.lnk|C:\\users\\%USER%\\Desktop\\Kelvaris Demo.lnk
files|file|kept|desktop: Other Vendor App.lnk|C:\\users\\%USER%\\Desktop\\Other Vendor App.lnk
files|file|gone|start menu: Programs\\Kelvaris Demo|$DEMO_PROGRAMS\\Kelvaris Demo
files|file|kept|start menu: Programs\\Other Vendor App|$DEMO_PROGRAMS\\Other Vendor App
files|file|kept|ProgramData\\KvDemoCache (marker owned by a user)|C:\\ProgramData\\KvDemoCache
files|file|kept|ProgramData\\OtherCache|C:\\ProgramData\\OtherCache
EOF
}
