#!/usr/bin/env bash
# The whole way to a Windows 10/11 desktop, with the real lanquill-net: the fake Windows target
# of ../interop/harness_windows.sh (smbd with mandatory signing handing the Terminal Services
# pipes to the recording responder) stands in the peer's namespace; the user marks it in the
# detail dialog with its administrator account and sends a two-line Chinese message, which the
# target shows in its console session with the program's title; a wrong password shows
# "无法发送！" with the reason and shows nothing.
# Usage: windows_target.sh BIN_DIR [SCREENSHOT_DIR]
. "$(dirname "$0")/scenario.sh" "$@"
# shellcheck source=../interop/harness_windows.sh
. "$(dirname "$0")/../interop/harness_windows.sh"
lqw_require || exit 77
lqd_begin
lqd_start_keyring
lqw_accounts
lqw_start_smbd --sessions 0,1,2 --active 2 ||
    fail "the fake Windows target did not start"
lqd_keys_for "下课了，请保存文件第二行" || fail "no keys for the message's characters"

lqd_start_with_book "$LQ_TMP/program" <<XML
<Lanquill>
  <group id="$LQ_WORKGROUP">
    <computer id="$LQW_NAME"><ComputerName>$LQW_NAME</ComputerName><UserName/><IpAddress>$LQ_PEER_ADDR</IpAddress><Memo/></computer>
  </group>
</Lanquill>
XML

send=$(open_send_dialog 1) || fail "a click on $LQW_NAME opened no send dialog"
lqd_mark_windows "$send" "$LQW_USER" "$LQW_PASSWORD" "$shots/target-detail.png"
xdotool type --delay 20 "下课了，请保存文件"
xdotool key Return
xdotool type --delay 20 "第二行"
lqd_click "$send" "${send_button[@]}"
# The dialog waits for lanquill-net's answer, which may take the send's whole 10 s deadline on a
# busy machine.
lq_poll 30 lqd_window_gone "$send" || fail "the send dialog stayed open: $(lqw_records)"
record=$(lqw_records)
[ "$(wc -l <<<"$record")" = 1 ] || fail "the target showed: $record"
got=$(/usr/bin/python3 -c 'import json, sys
r = json.loads(sys.argv[1])
print(r["iface"], r["session"], r["style"], r["timeout"], r["title"], repr(r["text"]), sep="|")' "$record")
host=$(hostname -s | cut -c1-15 | tr 'a-z' 'A-Z') # the title names this computer
[ "$got" = "lsm|2|64|0|Message from $host|'下课了，请保存文件\\r\\n第二行'" ] ||
    [ "$got" = "lsm|2|64|0|来自 $host 的消息|'下课了，请保存文件\\r\\n第二行'" ] ||
    fail "the target showed: $got"
echo "PASS: the marked computer shows the two-line message in its console session ($got)"

# The same computer with a password the target does not take.
printf 'wrong-%s' "$LQW_PASSWORD" | secret-tool store --label=test server Lanquill \
    user "windows/$LQW_USER" type plaintext xdg:schema org.qt.keychain 2>/dev/null
[ "$(secret-tool lookup server Lanquill user "windows/$LQW_USER")" = "wrong-$LQW_PASSWORD" ] ||
    fail "the keyring did not take the wrong password"
send=$(open_send_dialog 1) || fail "no send dialog the second time"
xdotool type --delay 20 "again"
lqd_click "$send" "${send_button[@]}"
box=
for _ in $(seq 1 150); do
    box=$(xdotool search --onlyvisible --name '^Lanquill$' 2>/dev/null | head -1)
    [ -n "$box" ] && break
    sleep 0.1
done
[ -n "$box" ] || fail "a refused logon showed no message"
sleep 0.3
[ -n "$shots" ] && lqd_shot "$shots/target-logon-refused.png"
[ "$(lqw_records | wc -l)" = 1 ] || fail "the refused send was shown: $(lqw_records)"
echo "PASS: a wrong password shows a message, and the target shows nothing more"
exit 0
