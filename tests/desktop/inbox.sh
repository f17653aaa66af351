#!/usr/bin/env bash
# The inbox in a real X server with the real receiver: lanquilld and the program in the client's
# private namespace (the daemon's folders under the test's own), a private session bus with a
# recording notification server, and a Samba peer. `smbclient -M` from the peer shows in the
# message window with the sender from the book and raises a notification; 回复 opens the send
# dialog to the peer and the reply reaches it; the history window finds both by a word; the
# message is read once on screen, and the tray shows no unread mark. A message that claims a contact's name from an
# address the book gives another computer shows the claimed name and the address, files under
# the address, and 回复 goes back to that address. Then 50 messages arrive while the program is
# killed: after a restart the history holds all 50, none twice.
# Usage: inbox.sh BIN_DIR [SCREENSHOT_DIR]
. "$(dirname "$0")/scenario.sh" "$@"
lqd_begin_receiving --markup

lqd_start_with_book "$LQ_TMP/program" <<XML
<Lanquill>
  <group id="$LQ_WORKGROUP">
    <computer id="$LQ_PEER_NAME"><ComputerName>$LQ_PEER_NAME</ComputerName><UserName>peeruser</UserName><IpAddress>$LQ_PEER_ADDR</IpAddress><Memo/></computer>
  </group>
  <group id="RTWG">
    <computer id="BOSS"><ComputerName>BOSS</ComputerName><UserName>老板</UserName><IpAddress>192.0.2.1</IpAddress><Memo/></computer>
  </group>
</Lanquill>
XML
lqd_wait grep -q "first session of" "$daemon_log" || fail "the program did not connect to lanquilld"

# Red pixels of the unread mark in the tray icon.
tray=$(lqd_tray_icon) || fail "no tray icon"
unread_mark() {
    lqd_shot_window "$tray" "$LQ_TMP/tray.png" || return 1
    convert "$LQ_TMP/tray.png" -fuzz 12% -fill white -opaque 'rgb(220,30,30)' -fill black \
        +opaque white -format '%[fx:round(mean*w*h)]' info: 2>/dev/null
}
history_rows() {
    $py - "$db" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
for row in db.execute("SELECT direction, peer, text, unread FROM messages ORDER BY time"):
    print("|".join(str(v) for v in row))
PY
}
# The program icon has some red of its own: the mark is what comes on top of it.
no_mark=$(unread_mark)
no_unread_mark() { [ "$(unread_mark)" = "$no_mark" ]; }
spool_empty() { [ -z "$(ls "$STATE_DIRECTORY/spool")" ]; }

# --- Arrival from a real peer: the window, the notification, the acknowledgement ---
peer_conf=$LQ_TMP/peer-client.conf
lq_write_conf "$LQ_TMP/peerclient" "$LQ_PEER_ADDR" "$LQ_PEER_NAME" >"$peer_conf"
printf '    client min protocol = NT1\n    client max protocol = NT1\n' >>"$peer_conf"
# smbclient names its user as the sender: the book knows the peer by its address.
text='午饭 noon? lunch <b>at</b> 12'
printf '%s' "$text" | lq_peer smbclient -s "$peer_conf" -M $HOST -I "$LQ_CLIENT_ADDR" -U peeruser% -N \
    >"$LQ_TMP/smbclient.out" 2>&1 || fail "smbclient -M failed: $(cat "$LQ_TMP/smbclient.out")"
msg=$(lqd_window_named "收到消息") || fail "no message window"
sleep 0.5
[ -n "$shots" ] && lqd_shot_window "$msg" "$shots/inbox-message-window.png"
lqd_wait test -s "$notified" || fail "no notification reached the bus"
$py - "$notified" <<'PY' || fail "wrong notification: $(cat "$notified")"
import json, sys
call = json.loads(open(sys.argv[1], encoding="utf-8").readline())
assert call["app_name"] == "Lanquill", call
assert call["summary"] == "peeruser (LQWG)", call
assert call["body"] == "午饭 noon? lunch &lt;b&gt;at&lt;/b&gt; 12", call
assert call["hints"]["category"] == "im.received", call
PY
lqd_wait spool_empty || fail "lanquilld still holds the message: it was not acknowledged"
read_in_history() { history_rows | grep -q '^0|.*|0$'; }
lqd_wait read_in_history || fail "the message on screen is still unread: $(history_rows)"
lqd_wait no_unread_mark || fail "an unread mark with nothing unread: $(unread_mark) red pixels, $no_mark without"
echo "PASS: smbclient -M shows in the message window, notifies, is acknowledged, is read on screen"

