#!/usr/bin/env bash
# Measures the application as a user meets it on an X server with a tray: the time from
# starting it to its tray icon shown, its memory at rest and after capture-edit-close rounds,
# and how soon the capture window and the editor window appear after the click and the
# mouse-up that open them. A bare Qt tray application is measured the same way beside it.
#
# Usage: bench/shell-latency.sh [build-dir]   (default: build, configured if need be, built)
# Environment: SIZES (default "1920x1080 3840x2160"), STARTS (10), ROUNDS (10);
# SHELL_BENCH_DEBUG=1 prints the logs and the window tree when a step fails.
#
# Each screen size runs in its own virtual X server (Xvfb, no window manager, no compositor)
# with trayer, the local edit server, and terminals, a clock and a calculator on the screen, so
# the captured pictures are real text and widgets. Times are wall-clock milliseconds read from
# the X server's events by bench/shell-xwatch; CPU is the application's on-CPU time over the
# same interval (all its threads).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$here/build}")
starts=${STARTS:-10}
rounds=${ROUNDS:-10}
# The area each round selects, in the middle of the screen.
drag_width=800
drag_height=500

if [[ -z "${SHELL_BENCH_SCREEN:-}" ]]; then
    "$here/tools/install-deps.sh" test
    [[ -f "$build/CMakeCache.txt" ]] ||
        cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" --target pixaloom pixaloom-edit-server shell-xwatch shell-baseline >/dev/null
    echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) at the start"
    for size in ${SIZES:-1920x1080 3840x2160}; do
        SHELL_BENCH_SCREEN=$size dbus-run-session -- \
            xvfb-run -a -s "-screen 0 ${size}x24 -nolisten tcp" "$0" "$build"
    done
    exit 0
fi

screen_width=${SHELL_BENCH_SCREEN%x*}
screen_height=${SHELL_BENCH_SCREEN#*x}
work=$(mktemp -d /tmp/pixaloom-shell-bench.XXXXXX)
started=()
cleanup() {
    local pid
    for pid in "${started[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "shell-latency: $*" >&2
    if [[ -n "${SHELL_BENCH_DEBUG:-}" ]]; then
        tail -n 20 "$work"/*.log "$work"/*/stderr.log
        xwininfo -root -tree
    fi >&2
    exit 1
}

now_us() { echo "${EPOCHREALTIME/./}"; }

# The first line after line `$2` of file `$1` that matches `$3` and not `$5`, waiting up to
# `$4` seconds.
wait_line() {
    local file=$1 after=$2 pattern=$3 deadline=$(($(now_us) + ${4:-10} * 1000000)) line
    local unwanted=${5:-^$}
    while (($(now_us) < deadline)); do
        line=$(tail -n +"$((after + 1))" "$file" | grep -E -- "$pattern" |
            grep -m1 -v -E -- "$unwanted" || true)
        [[ -n "$line" ]] && { echo "$line"; return 0; }
        sleep 0.01
    done
    return 1
}
lines() { wc -l <"$1"; }
field() { sed -E -n "s/.* $1=([^ ]*).*/\1/p" <<<"$2"; }

# Median, minimum and maximum of numbers given one a line, as "median (min-max)".
summary() {
    sort -n | awk '{ v[NR] = $1 } END {
        if (NR == 0) { print "no samples"; exit }
        m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        printf "%.1f (%.1f-%.1f, n=%d)", m, v[1], v[NR], NR }'
}

# Resident memory of a process: all of it, its proportional share, the anonymous part (its
# own heap and stacks) and the part backed by files (mostly the code of the libraries).
memory() {
    awk '/^Rss:/ { r = $2 } /^Pss:/ { p = $2 } /^Anonymous:/ { a = $2 }
        END { printf "RSS %.1f MB (anonymous %.1f MB, files %.1f MB), PSS %.1f MB",
              r / 1024, a / 1024, (r - a) / 1024, p / 1024 }' "/proc/$1/smaps_rollup"
}
rss_kb() { awk '/^VmRSS/ { print $2 }' "/proc/$1/status"; }

start_edit_server() {
    "$build/tools/edit-server/pixaloom-edit-server" 0 >"$work/server.log" 2>&1 &
    started+=($!)
    wait_line "$work/server.log" 0 'http://127\.0\.0\.1:[0-9]+' 10 >/dev/null || fail "no edit server"
    server_url=$(grep -o -m1 -E 'http://127\.0\.0\.1:[0-9]+' "$work/server.log")
}

start_tray() {
    local attempt
    for attempt in 1 2 3; do
        trayer --edge top --align right --widthtype request --height 24 --SetDockType false \
            >"$work/trayer.log" 2>&1 &
        started+=($!)
        for _ in $(seq 100); do
            xdotool search --classname trayer >/dev/null 2>&1 && return 0
            kill -0 "$!" 2>/dev/null || break
            sleep 0.05
        done
    done
    fail "trayer did not start: $(cat "$work/trayer.log")"
}

