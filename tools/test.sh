#!/usr/bin/env bash
# Builds and runs every test: the unit tests, the same unit tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, and the end-to-end tests under a virtual X server, with and
# without a window manager.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)

tools/install-deps.sh test

configure() { # <build dir> <extra cmake args...>
    local dir=$1
    shift
    cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
}

configure build
configure build-asan -DPIXALOOM_SANITIZE=ON -DPIXALOOM_BUILD_BENCH=OFF

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$root/tools/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

status=0
# The end-to-end tests that start the application itself.
app_tests='^(Pixaloom|HotKeyRoad|TakenHotKey|Updates|Termination|NoDisplay|RunScript)\.'
echo "== unit tests under sanitizers"
ctest --test-dir build-asan -L unit --output-on-failure -j "$jobs" || status=1
if ctest --test-dir build -N -L e2e | grep -q 'Total Tests: [1-9]'; then
    # Twice: on a bare X server and under a window manager, as users have one and stacking
    # and focus differ. Random order: no test may depend on what another left behind.
    e2e=(ctest --test-dir build -L e2e --schedule-random --output-on-failure)
    echo "== end-to-end tests under Xvfb"
    dbus-run-session -- xvfb-run -a -s "-screen 0 1920x1080x24" "${e2e[@]}" || status=1
    echo "== end-to-end tests under Xvfb with openbox"
    dbus-run-session -- xvfb-run -a -s "-screen 0 1920x1080x24" \
        tools/with-window-manager.sh "${e2e[@]}" || status=1
fi
if ctest --test-dir build-asan -N -L e2e -R "$app_tests" | grep -q 'Total Tests: [1-9]'; then
    echo "== the application under sanitizers, under Xvfb"
    dbus-run-session -- xvfb-run -a -s "-screen 0 1920x1080x24" \
        ctest --test-dir build-asan -L e2e -R "$app_tests" --output-on-failure || status=1
fi
echo "== unit tests"
ctest --test-dir build -L unit --output-on-failure -j "$jobs" || status=1
exit $status
