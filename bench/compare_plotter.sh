#!/usr/bin/env bash
# Motion Monitor beside a typical pyqtgraph + pyserial plotter, on one
# virtual display, both fed by the receiver simulator at the line's pace
# (about 68.6 frames a second). The program is driven as a user drives it:
# the device typed into the options dialog, a log directory chosen, the plot
# window's "Auto clear" at 100 lines, "Datalog" checked, Start, at the default
# read interval of 42 ms. The plotter (bench/typical_plotter.py) reads every
# 10 ms, keeps 100 points per channel and logs nothing; it runs once redrawing
# on a 60 Hz timer and once redrawing after every frame. Each time, after a
# warm-up, both processes' CPU time (utime + stime) is taken over the same
# interval, with their resident memory at its end. Then, on the same display,
# bench_acquisition at the default read interval: the program's share with
# plot windows of 100 and of 100 000 points (the large one full).
#
#   bench/compare_plotter.sh [SECONDS [RUNS]]
#
# SECONDS measured per variant and per bench_acquisition run (default 60),
# RUNS repetitions of both variants (default 1; the spread is printed when
# there are several). MM_COMPARE_WARMUP sets the warm-up in seconds (default
# 5). Build first (./build.sh build); missing Debian packages (the plotter's
# Python modules, the virtual display and its driver) are installed with
# apt-get, through sudo when not root. Exits non-zero when something fails to
# start or dies.
#
# Goals: the program at most 5% of a core, and at least 10 times below the
# plotter's timer variant measured in the same run; at most 15% with a full
# window of 100 000 points (bench_acquisition prints its own goals).
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(dirname "$HERE")
BIN=$ROOT/build/bin
BENCH=$ROOT/build/bench/bench_acquisition
MEASURE_S=${1:-60}
RUNS=${2:-1}
WARMUP_S=${MM_COMPARE_WARMUP:-5}
GOAL_SHARE=5
GOAL_RATIO=10
LINE_RATE=$(awk 'BEGIN { printf "%.1f", 9600 / 10 / 14 }') # 8N1: ten bits a byte

