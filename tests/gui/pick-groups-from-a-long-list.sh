#!/usr/bin/env bash
# Picking newsgroups from a provider's long list in the real program: the zarvo executable in a
# fresh folder, with a zarvo.cfg that lists 150,000 available groups, on a display of its own
# (Xvfb) with a window manager (openbox). Configure opens the dialog; typed into the filter box,
# a part of a name in another case, then a wildmat, each narrows the list to one group, which
# Enter (to the list) and Enter again add to Selected; Done writes both to zarvo.cfg with the
# whole Available list, and Exit ends the program with exit code 0.
#
#   pick-groups-from-a-long-list.sh ZARVO_EXECUTABLE
#
# Exits with 77 (skipped) when a tool it needs is missing; scripts/test installs them.
set -euo pipefail

readonly PROGRAM=$1
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
readonly HERE
readonly DEADLINE=30  # seconds that any one step may take before the test fails
readonly GROUPS_LISTED=150000
readonly SEPARATOR="------------ SEPARATOR (DON'T REMOVE)----------------"
readonly FIRST=alt.pictures.Zarvo-Test.one
readonly SECOND=de.bilder.zarvo-test.two

for tool in Xvfb openbox xdotool xprop; do
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

# The provider's list: the two groups to pick among many that are alike.
{
    printf 'news.example\n%s\n' "$SEPARATOR"
    awk -v count=$((GROUPS_LISTED - 2)) \
        'BEGIN { for (i = 0; i < count; ++i) printf "alt.pictures.group%06d\n", i }'
    printf '%s\n%s\n' "$FIRST" "$SECOND"
} >"$work/app/zarvo.cfg"

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
is_active() { [[ $(xdotool getactivewindow) == "$1" ]]; }
is_gone() { ! xdotool search --onlyvisible --name "^$1\$" >/dev/null; }

# click WINDOW X Y TEMPLATE_WIDTH TEMPLATE_HEIGHT: clicks a place of the window's template, in
# dialog units: the window as it opens keeps those proportions at any font size.
click() {
    local geometry width height
    geometry=$(xdotool getwindowgeometry --shell "$1")
    width=$(sed -n 's/^WIDTH=//p' <<<"$geometry")
    height=$(sed -n 's/^HEIGHT=//p' <<<"$geometry")
    xdotool mousemove --window "$1" $((width * $2 / $4)) $((height * $3 / $5)) click 1
}

eventually find_window Zarvo || fail "no main window"
main=$found
click "$main" 402 69 434 309  # Configure (377, 61, 50 by 16), above the status line's 14
eventually find_window "Configuration Options" || fail "Configure opened no dialog"
dialog=$found
eventually is_active "$dialog" || fail "the configuration dialog is not the active window"

# pick FILTER: types the filter into its box key by key, each key filtering the whole list;
# Enter goes to the list's first name and Enter again adds it.
pick() {
    click "$dialog" 236 47 377 493  # the filter box (125, 41, 223 by 12)
    xdotool key --clearmodifiers ctrl+a BackSpace
    xdotool type --delay 40 "$1"
    xdotool key Return Return
}
pick "ZARVO-TEST.ONE"
pick "de.*zarvo-t?st*"
click "$dialog" 267 479 377 493  # Done (242, 472, 50 by 14), in the bottom right corner
eventually is_gone "Configuration Options" || fail "Done did not close the dialog"

# The two groups picked, and every group still available.
expected_selected=$(printf 'news.example\n%s\n%s\n%s' "$FIRST" "$SECOND" "$SEPARATOR")
selected=$(sed -n "1,/^$SEPARATOR\$/p" "$work/app/zarvo.cfg")
[[ $selected == "$expected_selected" ]] ||
    fail "zarvo.cfg begins with \"$selected\", not \"$expected_selected\""
available=$(sed -n "/^$SEPARATOR\$/,\$p" "$work/app/zarvo.cfg" | wc -l)
((available == GROUPS_LISTED + 1)) || fail "zarvo.cfg lists $((available - 1)) available groups"
echo "the filter picked $FIRST and $SECOND out of $GROUPS_LISTED groups"

click "$main" 402 100 434 309  # Exit (377, 93, 50 by 14)
ended() { ! kill -0 "$zarvo" 2>/dev/null; }
eventually ended || fail "Exit did not end the program"
status=0
wait "$zarvo" || status=$?
((status == 0)) || fail "the program ended with exit code $status"
echo "Exit ended the program with exit code 0"