# Terminals with text, a clock and a calculator across the screen: what a capture reads.
fill_screen() {
    local half=$((screen_width / 2)) font=$((screen_height / 90))
    xterm -fa 'DejaVu Sans Mono' -fs "$font" -bg '#1e1e1e' -fg '#d4d4d4' \
        -geometry "+0+30" -e bash -c \
        'ls -l --color=always /usr/bin | head -200; exec sleep 100000' 2>>"$work/clients.log" &
    started+=($!)
    xterm -fa 'DejaVu Sans Mono' -fs "$font" -bg white -fg black -geometry "+$half+30" -e bash -c \
        'cat /usr/share/common-licenses/GPL-3; exec sleep 100000' 2>>"$work/clients.log" &
    started+=($!)
    xclock -geometry "$((screen_height / 5))x$((screen_height / 5))+$((half - screen_height / 5))+$((screen_height * 3 / 5))" 2>>"$work/clients.log" &
    started+=($!)
    xcalc -geometry "+$((half + 40))+$((screen_height / 2))" 2>>"$work/clients.log" &
    started+=($!)
    sleep 1.5
}

# A copy of the executable beside an Info file that points it at the local edit server, as
# the end-to-end tests start it.
prepare_executable() {
    mkdir -p "$work/bin"
    cp "$build/src/shell/pixaloom" "$work/bin/pixaloom"
    printf '{"PixaloomServerURL": "%s"}' "$server_url" >"$work/bin/Info.json"
}

# Starts `$1` with its own empty home folders; sets `app_pid` and `app_started` (µs).
launch() {
    local program=$1 home
    home=$(mktemp -d "$work/home.XXXXXX")
    mkdir -p "$home"/{config,cache,data,runtime}
    chmod 700 "$home/runtime"
    app_log="$home/stderr.log"
    app_started=$(now_us)
    HOME=$home XDG_CONFIG_HOME=$home/config XDG_CACHE_HOME=$home/cache \
        XDG_DATA_HOME=$home/data XDG_RUNTIME_DIR=$home/runtime QT_QPA_PLATFORM=xcb \
        "$program" 2>"$app_log" &
    app_pid=$!
    started+=("$app_pid")
}

