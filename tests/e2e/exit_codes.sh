#!/usr/bin/env bash
# sweeptool.exe under Wine: the executable's build properties and the exit codes that
# deployment tools read.
set -uo pipefail
build=${1:?build folder with sweeptool.exe}
here=$(cd "$(dirname "$0")/../.." && pwd)
. "$here/scripts/lib/wine.sh"

exe="$build/sweeptool.exe"
e2e_check "sweeptool.exe is PE32 for Intel 80386" bash -c "file '$exe' | grep -q 'PE32 executable (GUI) Intel 80386'"
e2e_check "sweeptool.exe needs no MinGW DLLs" \
    bash -c "! i686-w64-mingw32-objdump -p '$exe' | grep -i 'DLL Name' | grep -qiE 'libgcc|libstdc|libwinpthread|mingw'"
# On a Remote Desktop host an unaware program may be given a private Windows folder.
e2e_check "sweeptool.exe is terminal-server aware (DllCharacteristics 0x8000)" bash -c \
    "(( 0x\$(i686-w64-mingw32-objdump -p '$exe' | sed -n 's/^DllCharacteristics\s*//p') & 0x8000 ))"
# Only libraries Windows always takes from System32 (the KnownDLLs, ntdll) and the common
# controls the manifest binds side by side may be in the import tables: any other would be
# looked for beside the tool first.
known='advapi32|comdlg32|gdi32|imagehlp|imm32|kernel32|msvcrt|normaliz|ole32|oleaut32|psapi|rpcrt4|sechost|setupapi|shcore|shell32|shlwapi|user32|ws2_32|wldap32|combase|clbcatq|msctf|nsi|difxapi|gdiplus|ntdll'
for pair in i686:sweeptool.exe:comctl32 x86_64:instkvps_x64.exe:; do
    IFS=: read -r arch file sxs <<<"$pair"
    others=$($arch-w64-mingw32-objdump -p "$build/$file" | sed -n 's/^\s*DLL Name: //p' |
        grep -viE "^($known${sxs:+|$sxs})\.dll$" | tr '\n' ' ')
    e2e_equal "$file imports only KnownDLLs${sxs:+ and the side-by-side $sxs of the manifest}" "" "$others"
done
e2e_check "the manifest binds the version 6 common controls" \
    bash -c "grep -aq 'name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"' '$exe'"
e2e_check "the manifest requests administrator rights" bash -c "grep -aq 'requireAdministrator' '$exe'"
e2e_check "the manifest declares Windows 7 and Windows 10/11" \
    bash -c "grep -aq '35138b9a-5d96-4fbd-8e2d-a2440225f93a' '$exe' && grep -aq '8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a' '$exe'"
