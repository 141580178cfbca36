# Shell helpers that drive the real dialog of sweeptool.exe under Wine on a virtual X display:
# start the display, start the tool, find its window, take screenshots and read their pixels,
# and click its picture buttons where the dialog template puts them.
# Source it after scripts/lib/wine.sh, with $work (a scratch folder) and $shots (where the
# screenshots go) set; dialog_stop_display ends the display again.

xvfb_pid=
# A display of our own: -displayfd writes the number it found free.
dialog_start_display() {
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
    xvfb_pid=$!
    for _ in $(seq 1 50); do [ -s "$work/display" ] && break; sleep 0.1; done
    export DISPLAY=:$(cat "$work/display")
}
dialog_stop_display() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    xvfb_pid=
}

# Starts the tool in the background; its full exit code lands in $work/$1.out.
launch() {
    local name=$1
    shift
    wine cmd /c "start /wait \"\" \"C:\\Tools\\sweeptool.exe\" $* & echo EXIT=%errorlevel%" \
        >"$work/$name.out" 2>/dev/null &
    launched=$!
}
exit_of() {
    local name=$1
    for _ in $(seq 1 60); do kill -0 "$launched" 2>/dev/null || break; sleep 0.5; done
    tr -d '\r' <"$work/$name.out" | sed -n 's/^EXIT=//p' | tail -n 1
}
window() { xdotool search --name '^Sweep Tool$' 2>/dev/null | head -n 1; }
wait_window() {
    for _ in $(seq 1 60); do
        win=$(window)
        [ -n "$win" ] && return 0
        sleep 0.5
    done
    return 1
}
shot() { import -window root "$shots/$1.png" 2>/dev/null; }
# A pixel as "r,g,b" in 0..255, whatever colour space ImageMagick chose for the picture.
pixel() {
    convert "$shots/$1.png" -format "%[fx:round(255*p{$2,$3}.r)],%[fx:round(255*p{$2,$3}.g)],%[fx:round(255*p{$2,$3}.b)]" \
        info: 2>/dev/null
}
is_colour() { [ "$(pixel "$1" "$2" "$3")" = "$4" ]; }
# How many pixels of a square differ between two screenshots.
differing() {
    convert "$shots/$1.png" -crop "$3" +repage "$work/a.png"
    convert "$shots/$2.png" -crop "$3" +repage "$work/b.png"
    compare -metric AE "$work/a.png" "$work/b.png" null: 2>&1 | cut -d' ' -f1
}
# How many pixels of a square are dark (the moving dot; the other dots are light grey).
dark_pixels() {
    convert "$shots/$1.png" -crop "$2" +repage -colorspace Gray -threshold 30% \
        -format "%[fx:round(w*h*(1-mean))]" info: 2>/dev/null
}
light_blue='0,186,255'
grey_blue='105,132,157'
white='255,255,255'
black='0,0,0'

# The layout in pixels: the template is 379 x 316 dialog units and the window one pixel wider
# than its client area; the buttons are 160 x 40 pictures, CANCEL and LATER 52 pixels from the
# right edge.
layout() {
    local geometry
    geometry=$(xdotool getwindowgeometry "$win" | sed -n 's/.*Geometry: \([0-9]*\)x\([0-9]*\).*/\1 \2/p')
    read -r win_w win_h <<<"$geometry"
    client_w=$((win_w - 1))
    left_x=$(((33 * client_w + 189) / 379))
    right_x=$((client_w - 160 - 52))
    button_y=$(((245 * win_h + 158) / 316))
    spinner_x=$((client_w / 2 - 32))
    spinner_y=$(((188 * win_h + 158) / 316 - 32))
}
# Where a button's background shows: inside its border, left of its label.
left_probe() { echo "$((left_x + 8)) $((button_y + 20))"; }
right_probe() { echo "$((right_x + 8)) $((button_y + 20))"; }
click() { xdotool mousemove "$1" "$2" click 1; }
wait_finished() {
    for _ in $(seq 1 300); do
        shot finished
        is_colour finished $(left_probe) "$light_blue" && is_colour finished $(right_probe) "$grey_blue" && return 0
        sleep 1
    done
    return 1
}

