#!/usr/bin/env bash
# The inbox in a real X server, the program in the client's private namespace, with a stand-in
# for lanquilld's session socket, a private session bus with a recording notification server,
# and a Samba peer: a message from the peer shows in the message window with the sender from the
# book and raises a notification; 回复 opens the send dialog to the peer and the reply reaches
# it; the history holds both. Then 50 messages arrive while the program is killed: after a
# restart the history holds all 50, none twice.
# Usage: inbox.sh BIN_DIR [SCREENSHOT_DIR]
set -u
here=$(cd "$(dirname "$0")" && pwd)
LQD_BIN=$1
shots=${2:-}
. "$here/../interop/harness.sh"
. "$here/desktop.sh"
py=/usr/bin/python3
if ! $py -c 'import dbus, gi, sqlite3' 2>/dev/null || ! command -v dbus-daemon >/dev/null; then
    echo "SKIP: needs dbus-daemon, python3-dbus, python3-gi: scripts/deps.sh --test"
    exit 77
fi
lqd_begin samba

dir=$LQ_TMP/program
fail() {
    echo "FAIL: $*"
    [ -f "$dir/lanquill.out" ] && cat "$dir/lanquill.out"
    [ -f "$LQ_TMP/lanquilld.out" ] && cat "$LQ_TMP/lanquilld.out"
    exit 1
}

lqd_program_dir "$dir"
cat >"$dir/config.xml" <<XML
<Lanquill>
  <group id="$LQ_WORKGROUP">
    <computer id="$LQ_PEER_NAME"><ComputerName>$LQ_PEER_NAME</ComputerName><UserName>peeruser</UserName><IpAddress>$LQ_PEER_ADDR</IpAddress><Memo/></computer>
  </group>
</Lanquill>
XML

# The session bus on a path socket (an abstract one would stay outside the namespace).
bus=$LQ_TMP/bus
dbus-daemon --session --nofork --address="unix:path=$bus" >/dev/null 2>&1 &
LQD_PIDS+=($!)
lqd_wait test -S "$bus" || fail "no session bus"
export DBUS_SESSION_BUS_ADDRESS=unix:path=$bus
notified=$LQ_TMP/notify.jsonl
$py "$here/../dbus/notification_recorder.py" "$notified" --markup >"$LQ_TMP/recorder.out" 2>&1 &
LQD_PIDS+=($!)
lqd_wait grep -q ready "$LQ_TMP/recorder.out" || fail "no notification server"

sock=$LQ_TMP/session.sock
messages=$LQ_TMP/messages.jsonl
acks=$LQ_TMP/acks
printf '{"id":"p1","time":"2026-12-08T10:00:00Z","kind":"direct","from":"%s","address":"%s","to":"CLIENT","text":"Lunch <b>at</b> noon? 午饭"}\n' \
    "$LQ_PEER_NAME" "$LQ_PEER_ADDR" >"$messages"
# 30 ms between messages: the flood below takes longer than the kill does to land.
$py "$here/fake_lanquilld.py" "$sock" "$messages" "$acks" 0.03 >"$LQ_TMP/lanquilld.out" 2>&1 &
LQD_PIDS+=($!)
lqd_wait grep -q listening "$LQ_TMP/lanquilld.out" || fail "the session socket stand-in did not start"
export LANQUILL_SESSION_SOCKET=$sock XDG_DATA_HOME=$LQ_TMP/data
db=$XDG_DATA_HOME/Lanquill/history.sqlite

lqd_start_lanquill "$dir"
lqd_main_window >/dev/null || fail "no main window"

