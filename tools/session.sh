# Shell functions shared by build.sh, tools/demo.sh and bench/compare_plotter.sh,
# sourced by them. The sourcing script defines say and die (which exits).

# need_packages PACKAGE...: installs with apt-get those that are missing,
# through sudo when not root; nothing when all are present.
need_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$p")
    done
    ((${#missing[@]})) || return 0
    say "installing missing packages: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q \
        --no-install-recommends "${missing[@]}"
}

# wait_for SECONDS WHAT COMMAND...: polls COMMAND until it succeeds.
wait_for() {
    local tries=$(($1 * 20)) what=$2
    shift 2
    until "$@"; do
        ((tries-- > 0)) || die "gave up waiting for $what"
        sleep 0.05
    done
}

# start_virtual_display WORK GEOMETRY: a private Xvfb on a free display,
# open only to holders of a fresh cookie kept in WORK; exports what the
# program and xdotool need to reach it. Its pid joins PIDS.
start_virtual_display() {
    local work=$1 cookie
    cookie=$(mcookie 2>/dev/null || od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
    touch "$work/server.auth" "$work/Xauthority"
    xauth -q -f "$work/server.auth" add :0 . "$cookie"
    # -noreset: a server that starts over when its last client leaves may
    # refuse the next one.
    Xvfb -displayfd 3 -auth "$work/server.auth" -nolisten tcp -noreset -screen 0 "$2" \
        3>"$work/display" 2>"$work/xvfb.txt" &
    PIDS+=($!)
    wait_for 20 "the virtual display" test -s "$work/display"
    DISPLAY=:$(cat "$work/display")
    export DISPLAY XAUTHORITY=$work/Xauthority
    xauth -q add "$DISPLAY" . "$cookie"
    export QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=$work/runtime
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    unset WAYLAND_DISPLAY
}

# find_window TITLE OUTPUT: the visible top-level window titled exactly
# TITLE; OUTPUT is the file to look in when none appears.
find_window() {
    local id
    id=$(timeout 20 xdotool search --sync --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1) ||
        true
    [ -n "$id" ] || die "no \"$1\" window appeared (see $2)"
    echo "$id"
}
# No window manager: window coordinates are form coordinates.
click() { xdotool mousemove --window "$1" "$2" "$3" click 1; }
# Replaces the text of the field at ($2, $3) in window $1 by $4.
type_into() {
    click "$1" "$2" "$3"
    xdotool key ctrl+a type "$4"
}
# Return on a dialog: its default button.
press_return() { xdotool windowfocus --sync "$1" key Return; }

# start_acquiring BIN DEVICE LOGDIR OUTPUT [LINES]: starts Motion Monitor
# beside logo.png, its output to OUTPUT, and drives it as a user does: the
# device typed into the options dialog (editable once "Serial port setup" is
# checked), the log directory (and LINES points in the plot window), OK, the
# summary closed, read interval 10 ms, "Datalog" checked, Start. Sets PROGRAM
# (its pid, which joins PIDS) and MAIN (its window).
start_acquiring() {
    local bin=$1 device=$2 logs=$3 out=$4 lines=${5:-}
    (cd "$bin" && exec ./motionmonitor) >"$out" 2>&1 &
    PROGRAM=$!
    PIDS+=("$PROGRAM")
    local options summary
    options=$(find_window Options "$out")
    xdotool windowfocus --sync "$options"
    click "$options" 28 230                       # "Serial port setup"
    type_into "$options" 145 263 "$device"        # Device
    type_into "$options" 105 173 "$logs"          # Datalogging directory
    [ -z "$lines" ] || type_into "$options" 545 193 "$lines" # "Auto clear" lines
    press_return "$options"                       # OK
    summary=$(find_window Information "$out")
    press_return "$summary"                       # the start-up summary
    # The main window's widgets sit 36 pixels lower than in the form: the
    # menu bar and the (empty) tool bar lie above the central widget.
    MAIN=$(find_window MainWindow "$out")
    xdotool windowfocus --sync "$MAIN"
    type_into "$MAIN" 270 145 10                  # Read interval: 10 ms
    click "$MAIN" 257 185                         # "Datalog"
    click "$MAIN" 51 105                          # Start
}
