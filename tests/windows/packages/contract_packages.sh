#!/usr/bin/env bash
# Builds the packages the installer contract test installs under Wine into OUTDIR:
# family1.msi and family2.msi (two products under one upgrade code, 1.0.0 and 2.0.1) and
# other.msi (another upgrade code, another publisher). The codes and names are the ones
# tests/contract/installer_contract_test.cpp expects.
# Usage: contract_packages.sh OUTDIR
set -euo pipefail
out=${1:?usage: $0 OUTDIR}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$out"
"$here/make_msi.sh" "$out/family1.msi" "Sweep Contract One" "{5EE7C0DE-0001-4A11-9A11-000000000001}" \
    "{5EE7C0DE-00F0-4A11-9A11-0000000000F1}" 1.0.0 "Kelvaris Contract"
"$here/make_msi.sh" "$out/family2.msi" "Sweep Contract Two" "{5EE7C0DE-0002-4A11-9A11-000000000002}" \
    "{5EE7C0DE-00F0-4A11-9A11-0000000000F1}" 2.0.1 "Kelvaris Contract"
"$here/make_msi.sh" "$out/other.msi" "Sweep Contract Other" "{5EE7C0DE-0003-4A11-9A11-000000000003}" \
    "{5EE7C0DE-00F0-4A11-9A11-0000000000F2}" 3.1 "Other Contract Vendor"
