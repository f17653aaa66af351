#!/usr/bin/env bash
# In a real X server, against a Samba peer in the client's private namespace: the send dialog's
# status button opens the detail dialog, which asks the peer at once: its names show in the second
# page's services memo as soon as the answer arrives, without a press (detail_user.sh shows 刷新
# asking again); a note typed and OK is saved in config.xml, and the send dialog stays open for
# the message.
# Usage: detail_dialog.sh BIN_DIR [SCREENSHOT_DIR]
. "$(dirname "$0")/scenario.sh" "$@"
lqd_begin samba

lqd_start_with_book "$LQ_TMP/program" <<XML
<Lanquill>
  <group id="$LQ_WORKGROUP">
    <computer id="$LQ_PEER_NAME"><ComputerName>$LQ_PEER_NAME</ComputerName><UserName>peeruser</UserName><IpAddress>$LQ_PEER_ADDR</IpAddress><Memo>first note</Memo></computer>
  </group>
</Lanquill>
XML

# Client coordinates. Send dialog: the status button. Detail dialog: its buttons lie over the
# page control; the page's own controls sit below the tab bar (27 px) and a 2 px margin.
status_button=(312 34)
second_tab=(180 12)
ok=(215 145)
services_memo=(42 38 118 58) # inside the frame of memOther, left of a scroll bar
note_memo=(107 150)

lqd_click "$win" 50 "$(lqd_item_y 1)"
send=$(lqd_window_named "发送消息") || fail "no send dialog"
lqd_click "$send" "${status_button[@]}"
detail=$(lqd_window_named "详细信息") || fail "the status button opened no detail dialog"
lqd_click "$detail" "${second_tab[@]}"

# Nothing pressed: the opening asked the peer, and its names show when the answer arrives.
names_shown() {
    lqd_crop "$detail" "${services_memo[@]}" "$LQ_TMP/services1.png" &&
        [ "$(lqd_ink_width "$LQ_TMP/services1.png" 80)" -gt 30 ]
}
# The peer's name (6 letters) is written there; a single blot is narrower than that.
lqd_wait names_shown || fail "the opening showed nothing in the services memo"
echo "PASS: the opening shows the peer's names when they arrive" \
    "($(lqd_ink_width "$LQ_TMP/services1.png" 80) px wide)"

# The note: select what is there, type over it, OK.
lqd_click "$detail" "${note_memo[@]}"
xdotool key ctrl+a
xdotool type --delay 20 "printer room, ask Wang"
sleep 0.3
[ -n "$shots" ] && lqd_shot_window "$detail" "$shots/detail-dialog.png"
lqd_click "$detail" "${ok[@]}"
lqd_wait lqd_window_gone "$detail" || fail "OK did not close the detail dialog"
grep -q "<Memo>printer room, ask Wang</Memo>" "$dir/config.xml" ||
    fail "the note is not in config.xml: $(cat "$dir/config.xml")"
grep -q "<UserName>peeruser</UserName>" "$dir/config.xml" || fail "the user name was lost"
grep -q "<IpAddress>$LQ_PEER_ADDR</IpAddress>" "$dir/config.xml" || fail "the address was lost"
lqd_is_viewable "$send" || fail "the send dialog closed with the detail dialog"
echo "PASS: the note typed in the detail dialog is saved in config.xml"

# Cancel in the send dialog sends nothing.
lqd_click "$send" 213 177
lqd_wait lqd_window_gone "$send" || fail "Cancel did not close the send dialog"
sleep 0.5
[ -z "$(ls "$LQ_MSG_DIR")" ] || fail "Cancel sent a message"
kill -0 "$LQD_PID" 2>/dev/null || fail "the program ended during the test"
echo "PASS: Cancel closes the send dialog without sending"
exit 0
