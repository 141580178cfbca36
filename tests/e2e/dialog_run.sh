#!/usr/bin/env bash
# The dialog of the real sweeptool.exe under Wine on a virtual X display: the ready state,
# CANCEL, a run with START (spinner turning, Escape ignored), the finished state, LATER, and
# a second run ended with RESTART. Screenshots go to $DIALOG_SHOTS when it is set.
set -uo pipefail
build=${1:?build folder with sweeptool.exe}
here=$(cd "$(dirname "$0")/../.." && pwd)
. "$here/scripts/lib/wine.sh"
# shellcheck source=../../scripts/lib/dialog.sh
. "$here/scripts/lib/dialog.sh"

for tool in Xvfb xdotool import convert compare; do
    e2e_check "$tool is installed" bash -c "command -v $tool >/dev/null"
done
command -v Xvfb >/dev/null && command -v xdotool >/dev/null && command -v convert >/dev/null || {
    e2e_summary
    exit 1
}

work=$(mktemp -d /tmp/sweep-dialog.XXXXXX)
shots=${DIALOG_SHOTS:-$work/shots}
mkdir -p "$shots"
finish() {
    wine_drop_prefix
    dialog_stop_display
    rm -rf "$work"
}
trap finish EXIT

dialog_start_display

wine_new_prefix
c="$WINEPREFIX/drive_c"
mkdir -p "$c/Tools" "$c/SweepDlg"
cp "$build/sweeptool.exe" "$c/Tools/"
cp "$build/instkvps_x64.exe" "$c/Tools/" 2>/dev/null || true
printf '[msi upgradecode 1]\r\n[service 1]\r\n[process 1]\r\n[registry value 1]\r\n[registry key 1]\r\n[file 1]\r\nremove=FILE_NAME,BY_VALUE,C:\\SweepDlg\\victim.txt\r\n' \
    >"$c/Tools/sweeptool.cfg"
echo victim >"$c/SweepDlg/victim.txt"
log="$c/ProgramData/Kelvaris/Logs/tool/sweeptool.log"

# --- 1: ready state, CANCEL.
launch cancel --noreboot
e2e_check "the dialog titled Sweep Tool appears" wait_window
layout
sleep 1
shot ready
e2e_check "ready: START shows its light blue" is_colour ready $(left_probe) "$light_blue"
e2e_check "ready: CANCEL shows its grey-blue" is_colour ready $(right_probe) "$grey_blue"
e2e_check "ready: the header band is black" is_colour ready 200 90 "$black"
e2e_check "ready: the state area is white" is_colour ready 300 300 "$white"
click $((right_x + 80)) $((button_y + 20))
e2e_equal "CANCEL before START ends with 1602" 1602 "$(exit_of cancel)"
e2e_check "CANCEL ran nothing: no log was written" test ! -e "$log"

# --- 2: START, the run, LATER.
launch later
wait_window
layout
click $((left_x + 80)) $((button_y + 20))
sleep 3
shot running-1
sleep 0.37
shot running-2
e2e_check "running: START is gone" is_colour running-1 $(left_probe) "$white"
e2e_check "running: CANCEL is gone" is_colour running-1 $(right_probe) "$white"
changed=$(differing running-1 running-2 "64x64+$spinner_x+$spinner_y")
# One dark dot moves a step between the shots: it leaves one place and takes another.
e2e_check "running: the spinner's frames change ($changed pixels differ)" test "${changed:-0}" -ge 20
# Three seconds are several turns: a ring whose earlier frames stayed would be dark all round
# (about 780 dark pixels; one dark dot and the grey dots' rims give about 80).
dark=$(dark_pixels running-2 "64x64+$spinner_x+$spinner_y")
e2e_check "running: one dark dot in a ring of light ones ($dark dark pixels)" test "${dark:-999}" -gt 0 -a "${dark:-999}" -le 200
xdotool key --window "$win" Escape 2>/dev/null
xdotool key --window "$win" alt+F4 2>/dev/null
sleep 1
e2e_check "running: Escape and Alt+F4 leave the dialog open" test -n "$(window)"
e2e_check "finished: RESTART and LATER appear" wait_finished
state=$(differing ready finished 400x120+20+100)
e2e_check "finished: the state picture is no longer the ready one" test "${state:-0}" -gt 0
e2e_check "finished: the information icon of the finished picture" \
    bash -c "convert '$shots/finished.png' -crop 40x40+30+145 -format '%[fx:minima.b<0.9 && maxima.b>0.6]' info: | grep -q 1"
click $((right_x + 80)) $((button_y + 20))
e2e_equal "LATER after a successful run ends with 3010" 3010 "$(exit_of later)"
text=$(iconv -f UTF-16LE -t UTF-8 "$log" 2>/dev/null | tr -d '\r')
e2e_check "the log shows the run" grep -qF "InitRemoveFileList was successful with '1' items" <<<"$text"
pending=$(wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations 2>/dev/null | tr -d '\r')
e2e_check "the configured file left its folder during the run" test ! -e "$c/SweepDlg/victim.txt"
e2e_check "a name in the staging folder is queued for deletion" grep -qiF 'C:\$SweepTool.Staging.' <<<"$pending"

# --- 3: START, then RESTART with --noreboot: the restart step runs but asks for no restart,
# so the run ends with the code that says a restart is still needed.
launch norestart --noreboot
wait_window
layout
click $((left_x + 80)) $((button_y + 20))
e2e_check "second run: RESTART appears" wait_finished
click $((left_x + 80)) $((button_y + 20))
e2e_equal "RESTART with --noreboot ends with 3010" 3010 "$(exit_of norestart)"
e2e_check "RESTART closed the dialog" test -z "$(window)"

# --- 4: START, then RESTART for real. Wine's ExitWindowsEx restarts the Wine machine and ends
# its programs, the tool's command wrapper among them, so no exit code can be read; the
# restart shows in what it does: the staging folder the first run left, with the file in it,
# is deleted.
staging() { compgen -G "$c/\$SweepTool.Staging.*" >/dev/null; }
e2e_check "before the restart: the first run's staging folder is still there" staging
launch restart
wait_window
layout
click $((left_x + 80)) $((button_y + 20))
e2e_check "third run: RESTART appears" wait_finished
click $((left_x + 80)) $((button_y + 20))
restarted() {
    for _ in $(seq 1 60); do
        staging || return 0
        sleep 1
    done
    return 1
}
e2e_check "RESTART restarted the machine: the staging folder is gone" restarted
e2e_summary
