#!/usr/bin/env bash
# The demo, and the acceptance test that scripts/test runs: a throw-away Wine machine with a
# damaged Kelvaris Demo (demo/prepare.sh), C:\Tools\sweeptool.exe --NOGUI --noreboot with
# demo/sweeptool.cfg, a restart of the Wine machine, then a table of every object of
# demo/inventory.sh before the run, after it and after the restart, the log's summary, the
# exit code with its meaning, and one PASS or FAIL line per object and its expected end.
#
# With --gui the tool runs with its dialog on a virtual X display instead (START, then LATER)
# and screenshots of the ready, running and finished states go to $DEMO_SHOTS (default
# build/demo-shots).
# Usage: demo/run.sh BUILD-FOLDER [--gui]
set -uo pipefail
build=$(cd "${1:?the windows build folder}" && pwd)
gui=
[ "${2:-}" = --gui ] && gui=1
here=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=../scripts/lib/wine.sh
. "$here/scripts/lib/wine.sh"
# shellcheck source=inventory.sh
. "$here/demo/inventory.sh"

work=$(mktemp -d /tmp/sweep-demo.XXXXXX)
shots=${DEMO_SHOTS:-$here/build/demo-shots}
finish() {
    wine_drop_prefix
    [ -n "$gui" ] && dialog_stop_display
    rm -rf "$work"
}
trap finish EXIT
if [ -n "$gui" ]; then
    # shellcheck source=../scripts/lib/dialog.sh
    . "$here/scripts/lib/dialog.sh"
    mkdir -p "$shots"
    dialog_start_display
fi

echo "== preparing a throw-away Wine machine with a damaged Kelvaris Demo"
wine_new_prefix
c="$WINEPREFIX/drive_c"
bash "$here/demo/prepare.sh" "$build"
user=$(ls "$c/users" | grep -vix public | grep -vx Second | head -n 1)
mkdir -p "$c/Tools" "$c/DemoProbe"
cp "$build/sweeptool.exe" "$build/instkvps_x64.exe" "$c/Tools/"
cp "$here/demo/sweeptool.cfg" "$c/Tools/sweeptool.cfg"
cp "$build/programs/msiquery.exe" "$build/programs/proclist.exe" "$c/DemoProbe/"

unix_path() {
    local p=${1//%USER%/$user}
    p=${p#[Cc]:\\}
    echo "$c/${p//\\//}"
}
msi_info() { wine 'C:\DemoProbe\msiquery.exe' info "$1" "$2" 2>/dev/null | tr -d '\r'; }

# The state of one object: "-" when it is not there.
state_of() {
    local kind=$1 a=$2 b=${3:-} view=${1: -2} out
    case $kind in
        product) [[ $(msi_info "$a" VersionString) == ERROR* ]] && echo - || echo installed ;;
        package)
            # The cached package's name is random; it is learnt while the product is known.
            [ -s "$work/package-$a" ] || msi_info "$a" LocalPackage | grep -v '^ERROR' >"$work/package-$a"
            file_state "$(cat "$work/package-$a")" ;;
        service)
            if ! wine reg query "HKLM\\System\\CurrentControlSet\\Services\\$a" >/dev/null 2>&1; then
                echo -
            elif grep -qix -- "$b" "$work/processes"; then
                echo running
            else
                echo stopped
            fi ;;
        process)
            out=$(grep -cix -- "$a" "$work/processes")
            [ "$out" -gt 0 ] && echo "$out running" || echo - ;;
        key32 | key64) wine reg query "$a" "/reg:$view" >/dev/null 2>&1 && echo present || echo - ;;
        value32 | value64)
            # Listed rather than asked by name: a name that ends in "\" does not survive the
            # trip through a Windows command line.
            wine reg query "$a" "/reg:$view" 2>/dev/null | tr -d '\r' | grep -qF -- "    $b    REG_" &&
                echo present || echo - ;;
        file) file_state "$a" ;;
    esac
}
file_state() {
    local path=${1//%USER%/$user}
    if [ -z "$path" ] || [ ! -e "$(unix_path "$path")" ]; then
        echo -
    elif grep -qixF -- "$path" "$work/pending"; then
        echo queued
    else
        echo present
    fi
}

# Writes the state of every object, one per line, to $work/<phase>.
snapshot() {
    local phase=$1 group kind expect label a b
    wine 'C:\DemoProbe\proclist.exe' 2>/dev/null | tr -d '\r' >"$work/processes"
    wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations \
        2>/dev/null | tr -d '\r' | sed -n 's/.*REG_MULTI_SZ *//p' | sed 's/\\0/\n/g' |
        sed 's/^\\??\\//' | grep -v '^$' >"$work/pending"
    : >"$work/$phase"
    while IFS='|' read -r group kind expect label a b; do
        state_of "$kind" "$a" "$b" >>"$work/$phase"
    done < <(demo_inventory)
}

meaning_of() {
    case $1 in
        3010) echo "the removal ran through; a restart is needed to finish it (--noreboot)" ;;
        1641) echo "the removal ran through and a restart was started" ;;
        0) echo "the usage box was shown; nothing was done" ;;
        1602) echo "cancelled in the dialog before START" ;;
        1603) echo "the dialog ended without a run" ;;
        5) echo "not run as an elevated administrator" ;;
        1625) echo "removal refused: a product that must stay is present, or the install root is unsafe" ;;
        2) echo "the configuration file is missing" ;;
        1610) echo "a configuration line cannot be used (the log quotes it)" ;;
        '') echo "no exit code could be read" ;;
        *) echo "a step failed with Windows error $1" ;;
    esac
}

