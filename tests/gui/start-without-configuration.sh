#!/usr/bin/env bash
# The real program as a user meets it: the zarvo executable, copied into a fresh folder (it keeps
# its files beside itself), on a display of its own (Xvfb) with a window manager (openbox).
# The first start shows no box; Start with nothing configured opens Configure, the active
# window, stacked above the main window and belonging to it, and Escape closes it, twice over.
# With a server that cannot be reached, Start ends the run with one box in the same way, naming
# the host, the port and the reason and closing with Enter; Exit then ends the program with exit
# code 0. The box's text is read the way a user can copy it: Ctrl+C in the box.
#
#   start-without-configuration.sh ZARVO_EXECUTABLE
#
# Exits with 77 (skipped) when a tool it needs is missing; scripts/test installs them.
set -euo pipefail

readonly PROGRAM=$1
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
readonly HERE
readonly DEADLINE=20  # seconds that any one step may take before the test fails
readonly CONFIGURE_CAPTION="Configuration Options"

for tool in Xvfb openbox xdotool xprop xwininfo xclip; do
    if ! command -v "$tool" >/dev/null; then
        echo "skipped: $tool is not installed"
        exit 77
    fi
done

work=$(mktemp -d)
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAILED: $*" >&2
    if [[ -s $work/zarvo.log ]]; then
        echo "--- what zarvo wrote:" >&2
        cat "$work/zarvo.log" >&2
    fi
    exit 1
}

# eventually COMMAND...: runs the command every 50 ms until it succeeds; false after DEADLINE.
eventually() {
    local end=$((SECONDS + DEADLINE))
    until "$@" 2>/dev/null; do
        ((SECONDS < end)) || return 1
        sleep 0.05
    done
}

# Everything the programs write goes into the folder, not into the user's home.
mkdir -p "$work/home" "$work/runtime" "$work/app"
chmod 700 "$work/runtime"
export HOME=$work/home XDG_CONFIG_HOME=$work/home/config XDG_CACHE_HOME=$work/home/cache
export XDG_DATA_HOME=$work/home/data XDG_RUNTIME_DIR=$work/runtime
unset DBUS_SESSION_BUS_ADDRESS

# Xvfb picks a free display number and writes it to the descriptor given.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
eventually test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
DISPLAY=":$(head -n 1 "$work/display")"
export DISPLAY

openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'; }
eventually wm_running || fail "openbox did not start: $(cat "$work/openbox.log")"

cp "$PROGRAM" "$work/app/zarvo"
# A sanitizer build reports leaks at exit; those of system libraries are not ours to judge.
export LSAN_OPTIONS="suppressions=$HERE/leak-suppressions.txt${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
QT_QPA_PLATFORM=xcb "$work/app/zarvo" >"$work/zarvo.log" 2>&1 &
zarvo=$!
pids+=("$zarvo")

# The one visible window with the title, in $found.
find_window() {
    found=$(xdotool search --onlyvisible --name "^$1\$" | head -n 1)
    [[ -n $found ]]
}
eventually find_window Zarvo || fail "no main window"
main=$found

# click X Y: clicks the main window at a place of its template, in dialog units (434 by 295,
# and the status line's 14 below): the window keeps those proportions at any font size.
click() {
    local geometry width height
    geometry=$(xdotool getwindowgeometry --shell "$main")
    width=$(sed -n 's/^WIDTH=//p' <<<"$geometry")
    height=$(sed -n 's/^HEIGHT=//p' <<<"$geometry")
    xdotool mousemove --window "$main" $((width * $1 / 434)) $((height * $2 / 309)) click 1
}

is_active() { [[ $(xdotool getactivewindow) == "$1" ]]; }

# Bottom to top, as the window manager stacks them.
stacked_above_main() {
    local order=() id
    for id in $(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/^[^#]*#//; s/,/ /g'); do
        order+=($((id)))
    done
    local main_at=-1 box_at=-1 i
    for i in "${!order[@]}"; do
        [[ ${order[i]} == "$main" ]] && main_at=$i
        [[ ${order[i]} == "$1" ]] && box_at=$i
    done
    ((main_at >= 0 && box_at > main_at))
}

belongs_to_main() {
    local owner
    owner=$(xprop -id "$1" WM_TRANSIENT_FOR | sed -n 's/.*# //p')
    [[ -n $owner && $((owner)) == "$main" ]]
}

copies_text() {
    xdotool key --clearmodifiers ctrl+c
    [[ $(xclip -o -selection clipboard) == "$1" ]]
}

is_gone() { ! xwininfo -id "$1" 2>/dev/null | grep -q IsViewable; }

# on_top WINDOW WHAT: the window is the active one, stacked above the main window and its own.
on_top() {
    eventually is_active "$1" || fail "$2 is not the active window"
    stacked_above_main "$1" || fail "$2 is not stacked above the main window"
    belongs_to_main "$1" || fail "$2 does not belong to the main window"
}

# answer_box TEXT: the box with the text is up, on top and focused; Enter closes it.
answer_box() {
    eventually find_window ERROR || fail "no box saying \"$1\""
    local box=$found
    on_top "$box" "the box \"$1\""
    eventually copies_text "$1" || fail "the box does not say \"$1\""
    xdotool key Return
    eventually is_gone "$box" || fail "Enter did not close the box \"$1\""
}

no_box() { ! find_window ERROR; }

sleep 1  # whatever the start-up would show is up by now
no_box || fail "the first start showed a box"
for start in first second; do
    click 402 21  # Start (377, 13, 50 by 16)
    eventually find_window "$CONFIGURE_CAPTION" || fail "Start did not open Configure"
    configure=$found
    on_top "$configure" "Configure"
    xdotool key Escape
    eventually is_gone "$configure" || fail "Escape did not close Configure"
    no_box || fail "Start with nothing configured showed a box"
    echo "the $start Start opened Configure, closed with Escape, and no box"
done

# A port where nothing listens.
port=20119
while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do
    port=$((port + 1))
done
printf '127.0.0.1:%s\nalt.pictures\n%s\n' "$port" \
    "------------ SEPARATOR (DON'T REMOVE)----------------" >"$work/app/zarvo.cfg"
click 402 21
answer_box "Couldn't connect to the news server 127.0.0.1, port $port: the connection was refused (no news server listens on that port)."
echo "Start with a server that cannot be reached showed one box, answered with Enter"

click 402 100  # Exit (377, 93, 50 by 14)
ended() { ! kill -0 "$zarvo" 2>/dev/null; }
eventually ended || fail "Exit did not end the program"
status=0
wait "$zarvo" || status=$?
((status == 0)) || fail "the program ended with exit code $status"
echo "Exit ended the program with exit code 0"
