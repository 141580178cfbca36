#!/usr/bin/env bash
# scripts/release: two runs from clean build folders give the same bytes; the zip holds the
# five files in one folder, with checksums that hold; the executables are stripped, static
# and carry the version; and the released tool, beside the sample configuration, runs
# through under Wine; so does a release signed by a throw-away authority, which verifies.
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
. "$here/scripts/lib/wine.sh"

work=$(mktemp -d /tmp/sweep-release.XXXXXX)
cleanup() {
    wine_drop_prefix
    rm -rf "$work"
}
trap cleanup EXIT

version=$(sed -n 's/^project(SweepTool VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
name=sweeptool-$version

release_run() {
    local n=$1
    "$here/scripts/release" --build "$work/build$n" --out "$work/out$n" \
        >"$work/release$n.log" 2>&1
}
release_run 1
e2e_equal "the first release run succeeds" 0 "$?"
release_run 2
e2e_equal "the second release run, in another build folder, succeeds" 0 "$?"
tail -n 8 "$work/release1.log"
(cd "$work" && echo test-password >pass && o="-x509 -newkey rsa:2048 -nodes -days 2" &&
    openssl req $o -subj /CN=Root -keyout ca.key -out ca.pem && openssl req $o -subj /CN=Signer -CA ca.pem \
        -CAkey ca.key -addext basicConstraints=CA:FALSE -addext extendedKeyUsage=codeSigning -keyout cs.key -out cs.pem &&
    openssl pkcs12 -export -inkey cs.key -in cs.pem -passout file:pass -out cs.pfx) >"$work/pki.log" 2>&1
SIGN_PFX=$work/cs.pfx SIGN_PASSWORD_FILE=$work/pass "$here/scripts/release" --reuse --build "$work/build2" \
    --out "$work/outs" >"$work/releases.log" 2>&1
e2e_equal "a release signed with a test certificate, on the second run's build, succeeds" 0 "$?"

zip1=$work/out1/$name.zip
zip2=$work/out2/$name.zip
e2e_check "the two zips are byte-identical" cmp -s "$zip1" "$zip2"
mkdir -p "$work/unzip1" "$work/unzip2"
unzip -q "$zip1" -d "$work/unzip1" 2>/dev/null
unzip -q "$zip2" -d "$work/unzip2" 2>/dev/null
ds=$work/unzips/$name && unzip -q "$work/outs/$name.zip" -d "$work/unzips" 2>/dev/null
d1=$work/unzip1/$name
d2=$work/unzip2/$name
for exe in sweeptool.exe instkvps_x64.exe; do
    e2e_check "$exe is byte-identical in both runs" cmp -s "$d1/$exe" "$d2/$exe"
done

listing=$(unzip -Z1 "$zip1" 2>/dev/null | tr '\n' ' ')
e2e_equal "the zip holds exactly the five files, in one folder, in a fixed order" \
    "$name/sweeptool.exe $name/instkvps_x64.exe $name/sweeptool.cfg $name/EXIT-CODES.txt $name/SHA256SUMS " \
    "$listing"
zip_stamps_fixed() {
    python3 - "$1" "$(git -C "$here" log -1 --format=%ct)" <<'PY'
import sys, time, zipfile
epoch = int(sys.argv[2])
want = time.gmtime(epoch + epoch % 2)[:6]  # DOS times count in steps of 2 seconds
for info in zipfile.ZipFile(sys.argv[1]).infolist():
    if info.date_time != want or info.extra or info.is_dir():
        sys.exit("%s: %s, extra %r" % (info.filename, info.date_time, info.extra))
PY
}
e2e_check "every file carries the commit's time, no extra fields, no folder entries" zip_stamps_fixed "$zip1"
e2e_check "sha256sum -c passes inside the unpacked folders, signed too" bash -c "
    (cd '$d1' && sha256sum --quiet -c SHA256SUMS) && cd '$ds' && sha256sum --quiet -c SHA256SUMS"
unsigned_is() { # but for the header's checksum and the padding before the signature
    osslsigncode remove-signature -in "$1" -out "$work/${1##*/}" >/dev/null && python3 -c 'import sys
def body(path):
    d = open(path, "rb").read(); at = int.from_bytes(d[60:64], "little") + 88
    return (d[:at] + d[at + 4:]).rstrip(b"\0")
sys.exit(body(sys.argv[1]) != body(sys.argv[2]))' "$work/${1##*/}" "$2"
}
verifies() { osslsigncode verify -CAfile "$work/ca.pem" -in "$1" >/dev/null 2>&1; }
for exe in sweeptool.exe instkvps_x64.exe; do
    e2e_check "signed $exe verifies against the test authority" verifies "$ds/$exe"
    e2e_check "signed $exe without its signature is the unsigned one" unsigned_is "$ds/$exe" "$d1/$exe"
done
python3 -c 'd = bytearray(open(0, "rb").read()); d[len(d) // 2] ^= 1; open(1, "wb").write(d)' <"$ds/sweeptool.exe" >"$work/flip.exe"
e2e_equal "one flipped byte fails the verification" 1 "$(verifies "$work/flip.exe"; echo $?)"
e2e_check "SHA256SUMS names the four other files" bash -c "
    [ \"\$(awk '{ print \$2 }' '$d1/SHA256SUMS' | tr '\n' ' ')\" = 'sweeptool.exe instkvps_x64.exe sweeptool.cfg EXIT-CODES.txt ' ]"
e2e_check "EXIT-CODES.txt is the README's table as plain text" bash -c "
    tr -d '\r' <'$d1/EXIT-CODES.txt' | grep -q '^3010 *the removal succeeded' &&
    tr -d '\r' <'$d1/EXIT-CODES.txt' | grep -q '^1625 ' && ! grep -q '|' '$d1/EXIT-CODES.txt'"

size=$(stat -c %s "$d1/sweeptool.exe")
e2e_check "sweeptool.exe is at most 1.25 MiB ($size bytes)" [ "$size" -le 1310720 ]

for pair in i686:sweeptool.exe x86_64:instkvps_x64.exe; do
    tools=${pair%%:*}-w64-mingw32
    exe=$d1/${pair#*:}
    e2e_check "${pair#*:} has no debug sections and no symbols" bash -c "
        ! $tools-objdump -h '$exe' | grep -q '\\.debug' && [ -z \"\$($tools-nm '$exe' 2>/dev/null)\" ]"
    e2e_check "${pair#*:} imports no MinGW runtime DLL" bash -c "
        $tools-objdump -p '$exe' | grep -q 'DLL Name' &&
        ! $tools-objdump -p '$exe' | grep 'DLL Name' | grep -qiE 'libgcc|libstdc|libwinpthread|mingw'"
done

# The four-part file version of the fixed part, and a string of the string table, of a
# version resource.
version_of() {
    python3 - "$@" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
# Only the version resource itself: the program's code may name the same keys.
start = data.find("VS_VERSION_INFO".encode("utf-16-le"))
if start < 0:
    sys.exit(1)
if len(sys.argv) > 2:
    key = (sys.argv[2] + "\0").encode("utf-16-le")
    i = data.find(key, start)
    if i < 0:
        sys.exit(1)
    i += len(key)
    i += (4 - i % 4) % 4  # values are 32-bit aligned
    end = data.find(b"\0\0", i)
    while end >= 0 and (end - i) % 2:
        end = data.find(b"\0\0", end + 1)
    print(data[i:end].decode("utf-16-le"))
    sys.exit(0)
i = data.find(struct.pack("<I", 0xFEEF04BD), start)
if i < 0:
    sys.exit(1)
ms, ls = struct.unpack_from("<II", data, i + 8)
print("%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF))
PY
}
for exe in sweeptool.exe instkvps_x64.exe; do
    e2e_equal "$exe: the version resource's file version" "$version" "$(version_of "$d1/$exe")"
    e2e_equal "$exe: FileVersion string" "$version" "$(version_of "$d1/$exe" FileVersion)"
    e2e_equal "$exe: ProductName string" "Kelvaris Clearout Tool" "$(version_of "$d1/$exe" ProductName)"
done
e2e_equal "instkvps_x64.exe: FileDescription string" "Kelvaris network provider remover (64-bit)" \
    "$(version_of "$d1/instkvps_x64.exe" FileDescription)"
e2e_equal "instkvps_x64.exe: OriginalFilename string" "instkvps_x64.exe" \
    "$(version_of "$d1/instkvps_x64.exe" OriginalFilename)"
e2e_check "instkvps_x64.exe: the manifest asks for administrator rights on amd64, with the tool's version" bash -c "
    grep -aq 'requireAdministrator' '$d1/instkvps_x64.exe' &&
    grep -aq 'version=\"$version\" processorArchitecture=\"amd64\"' '$d1/instkvps_x64.exe' &&
    grep -aq '8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a' '$d1/instkvps_x64.exe'"

# The guard of the build folder: a folder the script did not make is never wiped.
mkdir -p "$work/foreign"
echo keep >"$work/foreign/keep.txt"
"$here/scripts/release" --build "$work/foreign" --out "$work/out3" >"$work/release3.log" 2>&1
code=$?
e2e_check "a non-empty build folder the script did not make is refused and left as it was" \
    bash -c "[ $code -ne 0 ] && [ -f '$work/foreign/keep.txt' ] && [ ! -e '$work/out3/$name.zip' ]"

# The released files, as a support engineer unpacks them, in a fresh Wine machine.
wine_new_prefix
tools=$(wine_c Tools)
mkdir -p "$tools"
cp "$d1"/* "$tools/"
code=$(wine_exit_code 'C:\Tools\instkvps_x64.exe' bogus)
e2e_equal "the released instkvps_x64.exe answers a bad argument with 87" 87 "$code"
code=$(wine_exit_code 'C:\Tools\sweeptool.exe' --NOGUI --noreboot)
e2e_equal "the released tool beside the sample configuration runs through (3010)" 3010 "$code"
log=$(wine_c ProgramData/Kelvaris/Logs/tool/sweeptool.log)
e2e_check "the log names the release's version" bash -c "
    iconv -f UTF-16LE -t UTF-8 '$log' 2>/dev/null | grep -q 'Binary version: $version, compilation time:'"
# The restart carries out the queued deletions; the sample removes the product's data
# folder, but keeps the log inside it.
wine_restart
e2e_check "after the restart, the tool's own log is still there" [ -f "$log" ]
rm -f "$tools/sweeptool.cfg"
code=$(wine_exit_code 'C:\Tools\sweeptool.exe' --NOGUI --noreboot)
e2e_equal "the released tool without a configuration ends with 2" 2 "$code"
mkdir -p "$(wine_c Signed)" && cp "$ds"/* "$(wine_c Signed)/"
e2e_equal "the signed tool's --check of the sample configuration gives 0" 0 "$(wine_exit_code 'C:\Signed\sweeptool.exe' --check)"
e2e_summary
