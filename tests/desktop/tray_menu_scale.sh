#!/usr/bin/env bash
# In a real X server with a tray host, at scale 1 and at scale 2 (QT_SCALE_FACTOR=2, as on a
# HiDPI screen): a right click on the tray icon opens the tray menu on the screen at the pointer,
# and a click on its first item, 打开窗口, brings the minimised main window back. With a dialog
# open over the main window, the icon keeps working: a left click brings the minimised dialog
# back, and a right click opens the menu. The last right click comes soon after the one before
# (often within the double-click interval), as a user's second try would.
# Usage: tray_menu_scale.sh BIN_DIR [SCREENSHOT_DIR]
. "$(dirname "$0")/scenario.sh" "$@"
lqd_begin

geometry() { # WIN: prints X Y W H of the window on the screen
    xwininfo -id "$1" 2>/dev/null | sed -n 's/.*Absolute upper-left X: *//p;
        s/.*Absolute upper-left Y: *//p; s/.*Width: *//p; s/.*Height: *//p' | tr '\n' ' '
}

for scale in 1 2; do
    export QT_SCALE_FACTOR=$scale
    lqd_start_with_book "$LQ_TMP/scale$scale" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<Lanquill><group id="TEAM"><computer id="PC01"/></group></Lanquill>
XML
    tray=$(lqd_tray_icon) || fail "scale $scale: no tray icon"
    xdotool windowminimize "$win"
    lqd_wait lqd_window_gone "$win" || fail "scale $scale: the window did not minimise"

    read -r tx ty tw th <<<"$(geometry "$tray")"
    lqd_click "$tray" $((tw / 2)) $((th / 2)) 3
    menu=$(lqd_popup_menu) || fail "scale $scale: a right click on the tray icon opened no menu"
    read -r mx my mw mh <<<"$(geometry "$menu")"
    # Wholly on the 800 x 600 screen, its top or bottom edge at the pointer, over it (the tray
    # sits in the bottom right corner: the menu opens above the pointer, moved in from the edge).
    [ "$mx" -ge 0 ] && [ "$my" -ge 0 ] && [ $((mx + mw)) -le 800 ] && [ $((my + mh)) -le 600 ] ||
        fail "scale $scale: the menu at $mx,$my size ${mw}x$mh is off the screen"
    px=$((tx + tw / 2))
    py=$((ty + th / 2))
    near() { [ $(($1 - $2)) -le 2 ] && [ $(($2 - $1)) -le 2 ]; }
    [ "$mx" -le "$px" ] && [ $((mx + mw)) -ge "$px" ] && { near "$my" "$py" || near $((my + mh)) "$py"; } ||
        fail "scale $scale: the menu at $mx,$my size ${mw}x$mh is not at the pointer $px,$py"
    [ -n "$shots" ] && lqd_shot "$shots/tray-menu-scale$scale.png"
    # The first item, 打开窗口(&O), is the top twelfth of the menu and more.
    lqd_click "$menu" $((mw / 2)) $((mh / 12))
    lqd_wait lqd_is_viewable "$win" || fail "scale $scale: 打开窗口 from the tray menu did not restore the window"
    lqd_wait lqd_window_gone "$menu" || fail "scale $scale: the menu stayed open"
    echo "PASS: at scale $scale the tray icon's right click opens the menu at the pointer, and 打开窗口 restores the window"

    # Ctrl+A of the list, given the focus by a click below its items. Just restored, the window
    # may not have the focus yet when the key comes on a busy machine: the key is tried again.
    add=
    for attempt in 1 2 3; do
        lqd_click "$win" $((50 * scale)) $((300 * scale))
        sleep 0.3
        xdotool key --clearmodifiers ctrl+a
        add=$(lqd_window_named "添加工作组") && break
    done
    [ -n "$add" ] || fail "scale $scale: Ctrl+A opened no add-group dialog"
    xdotool windowminimize "$add"
    lqd_wait lqd_window_gone "$add" || fail "scale $scale: the dialog did not minimise"
    lqd_click "$tray" $((tw / 2)) $((th / 2))
    lqd_wait lqd_is_viewable "$add" || fail "scale $scale: with a dialog open, a left click on the tray icon did not bring it back"
    lqd_click "$tray" $((tw / 2)) $((th / 2)) 3
    menu=$(lqd_popup_menu) || fail "scale $scale: with a dialog open, a right click on the tray icon opened no menu"
    [ -n "$shots" ] && lqd_shot "$shots/tray-menu-dialog-scale$scale.png"
    xdotool key Escape
    lqd_wait lqd_window_gone "$menu" || fail "scale $scale: Esc did not close the menu"
    xdotool windowactivate --sync "$add" key --clearmodifiers Escape
    lqd_wait lqd_window_gone "$add" || fail "scale $scale: Esc did not close the add-group dialog"
    lqd_is_viewable "$tray" || fail "scale $scale: the tray icon went with the dialog"
    lqd_click "$tray" $((tw / 2)) $((th / 2)) 3
    menu=$(lqd_popup_menu) || fail "scale $scale: after the dialog, a right click opened no menu"
    xdotool key Escape
    echo "PASS: at scale $scale, with a dialog open, the tray icon brings it back and opens its menu"
    lqd_stop_lanquill
done
exit 0
