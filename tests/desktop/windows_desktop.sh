#!/usr/bin/env bash
# In a real X server, with the session's keyring (gnome-keyring on a private session bus): the
# detail dialog's Windows page marks a computer of the book as a Windows 10/11 desktop with an
# administrator account, the password going to the keyring; the send dialog then runs
# `lanquill-net send --windows` for it with the password in that child's environment alone; a
# refused logon shows "无法发送！" with lanquill-net's reason; a workgroup message reaches the
# page's marked computers this way, each once, beside the broadcast, which no longer names them;
# a broken marks file is shown on the page and never written over.
# lanquill-net is a stand-in beside a copy of the program: it records each run and answers as
# the real one does for a logon refused.
# Usage: windows_desktop.sh BIN_DIR [SCREENSHOT_DIR]
. "$(dirname "$0")/scenario.sh" "$@"
lqd_begin

lqd_start_keyring

# The program's copy with the stand-in beside it: lanquill runs the lanquill-net of its folder.
bin=$LQ_TMP/bin
runs=$LQ_TMP/runs
mkdir -p "$bin" "$runs"
cp "$LQD_BIN/lanquill" "$LQD_BIN/LANQUILL.CHM" "$bin/"
cat >"$bin/lanquill-net" <<SH
#!/bin/bash
# Each run: its arguments, NUL after each, and PASSWD when it is set.
run=\$(mktemp "$runs/run.XXXXXX")
printf '%s\0' "\$@" >"\$run"
[ -n "\${PASSWD+set}" ] && printf '%s' "\$PASSWD" >"\$run.passwd"
if [ "\$2" = --windows ] && [ "\$5" = GHOSTWIN ]; then
    echo "lanquill-net: GHOSTWIN: the logon was refused (user name or password)" >&2
    exit 1
fi
exit 0
SH
chmod 755 "$bin/lanquill-net"
LQD_BIN=$bin

lqd_start_with_book "$LQ_TMP/program" <<XML
<Lanquill>
  <group id="$LQ_WORKGROUP">
    <computer id="WINPC"><ComputerName>WINPC</ComputerName><UserName>pupil</UserName><IpAddress>10.99.0.50</IpAddress><Memo/></computer>
    <computer id="GHOSTWIN"><ComputerName>GHOSTWIN</ComputerName><UserName/><IpAddress/><Memo/></computer>
    <computer id="PLAINPC"><ComputerName>PLAINPC</ComputerName><UserName/><IpAddress/><Memo/></computer>
  </group>
</Lanquill>
XML

# The arguments a run got, one per line with CR shown as \r.
run_args() { tr '\0' '\n' <"$1" | sed 's/\r/\\r/g'; }
# The runs recorded of one kind: "windows" (send --windows) or "group" (send /domain:).
runs_of() {
    local run second
    for run in "$runs"/run.??????; do
        [ -e "$run" ] || continue
        second=$(tr '\0' '\n' <"$run" | sed -n 2p)
        case $1 in
        windows) [ "$second" = --windows ] && echo "$run" ;;
        group) [[ $second == /domain:* ]] && echo "$run" ;;
        esac
    done
}

# The message box the send dialog SEND shows (its transient); waits up to 10 s.
message_box() {
    local i id
    for i in $(seq 1 100); do
        for id in $(xdotool search --onlyvisible --name '^Lanquill$' 2>/dev/null); do
            xprop -id "$id" WM_TRANSIENT_FOR 2>/dev/null | grep -qi "$(printf '0x%x' "$1")" &&
                { echo "$id"; return 0; }
        done
        sleep 0.1
    done
    return 1
}

# --- The mark: the Windows page of WINPC's detail dialog, account and password, OK ---
send=$(open_send_dialog 1) || fail "a click on WINPC opened no send dialog"
lqd_mark_windows "$send" 'LQTEST\admin' 'S3cret pw!' "$shots/detail-windows.png"
grep -qx 'id=WINPC' "$marks" && grep -qx 'account=LQTEST\\admin' "$marks" &&
    grep -qx "workgroup=$LQ_WORKGROUP" "$marks" || fail "the mark is not in $marks: $(cat "$marks" 2>&1)"
stored=$(secret-tool lookup server Lanquill user 'windows/LQTEST\admin' 2>/dev/null)
[ "$stored" = 'S3cret pw!' ] || fail "the keyring holds '$stored' for windows/LQTEST\\admin"
! grep -rqa 'S3cret' "$XDG_CONFIG_HOME" "$LQ_TMP/program" || fail "the password was written to a file"
echo "PASS: the detail dialog marks WINPC; the password is in the keyring and in no file"

