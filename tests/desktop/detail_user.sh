#!/usr/bin/env bash
# In a real X server, against lanquilld in the peer's namespace with a desktop session of the
# peer's user connected, so that its node-status answer carries that user's <03> name: the detail
# dialog, opened from the send dialog, asks the peer at once and shows its current user as soon
# as the answer arrives, without a press of 刷新. When another user takes the peer's desktop, a
# press of 刷新 asks again and shows the new user when the answer arrives.
# Usage: detail_user.sh BIN_DIR [SCREENSHOT_DIR]
. "$(dirname "$0")/scenario.sh" "$@"
command -v python3 >/dev/null || { echo "SKIP: needs python3 (scripts/deps.sh --test)"; exit 77; }
lqd_begin

# The peer's receiver, its folders under the test's own; not the program's (it must not receive
# the peer's offers), which keeps its default of no receiver.
peer_run=$LQ_TMP/peer-run
RUNTIME_DIRECTORY=$peer_run STATE_DIRECTORY=$LQ_TMP/peer-state \
    lq_start_lanquilld "$LQ_NS_PEER" "$peer_run" "$LQ_TMP/lanquilld.log" \
    "$LQD_BIN/lanquilld" --listen --name "$LQ_PEER_NAME" --workgroup "$LQ_WORKGROUP" ||
    fail "lanquilld did not start in the peer's namespace: $(tail -n 5 "$LQ_TMP/lanquilld.log")"
LQD_PIDS+=($LQ_DAEMON_PID)
# ip netns exec execs the client: its pid is the session's, to end it by.
ip netns exec "$LQ_NS_PEER" python3 "$LQ_HERE/session_client.py" "$peer_run/session.sock" \
    --count 99 --seconds 600 >/dev/null 2>&1 &
first_session=$!
LQD_PIDS+=($first_session)
user=$(id -un | tr a-z A-Z)
# Whether the peer's node status lists NAME<03> (with "no": does not list it).
peer_lists() {
    local listed=1
    lq_client "$LQD_BIN/lanquill-net" status "$LQ_PEER_ADDR" 2>/dev/null | grep -q "^ *$1 *<03>" &&
        listed=0
    [ "${2:-}" = no ] && return $((1 - listed))
    return $listed
}
lqd_wait peer_lists "$user" || fail "the peer's node status never listed $user<03>"

lqd_start_with_book "$LQ_TMP/program" <<XML
<Lanquill>
  <group id="$LQ_WORKGROUP">
    <computer id="$LQ_PEER_NAME"><ComputerName>$LQ_PEER_NAME</ComputerName><UserName>peeruser</UserName><IpAddress>$LQ_PEER_ADDR</IpAddress><Memo/></computer>
  </group>
</Lanquill>
XML

# Client coordinates. Send dialog: the status button. Detail dialog: the page's controls sit
# below the tab bar (27 px) and a 2 px margin, 4 px in: 当前用户's field is at 71,137 on the page.
status_button=(312 34)
current_user=(78 169 100 12) # inside its sunken frame
refresh=(215 78)
cancel=(215 171)

lqd_click "$win" 50 "$(lqd_item_y 1)"
send=$(lqd_window_named "发送消息") || fail "no send dialog"
lqd_click "$send" "${status_button[@]}"
detail=$(lqd_window_named "详细信息") || fail "the status button opened no detail dialog"

# Nothing pressed: the answer to the question the opening asked fills the field.
user_shown() {
    lqd_crop "$detail" "${current_user[@]}" "$LQ_TMP/user.png" &&
        [ "$(lqd_ink_width "$LQ_TMP/user.png" 60)" -gt 15 ]
}
lqd_wait user_shown || fail "当前用户 stayed empty without a press of 刷新"
ink=$(lqd_ink_width "$LQ_TMP/user.png" 60)
[ -n "$shots" ] && lqd_shot_window "$detail" "$shots/detail-current-user.png"
echo "PASS: the detail dialog shows the peer's current user on opening ($ink px of writing)"

# Another user's session takes the place of the first on the peer: 刷新 asks again, and the field
# shows the new user when the answer arrives.
other=nobody
runuser -u "$other" -- true 2>/dev/null || fail "no account $other to run the second session as"
ip netns exec "$LQ_NS_PEER" runuser -u "$other" -- python3 "$LQ_HERE/session_client.py" \
    "$peer_run/session.sock" --count 99 --seconds 600 >/dev/null 2>&1 &
LQD_PIDS+=($!)
disown $! # the teardown ends it (by pid) without a word from this shell
kill "$first_session"
lqd_wait peer_lists "$(tr a-z A-Z <<<"$other")" || fail "the peer never listed ${other^^}<03>"
lqd_wait peer_lists "$user" no || fail "the peer still lists $user<03>"
lqd_crop "$detail" "${current_user[@]}" "$LQ_TMP/user-before.png"
lqd_click "$detail" "${refresh[@]}"
user_changed() {
    lqd_crop "$detail" "${current_user[@]}" "$LQ_TMP/user-after.png" &&
        [ "$(lqd_pixels_differ "$LQ_TMP/user-before.png" "$LQ_TMP/user-after.png")" -gt 20 ] &&
        [ "$(lqd_ink_width "$LQ_TMP/user-after.png" 60)" -gt 15 ]
}
lqd_wait user_changed || fail "刷新 did not show the peer's new user"
[ -n "$shots" ] && lqd_shot_window "$detail" "$shots/detail-refreshed-user.png"
echo "PASS: 刷新 shows the peer's new current user when the answer arrives" \
    "($(lqd_pixels_differ "$LQ_TMP/user-before.png" "$LQ_TMP/user-after.png") pixels changed)"

lqd_click "$detail" "${cancel[@]}"
lqd_wait lqd_window_gone "$detail" || fail "Cancel did not close the detail dialog"
lqd_is_viewable "$send" || fail "the send dialog closed with the detail dialog"
kill -0 "$LQD_PID" 2>/dev/null || fail "the program ended during the test"
exit 0
