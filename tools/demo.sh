#!/usr/bin/env bash
# Unattended demonstration of Motion Monitor on a virtual display, for
# machines without one (servers, containers). The receiver simulator nodesim
# streams frames on a pseudo-terminal; the program is driven as a user would
# drive it: the device path typed into the options dialog, a log directory
# chosen, the read interval set to 10 ms, "Datalog" checked, Start, some
# seconds of acquisition, Stop. It leaves a screenshot of the main window
# (taken while the values are live), the log file and the session file the
# program wrote, and prints their paths.
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

source "$(dirname "$0")/session.sh"
nodesim_said() { grep -q "$1" "$OUT/nodesim.txt"; }

start_virtual_display "$WORK" 1280x1024x24
say "virtual display $DISPLAY"

# The receiver: nodesim on a pseudo-terminal, reached through a link.
device=$WORK/ttyUSB0
"$BIN/nodesim" --link "$device" >"$OUT/nodesim.txt" 2>&1 &
simulator=$!
PIDS+=("$simulator")
wait_for 10 "nodesim's device" test -L "$device"
say "nodesim streams on $device"

touch "$WORK/started"
start_acquiring "$BIN" "$device" "$OUT/logs" "$OUT/motionmonitor.txt"
program=$PROGRAM
main=$MAIN
wait_for 10 "the program to open the device" nodesim_said "program opened the line"
say "acquiring for $RUN_SECONDS seconds"
sleep "$RUN_SECONDS"
"$BIN/wingrab" "$main" "$OUT/screenshot.png" >/dev/null
click "$main" 151 105                           # Stop
wait_for 10 "the program to close the device" nodesim_said "program closed the line"

log=$(find "$OUT/logs" -type f -name '*.txt' -newer "$WORK/started" | head -n 1)
session=$(find "$OUT/logs" -type f -name '*.session.jsonl' -newer "$WORK/started" | head -n 1)
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
say "session:    ${session:-(none)}"
