#!/usr/bin/env bash
# Runs a built Pixaloom against the edit server of its build's configuration (by default the
# local edit server, which this script starts on 127.0.0.1:8765).
# Usage: tools/run-built.sh <build folder> [arguments for pixaloom...]
set -euo pipefail
build=$1
shift

# The local edit server runs beside the application when the build points at 127.0.0.1 and
# nothing listens on that port yet; it stops (by its pid) once the application has ended.
server_url=$(sed -n 's/^PIXALOOM_SERVER_URL:STRING=//p' "$build/CMakeCache.txt")
if [[ "$server_url" =~ ^http://127\.0\.0\.1:([0-9]+)$ ]]; then
    port=${BASH_REMATCH[1]}
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
        "$build/tools/edit-server/pixaloom-edit-server" "$port" &
        server_pid=$!
        trap 'kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true' EXIT
    fi
fi

# A signal to this script (a logout, `kill`, Ctrl+C) goes on to the application, which quits
# as on Quit; the script waits for it to end, so the server outlives it. Run in the
# foreground, the application would not get the signal, and bash would stop the server. As a
# background job it would inherit SIGINT ignored, and keep ignoring it: the default is
# given back.
env --default-signal=INT "$build/src/shell/pixaloom" "$@" &
application_pid=$!
passed_on=0
pass_on() {
    passed_on=1
    kill -"$1" "$application_pid" 2>/dev/null || true
}
for signal in TERM INT HUP; do
    trap "pass_on $signal" "$signal"
done
while true; do
    passed_on=0
    status=0
    wait "$application_pid" || status=$?
    # A trapped signal ends the wait early; bash keeps the status for a wait that comes later.
    ((passed_on)) || break
done
exit "$status"
