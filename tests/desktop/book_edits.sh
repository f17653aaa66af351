#!/usr/bin/env bash
# In a real X server, against a Samba peer in the client's private namespace: "删除成员" and
# "删除工作组" from the popup menus change the bar and config.xml; a click on the "Lanquill" label
# opens help and reloads the bar with edits made to config.xml by hand; "查找机器" finds the peer
# by name and by address and "添加" adds it to the workgroup of the page it was started from;
# the logo opens the about box.
# Usage: book_edits.sh BIN_DIR [SCREENSHOT_DIR]
. "$(dirname "$0")/scenario.sh" "$@"
if ! command -v python3 >/dev/null; then
    echo "SKIP: needs python3 to read config.xml"
    exit 77
fi
lqd_begin samba

lqd_start_with_book "$LQ_TMP/program" <<XML
<Lanquill>
  <group id="$LQ_WORKGROUP">
    <computer id="GHOST"><ComputerName>GHOST</ComputerName><UserName/><IpAddress/><Memo/></computer>
    <computer id="PC2"><ComputerName>PC2</ComputerName><UserName/><IpAddress/><Memo/></computer>
    <computer id="renshi-pc"><ComputerName>renshi-pc</ComputerName><UserName>张三</UserName><IpAddress/><Memo>人事部</Memo></computer>
    <computer id="RENSHI-PC"><ComputerName>RENSHI-PC</ComputerName><UserName/><IpAddress/><Memo/></computer>
  </group>
  <group id="OFFICE">
    <computer id="PC9"><ComputerName>PC9</ComputerName><UserName/><IpAddress/><Memo/></computer>
  </group>
  <group id="SPARE"/>
</Lanquill>
XML

# The book as one line: GROUP:COMPUTER,COMPUTER GROUP:... in document order.
book() {
    python3 - "$dir/config.xml" <<'PY'
import sys, xml.etree.ElementTree as tree
root = tree.parse(sys.argv[1]).getroot()
print(" ".join(g.get("id") + ":" + ",".join(c.get("id") for c in g.findall("computer"))
               for g in root.findall("group")))
PY
}
expect_book() {
    local got
    got=$(book)
    [ "$got" = "$1" ] || fail "$2: config.xml holds '$got', expected '$1'"
}

# A row of the item list, left of where a scroll button could be: ROW FILE [PAGE_OFFSET].
row_shot() { lqd_crop "$win" 2 $(($(lqd_item_y "$1") + ${3:-0} - 18)) 90 36 "$2"; }
row_is_empty() { # ROW [PAGE_OFFSET]: the row looks like the empty row below the last item
    row_shot "$1" "$LQ_TMP/row.png" "${2:-0}"
    row_shot 5 "$LQ_TMP/empty.png" "${2:-0}"
    [ "$(lqd_pixels_differ "$LQ_TMP/row.png" "$LQ_TMP/empty.png")" = 0 ]
}
# Page buttons: the active page's at the top, the pages after it stacked at the bottom of the
# bar, which ends above the 18 px bottom strip.
bottom_button_y=464
label=(35 485)
logo=(97 485)

# --- "删除成员" on GHOST: the item goes, PC2 moves up, the book loses GHOST ---
row_is_empty 2 && fail "row 2 (PC2) looks empty before the delete"
delete_member() { # ROW
    lqd_click "$win" 50 "$(lqd_item_y "$1")" 3
    menu=$(lqd_popup_menu) || fail "a right click on an item opened no menu"
    lqd_menu_pick "$menu" 0 3
    lqd_wait lqd_window_gone "$menu" || fail "the item menu stayed open"
    sleep 0.3
}
delete_member 1
expect_book "$LQ_WORKGROUP:PC2,renshi-pc,RENSHI-PC OFFICE:PC9 SPARE:" "删除成员"
row_is_empty 4 || fail "row 4 still shows an item after the delete"
row_is_empty 1 && fail "PC2 did not move up into row 1"
echo "PASS: 删除成员 removes the right-clicked computer from the bar and config.xml"

# --- Names that differ only in case are two entries: RENSHI-PC goes, renshi-pc stays whole ---
delete_member 3
expect_book "$LQ_WORKGROUP:PC2,renshi-pc OFFICE:PC9 SPARE:" "删除成员 on RENSHI-PC"
grep -q "<UserName>张三</UserName>" "$dir/config.xml" || fail "renshi-pc lost its user name"
grep -q "<Memo>人事部</Memo>" "$dir/config.xml" || fail "renshi-pc lost its note"
row_is_empty 3 || fail "row 3 still shows an item after deleting RENSHI-PC"
row_is_empty 2 && fail "renshi-pc is gone from the bar"
delete_member 2
expect_book "$LQ_WORKGROUP:PC2 OFFICE:PC9 SPARE:" "删除成员 on renshi-pc"
row_is_empty 2 || fail "row 2 still shows an item after deleting renshi-pc"
echo "PASS: of two names that differ in case, 删除成员 removes the one right-clicked, in both"

# --- "删除工作组" on the last page button (SPARE): its button goes, the book loses it ---
lqd_crop "$win" 2 $((bottom_button_y - 40)) 110 50 "$LQ_TMP/buttons0.png"
lqd_click "$win" 50 "$bottom_button_y" 3
menu=$(lqd_popup_menu) || fail "a right click on a page button opened no menu"
lqd_menu_pick "$menu" 0 2
lqd_wait lqd_window_gone "$menu" || fail "the page button menu stayed open"
sleep 0.3
expect_book "$LQ_WORKGROUP:PC2 OFFICE:PC9" "删除工作组"
lqd_crop "$win" 2 $((bottom_button_y - 40)) 110 50 "$LQ_TMP/buttons1.png"
[ "$(lqd_pixels_differ "$LQ_TMP/buttons0.png" "$LQ_TMP/buttons1.png")" -gt 100 ] ||
    fail "the SPARE page button is still shown"
