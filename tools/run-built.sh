#!/usr/bin/env bash
# Runs a built Pixaloom against the edit server of its build's configuration (by default the
# local edit server, which this script starts on 127.0.0.1:8765).
# Usage: tools/run-built.sh <build folder> [arguments for pixaloom...]
set -euo pipefail
build=$1
shift

# The local edit server runs beside the application when the build points at 127.0.0.1 and
# nothing listens on that port yet; it stops (by its pid) when the application exits.
server_url=$(sed -n 's/^PIXALOOM_SERVER_URL:STRING=//p' "$build/CMakeCache.txt")
if [[ "$server_url" =~ ^http://127\.0\.0\.1:([0-9]+)$ ]]; then
    port=${BASH_REMATCH[1]}
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
        "$build/tools/edit-server/pixaloom-edit-server" "$port" &
        server_pid=$!
        trap 'kill "$server_pid" 2>/dev/null || true' EXIT
    fi
fi
"$build/src/shell/pixaloom" "$@"
