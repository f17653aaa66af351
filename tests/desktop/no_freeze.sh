#!/usr/bin/env bash
# In a real X server, inside a private namespace where nobody answers for the name GHOST: a click
# on GHOST waits for the lookup to give up, and meanwhile the main window is moved half off the
# screen and back. The part that came back is drawn again at once (a window whose GUI thread is
# blocked stays blank there), and a second click made during the wait starts nothing of its own.
# Usage: no_freeze.sh BIN_DIR [SCREENSHOT_DIR]
. "$(dirname "$0")/scenario.sh" "$@"
lqd_begin

lqd_start_with_book "$LQ_TMP/program" <<XML
<Lanquill>
  <group id="WG">
    <computer id="GHOST"><ComputerName>GHOST</ComputerName><UserName/><IpAddress/><Memo/></computer>
    <computer id="GHOST2"><ComputerName>GHOST2</ComputerName><UserName/><IpAddress/><Memo/></computer>
  </group>
</Lanquill>
XML
sleep 0.5
read -r x0 y0 < <(xwininfo -id "$win" | awk '/Absolute upper-left X/ { x = $NF }
    /Absolute upper-left Y/ { print x, $NF }')
lqd_shot_window "$win" "$LQ_TMP/before.png" || fail "no screenshot of the main window"

# One try: the click, the move away and back, the second click and the screenshot must all fall
# within the lookup's 1.5 s. On a busy machine they may not; a try whose screenshot came after
# the lookup proves nothing either way, and is made again.
try_during_lookup() {
    lqd_click "$win" 50 "$(lqd_item_y 1)"
    sleep 0.2
    xdotool windowmove --sync "$win" 760 "$y0"
    xdotool windowmove --sync "$win" "$x0" "$y0"
    lqd_click "$win" 50 "$(lqd_item_y 2)" # held back: the send dialog for GHOST opens over it
    sleep 0.1 # the exposed part is drawn again at once, if the window is not frozen
    lqd_shot_window "$win" "$during" || fail "no screenshot during the wait"
    [ "$(lqd_count_windows_named "发送消息")" -eq 0 ] && return 0
    sleep 2 # both lookups over: their dialogs are closed before the next try
    for dlg in $(xdotool search --onlyvisible --name '^发送消息$' 2>/dev/null); do
        xdotool windowactivate --sync "$dlg" key Escape
        lqd_wait lqd_window_gone "$dlg"
    done
    return 2
}
during=$LQ_TMP/during.png
tries=0
until try_during_lookup; do
    tries=$((tries + 1))
    [ "$tries" -lt 8 ] || fail "in 8 tries the screenshot never came before the lookup's end"
done
[ -n "$shots" ] && cp "$during" "$shots/no-freeze-during-lookup.png"
colours=$(convert "$during" -format %k info:)
[ "$colours" -gt 20 ] || fail "the main window is blank during the lookup ($colours colours)"
differ=$(lqd_pixels_differ "$LQ_TMP/before.png" "$during")
echo "PASS: the main window is drawn during the lookup ($colours colours, $differ pixels differ from before; $((tries + 1)) tries)"

dlg=$(lqd_window_named "发送消息") || fail "no send dialog after the lookup"
sleep 1
[ "$(lqd_count_windows_named "发送消息")" -eq 1 ] || fail "the click made during the wait opened a second dialog"
echo "PASS: one send dialog after the wait; the second click started nothing"
[ -n "$shots" ] && lqd_shot_window "$dlg" "$shots/no-freeze-dialog.png"
xdotool key Escape
lqd_wait lqd_window_gone "$dlg" || fail "Esc did not close the send dialog"
echo "PASS: no frozen window"
