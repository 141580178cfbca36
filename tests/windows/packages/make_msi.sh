#!/usr/bin/env bash
# Builds a small per-machine Windows Installer package with wixl.
#
# Usage: make_msi.sh OUT.msi NAME PRODUCTCODE UPGRADECODE VERSION PUBLISHER [FILE...]
#
# The package installs the given files (or, without any, one text file NAME.txt) into
# "[ProgramFilesFolder]NAME\", one component per file with the file as its key path, plus
# one component whose key path is the registry value HKLM\SOFTWARE\PUBLISHER\NAME "Version"
# (the 32-bit view, as for any 32-bit package). The folder is created by the installation.
# Codes are braced GUID text. Component codes derive from the installed path, so two
# packages that install the same file share its component, as the component rules want.
#
# The package has no Upgrade table: installing a second version (another product code
# under the same upgrade code) keeps the first, and both are related products of the
# upgrade code.
set -euo pipefail

if [ $# -lt 6 ]; then
    echo "usage: $0 OUT.msi NAME PRODUCTCODE UPGRADECODE VERSION PUBLISHER [FILE...]" >&2
    exit 2
fi
out=$1 name=$2 product=$3 upgrade=$4 version=$5 publisher=$6
shift 6

guid_re='^\{[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}\}$'
for code in "$product" "$upgrade"; do
    [[ $code =~ $guid_re ]] || { echo "$0: not a braced GUID: $code" >&2; exit 2; }
done
[[ $version =~ ^[0-9]+(\.[0-9]+){0,3}$ ]] || { echo "$0: bad version: $version" >&2; exit 2; }
# Names end up in XML attributes and in Windows paths.
for text in "$name" "$publisher"; do
    [[ -n $text && $text != *[\<\>\&\"\\/:*?\|]* ]] || { echo "$0: unusable name: '$text'" >&2; exit 2; }
done

# A GUID made from a text: the same text always gives the same GUID.
guid_of() {
    local h
    h=$(printf '%s' "$1" | sha1sum | cut -c1-32 | tr 'a-f' 'A-F')
    echo "${h:0:8}-${h:8:4}-4${h:13:3}-8${h:17:3}-${h:20:12}"
}
xml_escape() { sed -e 's/&/\&amp;/g' -e 's/</\&lt;/g' -e 's/>/\&gt;/g' -e "s/'/\&apos;/g" -e 's/"/\&quot;/g'; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

files=("$@")
if [ ${#files[@]} -eq 0 ]; then
    printf '%s %s by %s\r\n' "$name" "$version" "$publisher" > "$work/$name.txt"
    files=("$work/$name.txt")
fi

components=""
refs=""
i=0
for f in "${files[@]}"; do
    [ -f "$f" ] || { echo "$0: no such file: $f" >&2; exit 2; }
    base=$(basename "$f")
    [[ $base != *[\<\>:\"\|?*]* ]] || { echo "$0: not a Windows file name: $base" >&2; exit 2; }
    # wixl takes sources relative to the folder it runs in.
    mkdir -p "$work/files/$i"
    cp "$f" "$work/files/$i/$base"
    src=$(printf 'files/%s/%s' "$i" "$base" | xml_escape)
    ebase=$(printf '%s' "$base" | xml_escape)
    guid=$(guid_of "file|$name|${base,,}")
    components+="          <Component Id=\"File$i\" Guid=\"$guid\">
            <File Id=\"F$i\" Name=\"$ebase\" Source=\"$src\" KeyPath=\"yes\"/>
          </Component>
"
    refs+="      <ComponentRef Id=\"File$i\"/>
"
    i=$((i + 1))
done
ename=$(printf '%s' "$name" | xml_escape)
epub=$(printf '%s' "$publisher" | xml_escape)
regguid=$(guid_of "reg|$publisher|$name")

cat > "$work/package.wxs" <<XML
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="${product:1:36}" UpgradeCode="${upgrade:1:36}" Name="$ename" Version="$version"
           Manufacturer="$epub" Language="1033">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"
             Description="$ename" Manufacturer="$epub"/>
    <Media Id="1" Cabinet="data.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="$ename">
$components          <Component Id="Registry" Guid="$regguid">
            <CreateFolder/>
            <RegistryValue Root="HKLM" Key="SOFTWARE\\$epub\\$ename" Name="Version" Type="string"
                           Value="$version" KeyPath="yes"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Main" Level="1">
$refs      <ComponentRef Id="Registry"/>
    </Feature>
  </Product>
</Wix>
XML

(cd "$work" && wixl -a x86 -o out.msi package.wxs)
mv "$work/out.msi" "$out"
