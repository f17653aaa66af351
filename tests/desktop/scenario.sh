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
