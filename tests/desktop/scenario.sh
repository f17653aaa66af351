# The start every desktop scenario shares. A scenario, called as SCRIPT BIN_DIR [SCREENSHOT_DIR],
# sources this with its arguments: . "$(dirname "$0")/scenario.sh" "$@"
# Afterwards LQD_BIN and shots are set, both harnesses are loaded, and fail() is defined.
set -u
LQD_BIN=$1
shots=${2:-}
. "$(dirname "${BASH_SOURCE[0]}")/../interop/harness.sh"
. "$(dirname "${BASH_SOURCE[0]}")/desktop.sh"

dir= # the program directory of the scenario's current run

# A failed check: the reason, the program's own output, and the end of the scenario.
fail() { echo "FAIL: $*"; [ -f "$dir/lanquill.out" ] && cat "$dir/lanquill.out"; exit 1; }

# Starts lanquill in a fresh program directory DIR (sets dir) whose config.xml is the standard
# input, and sets win to its main window.
lqd_start_with_book() {
    dir=$1
    lqd_program_dir "$dir"
    cat >"$dir/config.xml"
    lqd_start_lanquill "$dir"
    win=$(lqd_main_window) || fail "no main window"
}

# The start of a scenario with the real receiver: a Samba peer, a private session bus with the
# recording notification server (ARGS go to it), and lanquilld in the client's namespace with
# its folders, the session socket, the history and the program's settings under the test's own
# folder. Sets py, HOST, daemon_log, notified, settings and db; fail() also shows lanquilld's log.
lqd_begin_receiving() {
    py=/usr/bin/python3
    if ! $py -c 'import dbus, gi, sqlite3' 2>/dev/null || ! command -v dbus-daemon >/dev/null; then
        echo "SKIP: needs dbus-daemon, python3-dbus, python3-gi: scripts/deps.sh --test"
        exit 77
    fi
    lqd_begin samba
    HOST=LQHOST
    daemon_log=$LQ_TMP/lanquilld.log
    fail() {
        echo "FAIL: $*"
        [ -f "$dir/lanquill.out" ] && cat "$dir/lanquill.out"
        [ -f "$daemon_log" ] && tail -n 20 "$daemon_log"
        exit 1
    }
    # The session bus on a path socket (dbus-run-session's abstract one would stay outside the
    # namespace).
    local bus=$LQ_TMP/bus
    dbus-daemon --session --nofork --address="unix:path=$bus" >/dev/null 2>&1 &
    LQD_PIDS+=($!)
    lqd_wait test -S "$bus" || fail "no session bus"
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$bus
    notified=$LQ_TMP/notify.jsonl
    $py "$LQ_HERE/../dbus/notification_recorder.py" "$notified" "$@" >"$LQ_TMP/recorder.out" 2>&1 &
    LQD_PIDS+=($!)
    lqd_wait grep -q ready "$LQ_TMP/recorder.out" || fail "no notification server"
    export XDG_CONFIG_HOME=$LQ_TMP/config
    settings=$XDG_CONFIG_HOME/Lanquill/lanquill.conf
    # No rate limit: the scenarios' bursts come from one address.
    export RUNTIME_DIRECTORY=$LQ_TMP/run STATE_DIRECTORY=$LQ_TMP/state
    export LANQUILL_SESSION_SOCKET=$RUNTIME_DIRECTORY/session.sock XDG_DATA_HOME=$LQ_TMP/data
    lq_start_lanquilld "$LQ_NS_CLIENT" "$RUNTIME_DIRECTORY" "$daemon_log" \
        "$LQD_BIN/lanquilld" --listen --name $HOST --workgroup "$LQ_WORKGROUP" --per-minute 0 ||
        fail "lanquilld did not open its session socket"
    LQD_PIDS+=($LQ_DAEMON_PID)
    db=$XDG_DATA_HOME/Lanquill/history.sqlite
}

