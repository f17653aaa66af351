# Desktop test harness: a private X server (Xvfb) with a window manager (openbox) and a tray host
# (trayer), and Lanquill started inside the client namespace of the real-peer harness, so that
# whatever it broadcasts stays there. Source it after ../interop/harness.sh, then:
#
#   lqd_require || exit 77            # Xvfb, openbox, trayer, xdotool present
#   lqd_start_display                 # Xvfb + openbox + trayer; sets DISPLAY
#   lqd_start_lanquill DIR            # lanquill with DIR as program directory; sets LQD_PID
#   lqd_main_window                   # prints the main window's id
#   lqd_shot FILE                     # screenshot of the whole screen
#   lqd_teardown                      # ends what lqd_ started, by pid (lq_teardown does the rest)

LQD_PIDS=()
LQD_PID=
LQD_BIN=${LQD_BIN:-}

lqd_require() {
    local tool
    for tool in Xvfb openbox trayer xdotool xwininfo import; do
        if ! command -v "$tool" >/dev/null; then
            echo "SKIP: desktop tests need $tool: scripts/deps.sh --test"
            return 1
        fi
    done
}

lqd_start_display() {
    local fdfile
    fdfile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
    LQD_PIDS+=($!)
    local i
    for i in $(seq 1 50); do
        [ -s "$fdfile" ] && break
        sleep 0.1
    done
    DISPLAY=:$(head -1 "$fdfile")
    export DISPLAY
    rm -f "$fdfile"
    openbox >/dev/null 2>&1 &
    LQD_PIDS+=($!)
    trayer --edge bottom --align right --widthtype pixel --width 120 --height 24 \
        --SetDockType true --transparent false >/dev/null 2>&1 &
    LQD_PIDS+=($!)
    for i in $(seq 1 50); do
        xdotool search --classname trayer >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    echo "desktop: the tray host did not start" >&2
    return 1
}

# Starts lanquill with DIR as its current directory, in the client namespace.
lqd_start_lanquill() {
    local dir=$1
    (cd "$dir" && exec ip netns exec "$LQ_NS_CLIENT" env DISPLAY="$DISPLAY" \
        QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8 "$LQD_BIN/lanquill" >"$dir/lanquill.out" 2>&1) &
    LQD_PID=$!
    LQD_PIDS+=($LQD_PID)
}

# The main window: the program's tallest mapped top-level window.
lqd_main_window() {
    local i id best= best_h=0 h
    for i in $(seq 1 100); do
        for id in $(xdotool search --onlyvisible --classname lanquill 2>/dev/null); do
            h=$(xwininfo -id "$id" 2>/dev/null | sed -n 's/.*Height: *//p')
            if [ -n "$h" ] && [ "$h" -gt "$best_h" ]; then best=$id; best_h=$h; fi
        done
        [ -n "$best" ] && [ "$best_h" -gt 300 ] && { echo "$best"; return 0; }
        sleep 0.1
    done
    return 1
}

# The tray icon: the program's small window docked in the tray host.
lqd_tray_icon() {
    local i id h
    for i in $(seq 1 100); do
        for id in $(xdotool search --onlyvisible --classname lanquill 2>/dev/null); do
            h=$(xwininfo -id "$id" 2>/dev/null | sed -n 's/.*Height: *//p')
            if [ -n "$h" ] && [ "$h" -le 32 ]; then echo "$id"; return 0; fi
        done
        sleep 0.1
    done
    return 1
}

lqd_is_viewable() { xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }

# Waits up to 5 s for a condition command to succeed.
lqd_wait() {
    local i
    for i in $(seq 1 50); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

lqd_count_windows_named() {
    xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | wc -l
}

lqd_shot() { import -window root "$1" 2>/dev/null; }

# Screenshot of one window with its frame: WIN FILE.
lqd_shot_window() {
    local info x y w h
    info=$(xwininfo -frame -id "$1" 2>/dev/null) || return 1
    x=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info")
    y=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info")
    w=$(sed -n 's/.*Width: *//p' <<<"$info")
    h=$(sed -n 's/.*Height: *//p' <<<"$info")
    import -window root -crop "${w}x${h}+${x}+${y}" +repage "$2" 2>/dev/null
}

lqd_teardown() {
    local pid
    for ((i = ${#LQD_PIDS[@]} - 1; i >= 0; i--)); do
        pid=${LQD_PIDS[i]}
        kill "$pid" 2>/dev/null
    done
    sleep 0.3
    for pid in "${LQD_PIDS[@]}"; do kill -9 "$pid" 2>/dev/null; done
    LQD_PIDS=()
}