stop() {
    kill "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

start_watcher() {
    local log=$1
    shift
    "$build/bench/shell-xwatch" "$@" >"$log" &
    watcher_pid=$!
    started+=("$watcher_pid")
    wait_line "$log" 0 '^ready' 10 >/dev/null || fail "shell-xwatch did not start"
}

# Starts `$1` `$starts` times, each a new process with new home folders; prints the median
# time from the start to the tray icon shown, and the CPU used by then.
measure_starts() {
    local program=$1 class=$2 events="$work/starts-$2.log" times=() cpus=() line
    start_watcher "$events" --class "$class"
    for _ in $(seq "$starts"); do
        local before
        before=$(lines "$events")
        launch "$program"
        line=$(wait_line "$events" "$before" "embedded .* pid=$app_pid " 20) ||
            fail "$class: no tray icon"
        times+=($((($(cut -d' ' -f1 <<<"$line") - app_started) / 1000)))
        cpus+=($(($(field cpu_us "$line") / 1000)))
        stop "$app_pid"
    done
    stop "$watcher_pid"
    printf '  %-14s wall %s ms, CPU %s ms\n' "$class" \
        "$(printf '%s\n' "${times[@]}" | summary)" "$(printf '%s\n' "${cpus[@]}" | summary)"
}

at_rest() {
    local pid=$1
    sleep 3
    memory "$pid"
}

# One capture-edit-close round through the tray icon, as a user does it; appends the two
# latencies and their CPU to the arrays of the caller.
round() {
    local events=$1 before press map release editor
    before=$(lines "$events")
    xdotool mousemove "${tray_centre[@]}" click 1
    press=$(wait_line "$events" "$before" '^[0-9]+ press 1 ' 5) || fail "no click seen"
    map=$(wait_line "$events" "$before" "^[0-9]+ map .* ${screen_width}x${screen_height}\+0\+0 " 10) ||
        fail "no capture window"
    capture_ms+=($((($(cut -d' ' -f1 <<<"$map") - $(cut -d' ' -f1 <<<"$press")) / 1000)))
    capture_cpu+=($((($(field cpu_us "$map") - $(field cpu_us "$press")) / 1000)))
    sleep 0.3

    # A drag over the middle of the screen, in small steps.
    local x0=$(((screen_width - drag_width) / 2)) y0=$(((screen_height - drag_height) / 2)) step
    xdotool mousemove "$x0" "$y0" mousedown 1
    for step in 1 2 3 4 5; do
        xdotool mousemove $((x0 + step * drag_width / 5)) $((y0 + step * drag_height / 5))
        sleep 0.02
    done
    before=$(lines "$events")
    xdotool mouseup 1
    release=$(wait_line "$events" "$before" '^[0-9]+ release 1 ' 5) || fail "no mouse-up seen"
    editor=$(wait_line "$events" "$before" '^[0-9]+ map .* or=0 .* name=Pixaloom$' 10 \
        " ${screen_width}x${screen_height}\+0\+0 ") ||
        fail "no editor window"
    editor_ms+=($((($(cut -d' ' -f1 <<<"$editor") - $(cut -d' ' -f1 <<<"$release")) / 1000)))
    editor_cpu+=($((($(field cpu_us "$editor") - $(field cpu_us "$release")) / 1000)))

    # The edit button: first of the toolbar's buttons, in a 280-point panel centred 35 points
    # below the top of the image view, which sits under the menu bar. The editor is the
    # selection's size plus the menu bar and 60 points of room for the panel.
    local width height left top menu_bar edited
    read -r width height left top < <(cut -d' ' -f4 <<<"$editor" |
        sed -E 's/([0-9]+)x([0-9]+)\+(-?[0-9]+)\+(-?[0-9]+)/\1 \2 \3 \4/')
    menu_bar=$((height - drag_height - 60))
    sleep 0.8
    edited=$(grep -c 'Successfully updated image' "$app_log" || true)
    # The toolbar fades in: a click before it is there opens no prompt.
    local attempt
    for attempt in 1 2 3 4 5; do
        before=$(lines "$events")
        xdotool mousemove $((left + (width - 280) / 2 + 40)) $((top + menu_bar + 35 + 18)) click 1
        wait_line "$events" "$before" '^[0-9]+ map .* or=1 ' 1 >/dev/null && break
        ((attempt < 5)) || fail "the edit button opened no prompt"
    done
    sleep 0.2
    xdotool type --delay 10 "invert it"
    xdotool key Return
    local deadline=$(($(now_us) + 15000000))
    until (($(grep -c 'Successfully updated image' "$app_log" || true) > edited)); do
        (($(now_us) < deadline)) || fail "the edit never came back: $(tail -3 "$app_log")"
        sleep 0.05
    done

    local editor_id
    editor_id=$(cut -d' ' -f3 <<<"$editor")
    before=$(lines "$events")
    for _ in 1 2 3; do
        xdotool windowfocus "$editor_id" key Escape 2>/dev/null || true
        wait_line "$events" "$before" "^[0-9]+ unmap $editor_id " 2 >/dev/null && return 0
    done
    fail "Escape did not close the editor"
}

# The tray icon's centre on the screen, for clicks.
find_tray_icon() {
    local id="" geometry
    for _ in $(seq 200); do
        id=$(xdotool search --onlyvisible --classname pixaloom 2>/dev/null | head -1 || true)
        [[ -n "$id" ]] && break
        sleep 0.05
    done
    [[ -n "$id" ]] || fail "no tray icon to click"
    geometry=$(xdotool getwindowgeometry "$id" | tr '\n' ' ' |
        sed -E 's/.*Position: ([0-9]+),([0-9]+).*Geometry: ([0-9]+)x([0-9]+).*/\1 \2 \3 \4/')
    read -r x y width height <<<"$geometry"
    tray_centre=($((x + width / 2)) $((y + height / 2)))
}

measure_rounds() {
    local events="$work/rounds.log" r rest rest_kb
    capture_ms=() capture_cpu=() editor_ms=() editor_cpu=()
    launch "$work/bin/pixaloom"
    start_watcher "$events" --pid "$app_pid"
    find_tray_icon
    echo "  at rest after start:    $(at_rest "$app_pid")"
    rest_kb=$(rss_kb "$app_pid")
    for r in $(seq "$rounds"); do
        round "$events"
        if ((r == 1 || r == 5 || r == rounds)); then
            rest=$(at_rest "$app_pid")
            printf '  at rest after %2d rounds: %s: %+.1f MB RSS\n' "$r" "$rest" \
                "$(awk -v a="$(rss_kb "$app_pid")" -v b="$rest_kb" 'BEGIN { print (a - b) / 1024 }')"
        fi
    done
    printf '  tray click -> capture window mapped: wall %s ms, CPU %s ms\n' \
        "$(printf '%s\n' "${capture_ms[@]}" | summary)" "$(printf '%s\n' "${capture_cpu[@]}" | summary)"
    printf '  mouse-up -> editor window mapped:    wall %s ms, CPU %s ms\n' \
        "$(printf '%s\n' "${editor_ms[@]}" | summary)" "$(printf '%s\n' "${editor_cpu[@]}" | summary)"
    stop "$watcher_pid"
    stop "$app_pid"
}

start_edit_server
start_tray
fill_screen
prepare_executable

echo "screen ${screen_width}x${screen_height}x24: Xvfb, no window manager, no compositor; trayer;"
echo "  xterms with text, xclock, xcalc on screen; load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "start to tray icon embedded, $starts fresh processes (page cache warm), median (min-max):"
measure_starts "$work/bin/pixaloom" pixaloom
measure_starts "$build/bench/shell-baseline" shell-baseline
launch "$build/bench/shell-baseline"
sleep 1
echo "bare Qt tray application, memory at rest: $(at_rest "$app_pid")"
stop "$app_pid"
echo "pixaloom, $rounds capture-edit-close rounds (tray click, ${drag_width}x$drag_height drag, edit, Escape):"
measure_rounds
