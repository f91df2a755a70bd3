#!/usr/bin/env bash
# Builds and runs the benchmarks in a release build, on a 3840 x 2160 X screen of their own
# (Xvfb), where the realistic screenshots are made from real X clients at bench time.
# Usage: bench/run.sh [--benchmark_filter=...]
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh bench
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DPIXALOOM_BUILD_TESTS=ON >/dev/null
cmake --build build-release -j "$(nproc)" --target bench pixaloom-edit-server

exec 3< <(Xvfb -displayfd 1 -screen 0 3840x2160x24 -nolisten tcp 2>/dev/null & echo "pid $!")
read -r _ xvfb_pid <&3
read -r display <&3
trap 'kill "$xvfb_pid" 2>/dev/null || true' EXIT
DISPLAY=":$display" QT_QPA_PLATFORM=xcb build-release/bench/bench "$@"
