#!/usr/bin/env bash
# Builds and runs the benchmarks in a release build.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh build
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DPIXALOOM_BUILD_TESTS=ON >/dev/null
cmake --build build-release -j "$(nproc)" --target bench
build-release/bench/bench "$@"
