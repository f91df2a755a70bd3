#!/usr/bin/env bash
# Renders the control panel, a hovered button, the hovered drag handle, the copy
# confirmation, both popovers and the theme list to PNG files under a virtual X server, at
# device pixel ratios 1 and 2, and at 2 under a compositor when xcompmgr is installed.
# Usage: tools/render-control-panel.sh [output folder] (default: build/pictures)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/pictures}
mkdir -p "$out"
cmake --build build --target render-control-panel >/dev/null
program=build/tools/render-control-panel/render-control-panel
dbus-run-session -- xvfb-run -a -s "-screen 0 1280x800x24" env QT_QPA_PLATFORM=xcb \
    QT_SCALE_FACTOR=1 "$program" "$out" ""
dbus-run-session -- xvfb-run -a -s "-screen 0 1920x1600x24" env QT_QPA_PLATFORM=xcb \
    QT_SCALE_FACTOR=2 "$program" "$out" "@2x"
# With a compositing manager the popovers' corners are blended rather than masked.
if command -v xcompmgr >/dev/null; then
    dbus-run-session -- xvfb-run -a -s "-screen 0 1920x1600x24" sh -c \
        'xcompmgr & manager=$!; sleep 0.5; "$@"; status=$?; kill $manager; exit $status' sh \
        env QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=2 "$program" "$out" "@2x-composited"
fi
echo "Pictures in $out"
