#!/usr/bin/env bash
# In a real X server with no tray host: the main window keeps its task-bar entry, and F10 opens
# the bottom strip's menu with what the tray menu offers (消息记录 among them). A tray host
# started later (an XEmbed tray, or a StatusNotifierItem watcher on the session bus) gets the
# icon, and the entry goes. A second start, and `lanquill --show`, bring
# the minimised first copy forward and end with 0, leaving one process and one icon. Without
# XDG_RUNTIME_DIR, sockets another user planted (in the shared temporary folder, in a folder of
# the user's name that another user made open to all, or answered by another user's process in
# the user's own folder) send no start away: the program opens its window.
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

xdotool windowactivate --sync "$win" key --clearmodifiers F10
menu=$(lqd_popup_menu) || fail "F10 opened no menu in the main window"
[ -n "$shots" ] && lqd_shot "$shots/strip-menu.png"
xdotool key Down Return # the first item, 消息记录
history=$(lqd_window_named "消息记录") || fail "the strip menu's first item opened no history"
xdotool windowactivate --sync "$history" key --clearmodifiers alt+F4
lqd_wait lqd_window_gone "$history" || fail "Alt+F4 did not close the history"
echo "PASS: without a tray host F10 opens the window's menu, and 消息记录 opens the history"

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

# --- Without XDG_RUNTIME_DIR: sockets planted by another user (nobody) ---
# A temporary folder like /tmp (mode 1777) of the test's own: the host's /tmp stays untouched.
tmp=$LQ_TMP/tmp
mkdir -p "$tmp" && chmod 1777 "$tmp"
key=$(printf '%s' "$DISPLAY" | tr -cd 'A-Za-z0-9.-')
# A process of nobody's on SOCKET that answers every start as a running copy would.
plant() {
    python3 - "$1" <<'PY' &
import os, socket, sys
s = socket.socket(socket.AF_UNIX)
s.bind(sys.argv[1])
os.chmod(sys.argv[1], 0o777)
os.setgid(65534)
os.setuid(65534)
s.listen(8)  # the peer credentials a client sees are the ones of this call
while True:
    c, _ = s.accept()
    c.recv(64)
    c.sendall(b"shown\n")
    c.close()
PY
    LQD_PIDS+=($!)
    lqd_wait test -S "$1" || fail "no planted socket at $1"
}
unplant() {
    local pid
    for pid in "${PLANTED[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
    PLANTED=()
}
PLANTED=()
starts_with_window() { # WHAT: lanquill opens its window and keeps running
    XDG_RUNTIME_DIR= TMPDIR=$tmp lqd_start_with_book "$LQ_TMP/$1" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<Lanquill><group id="TEAM"><computer id="PC01"/></group></Lanquill>
XML
    kill -0 "$LQD_PID" 2>/dev/null || fail "$1: the program ended"
}
own=$tmp/lanquill-$(id -u)
# Qt's own fallback runtime folder taken by nobody (Qt then gives none), an answering socket in
# the shared folder itself, and the user's folder made by nobody, open to all, with another.
mkdir -m 0700 "$tmp/runtime-$(id -un)" && chown 65534:65534 "$tmp/runtime-$(id -un)"
mkdir -m 0777 "$own" && chown 65534:65534 "$own" && chmod 0777 "$own"
plant "$tmp/lanquill-$key.sock"
PLANTED+=("${LQD_PIDS[-1]}")
plant "$own/lanquill-$key.sock"
PLANTED+=("${LQD_PIDS[-1]}")
starts_with_window foreign-folder
grep -q "running without the one-copy guard: $own belongs to user 65534" "$dir/lanquill.out" ||
    fail "no word of the refused folder: $(cat "$dir/lanquill.out")"
[ -n "$shots" ] && lqd_shot "$shots/one-instance-planted-socket.png"
lqd_stop_lanquill
unplant
echo "PASS: with the user's folder made by another user, the program opens its window and says why it runs unguarded"

# The user's own folder (0700), but the socket in it answered by nobody's process.
rm -rf "$own"
mkdir -m 0700 "$own"
plant "$own/lanquill-$key.sock"
PLANTED+=("${LQD_PIDS[-1]}")
starts_with_window foreign-peer
unplant
# This copy took the socket over: a later start of the same user's comes to it and ends.
XDG_RUNTIME_DIR= TMPDIR=$tmp start_again
kill -0 "$LQD_PID" 2>/dev/null || fail "the first copy is gone"
[ "$(stat -c %a "$own")" = 700 ] || fail "the folder is $(stat -c %a "$own")"
lqd_stop_lanquill
echo "PASS: a socket answered by another user's process in the user's own folder sends no start away; the program's own one does"

# --- A StatusNotifierItem watcher (a panel of that kind) coming up later on the session bus ---
py=/usr/bin/python3
"$py" -c "import dbus, gi" 2>/dev/null || fail "the watcher part needs python3-dbus and python3-gi: scripts/deps.sh --test"
bus=$LQ_TMP/bus
dbus-daemon --session --nofork --address="unix:path=$bus" >/dev/null 2>&1 &
LQD_PIDS+=($!)
lqd_wait test -S "$bus" || fail "no session bus"
export DBUS_SESSION_BUS_ADDRESS=unix:path=$bus
# No XEmbed tray either: a display of its own without trayer.
lqd_start_display notray || fail "no second display"
lqd_start_with_book "$LQ_TMP/sni" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<Lanquill><group id="TEAM"><computer id="PC01"/></group></Lanquill>
XML
lqd_wait in_client_list "$win" || fail "without any tray host the window has no task-bar entry"
registered=$LQ_TMP/sni.txt
"$py" "$(dirname "$0")/../dbus/fake_sni_watcher.py" "$registered" >"$LQ_TMP/watcher.out" 2>&1 &
LQD_PIDS+=($!)
lqd_wait grep -q ready "$LQ_TMP/watcher.out" || fail "the watcher did not start"
for i in $(seq 1 3); do lqd_wait test -s "$registered" && break; done
[ -s "$registered" ] || fail "no StatusNotifierItem registered with the watcher that came up"
lqd_wait skips_taskbar "$win" || fail "the task-bar entry stayed with the StatusNotifierItem there"
echo "PASS: a StatusNotifierItem watcher coming up later gets the icon, and the task-bar entry goes"
lqd_stop_lanquill
exit 0