# --- Arrival: the window, the notification, the acknowledgement after storing ---
msg=$(lqd_window_named "收到消息") || fail "no message window"
sleep 0.5
[ -n "$shots" ] && lqd_shot_window "$msg" "$shots/message-window.png"
lqd_wait grep -qx p1 "$acks" || fail "the message was not acknowledged"
lqd_wait test -s "$notified" || fail "no notification reached the bus"
$py - "$notified" <<'PY' || fail "wrong notification: $(cat "$notified")"
import json, sys
call = json.loads(open(sys.argv[1], encoding="utf-8").readline())
assert call["app_name"] == "Lanquill", call
assert call["summary"] == "peeruser (LQWG)", call
assert call["body"] == "Lunch &lt;b&gt;at&lt;/b&gt; noon? 午饭", call
assert call["hints"]["category"] == "im.received", call
PY
echo "PASS: the message window shows, a notification reaches the bus, the message is acknowledged"

# --- 回复: the send dialog to the peer; the reply reaches it ---
lqd_click "$msg" 34 214
dlg=$(lqd_window_named "发送消息") || fail "回复 opened no send dialog"
sleep 0.3
xdotool type --delay 20 "yes, see you"
lqd_click "$dlg" 124 177
lqd_wait lqd_window_gone "$dlg" || fail "the send dialog stayed open"
lqd_wait bash -c "ls '$LQ_MSG_DIR'/*.msg >/dev/null 2>&1" || fail "the reply did not reach the peer"
[ "$(cat "$LQ_MSG_DIR"/*.msg)" = "yes, see you" ] || fail "the peer got '$(cat "$LQ_MSG_DIR"/*.msg)'"
echo "PASS: 回复 sends to the peer"

# --- 关闭 reads the message; the history holds both ---
lqd_click "$msg" 305 214
lqd_wait lqd_window_gone "$msg" || fail "关闭 did not close the message window"
history_rows() {
    $py - "$db" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
for row in db.execute("SELECT direction, peer, text, unread FROM messages ORDER BY time"):
    print("|".join(str(v) for v in row))
PY
}
lqd_wait bash -c "$(declare -f history_rows); py=$py db=$db history_rows | grep -q '^0|.*|0\$'" ||
    fail "the message is still unread: $(history_rows)"
rows=$(history_rows)
grep -qx "0|$LQ_PEER_NAME|Lunch <b>at</b> noon? 午饭|0" <<<"$rows" || fail "received message missing: $rows"
grep -qx "1|$LQ_PEER_NAME|yes, see you|0" <<<"$rows" || fail "sent message missing: $rows"
echo "PASS: the history holds the message and the reply; the message is read"

# --- 50 messages while the program is killed ---
for i in $(seq 1 50); do
    printf '{"id":"f%d","time":"2026-12-08T11:%02d:00Z","kind":"workgroup","from":"FLOOD","address":"10.1.1.1","to":"CLIENT","text":"flood %d"}\n' \
        "$i" "$i" "$i"
done >>"$messages"
lqd_stop_lanquill
lqd_start_lanquill "$dir"
flood_acked() { grep -c '^f' "$acks"; }
at_least_acked() { [ "$(flood_acked)" -ge "$1" ]; }
# Killed hard while the messages are still coming.
lqd_wait at_least_acked 5 || fail "the flood was not taken"
kill -9 "$LQD_PID"
wait "$LQD_PID" 2>/dev/null
taken=$(flood_acked)
[ "$taken" -lt 50 ] || fail "all 50 were in before the kill; the pace is too fast"
lqd_start_lanquill "$dir"
lqd_wait at_least_acked 50 || lqd_wait at_least_acked 50 ||
    fail "only $(flood_acked) of 50 acknowledged after the restart"
counts=$($py - "$db" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
print(db.execute("SELECT COUNT(*), COUNT(DISTINCT text) FROM messages WHERE peer = 'FLOOD'").fetchone())
PY
)
[ "$counts" = "(50, 50)" ] || fail "the history holds $counts flood messages (count, distinct)"
echo "PASS: killed after $taken of 50 acknowledgements; after the restart all 50 are stored once"
kill -0 "$LQD_PID" 2>/dev/null || fail "the program ended during the test"
exit 0
