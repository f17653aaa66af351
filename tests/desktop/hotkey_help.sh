#!/usr/bin/env bash
# In a real X server: Ctrl+Shift+Z brings the minimised main window back, also with NumLock on;
# F1 twice leaves one help window; the tray menu's exit ends the program.
# Usage: hotkey_help.sh BIN_DIR [SCREENSHOT_DIR]
. "$(dirname "$0")/scenario.sh" "$@"
lqd_begin

lqd_start_with_book "$LQ_TMP/program" <<'XML'
<Lanquill>
  <group id="WORKGROUP">
    <computer id="PC01"><ComputerName>PC01</ComputerName><UserName/><IpAddress>10.0.0.5</IpAddress><Memo/></computer>
    <computer id="PC02"><ComputerName>PC02</ComputerName><UserName/><IpAddress/><Memo/></computer>
  </group>
  <group id="OFFICE"/>
</Lanquill>
XML
echo "main window $win"
[ -n "$shots" ] && { sleep 0.5; lqd_shot_window "$win" "$shots/main-window.png"; }
title=$(xprop -id "$win" _NET_WM_NAME 2>/dev/null | sed -n 's/.*= "\(.*\)"/\1/p')
echo "caption: '$title'"

hotkey_restores() {
    xdotool windowminimize "$win"
    lqd_wait bash -c "! xwininfo -id $win | grep -q IsViewable" || fail "window did not minimise"
    xdotool key --clearmodifiers ctrl+shift+z
    lqd_wait lqd_is_viewable "$win" || fail "Ctrl+Shift+Z did not bring the window back ($1)"
    echo "PASS: Ctrl+Shift+Z restores ($1)"
}
hotkey_restores "NumLock off"
xdotool key Num_Lock
xset q | grep -q 'Num Lock: *on' || fail "NumLock did not turn on"
hotkey_restores "NumLock on"
xdotool key Num_Lock

# F1 twice: one help window titled "Lanquill 2.0".
# The window manager activates the window (and says when it has), so that an open help window
# over it does not take the click; a click on the first page button then gives the bar the
# keyboard focus. Under load the focus once never came (F1 then went nowhere): the window is
# asked, and activated and clicked again until it has it.
focus_main() { lq_poll 60 focus_main_once || fail "the main window never took the keyboard focus"; }
focus_main_once() {
    timeout 5 xdotool windowactivate --sync "$win" 2>/dev/null || xdotool windowraise "$win"
    lqd_click "$win" 50 10
    lq_poll 3 bash -c "[ \"\$(xdotool getwindowfocus)\" = $win ]"
}
# The help window belongs to the viewer program, which shows it a moment after the key.
help_windows() { [ "$(lqd_count_windows_named 'Lanquill 2.0')" -eq "$1" ]; }
focus_main
xdotool key F1
lqd_wait help_windows 1 || fail "F1 opened no help window"
# Window ids come back after their program ends; the viewer's process id tells the windows apart.
help_viewer_pid() { xdotool search --onlyvisible --name '^Lanquill 2.0$' getwindowpid 2>/dev/null; }
first=$(help_viewer_pid)
[ -n "$first" ] || fail "the help window names no process"
focus_main
xdotool key F1
replaced() { local now; now=$(help_viewer_pid) && [ -n "$now" ] && [ "$now" != "$first" ]; }
lqd_wait replaced || fail "F1 again did not replace the help window"
sleep 1
count=$(lqd_count_windows_named 'Lanquill 2.0')
[ "$count" -eq 1 ] || fail "F1 twice left $count help windows"
echo "PASS: F1 twice leaves one help window"

# Exit from the tray menu: right button released over the tray icon opens it, X chooses exit;
# the help window closes with the program and the process ends.
tray=$(lqd_tray_icon) || fail "no tray icon"
xdotool mousemove --window "$tray" 5 5 click 3
menu_open() { [ "$(xdotool search --onlyvisible --classname lanquill 2>/dev/null | wc -l)" -ge 4 ]; }
lqd_wait menu_open ||
    fail "the tray menu did not open"
[ -n "$shots" ] && lqd_shot "$LQ_TMP/tray-menu.png"
xdotool key x
lqd_wait bash -c "! kill -0 $LQD_PID 2>/dev/null" || fail "exit from the tray menu did not end the program"
lqd_wait help_windows 0 || fail "the help window outlived the program"
echo "PASS: exit from the tray menu ends the program and closes help"
exit 0
