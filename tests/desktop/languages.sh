#!/usr/bin/env bash
# In a real X server: the program speaks English to a user whose locale is English, and keeps its
# own Chinese for a Chinese or C locale; lanquill-net speaks Chinese to a Chinese locale. For each
# locale, found by their titles and shot: the message window of a message that arrives at start,
# the main window with its item menu and its bottom strip's menu open, the find dialog, the
# history window, the send and detail dialogs and the help with its contents. A first start
# without a book opens the add-group dialog under its title in that language.
# Usage: languages.sh BIN_DIR [SCREENSHOT_DIR]
. "$(dirname "$0")/scenario.sh" "$@"
command -v python3 >/dev/null || { echo "SKIP: needs python3 (scripts/deps.sh --test)"; exit 77; }
lqd_begin

# A stand-in for lanquilld's session socket: each connection gets the greeting, "receiving" and
# one message from ACCOUNTS (a new id each time), which the message window shows.
export LANQUILL_SESSION_SOCKET=$LQ_TMP/session.sock
python3 - "$LANQUILL_SESSION_SOCKET" "$LQ_PEER_ADDR" <<'PY' >"$LQ_TMP/session.out" 2>&1 &
import json, socket, sys
server = socket.socket(socket.AF_UNIX)
server.bind(sys.argv[1])
server.listen(4)
print("ready", flush=True)
count = 0
while True:
    connection, _ = server.accept()
    count += 1
    stream = connection.makefile("rwb")
    stream.readline()
    for line in ({"hello": 1, "computer": "LQHOST", "workgroup": "LQWG", "user": "ROOT"},
                 {"status": "receiving"},
                 {"id": "languages-%d" % count, "time": "2026-12-08T10:00:00Z", "kind": "direct",
                  "from": "ACCOUNTS", "address": sys.argv[2], "to": "LQHOST",
                  "text": "The printer on the second floor is fixed."}):
        stream.write((json.dumps(line) + "\n").encode())
    stream.flush()
    for _ in stream:  # the acknowledgements, until the program goes
        pass
    connection.close()
PY
LQD_PIDS+=($!)
lqd_wait grep -q ready "$LQ_TMP/session.out" || fail "the session socket stand-in did not start"

# Send dialog: its status button; message window: its close button (client coordinates).
status_button=(312 34)
message_close=(305 214)

# The program's visible window whose _NET_WM_NAME is TITLE; waits up to 10 s. Not by WM_NAME as
# lqd_window_named does: that one is written in the program's C library locale, and zh_CN.UTF-8
# need not be installed here, so Xlib writes it in Latin-1.
window_titled() {
    local i id
    for i in $(seq 1 100); do
        for id in $(xdotool search --onlyvisible --classname lanquill 2>/dev/null); do
            if [ "$(xprop -id "$id" _NET_WM_NAME 2>/dev/null)" = "_NET_WM_NAME(UTF8_STRING) = \"$1\"" ]; then
                echo "$id"
                return 0
            fi
        done
        sleep 0.1
    done
    return 1
}