usage() {
    sed -n '2,27p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}
[ $# -le 2 ] || usage
[[ $MEASURE_S =~ ^[1-9][0-9]*$ && $RUNS =~ ^[1-9][0-9]*$ && $WARMUP_S =~ ^[0-9]+$ ]] || usage

say() { echo "compare: $*"; }
die() {
    echo "compare: $*" >&2
    exit 1
}

source "$ROOT/tools/session.sh"
need_packages python3-pyqtgraph python3-serial python3-pyqt5 xvfb xauth xdotool
# Debian's interpreter, which the packages above serve, whatever python3 comes
# first in PATH (a pyenv or a virtual environment would not see them).
PYTHON=/usr/bin/python3
for program in "$BIN/motionmonitor" "$BIN/nodesim" "$BENCH"; do
    [ -x "$program" ] || die "$program is missing: run ./build.sh build first"
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/mmcompare.XXXXXX")
LOGS=$WORK/logs
mkdir "$LOGS"

# Every process started here, so that the trap ends them all, newest first.
PIDS=()
stop() {
    local pid=$1 i
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    for i in "${!PIDS[@]}"; do
        [ "${PIDS[i]}" != "$pid" ] || unset 'PIDS[i]'
    done
}
cleanup() {
    local status=$? i
    local pids=("${PIDS[@]}")
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        stop "${pids[i]}"
    done
    # After a failure the processes' outputs, which the message names, stay.
    if [ "$status" -eq 0 ]; then
        rm -rf "$WORK"
    else
        echo "compare: outputs kept in $WORK" >&2
    fi
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

said() { grep -q "$2" "$1"; }
alive() { kill -0 "$1" 2>/dev/null; }

# CPU time in clock ticks (utime + stime, all threads) and resident kB. The
# command name in stat may hold spaces: fields are counted after its ")".
cpu_ticks() {
    local stat f
    stat=$(<"/proc/$1/stat") || die "process $1 is gone"
    read -r -a f <<<"${stat##*) }"
    echo $((f[11] + f[12]))
}
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
# Rows the program has logged so far: every line of every log file but the
# header lines (the session file beside them is no log file).
logged_rows() {
    local files=("$LOGS"/*.txt)
    [ -e "${files[0]}" ] || { echo 0; return; }
    echo $(($(cat "${files[@]}" | wc -l) - ${#files[@]}))
}
logged_more_than() { [ "$(logged_rows)" -gt "$1" ]; }
# Frames the plotter has decoded so far: it prints them on SIGUSR1.
count_lines() { grep -c '^frames ' "$1" || true; }
lines_more_than() { [ "$(count_lines "$1")" -gt "$2" ]; }
plotter_frames() {
    local pid=$1 out=$2 before
    before=$(count_lines "$out")
    kill -USR1 "$pid"
    wait_for 5 "the plotter's frame count" lines_more_than "$out" "$before"
    grep '^frames ' "$out" | tail -n 1 | cut -d' ' -f2
}

# Wide enough for the program's window (1000 x 780) and the plotter's beside it.
start_virtual_display "$WORK" 1680x1050x24

# The program's receiver, then the program.
program_link=$WORK/ttyProgram
"$BIN/nodesim" --link "$program_link" >"$WORK/nodesim-program.txt" 2>&1 &
PIDS+=($!)
wait_for 10 "nodesim's device" test -L "$program_link"
start_acquiring "$BIN" "$program_link" "$LOGS" "$WORK/motionmonitor.txt" 100
program=$PROGRAM
wait_for 10 "the program to open its device" \
    said "$WORK/nodesim-program.txt" "program opened the line"
# start_acquiring reads every 10 ms: Stop, the default interval, Start again.
click "$MAIN" 151 105          # Stop
type_into "$MAIN" 270 145 42 # Read interval: 42 ms
click "$MAIN" 51 105           # Start
wait_for 10 "the program's first logged row" logged_more_than 0
say "display $DISPLAY; Motion Monitor acquiring and logging (window 100, read every 42 ms)"

# Share of a core as a percentage, and a ratio, from the measured figures.
share() { awk -v t="$1" -v hz="$(getconf CLK_TCK)" -v s="$2" 'BEGIN { printf "%.1f", 100 * t / hz / s }'; }
mb() { awk -v k="$1" 'BEGIN { printf "%.0f", k / 1024 }'; }
rate() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%.1f", n / s }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

declare -A figures # variant -> "program% plotter% ratio" per run, one per line

# measure RUN VARIANT: the plotter in that redraw mode on its own receiver,
# beside the running program.
measure() {
    local run=$1 variant=$2
    local link=$WORK/ttyPlotter-$run-$variant out=$WORK/plotter-$run-$variant.txt
    local sim_out=$WORK/nodesim-plotter-$run-$variant.txt
    "$BIN/nodesim" --link "$link" >"$sim_out" 2>&1 &
    local simulator=$!
    PIDS+=("$simulator")
    wait_for 10 "nodesim's device" test -L "$link"
    "$PYTHON" "$HERE/typical_plotter.py" "$link" --redraw "$variant" >"$out" 2>&1 &
    local plotter=$!
    PIDS+=("$plotter")
    plotter_opened() {
        alive "$plotter" || die "the plotter ended at start: $(tail -n 1 "$out")"
        said "$sim_out" "program opened the line"
    }
    wait_for 30 "the plotter to open its device (output in $out)" plotter_opened
    # Beside the program's window rather than over it: without a window
    # manager both would sit at the top left corner.
    local window
    window=$(find_window "Typical plotter" "$out")
    xdotool windowmove "$window" 1010 0

    sleep "$WARMUP_S"
    local t0 p0 q0 rows0 frames0 t1 p1 q1 rows1 frames1
    frames0=$(plotter_frames "$plotter" "$out")
    rows0=$(logged_rows)
    # Each figure on a line of its own: a failed substitution then stops the
    # script (set -e) instead of being masked by the next one.
    t0=$EPOCHREALTIME
    p0=$(cpu_ticks "$program")
    q0=$(cpu_ticks "$plotter")
    sleep "$MEASURE_S"
    alive "$program" || die "the program ended during the run (output in $WORK/motionmonitor.txt)"
    alive "$plotter" || die "the plotter ended during the run (output in $out)"
    t1=$EPOCHREALTIME
    p1=$(cpu_ticks "$program")
    q1=$(cpu_ticks "$plotter")
    local program_rss plotter_rss
    program_rss=$(rss_kb "$program")
    plotter_rss=$(rss_kb "$plotter")
    rows1=$(logged_rows)
    frames1=$(plotter_frames "$plotter" "$out")
    stop "$plotter"
    stop "$simulator"

    local wall program_share plotter_share r verdict share_verdict
    wall=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
    program_share=$(share $((p1 - p0)) "$wall")
    plotter_share=$(share $((q1 - q0)) "$wall")
    r=$(ratio $((q1 - q0)) $((p1 - p0)))
    share_verdict=$(awk -v s="$program_share" -v g="$GOAL_SHARE" 'BEGIN { print (s <= g ? "met" : "NOT met") }')
    if [ "$variant" = timer ]; then
        verdict=$(awk -v r="$r" -v g="$GOAL_RATIO" 'BEGIN { print (r >= g ? "met" : "NOT met") }')
        verdict="goal >= $GOAL_RATIO: $verdict"
    else
        verdict="the goal is set against the timer variant"
    fi
    printf '%-3s %-6s program %5s%% of a core (goal <= %s%%: %s), %3s MB | plotter %5s%% of a core, %3s MB | plotter/program %5s (%s)\n' \
        "$run" "$variant" "$program_share" "$GOAL_SHARE" "$share_verdict" "$(mb "$program_rss")" \
        "$plotter_share" "$(mb "$plotter_rss")" "$r" "$verdict"
    # The machine may be shared: its load says how far the figures can be
    # trusted.
    printf '           program logged %s rows/s, plotter decoded %s frames/s (line: %s); load %s on %s cores\n' \
        "$(rate $((rows1 - rows0)) "$wall")" "$(rate $((frames1 - frames0)) "$wall")" "$LINE_RATE" \
        "$(cut -d' ' -f1 /proc/loadavg)" "$(nproc)"
    figures[$variant]+="$program_share $plotter_share $r"$'\n'
}

say "per variant: ${WARMUP_S} s warm-up, then ${MEASURE_S} s measured; $RUNS run(s)"
for ((run = 1; run <= RUNS; run++)); do
    measure "$run" timer
    measure "$run" frame
done

# The spread over the runs: lowest to highest of each figure.
if ((RUNS > 1)); then
    for variant in timer frame; do
        printf '%s' "${figures[$variant]}" | awk -v v="$variant" '
            NR == 1 { for (i = 1; i <= 3; i++) lo[i] = hi[i] = $i }
            { for (i = 1; i <= 3; i++) { if ($i < lo[i]) lo[i] = $i; if ($i > hi[i]) hi[i] = $i } }
            END { printf "spread %-6s program %s-%s%%, plotter %s-%s%%, plotter/program %s-%s\n",
                         v, lo[1], hi[1], lo[2], hi[2], lo[3], hi[3] }'
    done
fi

# The program alone on the same display, windows of 100 and 100 000 points.
stop "$program"
say "bench_acquisition, read interval 42 ms, ${MEASURE_S} s a run:"
"$BENCH" "$MEASURE_S" 42 2>"$WORK/bench_acquisition.txt" | grep "^interval" || true
