# Desktop test harness: a private X server (Xvfb) with a window manager (openbox) and a tray host
# (trayer), and Lanquill started inside the client namespace of the real-peer harness, so that
# whatever it broadcasts stays there. Source it after ../interop/harness.sh, then:
#
#   lqd_begin [samba]                 # all of the set-up below (and a Samba peer), torn down on exit
#   lqd_require || exit 77            # Xvfb, openbox, trayer, xdotool present
#   lqd_start_display [notray]        # Xvfb + openbox + trayer (unless notray); sets DISPLAY
#   lqd_start_tray                    # trayer, the tray host
#   lqd_start_lanquill DIR [ARG...]   # lanquill with DIR as program directory; sets LQD_PID
#   lqd_main_window                   # prints the main window's id
#   lqd_shot FILE                     # screenshot of the whole screen
#   lqd_teardown                      # ends what lqd_ started, by pid (lq_teardown does the rest)
#
# Driving the program as a user does (all positions relative to a window's client area):
#   lqd_window_named TITLE            # prints the id of the visible window titled TITLE (waits)
#   lqd_click WIN X Y [BUTTON]        # moves the pointer there and clicks (button 1 by default)
#   lqd_popup_menu                    # prints the id of the program's open popup menu (waits)
#   lqd_keys_for TEXT                 # a key of its own for each character of TEXT
#   lqd_menu_pick MENU INDEX COUNT    # clicks item INDEX (from 0) of a menu of COUNT plain items
#   lqd_stop_lanquill                 # ends the running program by its pid and waits for it
#   lqd_item_y INDEX                  # y of item INDEX of the active page (main window client)
#   lqd_crop WIN X Y W H FILE         # screenshot of a part of a window's client area
#   lqd_ink_width FILE [LEVEL]        # width of the writing darker than LEVEL % (default 50)
#   lqd_program_dir DIR               # a fresh program directory with the help file

LQD_PIDS=()
LQD_PID=
LQD_BIN=${LQD_BIN:-}

# The common start of a scenario: what it needs checked (exit 77 skips it), the namespaces and
# the display up, everything torn down on exit; with "samba", a Samba peer ready too. Checks of
# its own (python3 and such) a scenario makes before calling it.
lqd_begin() {
    lq_require_root_netns || exit 77
    lqd_require || exit 77
    trap 'lqd_teardown; lq_teardown' EXIT
    lq_setup
    lqd_start_display || exit 1
    if [ "${1:-}" = samba ]; then
        lq_start_samba
        lq_wait_ready || exit 1
    fi
}

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
    # Wide margins: CI machines are small and busy.
    if ! lq_poll 60 test -s "$fdfile"; then
        echo "desktop: Xvfb did not start" >&2
        return 1
    fi
    DISPLAY=:$(head -1 "$fdfile")
    export DISPLAY
    rm -f "$fdfile"
    # A window mapped before the window manager runs is never managed: no task-bar entry. An
    # openbox that exits at once (it has been seen on loaded machines) is started once more.
    local attempt wm
    for attempt in 1 2; do
        openbox >>"${LQ_TMP:-/tmp}/openbox.log" 2>&1 &
        wm=$!
        LQD_PIDS+=($wm)
        lq_poll 60 lqd_window_manager_or_gone "$wm" && lqd_window_manager && break
    done
    if ! lqd_window_manager; then
        echo "desktop: the window manager did not start" >&2
        cat "${LQ_TMP:-/tmp}/openbox.log" >&2 2>/dev/null
        return 1
    fi
    [ "${1:-}" = notray ] && return 0
    lqd_start_tray
}

lqd_window_manager() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
lqd_window_manager_or_gone() { lqd_window_manager || ! kill -0 "$1" 2>/dev/null; }

lqd_start_tray() {
    trayer --edge bottom --align right --widthtype pixel --width 120 --height 24 \
        --SetDockType true --transparent false >/dev/null 2>&1 &
    LQD_PIDS+=($!)
    lq_poll 60 xdotool search --classname trayer >/dev/null 2>&1 && return 0
    echo "desktop: the tray host did not start" >&2
    return 1
}

# Starts lanquill with DIR as its current directory, in the client namespace. Its history and
# session socket stay in the test's folder unless the scenario chose others: the file system is
# not private to the namespace, and a lanquilld running on this machine is not the test's. The
# locale is C.UTF-8, or LANG=$LQD_LANG alone when a scenario sets that.
lqd_start_lanquill() {
    local dir=$1 locale=(LC_ALL=C.UTF-8)
    shift
    [ -n "${LQD_LANG:-}" ] && locale=(-u LC_ALL -u LC_MESSAGES -u LANGUAGE LANG="$LQD_LANG")
    (cd "$dir" && exec ip netns exec "$LQ_NS_CLIENT" env "${locale[@]}" DISPLAY="$DISPLAY" \
        QT_QPA_PLATFORM=xcb \
        LANQUILL_SESSION_SOCKET="${LANQUILL_SESSION_SOCKET:-$LQ_TMP/no-lanquilld.sock}" \
        XDG_DATA_HOME="${XDG_DATA_HOME:-$LQ_TMP/data}" \
        "$LQD_BIN/lanquill" "$@" >>"$dir/lanquill.out" 2>&1) &
    LQD_PID=$!
    LQD_PIDS+=($LQD_PID)
}

