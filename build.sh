#!/usr/bin/env bash
# Builds Motion Monitor and runs it, its tests or its benchmarks, or packages
# it for Debian.
#
#   ./build.sh run     build, then start the program (a demonstration on a
#                      virtual display when there is no display)
#   ./build.sh test    build and run every test: a normal build, a build under
#                      AddressSanitizer and UndefinedBehaviorSanitizer, and
#                      the fuzz targets for a few seconds
#   ./build.sh bench   build and run the benchmarks
#   ./build.sh package build the Debian package build/motionmonitor_*.deb and
#                      check it with Debian's tools
#   ./build.sh build   build only
#
# Missing Debian packages are installed with apt-get (through sudo when not
# root); nothing is installed when all are present. Builds are incremental.
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD
JOBS=$(nproc 2>/dev/null || echo 2)

# dpkg-shlibdeps computes the package's dependencies; CPack finds the
# binaries to hand it with file.
PACKAGE_PKGS=(dpkg-dev file)
# Debian's own checks on the package (./build.sh package only): lintian,
# desktop-file-validate, appstreamcli and systemd-analyze, which reads the
# manual page the user unit names with man.
PACKAGE_CHECK_PKGS=(lintian desktop-file-utils appstream systemd man-db)
# xfonts-scalable carries Bitstream Charter, the forms' heading font; wider
# substitutes cut the headings short.
# libmosquitto-dev: the MQTT client of the live outputs.
BUILD_PKGS=(cmake make g++ pkg-config qt6-base-dev qt6-qpa-plugins libqcustomplot-dev
            libserial-dev libmosquitto-dev libfftw3-dev libgl-dev fonts-dejavu-core
            xfonts-scalable)
# clang with its fuzzing runtime for the fuzz targets; the package's tools
# for the test that makes it; a broker and its clients for the outputs' tests.
TEST_PKGS=(clang libclang-rt-14-dev mosquitto mosquitto-clients "${PACKAGE_PKGS[@]}")
DEMO_PKGS=(xvfb xauth xdotool)
# bench_spectrum times scipy.signal.welch beside the program, with Debian's
# /usr/bin/python3.
BENCH_PKGS=(python3-scipy)

log() { printf '== %s\n' "$*" >&2; }

say() { log "$@"; }
die() {
    log "$@"
    exit 1
}
source "$ROOT/tools/session.sh"

# build DIR [cmake options...]: configure once, then build incrementally.
build() {
    local dir=$1
    shift
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        log "configuring $dir"
        cmake -S "$ROOT" -B "$dir" "$@" >/dev/null
    fi
    log "building $dir"
    cmake --build "$dir" --parallel "$JOBS" -- --no-print-directory
}

run_ctest() {
    local dir=$1
    shift
    log "testing $dir"
    (cd "$dir" && ctest --output-on-failure --parallel "$JOBS" "$@")
}

cmd_build() {
    need_packages "${BUILD_PKGS[@]}"
    build "$ROOT/build"
}

cmd_run() {
    cmd_build
    if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
        # The default log directory, so that Datalog works at once.
        mkdir -p "$ROOT/build/bin/logs"
        cd "$ROOT/build/bin"
        exec ./motionmonitor "$@"
    fi
    echo "No display found (DISPLAY and WAYLAND_DISPLAY are unset): running the"
    echo "unattended demonstration on a virtual display instead."
    need_packages "${DEMO_PKGS[@]}"
    exec "$ROOT/tools/demo.sh" "$ROOT/build"
}

cmd_test() {
    need_packages "${BUILD_PKGS[@]}" "${TEST_PKGS[@]}"
    local status=0
    build "$ROOT/build"
    run_ctest "$ROOT/build" || status=1

    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1:detect_stack_use_after_return=1"
    export LSAN_OPTIONS="suppressions=$ROOT/tests/sanitizers/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
    build "$ROOT/build-asan" -DMM_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
    run_ctest "$ROOT/build-asan" || status=1

    build "$ROOT/build-fuzz" -DMM_FUZZ=ON -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang
    run_ctest "$ROOT/build-fuzz" || status=1

    if [ "$status" -ne 0 ]; then
        log "SOME TESTS FAILED"
    else
        log "all test runs passed"
    fi
    return "$status"
}

