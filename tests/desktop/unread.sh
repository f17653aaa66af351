#!/usr/bin/env bash
# Unread messages as the user meets them, with the real lanquilld and a Samba peer. A burst of 8
# `smbclient -M` from the peer: every one is reachable in the message window ("n / 8"), exactly
# the ones that came on screen are read, one notification counts them and carries the desktop's
# message sound; closing the window keeps the rest unread for the tray's click; 全部标为已读 reads
# the rest. 消息提醒 in the main window's menu silences the notifications. Quitting with messages
# waiting leaves them unread for the next start; 消息记录 marks them and reads them by showing
# them. A first start (no config.xml) receives while its
# 添加工作组 dialog is open.
# Usage: unread.sh BIN_DIR [SCREENSHOT_DIR]
. "$(dirname "$0")/scenario.sh" "$@"
lqd_begin_receiving

# Waits longer than lqd_wait: eight smbclient runs on a busy machine.
wait_long() {
    local i
    for i in $(seq 1 6); do lqd_wait "$@" && return 0; done
    return 1
}

sql() { $py -c 'import sqlite3, sys
print(sqlite3.connect(sys.argv[1]).execute(sys.argv[2]).fetchone()[0])' "$db" "$1" 2>/dev/null; }
stored() { [ "$(sql "SELECT COUNT(*) FROM messages WHERE direction = 0")" = "$1" ]; }
unread_is() { [ "$(sql "SELECT COUNT(*) FROM messages WHERE unread = 1")" = "$1" ]; }
unread() { sql "SELECT COUNT(*) FROM messages WHERE unread = 1"; }
read_text() { [ "$(sql "SELECT unread FROM messages WHERE text = '$1'")" = 0 ]; }

peer_conf=$LQ_TMP/peer-client.conf
lq_write_conf "$LQ_TMP/peerclient" "$LQ_PEER_ADDR" "$LQ_PEER_NAME" >"$peer_conf"
printf '    client min protocol = NT1\n    client max protocol = NT1\n' >>"$peer_conf"
send() { # TEXT
    printf '%s' "$1" | lq_peer smbclient -s "$peer_conf" -M $HOST -I "$LQ_CLIENT_ADDR" \
        -U peeruser% -N >>"$LQ_TMP/smbclient.out" 2>&1
}

# --- A first start: lanquilld's messages show while 添加工作组 waits ---
dir=$LQ_TMP/first
lqd_program_dir "$dir"
lqd_start_lanquill "$dir"
add=$(lqd_window_named "添加工作组") || fail "a first start opened no add-group dialog"
send "while you choose" || fail "smbclient -M failed: $(cat "$LQ_TMP/smbclient.out")"
msg=$(lqd_window_named "收到消息") || fail "no message window while the add-group dialog is open"
lqd_wait read_text "while you choose" || fail "the message on screen is not read: $(unread) unread"
sleep 0.3
[ -n "$shots" ] && lqd_shot "$shots/unread-first-start.png"
echo "PASS: a first start shows a message that arrives while 添加工作组 is open"
lqd_click "$add" 156 220 # 取消
lqd_wait lqd_window_gone "$add" || fail "取消 did not close the add-group dialog"
lqd_stop_lanquill
rm -f "$notified"

# --- A burst of 8 from the peer (the 20 of a unit test's burst are checked there) ---
lqd_start_with_book "$LQ_TMP/program" <<XML
<Lanquill>
  <group id="$LQ_WORKGROUP">
    <computer id="$LQ_PEER_NAME"><ComputerName>$LQ_PEER_NAME</ComputerName><UserName>peeruser</UserName><IpAddress>$LQ_PEER_ADDR</IpAddress><Memo/></computer>
  </group>
</Lanquill>
XML
lqd_wait grep -q "first session of" "$daemon_log" || fail "the program did not connect to lanquilld"
tray=$(lqd_tray_icon) || fail "no tray icon"
# Red pixels of the unread mark in the tray icon (the icon has some red of its own).
unread_mark() {
    lqd_shot_window "$tray" "$LQ_TMP/tray.png" || return 1
    convert "$LQ_TMP/tray.png" -fuzz 12% -fill white -opaque 'rgb(220,30,30)' -fill black \
        +opaque white -format '%[fx:round(mean*w*h)]' info: 2>/dev/null
}
no_mark=$(unread_mark)
no_unread_mark() { [ "$(unread_mark)" = "$no_mark" ]; }
start_ns=$(date +%s%N)
# As fast as one address may send: lanquilld takes four sessions of one address at once.
for wave in 0 4; do
    pids=()
    for i in 1 2 3 4; do
        send "burst $((wave + i))" &
        pids+=($!)
    done
    for pid in "${pids[@]}"; do
        wait "$pid" || fail "an smbclient -M failed: $(cat "$LQ_TMP/smbclient.out")"
    done
done
took=$((($(date +%s%N) - start_ns) / 1000000))
wait_long stored 9 || fail "only $(sql 'SELECT COUNT(*) FROM messages') stored"
msg=$(lqd_window_named "收到消息") || fail "no message window for the burst"
# The first of the burst to arrive is on screen and read; the other 7 wait.
lqd_wait unread_is 7 || fail "$(unread) unread after the burst, not 7"
[ "$(unread_mark)" -gt $((no_mark + 20)) ] || fail "no unread mark: $(unread_mark) red pixels, $no_mark without"
sleep 0.5
[ -n "$shots" ] && lqd_shot_window "$msg" "$shots/unread-burst-window.png"
# The tip as the user sees it, over the tray icon.
xdotool mousemove --sync --window "$tray" 10 10
sleep 1.5
[ -n "$shots" ] && lqd_shot "$shots/unread-burst-tip.png"
echo "PASS: 8 messages in $took ms: 8 stored, the first on screen read, 7 unread"

# One notification for the burst: each later call replaces the first, the last counts 8, and
# only the first carries the sound.
lqd_wait bash -c "grep -q '（8 条消息）' '$notified'" || fail "no notification counts 8: $(cat "$notified")"
$py - "$notified" <<'PY' || fail "the burst's notifications: $(cat "$notified")"
import json, sys
calls = [json.loads(line) for line in open(sys.argv[1], encoding="utf-8")]
assert 1 < len(calls) <= 8, len(calls)
first, rest = calls[0], calls[1:]
assert first["replaces_id"] == 0 and first["hints"].get("sound-name") == "message-new-instant", first
replaced = {call["replaces_id"] for call in rest}
assert len(replaced) == 1 and 0 not in replaced, replaced
for call in rest:
    assert "sound-name" not in call["hints"], call
assert calls[-1]["summary"] == "peeruser (LQWG)（8 条消息）", calls[-1]
print(len(calls))
PY
echo "PASS: one notification for the burst (replaced by id), counting 8, with the sound hint"

# Every one is reachable: each 下一条 brings one more on screen and reads exactly it.
nudge=0
step() { # UNREAD-AFTER
    # Never twice at the same spot: a pointer already there makes xdotool's --sync wait long.
    nudge=$((1 - nudge))
    lqd_click "$msg" $((160 + 10 * nudge)) 214
    lqd_wait unread_is "$1" || fail "$(unread) unread after 下一条, not $1"
    sleep 0.2
    unread_is "$1" || fail "$(unread) unread after 下一条, not $1: it read more than the one shown"
}
for left in 6 5 4; do step $left; done
[ -n "$shots" ] && lqd_shot_window "$msg" "$shots/unread-step-4.png"
# Closing keeps the 4 not yet shown unread; the tray's click shows the oldest of them.
lqd_click "$msg" 305 214
lqd_wait lqd_window_gone "$msg" || fail "关闭 did not close the message window"
sleep 0.3
unread_is 4 || fail "$(unread) unread after closing, not 4"
oldest=$(sql "SELECT text FROM messages WHERE unread = 1 ORDER BY rowid LIMIT 1")
lqd_click "$tray" 10 10
msg=$(lqd_window_named "收到消息") || fail "the tray's click showed no message window"
lqd_wait read_text "$oldest" || fail "the tray's click did not show the oldest unread ($oldest)"
unread_is 3 || fail "$(unread) unread after the tray's click, not 3"
for left in 2 1 0; do step $left; done
unread_is 0 || fail "$(unread) unread after stepping through all"
lqd_wait no_unread_mark || fail "the unread mark stayed: $(unread_mark) red pixels, $no_mark without"
[ -n "$shots" ] && lqd_shot_window "$msg" "$shots/unread-step-last.png"
lqd_click "$msg" 305 214
lqd_wait lqd_window_gone "$msg" || fail "关闭 did not close the message window"
echo "PASS: every message of the burst is reachable; each step reads one; the tray shows the oldest unread"

# --- 全部标为已读 ---
for i in 1 2 3; do send "more $i" || fail "smbclient -M failed"; done
wait_long stored 12 || fail "the three did not arrive"
msg=$(lqd_window_named "收到消息") || fail "no message window"
lqd_wait unread_is 2 || fail "$(unread) unread with three arrived, not 2"
sleep 0.3
[ -n "$shots" ] && lqd_shot_window "$msg" "$shots/unread-three.png"
lqd_click "$msg" 285 181
lqd_wait lqd_window_gone "$msg" || fail "全部标为已读 did not close the window"
lqd_wait unread_is 0 || fail "$(unread) unread after 全部标为已读"
echo "PASS: 全部标为已读 reads the rest and closes the window"

# --- The window closed while a burst still arrives (a close at once, as a quick user does) ---
# The close ends nothing: whatever it did not show stays unread and reachable, and the count
# stays what the history holds.
(for wave in 0 4; do
    for i in 1 2 3 4; do send "race $((wave + i))" & done
    wait
done) &
racing=$!
msg=$(lqd_window_named "收到消息") || fail "no message window for the second burst"
lqd_click "$msg" 305 214
wait "$racing"
wait_long stored 20 || fail "only $(sql 'SELECT COUNT(*) FROM messages WHERE direction = 0') of 20 stored"
sleep 0.5
left=$(unread)
[ "$left" -ge 6 ] || fail "$left unread after the second burst: more read than came on screen"
if ! lqd_is_viewable "$msg"; then
    lqd_click "$tray" 10 10
    msg=$(lqd_window_named "收到消息") || fail "the tray's click showed no message window"
    lqd_wait unread_is $((left - 1)) || fail "the tray's click read no message"
    left=$((left - 1))
fi
[ -n "$shots" ] && lqd_shot_window "$msg" "$shots/unread-race.png"
while [ "$left" -gt 0 ]; do
    left=$((left - 1))
    step $left
done
[ "$(sql "SELECT COUNT(*) FROM messages WHERE text LIKE 'race %' AND unread = 0")" = 8 ] ||
    fail "not every message of the second burst was read on screen"
lqd_click "$msg" 305 214
lqd_wait lqd_window_gone "$msg" || fail "关闭 did not close the message window"
echo "PASS: closed during a burst, every message stays reachable: each step reads one until none is left"

# --- 消息提醒 off from the main window's menu (F10): no notification, the window still opens ---
calls_before=$(wc -l <"$notified")
lqd_click "$win" 58 10 # the page button: the window takes the keyboard
xdotool key F10
menu=$(lqd_popup_menu) || fail "F10 opened no menu"
sleep 0.3
[ -n "$shots" ] && lqd_shot "$shots/unread-menu.png"
xdotool key Down Down Down Return # 消息记录, 开机启动, 消息提醒
lqd_wait grep -q 'alerts=false' "$settings" || fail "消息提醒 was not switched off: $(cat "$settings" 2>&1)"
send "quiet one" || fail "smbclient -M failed"
msg=$(lqd_window_named "收到消息") || fail "no message window with 消息提醒 off"
sleep 1 # the Notify call would have left with the window's opening
[ "$(wc -l <"$notified")" = "$calls_before" ] || fail "a notification with 消息提醒 off: $(tail -n 1 "$notified")"
echo "PASS: 消息提醒 off in the main window's menu: the window opens, no notification is raised"

# --- Quitting with messages waiting: those not on screen stay unread for the next start ---
send "queued 1" && send "queued 2" || fail "smbclient -M failed"
wait_long stored 23 || fail "the two did not arrive"
lqd_wait read_text "quiet one" || fail "the message on screen is not read"
lqd_wait unread_is 2 || fail "$(unread) unread, not the 2 queued behind the one on screen"
lqd_click "$tray" 10 10 3
lqd_popup_menu >/dev/null || fail "no tray menu"
xdotool key x
lqd_wait bash -c "! kill -0 $LQD_PID 2>/dev/null" || fail "关闭退出 did not end the program"
wait "$LQD_PID" 2>/dev/null
LQD_PID=
unread_is 2 || fail "$(unread) unread after quitting, not 2: the quit read what was not shown"
lqd_start_lanquill "$dir"
msg=$(lqd_window_named "收到消息") || fail "the unread messages did not show at the next start"
lqd_wait read_text "queued 1" || fail "the oldest unread is not the one shown at the start"
unread_is 1 || fail "$(unread) unread after the start, not 1"
echo "PASS: quitting reads nothing; the next start shows the oldest unread"

# --- 消息记录 marks the unread one and reads it by showing it; the message window lets it go ---
tray=$(lqd_tray_icon) || fail "no tray icon after the restart"
lqd_click "$tray" 10 10 3
lqd_popup_menu >/dev/null || fail "no tray menu"
xdotool key Down Down Down Return # 打开窗口, 帮助, 消息记录
hist=$(lqd_window_named "消息记录") || fail "消息记录 opened no history window"
lqd_wait unread_is 0 || fail "$(unread) unread with the conversation on screen in 消息记录"
sleep 0.5
[ -n "$shots" ] && lqd_shot "$shots/unread-history.png"
# The history's text still marks what was unread when it came on screen: its ink differs from
# the same conversation shown again.
lqd_crop "$hist" 168 40 380 296 "$LQ_TMP/marked.png"
lqd_click "$hist" 514 360
lqd_wait lqd_window_gone "$hist" || fail "关闭 did not close the history window"
lqd_click "$tray" 10 10 3
lqd_popup_menu >/dev/null || fail "no tray menu"
xdotool key Down Down Down Return
hist=$(lqd_window_named "消息记录") || fail "消息记录 did not open again"
sleep 0.5
lqd_crop "$hist" 168 40 380 296 "$LQ_TMP/unmarked.png"
[ "$(lqd_pixels_differ "$LQ_TMP/marked.png" "$LQ_TMP/unmarked.png")" != 0 ] ||
    fail "the history showed no unread mark"
echo "PASS: 消息记录 marks the unread message and reads it by showing it"
kill -0 "$LQD_PID" 2>/dev/null || fail "the program ended during the test"
exit 0