# --- 回复: the send dialog to the peer; the reply reaches it ---
lqd_click "$msg" 34 214
dlg=$(lqd_window_named "发送消息") || fail "回复 opened no send dialog"
sleep 0.3
xdotool type --delay 20 "lunch ok"
lqd_click "$dlg" 124 177
lqd_wait lqd_window_gone "$dlg" || fail "the send dialog stayed open"
lqd_wait bash -c "ls '$LQ_MSG_DIR'/*.msg >/dev/null 2>&1" || fail "the reply did not reach the peer"
[ "$(cat "$LQ_MSG_DIR"/*.msg)" = "lunch ok" ] || fail "the peer got '$(cat "$LQ_MSG_DIR"/*.msg)'"
echo "PASS: 回复 sends to the peer"

# --- 关闭; the history holds both, read ---
lqd_click "$msg" 305 214
lqd_wait lqd_window_gone "$msg" || fail "关闭 did not close the message window"
rows=$(history_rows)
grep -qxF "0|LQPEER|$text|0" <<<"$rows" || fail "received message missing: $rows"
grep -qxF "1|$LQ_PEER_NAME|lunch ok|0" <<<"$rows" || fail "sent message missing: $rows"
lqd_wait no_unread_mark || fail "an unread mark after reading: $(unread_mark) red pixels, $no_mark without"
echo "PASS: the history holds the message and the reply, read"

# --- The history window from the tray menu: a search finds both, one or none ---
lqd_click "$tray" 10 10 3
lqd_popup_menu >/dev/null || fail "no tray menu"
xdotool key Down Down Down Return # 打开窗口, 帮助, 消息记录
hist=$(lqd_window_named "消息记录") || fail "消息记录 opened no history window"
sleep 0.3
# The height of the writing in the text pane: lines shown.
found_height() {
    lqd_click "$hist" 144 18
    xdotool key ctrl+a BackSpace
    [ -n "$1" ] && xdotool type --delay 20 "$1"
    xdotool key Return
    sleep 0.3
    lqd_crop "$hist" 168 40 380 296 "$LQ_TMP/found.png"
    local geometry
    geometry=$(convert "$LQ_TMP/found.png" -colorspace gray -threshold 50% -negate -trim \
        -format '%h %@' info: 2>/dev/null)
    case $geometry in
    *" 0x0"*) echo 0 ;; # nothing left to trim to
    *) echo "${geometry%% *}" ;;
    esac
}
both=$(found_height lunch)
[ -n "$shots" ] && lqd_shot_window "$hist" "$shots/inbox-history-window.png"
one=$(found_height noon)
none=$(found_height nowhere)
[ "$none" = 0 ] && [ "$one" -gt 0 ] && [ "$both" -gt "$one" ] ||
    fail "search heights: lunch $both, noon $one, nowhere $none"
lqd_click "$hist" 514 360
lqd_wait lqd_window_gone "$hist" || fail "关闭 did not close the history window"
echo "PASS: the history window finds both by 'lunch' ($both px), one by 'noon' ($one px), none by 'nowhere'"

# --- The peer claims the name of BOSS, whom the book places at another address ---
printf 'pay me' | lq_peer smbclient -s "$peer_conf" -M $HOST -I "$LQ_CLIENT_ADDR" -U BOSS% -N \
    >"$LQ_TMP/smbclient.out" 2>&1 || fail "smbclient -M as BOSS failed: $(cat "$LQ_TMP/smbclient.out")"
