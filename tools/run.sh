#!/usr/bin/env bash
# Builds Pixaloom and runs it against the edit server of the build's configuration (by
# default the local edit server, which this script starts on 127.0.0.1:8765).
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh build
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"

exec tools/run-built.sh build "$@"