# A session bus on a path socket (the program runs in the client's namespace) with the desktop
# keyring on it (gnome-keyring, unlocked with a password of the test's), and the program's
# settings and data under the test's folder. Sets marks, the Windows desktops' file.
lqd_start_keyring() {
    local tool
    for tool in dbus-daemon dbus-send gnome-keyring-daemon secret-tool; do
        if ! command -v $tool >/dev/null; then
            echo "SKIP: needs $tool: scripts/deps.sh --test"
            exit 77
        fi
    done
    local bus=$LQ_TMP/bus
    dbus-daemon --session --nofork --address="unix:path=$bus" >/dev/null 2>&1 &
    LQD_PIDS+=($!)
    lqd_wait test -S "$bus" || fail "no session bus"
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$bus XDG_DATA_HOME=$LQ_TMP/data \
        XDG_CONFIG_HOME=$LQ_TMP/config XDG_RUNTIME_DIR=$LQ_TMP/runtime
    mkdir -p -m 700 "$XDG_RUNTIME_DIR" "$XDG_DATA_HOME"
    printf 'unlock-pw' | gnome-keyring-daemon --foreground --unlock --components=secrets \
        >"$LQ_TMP/keyring.log" 2>&1 &
    LQD_PIDS+=($!)
    keyring_up() {
        dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
            org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null |
            grep -q 'boolean true'
    }
    lqd_wait keyring_up || fail "the keyring did not start: $(cat "$LQ_TMP/keyring.log")"
    marks=$XDG_CONFIG_HOME/Lanquill/windows-desktops.ini
}

# Client coordinates. Send dialog: the status button, 发送, 取消. Detail dialog: the third tab;
# on its page (below the 27 px tab bar and a 2 px margin) the check box, account, password; OK.
status_button=(312 34)
send_button=(124 177)
cancel_button=(213 177)
windows_tab=(0 12) # x is set from the tab bar's width by lqd_mark_windows
check_box=(14 45)
account_field=(124 71)
password_field=(124 98)
ok=(215 145)

# The send dialog of the main window's item ITEM_INDEX (0: the group message).
open_send_dialog() {
    lqd_click "$win" 50 "$(lqd_item_y "$1")"
    lqd_window_named "发送消息"
}

# Marks the computer of the send dialog SEND as a Windows desktop reached with ACCOUNT and
# PASSWORD, as a user does: the status button, the detail dialog's third page, OK. SHOT (when
# screenshots are taken) gets the page as filled in.
lqd_mark_windows() {
    local send=$1 account=$2 password=$3 shot=${4:-} detail tabs_end
    lqd_click "$send" "${status_button[@]}"
    detail=$(lqd_window_named "详细信息") || fail "the status button opened no detail dialog"
    # The third tab ends the tab bar: its middle lies a little left of where the bar's ink ends.
    lqd_crop "$detail" 0 0 248 24 "$LQ_TMP/tabs.png"
    tabs_end=$(convert "$LQ_TMP/tabs.png" -colorspace gray -threshold 50% -negate -trim \
        -format '%[fx:page.x+w]' info: 2>/dev/null)
    [ -n "$tabs_end" ] && [ "$tabs_end" -gt 60 ] || fail "no tab bar found in the detail dialog"
    windows_tab[0]=$((tabs_end - 25))
    lqd_click "$detail" "${windows_tab[@]}"
    sleep 0.3
    lqd_click "$detail" "${check_box[@]}"
    lqd_click "$detail" "${account_field[@]}"
    xdotool type --delay 20 "$account"
    lqd_click "$detail" "${password_field[@]}"
    xdotool type --delay 20 "$password"
    sleep 0.3
    [ -n "$shots" ] && [ -n "$shot" ] && lqd_shot_window "$detail" "$shot"
    lqd_click "$detail" "${ok[@]}"
    lqd_wait lqd_window_gone "$detail" || fail "OK did not close the detail dialog"
}
