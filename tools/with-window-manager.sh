#!/usr/bin/env bash
# Runs a command under openbox on the X server in $DISPLAY, then ends that openbox.
set -uo pipefail
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
# Ready once it has claimed the screen.
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
done
"$@"
status=$?
kill "$wm"
wait "$wm" 2>/dev/null
exit $status