# LANG, a tag for the files, then the titles the windows must carry: send, detail, add-group,
# find, history and message; last, how lanquill-net's usage begins (its own language is English,
# the C locale's too).
check_language() {
    local lang=$1 tag=$2 send_title=$3 detail_title=$4 add_title=$5 find_title=$6 history_title=$7
    local message_title=$8 usage=$9 menu send detail add find history message
    local said
    said=$(ip netns exec "$LQ_NS_CLIENT" env -i LANG="$lang" "$LQD_BIN/lanquill-net" 2>&1)
    [[ "$said" == "$usage"* ]] || fail "$tag: lanquill-net's usage begins \"${said%%$'\n'*}\""
    echo "PASS: $lang: lanquill-net's usage begins \"$usage\""
    export LQD_LANG=$lang
    [ "$lang" = C.UTF-8 ] && unset LQD_LANG

    lqd_start_with_book "$LQ_TMP/program-$tag" <<XML
<Lanquill>
  <group id="$LQ_WORKGROUP">
    <computer id="ACCOUNTS"><ComputerName>ACCOUNTS</ComputerName><UserName>wang</UserName><IpAddress>$LQ_PEER_ADDR</IpAddress><Memo></Memo></computer>
  </group>
</Lanquill>
XML
    message=$(window_titled "$message_title") ||
        fail "$tag: no message window titled \"$message_title\""
    sleep 0.3
    [ -n "$shots" ] && lqd_shot_window "$message" "$shots/message-window-$tag.png"
    lqd_click "$message" "${message_close[@]}"
    lqd_wait lqd_window_gone "$message" || fail "$tag: its close button left the message window open"
    [ -n "$shots" ] && lqd_shot_window "$win" "$shots/main-window-$tag.png"
    lqd_click "$win" 50 "$(lqd_item_y 1)" 3
    menu=$(lqd_popup_menu) || fail "$tag: a right click on a computer opened no menu"
    sleep 0.3
    [ -n "$shots" ] && lqd_shot "$shots/main-window-item-menu-$tag.png"
    lqd_menu_pick "$menu" 1 3
    find=$(window_titled "$find_title") || fail "$tag: no find dialog titled \"$find_title\""
    sleep 0.3
    [ -n "$shots" ] && lqd_shot_window "$find" "$shots/find-computer-$tag.png"
    xdotool key Escape
    lqd_wait lqd_window_gone "$find" || fail "$tag: Escape left the find dialog open"

    xdotool windowactivate --sync "$win" 2>/dev/null
    xdotool key F10
    menu=$(lqd_popup_menu) || fail "$tag: F10 opened no menu"
    sleep 0.3
    lqd_shot "$LQ_TMP/$tag-strip-menu.png"
    [ -n "$shots" ] && lqd_shot "$shots/main-window-menu-$tag.png"
    # Its first item, the history, halfway down the first of its rows (about 22 px each).
    lqd_click "$menu" 40 11
    history=$(window_titled "$history_title") ||
        fail "$tag: no history window titled \"$history_title\""
    sleep 0.3
    [ -n "$shots" ] && lqd_shot_window "$history" "$shots/history-$tag.png"
    xdotool windowactivate --sync "$history" key Escape
    lqd_wait lqd_window_gone "$history" || fail "$tag: Escape left the history window open"

    lqd_click "$win" 50 "$(lqd_item_y 1)"
    send=$(window_titled "$send_title") || fail "$tag: no send dialog titled \"$send_title\""
    xdotool type --delay 20 "Lunch at noon, room 4"
    sleep 0.3
    [ -n "$shots" ] && lqd_shot_window "$send" "$shots/send-dialog-$tag.png"
    lqd_click "$send" "${status_button[@]}"
    detail=$(window_titled "$detail_title") ||
        fail "$tag: no detail dialog titled \"$detail_title\""
    sleep 0.3
    [ -n "$shots" ] && lqd_shot_window "$detail" "$shots/detail-dialog-$tag.png"
    lqd_shot "$LQ_TMP/$tag-dialogs.png"
    echo "PASS: $lang: the message, find, history, send and detail windows are titled" \
        "\"$message_title\", \"$find_title\", \"$history_title\", \"$send_title\" and" \
        "\"$detail_title\""
    xdotool key Escape
    lqd_wait lqd_window_gone "$detail" || fail "$tag: Escape left the detail dialog open"
    xdotool key Escape
    lqd_wait lqd_window_gone "$send" || fail "$tag: Escape left the send dialog open"

    # The help, with its contents beside the page; closed again by the window manager.
    xdotool windowactivate --sync "$win" 2>/dev/null
    xdotool key F1
    help=$(lqd_window_named "Lanquill 2.0") || fail "$tag: F1 opened no help window"
    sleep 0.5
    lqd_crop "$help" 0 0 180 300 "$LQ_TMP/$tag-help-contents.png"
    [ -n "$shots" ] && lqd_shot_window "$help" "$shots/help-$tag.png"
    [ "$(lqd_ink_width "$LQ_TMP/$tag-help-contents.png")" -gt 60 ] ||
        fail "$tag: the help window shows no contents"
    xdotool windowactivate --sync "$help" key alt+F4
    lqd_wait lqd_window_gone "$help" || fail "$tag: the help window did not close"
    echo "PASS: $lang: the help window lists its contents"
    lqd_stop_lanquill

    # A first start: no book, so the add-group dialog comes first.
    dir=$LQ_TMP/first-$tag
    lqd_program_dir "$dir"
    lqd_start_lanquill "$dir"
    add=$(window_titled "$add_title") || fail "$tag: no add-group dialog titled \"$add_title\""
    sleep 0.3
    [ -n "$shots" ] && lqd_shot_window "$add" "$shots/add-group-$tag.png"
    echo "PASS: $lang: a first start opens \"$add_title\""
    lqd_stop_lanquill
    unset LQD_LANG
}

check_language en_US.UTF-8 en "Send Message" "Details" "Add Workgroup" "Find" \
    "Message History" "Message Received" "usage: lanquill-net send"
check_language zh_CN.UTF-8 zh "发送消息" "详细信息" "添加工作组" "查找" "消息记录" "收到消息" \
    "用法：lanquill-net send"
check_language C.UTF-8 c "发送消息" "详细信息" "添加工作组" "查找" "消息记录" "收到消息" \
    "usage: lanquill-net send"

# English and Chinese menus are not the same picture: the translation is really in use.
differ=$(lqd_pixels_differ "$LQ_TMP/en-strip-menu.png" "$LQ_TMP/zh-strip-menu.png")
[ "${differ:-0}" -gt 200 ] || fail "the English and Chinese menus look the same ($differ pixels)"
echo "PASS: the English menu differs from the Chinese one ($differ pixels)"
differ=$(lqd_pixels_differ "$LQ_TMP/en-help-contents.png" "$LQ_TMP/zh-help-contents.png")
[ "${differ:-0}" -gt 200 ] || fail "the English and Chinese help contents look the same ($differ pixels)"
echo "PASS: the help's English contents differ from the Chinese ones ($differ pixels)"
exit 0