snapshot before
if [ -z "$gui" ]; then
    echo "== running C:\\Tools\\sweeptool.exe --NOGUI --noreboot (about two minutes: the installer steps pause by design)"
    code=$(wine_exit_code 'C:\Tools\sweeptool.exe' --NOGUI --noreboot)
else
    echo "== running C:\\Tools\\sweeptool.exe --noreboot with its dialog; screenshots go to $shots"
    launch demo --noreboot
    wait_window && layout
    sleep 1
    shot ready && cp "$shots/ready.png" "$shots/1-ready.png"
    click $((left_x + 80)) $((button_y + 20))
    sleep 3
    shot running && cp "$shots/running.png" "$shots/2-running.png"
    wait_finished && cp "$shots/finished.png" "$shots/3-finished.png"
    rm -f "$shots/ready.png" "$shots/running.png" "$shots/finished.png"
    # The screenshots show the dialog alone.
    area=$(xdotool getwindowgeometry "$win" 2>/dev/null |
        awk '/Position/ { split($2, p, ",") } /Geometry/ { g = $2 } END { print g "+" p[1] "+" p[2] }')
    for f in "$shots"/[123]-*.png; do convert "$f" -crop "$area" +repage "$f" 2>/dev/null; done
    click $((right_x + 80)) $((button_y + 20))
    code=$(exit_of demo)
fi
snapshot after
cp "$work/pending" "$work/pending-after"

echo "== restarting the Wine machine: its programs end, then the queued deletions are carried out"
wine_restart
snapshot restart

# The table.
printf '\n%-62s %-10s %-10s %-10s %s\n' "" "before" "after run" "restarted" "expected"
last_group=
paste -d'|' <(demo_inventory) "$work/before" "$work/after" "$work/restart" >"$work/table"
# The restart resolves each queued name again; only names inside the run's staging folders,
# which no standard user can reach, are queued.
only_staged_names() {
    [ -s "$work/pending-after" ] || return 1
    ! grep -iv '^C:\\\$SweepTool\.Staging\.' "$work/pending-after" | sed 's/^/  queued elsewhere: /' | grep .
}
e2e_check "only names inside staging folders are queued for the restart" only_staged_names
while IFS='|' read -r group kind expect label a b before after restart; do
    [ "$group" != "$last_group" ] && printf -- '-- %s\n' "$group" && last_group=$group
    printf '  %-60s %-10s %-10s %-10s %s\n' "${label:0:60}" "$before" "$after" "$restart" "$expect"
done <"$work/table"

log="$c/ProgramData/Kelvaris/Logs/tool/sweeptool.log"
echo
if [ -f "$log" ]; then
    echo "== the log's summary (the whole log: C:\\ProgramData\\Kelvaris\\Logs\\tool\\sweeptool.log)"
    # The counts of each step, the installer and service results, and every error; the built-in
    # upgrade codes' results and the warnings are counted rather than listed.
    iconv -f UTF-16LE -t UTF-8 "$log" | tr -d '\r' | sed 's/^\xEF\xBB\xBF//' | cut -c 25- | awk '
        / \.W: / { warnings++ }
        / \*E: / { errors++ }
        /HCMSIUninstall returned value/ { builtin[$NF]++; next }
        / (\*F|\*E): |Binary version|Config file found|was successful with|: (CleanupFiles|CleanupRegValues|CleanupRegKeys|StopNTProcesses|StopNTServices|ResetLspStack) (was|encountered)|MsiUninstall returned|Terminating|CWinFirewall/ {
            print "  " substr($0, 1, 190)
        }
        END {
            for (r in builtin) printf "  built-in upgrade codes: %d returned %s\n", builtin[r], r
            printf "  %d warnings and %d errors in all\n", warnings, errors
        }'
    [ -n "${DEMO_KEEP_LOG:-}" ] && cp "$log" "$DEMO_KEEP_LOG"
else
    echo "== no log was written"
fi
echo
echo "exit code: ${code:-none}: $(meaning_of "$code")"

# Each object against its expected end. A listed object is gone after the run (files after
# the restart, which carries out their queued deletion); a kept one is still there after the
# run and after the restart (a kept program only until the restart, which ends every program).
echo
echo "== checks"
e2e_equal "exit code 3010" 3010 "$code"
# Whether an object ended as expected, from its states before, after the run and after the
# restart.
ended_as_expected() {
    local kind=$1 expect=$2 before=$3 after=$4 restart=$5
    if [ "$expect" = gone ]; then
        [[ $restart == - && ($after == - || $kind == file || $kind == package) ]]
    elif [ "$kind" = process ]; then
        [[ $after != - && $after == "$before" ]]
    else
        [[ $after != - && $after != queued && $restart != - ]]
    fi
}
while IFS='|' read -r group kind expect label a b before after restart; do
    e2e_check "$expect: ${label#  }" ended_as_expected "$kind" "$expect" "$before" "$after" "$restart"
done <"$work/table"
[ -n "$gui" ] && e2e_check "screenshots of the three states" test -s "$shots/1-ready.png" -a -s "$shots/2-running.png" -a -s "$shots/3-finished.png"
e2e_summary
[ "$E2E_FAILED" -eq 0 ]