# --- The send: lanquill-net send --windows with the password in its environment only ---
lqd_is_viewable "$send" || fail "the send dialog closed with the detail dialog"
xdotool type --delay 20 "Save your work"
xdotool key Return
xdotool type --delay 20 "class ends at 3"
lqd_click "$send" "${send_button[@]}"
lqd_wait lqd_window_gone "$send" || fail "the send dialog stayed open after sending"
mapfile -t sent < <(runs_of windows)
[ "${#sent[@]}" -eq 1 ] || fail "${#sent[@]} runs of lanquill-net for one message"
got=$(run_args "${sent[0]}")
want=$'send\n--windows\n--user\nLQTEST\\admin\n10.99.0.50\nSave your work\\r\nclass ends at 3'
[ "$got" = "$want" ] || fail "lanquill-net got: $got"
[ "$(cat "${sent[0]}.passwd" 2>/dev/null)" = 'S3cret pw!' ] || fail "PASSWD was not the keyring's password"
! tr '\0' '\n' <"/proc/$LQD_PID/environ" | grep -q '^PASSWD=' || fail "the program's own environment has PASSWD"
echo "PASS: the message went to lanquill-net send --windows with the password in PASSWD only"
rm -f "$runs"/run.*

# --- A refused logon: 无法发送！ with lanquill-net's reason; the dialog keeps the text ---
cat >>"$marks" <<INI

[computer]
workgroup=$LQ_WORKGROUP
id=ghostwin
account=LQTEST\\admin
INI
send=$(open_send_dialog 2) || fail "a click on GHOSTWIN opened no send dialog"
xdotool type --delay 20 "are you there"
lqd_click "$send" "${send_button[@]}"
box=$(message_box "$send") || fail "a refused logon showed no message"
sleep 0.3
[ -n "$shots" ] && lqd_shot "$shots/windows-send-failed.png"
mapfile -t sent < <(runs_of windows)
[ "${#sent[@]}" -eq 1 ] && [ "$(run_args "${sent[0]}" | sed -n 5p)" = GHOSTWIN ] ||
    fail "GHOSTWIN (no address) was not sent to by name"
lqd_click "$box" 20 10 # the box takes the keyboard
xdotool key Return
lqd_wait lqd_window_gone "$box" || fail "the message did not close"
lqd_is_viewable "$send" || fail "the send dialog closed after a failed send"
lqd_click "$send" "${cancel_button[@]}"
lqd_wait lqd_window_gone "$send" || fail "Cancel did not close the send dialog"
echo "PASS: a refused logon shows a message and keeps the send dialog"
rm -f "$runs"/run.*

# --- The workgroup message: the broadcast without the marked, each marked one once ---
send=$(open_send_dialog 0) || fail "a click on the group-message item opened no send dialog"
xdotool type --delay 20 "fire drill"
lqd_click "$send" "${send_button[@]}"
box=$(message_box "$send") || fail "GHOSTWIN's failure was not listed"
[ -n "$shots" ] && lqd_shot "$shots/windows-group-failed.png"
lqd_click "$box" 20 10 # the box takes the keyboard
xdotool key Return
lqd_wait lqd_window_gone "$send" || fail "the group send dialog stayed open"
lqd_wait bash -c "[ \$(ls '$runs' | grep -c '^run\.......\$') -ge 3 ]" ||
    fail "runs: $(ls "$runs")"
mapfile -t group < <(runs_of group)
[ "${#group[@]}" -eq 1 ] || fail "${#group[@]} broadcasts"
got=$(run_args "${group[0]}")
want=$(printf 'send\n/domain:%s\n--member\nPLAINPC\n--\nfire drill' "$LQ_WORKGROUP")
[ "$got" = "$want" ] || fail "the broadcast got: $got"
[ ! -e "${group[0]}.passwd" ] || fail "the broadcast was given a password"
windows=$(for run in $(runs_of windows); do run_args "$run" | sed -n 5p; done | sort | tr '\n' ' ')
[ "$windows" = "10.99.0.50 GHOSTWIN " ] || fail "the Windows desktops sent to: $windows"
echo "PASS: a workgroup message reaches WINPC and GHOSTWIN once each, the broadcast names PLAINPC"

# --- A broken marks file: shown on the page, never written over ---
printf '[computer]\nworkgroup=%s\nname=WINPC\n' "$LQ_WORKGROUP" >"$marks"
cp "$marks" "$LQ_TMP/broken.ini"
send=$(open_send_dialog 1) || fail "no send dialog for WINPC"
lqd_click "$send" "${status_button[@]}"
detail=$(lqd_window_named "详细信息") || fail "no detail dialog"
lqd_click "$detail" "${windows_tab[@]}"
sleep 0.3
[ -n "$shots" ] && lqd_shot_window "$detail" "$shots/detail-windows-broken.png"
lqd_click "$detail" "${check_box[@]}"
lqd_click "$detail" "${ok[@]}"
lqd_wait lqd_window_gone "$detail" || fail "OK did not close the detail dialog"
cmp -s "$marks" "$LQ_TMP/broken.ini" || fail "the broken file was written over: $(cat "$marks")"
lqd_click "$send" "${cancel_button[@]}"
lqd_wait lqd_window_gone "$send" || fail "Cancel did not close the send dialog"
echo "PASS: a broken marks file stays as it was"

kill -0 "$LQD_PID" 2>/dev/null || fail "the program ended during the test"
exit 0
