#!/usr/bin/env bash
# Unattended demonstration of Motion Monitor on a virtual display, for
# machines without one (servers, containers). The receiver simulator nodesim
# streams frames on a pseudo-terminal; the program is driven as a user would
# drive it: the device path typed into the options dialog, a log directory
# chosen, the read interval set to 10 ms, "Datalog" checked, Start, some
# seconds of acquisition, Stop. It leaves a screenshot of the main window
# (taken while the values are live) and the log file the program wrote, and
# prints both paths.
#
#   tools/demo.sh <build dir> [output dir]
#
# The output dir defaults to <build dir>/demo; the log files go to its "logs"
# folder. MM_DEMO_SECONDS sets the seconds of acquisition (default 6).
# Needs Xvfb, xauth and xdotool (./build.sh run installs them) and the built
# motionmonitor, nodesim and wingrab in <build dir>/bin.
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ] || [ ! -d "$1" ]; then
    sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
fi
BIN=$(cd "$1" && pwd)/bin
OUT=${2:-$1/demo}
RUN_SECONDS=${MM_DEMO_SECONDS:-6}

say() { echo "demo: $*"; }
die() {
    echo "demo: $*" >&2
    exit 1
}

for tool in Xvfb xauth xdotool; do
    command -v "$tool" >/dev/null || die "$tool is missing (./build.sh run installs it)"
done
for program in motionmonitor nodesim wingrab; do
    [ -x "$BIN/$program" ] || die "$BIN/$program is missing: build first"
done
mkdir -p "$OUT/logs"
OUT=$(cd "$OUT" && pwd)

WORK=$(mktemp -d "${TMPDIR:-/tmp}/mmdemo.XXXXXX")
PIDS=()
cleanup() {
    local status=$? i
    for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do
        kill "${PIDS[i]}" 2>/dev/null || true
        wait "${PIDS[i]}" 2>/dev/null || true
    done
    rm -rf "$WORK"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# wait_for SECONDS WHAT COMMAND...: polls COMMAND until it succeeds.
wait_for() {
    local tries=$(($1 * 20)) what=$2
    shift 2
    until "$@"; do
        ((tries-- > 0)) || die "gave up waiting for $what"
        sleep 0.05
    done
}
nodesim_said() { grep -q "$1" "$OUT/nodesim.txt"; }

# The visible top-level window titled exactly $1.
find_window() {
    local id
    id=$(timeout 20 xdotool search --sync --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1) ||
        true
    [ -n "$id" ] || die "no \"$1\" window appeared (see $OUT/motionmonitor.txt)"
    echo "$id"
}
click() { xdotool mousemove --window "$1" "$2" "$3" click 1; }
# Replaces the text of the field at ($2, $3) in window $1 by $4.
type_into() {
    click "$1" "$2" "$3"
    xdotool key ctrl+a type "$4"
}
# Return on a dialog: its default button.
press_return() { xdotool windowfocus --sync "$1" key Return; }

# A virtual display on a free display number that Xvfb picks itself, open
# only to holders of a fresh cookie.
cookie=$(mcookie 2>/dev/null || od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
touch "$WORK/server.auth" "$WORK/Xauthority"
xauth -q -f "$WORK/server.auth" add :0 . "$cookie"
Xvfb -displayfd 3 -auth "$WORK/server.auth" -nolisten tcp -noreset -screen 0 1280x1024x24 \
    3>"$WORK/display" 2>"$WORK/xvfb.txt" &
PIDS+=($!)
wait_for 20 "the virtual display" test -s "$WORK/display"
DISPLAY=:$(cat "$WORK/display")
export DISPLAY XAUTHORITY=$WORK/Xauthority
xauth -q add "$DISPLAY" . "$cookie"
export QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=$WORK/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
say "virtual display $DISPLAY"

# The receiver: nodesim on a pseudo-terminal, reached through a link.
device=$WORK/ttyUSB0
"$BIN/nodesim" --link "$device" >"$OUT/nodesim.txt" 2>&1 &
simulator=$!
PIDS+=("$simulator")
wait_for 10 "nodesim's device" test -L "$device"
say "nodesim streams on $device"

# The program, started beside logo.png as it expects.
(cd "$BIN" && exec ./motionmonitor) >"$OUT/motionmonitor.txt" 2>&1 &
program=$!
PIDS+=("$program")
touch "$WORK/started"

# The options dialog, at the positions of its fixed form (no window manager,
# so no frame: window coordinates are form coordinates). The device field is
# editable only once "Serial port setup" is checked.
options=$(find_window Options)
xdotool windowfocus --sync "$options"
click "$options" 28 230                         # "Serial port setup"
type_into "$options" 145 263 "$device"          # Device
type_into "$options" 105 173 "$OUT/logs"        # Datalogging directory
press_return "$options"                         # OK
summary=$(find_window Information)
press_return "$summary"                         # the start-up summary

# The main window. Its form's widgets sit 36 pixels lower than in the form:
# the menu bar and the (empty) tool bar lie above the central widget.
main=$(find_window MainWindow)
xdotool windowfocus --sync "$main"
type_into "$main" 270 145 10                    # Read interval: 10 ms
click "$main" 257 185                           # "Datalog"
click "$main" 51 105                            # Start
wait_for 10 "the program to open the device" nodesim_said "program opened the line"
say "acquiring for $RUN_SECONDS seconds"
sleep "$RUN_SECONDS"
"$BIN/wingrab" "$main" "$OUT/screenshot.png" >/dev/null
click "$main" 151 105                           # Stop
wait_for 10 "the program to close the device" nodesim_said "program closed the line"

log=$(find "$OUT/logs" -type f -newer "$WORK/started" | head -n 1)
[ -n "$log" ] || die "the program wrote no log file (see $OUT/motionmonitor.txt)"

# Ends nodesim, which then prints how many frames it sent, and the program.
kill "$simulator"
wait "$simulator" || true
kill "$program"
wait "$program" 2>/dev/null || true

rows=$(($(grep -c . "$log") - 1))
[ "$rows" -gt 0 ] || die "the log file $log holds no rows"
say "$(grep 'nodesim: sent' "$OUT/nodesim.txt" | sed 's/^nodesim: //')"
say "the program logged $rows rows"
say "screenshot: $OUT/screenshot.png"
say "log file:   $log"