# check_package DEB: Debian's checks on the package, on the files unpacked
# from it; the first complaint ends packaging with the checker's output.
check_package() (
    local deb=$1 work out
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    dpkg-deb -x "$deb" "$work/root"
    # failed CHECK OUTPUT: prints what CHECK said, then ends.
    failed() {
        printf '%s\n' "$2" >&2
        die "package check failed: $1"
    }

    # Errors and warnings fail; infos and pedantic hints may stay.
    out=$(lintian --fail-on error,warning "$deb" 2>&1) || failed lintian "$out"
    log "lintian $(lintian --print-version): no errors, no warnings"

    # Its status tells errors only; warnings and hints are words.
    out=$(desktop-file-validate "$work"/root/usr/share/applications/*.desktop 2>&1) &&
        [ -z "$out" ] || failed desktop-file-validate "$out"
    log "desktop-file-validate: no errors, no warnings"

    # validate-tree also finds the desktop entry that the metainfo names as
    # its launchable; a warning fails as an error does.
    out=$(appstreamcli validate-tree --no-net "$work/root" 2>&1) ||
        failed "appstreamcli validate-tree" "$out"
    log "appstreamcli validate-tree: ${out##*$'\n'}"

    # systemd-analyze verify checks that the programs a unit runs exist, but
    # it takes --root for system units only: the user unit is verified from a
    # copy whose ExecStart names the program in the unpacked tree (its other
    # programs are the system's). An instance stands for the template. Man
    # finds the page of Documentation= in the tree. The user manager it
    # simulates needs XDG_RUNTIME_DIR, unset outside a login session. Bad
    # settings are words only, not a status.
    local unit=motionmonitor-record@.service
    mkdir "$work/units" && mkdir -m 700 "$work/runtime"
    sed "s#^\(ExecStart=\)\(/usr/bin/motionmonitor \)#\1$work/root\2#" \
        "$work/root/usr/lib/systemd/user/$unit" >"$work/units/$unit"
    grep -q "^ExecStart=$work/root/" "$work/units/$unit" ||
        failed "the user unit runs another program than /usr/bin/motionmonitor" \
            "$(grep ExecStart= "$work/units/$unit")"
    out=$(XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$work/runtime} MANPATH=$work/root/usr/share/man \
        systemd-analyze --user verify "$work/units/${unit/@/@ttyUSB0}" 2>&1) &&
        [ -z "$out" ] || failed "systemd-analyze verify" "$out"
    log "systemd-analyze verify $unit: no complaints"
)

cmd_package() {
    need_packages "${BUILD_PKGS[@]}" "${PACKAGE_PKGS[@]}" "${PACKAGE_CHECK_PKGS[@]}"
    # The package installs under the configured prefix, which a Debian
    # package keeps in /usr (the default of build trees configured since).
    if [ -f "$ROOT/build/CMakeCache.txt" ] &&
        ! grep -qx 'CMAKE_INSTALL_PREFIX:PATH=/usr' "$ROOT/build/CMakeCache.txt"; then
        cmake -DCMAKE_INSTALL_PREFIX=/usr "$ROOT/build" >/dev/null
    fi
    build "$ROOT/build"
    log "packaging"
    (cd "$ROOT/build" && cpack -G DEB >/dev/null)
    local deb
    deb=$(ls -t "$ROOT"/build/motionmonitor_*.deb | head -n 1)
    log "checking $deb"
    check_package "$deb"
    echo "$deb"
}

cmd_bench() {
    cmd_build
    need_packages "${BENCH_PKGS[@]}"
    local b
    for b in "$ROOT"/build/bench/bench_*; do
        [ -x "$b" ] || continue
        log "$(basename "$b")"
        QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$b"
    done
}

case "${1:-}" in
run) shift; cmd_run "$@" ;;
test) cmd_test ;;
bench) cmd_bench ;;
package) cmd_package ;;
build) cmd_build ;;
*)
    sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
