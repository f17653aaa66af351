#!/usr/bin/env bash
# In a real X server with no tray host: the main window keeps its task-bar entry. A tray host
# started later gets the icon, and the entry goes. A second start, and `lanquill --show`, bring
# the minimised first copy forward and end with 0, leaving one process and one icon.
# Usage: one_instance_tray.sh BIN_DIR
. "$(dirname "$0")/scenario.sh" "$@"
lq_require_root_netns || exit 77
lqd_require || exit 77
trap 'lqd_teardown; lq_teardown' EXIT
lq_setup
lqd_start_display notray || exit 1

in_client_list() { xprop -root _NET_CLIENT_LIST | grep -qi "$(printf '0x%x' "$1")"; }
skips_taskbar() { xprop -id "$1" _NET_WM_STATE | grep -q _NET_WM_STATE_SKIP_TASKBAR; }
icons() {
    local id h n=0
    for id in $(xdotool search --onlyvisible --classname lanquill 2>/dev/null); do
        h=$(xwininfo -id "$id" 2>/dev/null | sed -n 's/.*Height: *//p')
        [ -n "$h" ] && [ "$h" -le 32 ] && n=$((n + 1))
    done
    echo "$n"
}
minimise() {
    xdotool windowminimize "$win"
    lqd_wait lqd_window_gone "$win" || fail "the window did not minimise"
}
# A later start: it must end by itself with 0.
start_again() {
    local first=$LQD_PID status
    lqd_start_lanquill "$dir" "$@"
    lqd_wait bash -c "! kill -0 $LQD_PID 2>/dev/null" || fail "lanquill $* did not end"
    wait "$LQD_PID"
    status=$?
    [ "$status" = 0 ] || fail "lanquill $* ended with $status"
    LQD_PID=$first
}

lqd_start_with_book "$LQ_TMP/prog" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<Lanquill><group id="TEAM"><computer id="PC01"/></group></Lanquill>
XML
lqd_wait in_client_list "$win" || fail "without a tray host the window is not in _NET_CLIENT_LIST"
sleep 1
skips_taskbar "$win" && fail "without a tray host the window skips the task bar"
[ "$(icons)" = 0 ] || fail "an icon without a tray host"
echo "PASS: without a tray host the window has a task-bar entry"

lqd_start_tray || fail "trayer did not start"
lqd_tray_icon >/dev/null || fail "no tray icon after the tray host started"
lqd_wait skips_taskbar "$win" || fail "the task-bar entry stayed with the tray icon there"
echo "PASS: a tray host started later gets the icon, and the task-bar entry goes"

minimise
start_again
lqd_wait lqd_is_viewable "$win" || fail "a second start did not restore the first window"
echo "PASS: a second start restores the first copy's window and ends with 0"
minimise
start_again --show
lqd_wait lqd_is_viewable "$win" || fail "lanquill --show did not restore the window"
kill -0 "$LQD_PID" 2>/dev/null || fail "the first copy is gone"
[ "$(icons)" = 1 ] || fail "$(icons) tray icons after the later starts"
echo "PASS: lanquill --show does the same; the first copy runs on with one icon"
lqd_stop_lanquill
exit 0