# The program's visible window whose height passes the test TEST (as in "-gt 300"), the tallest
# of them; fails when there is none.
lqd_window_of_height() {
    local id best='' best_h=0 h
    for id in $(xdotool search --onlyvisible --classname lanquill 2>/dev/null); do
        h=$(xwininfo -id "$id" 2>/dev/null | sed -n 's/.*Height: *//p')
        if [ -n "$h" ] && test "$h" "$1" "$2" && [ "$h" -gt "$best_h" ]; then best=$id; best_h=$h; fi
    done
    [ -n "$best" ] && echo "$best"
}

# The main window: the program's tallest mapped top-level window. Waits up to 20 s.
lqd_main_window() { lq_poll 20 lqd_window_of_height -gt 300; }

# The tray icon: the program's small window docked in the tray host. Waits up to 20 s.
lqd_tray_icon() { lq_poll 20 lqd_window_of_height -le 32; }

lqd_is_viewable() { xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }

# Waits up to 10 s for a condition command to succeed.
lqd_wait() { lq_poll 10 "$@"; }

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

# The program's visible window titled exactly TITLE; waits up to 15 s.
lqd_window_titled() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -1 | grep .; }
lqd_window_named() { lq_poll 15 lqd_window_titled "$1"; }

lqd_window_gone() { ! xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }

# xdotool's --sync waits for the pointer to move, for many seconds when it is already there: a
# step beside the spot first makes the synced move one pixel long.
lqd_click() {
    xdotool mousemove --window "$1" $(($2 + 1)) "$3"
    xdotool mousemove --sync --window "$1" "$2" "$3" click "${4:-1}"
}

# Gives each character of TEXT a key of its own (keycodes from 200 up), before the program
# starts: xdotool types a character the keyboard lacks through a key it remaps for that one press
# and maps back, and a program on a busy machine may read the press under either mapping and
# lose the character.
lqd_keys_for() {
    local keycode=200 keysym
    for keysym in $(/usr/bin/python3 -c 'import sys; print(*("U%04X" % ord(c) for c in sys.argv[1]))' "$1"); do
        xmodmap -e "keycode $keycode = $keysym" || return 1
        keycode=$((keycode + 1))
    done
}

# The open popup menu: the program's visible override-redirect window other than the tray icon
# (Qt does not mark its menus with the popup-menu window type here); waits up to 8 s.
lqd_open_menu() {
    local id
    for id in $(xdotool search --onlyvisible --classname lanquill 2>/dev/null); do
        if xwininfo -all -id "$id" 2>/dev/null | grep -q 'Override Redirect State: yes' &&
            ! xprop -id "$id" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q _KDE_NET_WM_WINDOW_TYPE_OVERRIDE; then
            echo "$id"
            return 0
        fi
    done
    return 1
}
lqd_popup_menu() { lq_poll 8 lqd_open_menu; }

# Clicks item INDEX of MENU, a menu of COUNT items of one height (no separators).
lqd_menu_pick() {
    local menu=$1 index=$2 count=$3 w h
    w=$(xwininfo -id "$menu" | sed -n 's/.*Width: *//p')
    h=$(xwininfo -id "$menu" | sed -n 's/.*Height: *//p')
    lqd_click "$menu" $((w / 2)) $((h * (2 * index + 1) / (2 * count)))
}

# Ends the running program by its pid and waits until it is gone.
lqd_stop_lanquill() {
    [ -n "$LQD_PID" ] || return 0
    kill "$LQD_PID" 2>/dev/null
    lqd_wait bash -c "! kill -0 $LQD_PID 2>/dev/null" || kill -9 "$LQD_PID" 2>/dev/null
    wait "$LQD_PID" 2>/dev/null
    LQD_PID=
}

# Items of a page: 20 px page button, then items of about 42.5 px each, the caption centred.
lqd_item_y() { echo $((42 + $1 * 85 / 2)); }

lqd_crop() {
    local info x y
    info=$(xwininfo -id "$1" 2>/dev/null) || return 1
    x=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info")
    y=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info")
    import -window root -crop "${4}x${5}+$((x + $2))+$((y + $3))" +repage "$6" 2>/dev/null
}

# How wide the writing in a crop is: the crop in grey, pixels darker than LEVEL % kept, trimmed
# to them. Grey writing on a disabled control needs a higher level.
lqd_ink_width() {
    local geometry
    geometry=$(convert "$1" -colorspace gray -threshold "${2:-50}%" -negate -trim -format '%w %@' info: \
        2>/dev/null)
    # An image without ink trims to nothing: its bounding box is then 0x0.
    case $geometry in
    *" 0x0"*) echo 0 ;;
    *) echo "${geometry%% *}" ;;
    esac
}

# Number of pixels in which two images of one size differ.
lqd_pixels_differ() { compare -metric AE "$1" "$2" null: 2>&1 | sed 's/[^0-9].*//'; }

lqd_program_dir() {
    mkdir -p "$1"
    cp "$LQD_BIN/LANQUILL.CHM" "$1/"
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
