#!/usr/bin/env bash
# In a real X server, the program in a private namespace: a first start without config.xml opens
# "添加工作组"; a typed workgroup and OK give its page and config.xml holds it. The window, once
# minimised, comes back by a left click on the tray icon and by Ctrl+Shift+Z; exit from the tray
# menu ends the program, removes the icon and leaves config.xml as last saved. A second first
# start cancelled leaves the bar empty but for a hint; a right click there and Ctrl+A open
# "添加工作组" again.
# Usage: first_start_tray.sh BIN_DIR
. "$(dirname "$0")/scenario.sh" "$@"
lqd_begin

# Add-group dialog controls, client coordinates.
group_name=(128 18)
ok=(84 220)
cancel=(156 220)

# The top of the bar: where the first page button is, against the middle of the bar.
bar_is_empty() { # WIN
    lqd_crop "$1" 2 2 110 16 "$LQ_TMP/top.png"
    lqd_crop "$1" 2 200 110 16 "$LQ_TMP/middle.png"
    [ "$(lqd_pixels_differ "$LQ_TMP/top.png" "$LQ_TMP/middle.png")" = 0 ]
}

# --- First start, a workgroup typed and OK ---
dir=$LQ_TMP/first
lqd_program_dir "$dir"
lqd_start_lanquill "$dir"
add=$(lqd_window_named "添加工作组") || fail "a first start opened no add-group dialog"
lqd_click "$add" "${group_name[@]}"
xdotool type --delay 20 "TEAM7"
lqd_click "$add" "${ok[@]}"
lqd_wait lqd_window_gone "$add" || fail "OK did not close the add-group dialog"
win=$(lqd_main_window) || fail "no main window after the add-group dialog"
sleep 0.3
grep -q '<group id="TEAM7"' "$dir/config.xml" 2>/dev/null ||
    fail "config.xml does not hold TEAM7: $(cat "$dir/config.xml" 2>&1)"
bar_is_empty "$win" && fail "the bar shows no page for TEAM7"
echo "PASS: a first start adds the typed workgroup to config.xml and the bar"

# --- Minimise; the tray icon brings the window back (the hot key: hotkey_help.sh) ---
tray=$(lqd_tray_icon) || fail "no tray icon"
minimise() {
    xdotool windowminimize "$win"
    lqd_wait lqd_window_gone "$win" || fail "the window did not minimise"
}
minimise
lqd_click "$tray" 10 10
lqd_wait lqd_is_viewable "$win" || fail "a left click on the tray icon did not restore the window"
echo "PASS: a left click on the tray icon restores the minimised window"

# --- Exit from the tray menu ---
saved=$(md5sum <"$dir/config.xml")
lqd_click "$tray" 10 10 3
lqd_popup_menu >/dev/null || fail "a right click on the tray icon opened no menu"
xdotool key x
lqd_wait bash -c "! kill -0 $LQD_PID 2>/dev/null" || fail "exit from the tray menu did not end the program"
wait "$LQD_PID" 2>/dev/null
LQD_PID=
xwininfo -id "$tray" >/dev/null 2>&1 && fail "the tray icon outlived the program"
[ "$(md5sum <"$dir/config.xml")" = "$saved" ] || fail "config.xml changed at exit"
echo "PASS: exit from the tray menu ends the program, removes the icon, keeps config.xml"

# --- A second first start, cancelled: an empty bar ---
dir=$LQ_TMP/second
lqd_program_dir "$dir"
lqd_start_lanquill "$dir"
add=$(lqd_window_named "添加工作组") || fail "the second first start opened no add-group dialog"
lqd_click "$add" "${group_name[@]}"
xdotool type --delay 20 "NOTME"
lqd_click "$add" "${cancel[@]}"
lqd_wait lqd_window_gone "$add" || fail "Cancel did not close the add-group dialog"
win=$(lqd_main_window) || fail "no main window after Cancel"
sleep 0.3
[ -n "$shots" ] && lqd_shot_window "$win" "$shots/empty-bar.png"
bar_is_empty "$win" || fail "the bar is not empty after Cancel"
if [ -f "$dir/config.xml" ] && grep -q '<group' "$dir/config.xml"; then
    fail "Cancel left a group in config.xml: $(cat "$dir/config.xml")"
fi
echo "PASS: Cancel on a first start leaves the bar and the book empty"

# The hint sits under where the first page button would be.
lqd_crop "$win" 2 30 110 60 "$LQ_TMP/hint.png"
lqd_crop "$win" 2 300 110 60 "$LQ_TMP/plain.png"
[ "$(lqd_pixels_differ "$LQ_TMP/hint.png" "$LQ_TMP/plain.png")" -gt 100 ] ||
    fail "the empty bar shows no hint"
lqd_click "$win" 55 250 3
menu=$(lqd_popup_menu) || fail "a right click on the empty bar opened no menu"
lqd_menu_pick "$menu" 0 1
add=$(lqd_window_named "添加工作组") || fail "the empty bar's menu opened no add-group dialog"
lqd_click "$add" "${cancel[@]}"
lqd_wait lqd_window_gone "$add" || fail "Cancel did not close the add-group dialog"
xdotool windowactivate --sync "$win" key --clearmodifiers ctrl+a
add=$(lqd_window_named "添加工作组") || fail "Ctrl+A on the empty bar opened no add-group dialog"
lqd_click "$add" "${group_name[@]}"
xdotool type --delay 20 "LATER"
lqd_click "$add" "${ok[@]}"
lqd_wait lqd_window_gone "$add" || fail "OK did not close the add-group dialog"
sleep 0.3
bar_is_empty "$win" && fail "the bar shows no page for LATER"
grep -q '<group id="LATER"' "$dir/config.xml" || fail "config.xml does not hold LATER"
echo "PASS: the empty bar shows a hint; its right click and Ctrl+A add a workgroup"
lqd_stop_lanquill
exit 0
