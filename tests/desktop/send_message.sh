#!/usr/bin/env bash
# In a real X server, against a Samba peer in the client's private namespace: a click on the
# peer's computer opens the send dialog showing it online, a typed message of two lines reaches
# the peer's message command intact; a computer whose name nobody answers shows offline; the
# group-message item sends a MESSNGR datagram to the workgroup.
# Usage: send_message.sh BIN_DIR [SCREENSHOT_DIR]
. "$(dirname "$0")/scenario.sh" "$@"
if ! command -v python3 >/dev/null; then
    echo "SKIP: needs python3 for the datagram listener"
    exit 77
fi
lqd_begin samba

lqd_start_with_book "$LQ_TMP/program" <<XML
<Lanquill>
  <group id="$LQ_WORKGROUP">
    <computer id="$LQ_PEER_NAME"><ComputerName>$LQ_PEER_NAME</ComputerName><UserName>peeruser</UserName><IpAddress>$LQ_PEER_ADDR</IpAddress><Memo/></computer>
    <computer id="GHOST"><ComputerName>GHOST</ComputerName><UserName/><IpAddress/><Memo/></computer>
  </group>
</Lanquill>
XML

# Send dialog controls, client coordinates: the status text's inside, the send button.
status_text=(208 48 80 15)
send_button=(124 177)

open_send_dialog() { # ITEM_INDEX
    lqd_click "$win" 50 "$(lqd_item_y "$1")"
    lqd_window_named "发送消息"
}

# Status text width tells "在线" (two characters) from "不在线" (three).
status_width() {
    lqd_crop "$1" "${status_text[@]}" "$LQ_TMP/status.png" || return 1
    lqd_ink_width "$LQ_TMP/status.png"
}

# --- A computer nobody answers for: offline; Esc closes without sending ---
dlg=$(open_send_dialog 2) || fail "a click on GHOST opened no send dialog"
sleep 0.3
width=$(status_width "$dlg")
[ "$width" -ge 30 ] || fail "GHOST's status text is $width px wide; \"不在线\" expected"
xdotool key Escape
lqd_wait lqd_window_gone "$dlg" || fail "Esc did not close the send dialog"
echo "PASS: an unresolved computer shows offline ($width px)"

# --- The peer: online; two typed lines arrive at the peer as they were typed ---
dlg=$(open_send_dialog 1) || fail "a click on $LQ_PEER_NAME opened no send dialog"
sleep 0.3
width=$(status_width "$dlg")
[ "$width" -gt 0 ] && [ "$width" -lt 30 ] ||
    fail "$LQ_PEER_NAME's status text is $width px wide; \"在线\" expected"
# The memo has the focus when the dialog opens.
xdotool type --delay 20 "Lunch at noon, room 4 (bring the keys)"
xdotool key Return
xdotool type --delay 20 "second line: 100% sure"
sleep 0.3
[ -n "$shots" ] && lqd_shot_window "$dlg" "$shots/send-dialog.png"
lqd_click "$dlg" "${send_button[@]}"
lqd_wait lqd_window_gone "$dlg" || fail "the send dialog stayed open after sending"
lqd_wait bash -c "ls '$LQ_MSG_DIR'/*.msg >/dev/null 2>&1" || fail "no message reached the peer"
got=$(cat "$LQ_MSG_DIR"/*.msg)
want=$'Lunch at noon, room 4 (bring the keys)\nsecond line: 100% sure'
[ "$got" = "$want" ] || fail "the peer received '$got'"
[ "$(find "$LQ_MSG_DIR" -name '*.msg' | wc -l)" -eq 1 ] || fail "more than one message arrived"
echo "PASS: the peer shows online and receives the two typed lines intact"
rm -f "$LQ_MSG_DIR"/*

# --- The group-message item: a MESSNGR datagram to the workgroup's group name ---
# A listener of our own on UDP 138 in the peer's namespace (nmbd holds that port too, so the
# socket shares it); it prints what the first MESSNGR datagram carries.
listen_out=$LQ_TMP/messngr.out
ip netns exec "$LQ_NS_PEER" python3 - 15 >"$listen_out" 2>&1 <<'PY' &
import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("", 138))
print("listening", flush=True)
end = time.time() + float(sys.argv[1])
slot = b"\\MAILSLOT\\MESSNGR\x00"
while time.time() < end:
    s.settimeout(max(0.1, end - time.time()))
    try:
        data = s.recv(2048)
    except socket.timeout:
        break
    if slot not in data or len(data) < 82:
        continue
    # The destination name: NetBIOS first-level encoding, 32 letters after its length byte.
    enc = data[49:81]
    name = bytes(((enc[i] - 65) << 4) | (enc[i + 1] - 65) for i in range(0, 32, 2))
    body = data[data.index(slot) + len(slot):].split(b"\x00")
    print("dest=%s<%02x>" % (name[:15].rstrip(b" ").decode("cp936"), name[15]))
    print("to=" + body[1].decode("cp936"))
    print("text=" + body[2].decode("cp936").replace("\r\n", "|"), flush=True)
    sys.exit(0)
sys.exit(1)
PY
listener=$!
lqd_wait grep -q listening "$listen_out" || fail "the datagram listener did not start: $(cat "$listen_out")"
dlg=$(open_send_dialog 0) || fail "a click on the group-message item opened no send dialog"
xdotool type --delay 20 "all hands: fire drill"
xdotool key Return
xdotool type --delay 20 "at three"
lqd_click "$dlg" "${send_button[@]}"
lqd_wait lqd_window_gone "$dlg" || fail "the group send dialog stayed open after sending"
wait "$listener" || fail "no MESSNGR datagram reached the peer: $(cat "$listen_out")"
grep -qx "dest=$LQ_WORKGROUP<00>" "$listen_out" || fail "wrong destination: $(cat "$listen_out")"
grep -qx "to=$LQ_WORKGROUP" "$listen_out" || fail "wrong recipient: $(cat "$listen_out")"
grep -qx "text=all hands: fire drill|at three" "$listen_out" ||
    fail "wrong text: $(cat "$listen_out")"
echo "PASS: the group-message item sends the two lines to $LQ_WORKGROUP<00>"

kill -0 "$LQD_PID" 2>/dev/null || fail "the program ended during the test"
exit 0