echo "PASS: 删除工作组 removes the right-clicked page's workgroup"

# --- The "Lanquill" label: help opens and the bar shows a computer added by hand ---
sed -i "s|<computer id=\"PC2\">|<computer id=\"NEWPC\"><ComputerName>NEWPC</ComputerName></computer><computer id=\"PC2\">|" \
    "$dir/config.xml"
row_is_empty 2 || fail "row 2 is not empty before the reload"
lqd_click "$win" "${label[@]}"
help=$(lqd_window_named "Lanquill 2.0") || fail "the label click opened no help window"
# The help window may lie over the main window: close it as a user would, then look.
xdotool windowactivate --sync "$help" key --clearmodifiers alt+F4
lqd_wait lqd_window_gone "$help" || fail "Alt+F4 did not close the help window"
sleep 0.3
row_is_empty 2 && fail "the label click did not reload the bar (row 2 still empty)"
expect_book "$LQ_WORKGROUP:NEWPC,PC2 OFFICE:PC9" "reload"
[ -n "$shots" ] && lqd_shot_window "$win" "$shots/after-reload.png"
echo "PASS: the label click opens help and reloads the bar from config.xml"

# --- "查找机器" by name on the first page: the peer joins that page's workgroup ---
find_computer() { # ROW_Y MODE(name|address) TEXT
    lqd_click "$win" 50 "$1" 3
    menu=$(lqd_popup_menu) || fail "no item menu for the find command"
    lqd_menu_pick "$menu" 1 3
    finder=$(lqd_window_named "查找") || fail "查找机器 opened no find dialog"
    [ "$2" = address ] && lqd_click "$finder" 140 24
    lqd_click "$finder" 140 56
    xdotool type --delay 20 "$3"
    lqd_click "$finder" 76 88
    detail=$(lqd_window_named "详细信息") || fail "finding '$3' showed no detail dialog"
    sleep 0.3
    lqd_click "$detail" 215 145 # "添加"
    lqd_wait lqd_window_gone "$detail" || fail "添加 did not close the detail dialog"
    lqd_wait lqd_window_gone "$finder" || fail "the find dialog stayed open after 添加"
    sleep 0.3
}
find_computer "$(lqd_item_y 1)" name "$LQ_PEER_NAME"
expect_book "$LQ_WORKGROUP:NEWPC,PC2,$LQ_PEER_NAME OFFICE:PC9" "find by name"
grep -q "<IpAddress>$LQ_PEER_ADDR</IpAddress>" "$dir/config.xml" ||
    fail "the found computer's address is not in config.xml"
row_is_empty 3 && fail "the bar was not reloaded after 添加 (row 3 empty)"
echo "PASS: a computer found by name is added to the active page's workgroup"

# --- Found again, by address: the workgroup holds it already, so it is shown, not added twice ---
lqd_click "$win" 50 "$(lqd_item_y 1)" 3
menu=$(lqd_popup_menu) || fail "no item menu for the find command"
lqd_menu_pick "$menu" 1 3
finder=$(lqd_window_named "查找") || fail "查找机器 opened no find dialog"
lqd_click "$finder" 140 24
lqd_click "$finder" 140 56
xdotool type --delay 20 "$LQ_PEER_ADDR"
lqd_click "$finder" 76 88
notice=$(lqd_window_named "Lanquill") || fail "finding a computer already there gave no notice"
xdotool search --onlyvisible --name "^详细信息$" >/dev/null 2>&1 && fail "a detail dialog opened for a computer already there"
sleep 0.3
[ -n "$shots" ] && lqd_shot "$shots/already-in-group.png"
xdotool windowactivate --sync "$notice" key --clearmodifiers Return
lqd_wait lqd_window_gone "$notice" || fail "Enter did not close the notice"
lqd_wait lqd_window_gone "$finder" || fail "the find dialog stayed open after the notice"
sleep 0.3
[ -n "$shots" ] && lqd_shot "$shots/already-in-group-after.png"
expect_book "$LQ_WORKGROUP:NEWPC,PC2,$LQ_PEER_NAME OFFICE:PC9" "find again"
echo "PASS: a computer the workgroup holds already is shown, not added a second time"

# --- "查找机器" by address on the OFFICE page ---
lqd_click "$win" 50 "$bottom_button_y"
sleep 0.5
# OFFICE's button now sits below LQWG's at the top: its list starts 20 px lower.
find_computer $(($(lqd_item_y 1) + 20)) address "$LQ_PEER_ADDR"
expect_book "$LQ_WORKGROUP:NEWPC,PC2,$LQ_PEER_NAME OFFICE:PC9,$LQ_PEER_NAME" "find by address"
echo "PASS: a computer found by address is added to the active page's workgroup"

# --- The logo: the about box; Enter closes it ---
lqd_click "$win" "${logo[@]}"
about=$(lqd_window_named "About") || fail "the logo opened no about box"
[ -n "$shots" ] && lqd_shot_window "$about" "$shots/about.png"
xdotool key Return
lqd_wait lqd_window_gone "$about" || fail "Enter did not close the about box"
echo "PASS: the logo opens the about box"
kill -0 "$LQD_PID" 2>/dev/null || fail "the program ended during the test"
exit 0