version_of() {
    python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
i = data.find(struct.pack("<I", 0xFEEF04BD))
if i < 0:
    sys.exit(1)
ms, ls = struct.unpack_from("<II", data, i + 8)
print("%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF))
PY
}
want_version=$(sed -n 's/^project(SweepTool VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
e2e_equal "the version resource carries the four-part file version" "$want_version" "$(version_of "$exe")"

wine_new_prefix
trap wine_drop_prefix EXIT
tools=$(wine_c Tools)
mkdir -p "$tools"
cp "$exe" "$tools/sweeptool.exe"
cp "$(dirname "$exe")/instkvps_x64.exe" "$tools/"
# A configuration that names nothing present on this machine.
cat > "$tools/sweeptool.cfg" <<'CFG'
[msi upgradecode 1]
[service 1]
[process 1]
[registry value 1]
[registry key 1]
[file 1]
CFG

# --help: the usage box is a real window titled "Usage"; closing it ends the run with 0.
usage_run() {
    timeout 90 xvfb-run -a bash -c '
        wine "C:\\Tools\\sweeptool.exe" --noreboot --help & pid=$!
        for i in $(seq 1 40); do w=$(xdotool search --name "^Usage$" 2>/dev/null | head -1); [ -n "$w" ] && break; sleep 1; done
        [ -n "$w" ] || { kill $pid; exit 90; }
        xdotool windowactivate --sync "$w" key Return 2>/dev/null || xdotool key Return
        wait $pid'
}
usage_run >/dev/null 2>&1
e2e_equal "--help shows a window titled Usage and ends with 0 when it is closed" 0 "$?"
e2e_check "--help changed nothing: no log was written" bash -c "[ ! -e '$(wine_c ProgramData/Kelvaris/Logs/tool/sweeptool.log)' ]"
code=$(wine_exit_code 'C:\Tools\sweeptool.exe' --NOGUI --noreboot)
e2e_equal "--NOGUI --noreboot: sequence done, restart still needed (3010)" 3010 "$code"
code=$(wine_exit_code 'C:\Tools\sweeptool.exe' --nogui --NOREBOOT --server --reboot-delay=30)
e2e_equal "options in any case with --server and a delay (3010)" 3010 "$code"

# Nothing a standard user placed runs: an msi.dll beside the tool, preferred to Wine's own as
# Windows prefers what lies beside a program, is not loaded (not version.dll: Wine's own user32
# imports it); a remover in the current folder, none beside the tool, never runs.
planted=$(mktemp -d /tmp/sweep-planted.XXXXXX)
marker='CloseHandle(CreateFileA(MARKER, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0))'
printf '#include <windows.h>\nBOOL WINAPI DllMain(HINSTANCE h, DWORD r, LPVOID p) { if (r == 1) %s; return TRUE; }\nint main(void) { %s; return 77; }\n' "$marker" "$marker" >"$planted/p.c"
i686-w64-mingw32-gcc -shared -o "$tools/msi.dll" -DMARKER='"C:\\planted-msi.txt"' "$planted/p.c"
downloads=$(wine_c users/Public/Downloads)
mkdir -p "$downloads" "$(wine_c Tools2)"
x86_64-w64-mingw32-gcc -o "$downloads/instkvps_x64.exe" -DMARKER='"C:\\planted-remover.txt"' "$planted/p.c"
cp "$exe" "$tools/sweeptool.cfg" "$(wine_c Tools2)/"
code=$(WINEDLLOVERRIDES="$WINEDLLOVERRIDES;msi=n,b" wine_exit_code 'C:\Tools\sweeptool.exe' --NOGUI --noreboot)
e2e_check "an msi.dll beside the tool is not loaded (3010: $code)" bash -c "[ $code = 3010 ] && [ ! -e '$(wine_c planted-msi.txt)' ]"
log=$(wine_c ProgramData/Kelvaris/Logs/tool/sweeptool.log)
rm -f "$tools/msi.dll" "$log"
code=$(cd "$downloads" && wine_exit_code 'C:\Tools2\sweeptool.exe' --NOGUI --noreboot)
e2e_check "a remover in the current folder never runs and the run says so (3010: $code)" bash -c "
    [ $code = 3010 ] && [ ! -e '$(wine_c planted-remover.txt)' ] &&
    iconv -f UTF-16LE -t UTF-8 '$log' | grep -q 'Calling instkvps_x64 failed!'"
rm -rf "$planted" "$(wine_c Tools2)" "$downloads/instkvps_x64.exe"

# Without --NOGUI the run goes through the dialog: tests/e2e/dialog_run.sh drives it.
# A configuration problem stops the run before any removal, with its Windows error code.
printf '[service 1]\r\nremove=REG_KEY,BY_REFERENCE,HKEY_LOCAL_MACHINE\\SOFTWARE\\X\r\n' > "$tools/sweeptool.cfg"
code=$(wine_exit_code 'C:\Tools\sweeptool.exe' --NOGUI)
e2e_equal "an entry of a pair the reader refuses ends the run with 1610" 1610 "$code"
rm -f "$tools/sweeptool.cfg"
code=$(wine_exit_code 'C:\Tools\sweeptool.exe' --NOGUI)
e2e_equal "a missing configuration file ends the run with 2, and no restart" 2 "$code"
# The safe-boot key is not written in a normal boot.
e2e_check "no safe-boot key in a normal boot" \
    bash -c "! wine reg query 'HKLM\\SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\Network\\MSIServer' >/dev/null 2>&1"
e2e_summary
