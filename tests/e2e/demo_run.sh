#!/usr/bin/env bash
# The demo of scripts/demo as an acceptance test: every object it lists must end as expected
# (the product's gone, the ignored and the unrelated intact) and the run must give 3010.
set -uo pipefail
build=${1:?build folder with sweeptool.exe}
here=$(cd "$(dirname "$0")/../.." && pwd)
exec bash "$here/demo/run.sh" "$build"