msg=$(lqd_window_named "收到消息") || fail "no message window for the claimed name"
lqd_wait bash -c "[ \$(wc -l <'$notified') -ge 2 ]" || fail "no second notification"
sleep 0.5
lqd_shot_window "$msg" "$LQ_TMP/claimed.png"
[ -n "$shots" ] && cp "$LQ_TMP/claimed.png" "$shots/inbox-claimed-name.png"
$py - "$notified" "未核实：BOSS ($LQ_PEER_ADDR)" <<'PY' || fail "wrong sender for the claim: $(tail -n 1 "$notified")"
import json, sys
call = json.loads(open(sys.argv[1], encoding="utf-8").readlines()[1])
assert call["summary"] == sys.argv[2], call
PY
filed_under_address() { history_rows | grep -qxF "0|$LQ_PEER_ADDR|pay me|0"; }
lqd_wait filed_under_address || fail "the claim is not filed under its address: $(history_rows)"
lqd_click "$msg" 34 214
dlg=$(lqd_window_named "发送消息") || fail "回复 to the claim opened no send dialog"
sleep 0.3
xdotool type --delay 20 "who are you"
lqd_click "$dlg" 124 177
lqd_wait lqd_window_gone "$dlg" || fail "the reply to the claim was not sent"
reply_at_peer() { grep -qx "who are you" "$LQ_MSG_DIR"/*.msg 2>/dev/null; }
lqd_wait reply_at_peer || fail "the reply to the claim did not reach the address it came from"
grep -qxF "1|$LQ_PEER_ADDR|who are you|0" <<<"$(history_rows)" ||
    fail "the reply is not filed beside the claim: $(history_rows)"
lqd_click "$msg" 305 214
lqd_wait lqd_window_gone "$msg" || fail "关闭 did not close the message window"
echo "PASS: a contact's name from another address shows as '未核实：BOSS ($LQ_PEER_ADDR)', files under the address, and 回复 goes there"

# --- 50 messages from the peer while the program is killed ---
flood_count() {
    $py -c 'import sqlite3, sys
print(sqlite3.connect(sys.argv[1]).execute(
    "SELECT COUNT(*) FROM messages WHERE text LIKE ?", ("flood %",)).fetchone()[0])' "$db"
}
at_least_stored() { [ "$(flood_count)" -ge "$1" ]; }
sent_ok=$LQ_TMP/flood-sent
lq_peer bash -c "for i in \$(seq 1 50); do
    '$LQD_BIN/lanquill-net' send $LQ_CLIENT_ADDR \"flood \$i\" >/dev/null 2>&1 && echo \$i; sleep 0.05
done" >"$sent_ok" &
sender=$!
lqd_wait at_least_stored 5 || fail "the flood was not taken"
kill -9 "$LQD_PID"
wait "$LQD_PID" 2>/dev/null
taken=$(flood_count)
[ "$taken" -lt 50 ] || fail "all 50 were in before the kill; the pace is too fast"
sleep 0.5 # more arrive while the program is gone
lqd_start_lanquill "$dir"
wait $sender
[ "$(wc -l <"$sent_ok")" = 50 ] || fail "lanquilld accepted only $(wc -l <"$sent_ok") of 50"
lqd_wait at_least_stored 50 || lqd_wait at_least_stored 50 ||
    fail "only $(flood_count) of 50 stored after the restart"
counts=$($py - "$db" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
print(db.execute("SELECT COUNT(*), COUNT(DISTINCT text) FROM messages WHERE text LIKE 'flood %'").fetchone())
PY
)
[ "$counts" = "(50, 50)" ] || fail "the history holds $counts flood messages (count, distinct)"
lqd_wait spool_empty || fail "$(ls "$STATE_DIRECTORY/spool" | wc -l) messages left unacknowledged in lanquilld's spool"
echo "PASS: killed with $taken of 50 stored; after the restart all 50 are stored once and acknowledged"
kill -0 "$LQD_PID" 2>/dev/null || fail "the program ended during the test"
grep -q 'inbox: ' "$dir/lanquill.out" && fail "the inbox complained: $(grep 'inbox:' "$dir/lanquill.out")"
exit 0
