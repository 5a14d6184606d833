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
#   ./build.sh package build the Debian package build/motionmonitor_*.deb
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
# xfonts-scalable carries Bitstream Charter, the forms' heading font; wider
# substitutes cut the headings short.
BUILD_PKGS=(cmake make g++ pkg-config qt6-base-dev qt6-qpa-plugins libqcustomplot-dev
            libserial-dev libgl-dev fonts-dejavu-core xfonts-scalable)
# A virtual display and a driver for the tests that run the real program
# window, and clang with its fuzzing runtime for the fuzz targets.
TEST_PKGS=(xvfb xauth xdotool clang libclang-rt-14-dev "${PACKAGE_PKGS[@]}")
DEMO_PKGS=(xvfb xauth xdotool)

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

cmd_package() {
    need_packages "${BUILD_PKGS[@]}" "${PACKAGE_PKGS[@]}"
    # The package installs under the configured prefix, which a Debian
    # package keeps in /usr (the default of build trees configured since).
    if [ -f "$ROOT/build/CMakeCache.txt" ] &&
        ! grep -qx 'CMAKE_INSTALL_PREFIX:PATH=/usr' "$ROOT/build/CMakeCache.txt"; then
        cmake -DCMAKE_INSTALL_PREFIX=/usr "$ROOT/build" >/dev/null
    fi
    build "$ROOT/build"
    log "packaging"
    (cd "$ROOT/build" && cpack -G DEB >/dev/null)
    ls -t "$ROOT"/build/motionmonitor_*.deb | head -n 1
}

cmd_bench() {
    cmd_build
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
