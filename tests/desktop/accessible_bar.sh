#!/usr/bin/env bash
# In a real X server, the program in a private namespace with accessibility on and a private
# session bus and AT-SPI bus: a screen reader's view of the group bar, taken through AT-SPI. The
# workgroups are page tabs named by their captions, the active one selected; the active page's
# list holds its items named by their captions. Pressing another page's tab makes that page the
# active one, and activating one of its items opens the send dialog for that computer.
# Usage: accessible_bar.sh BIN_DIR [SCREENSHOT_DIR]
. "$(dirname "$0")/scenario.sh" "$@"
py=/usr/bin/python3
if ! "$py" -c 'import pyatspi' 2>/dev/null || [ ! -x /usr/libexec/at-spi-bus-launcher ] ||
    ! command -v dbus-daemon >/dev/null; then
    echo "SKIP: needs at-spi2-core, python3-pyatspi and dbus-daemon: scripts/deps.sh --test"
    exit 77
fi
lqd_begin

# A session bus of the test's own (path sockets: the program runs in another network namespace,
# where abstract sockets of this one are out of reach), and the AT-SPI bus it hands out.
runtime=$LQ_TMP/runtime
mkdir -m 0700 -p "$runtime"
export XDG_RUNTIME_DIR=$runtime
bus=$runtime/bus
dbus-daemon --session --nofork --address="unix:path=$bus" >"$LQ_TMP/dbus.out" 2>&1 &
LQD_PIDS+=($!)
lqd_wait test -S "$bus" || fail "no session bus"
export DBUS_SESSION_BUS_ADDRESS=unix:path=$bus
/usr/libexec/at-spi-bus-launcher --launch-immediately >"$LQ_TMP/atspi.out" 2>&1 &
LQD_PIDS+=($!)
a11y_bus() {
    dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
        2>/dev/null | grep -q 'unix:'
}
lqd_wait a11y_bus || fail "the AT-SPI bus did not come up: $(cat "$LQ_TMP/atspi.out")"
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1

atspi() { "$py" "$(dirname "$0")/atspi_bar.py" "$@"; }
# A field of the tree as one line per entry: FIELD is a python expression over t, the tree.
tree_field() {
    atspi tree >"$LQ_TMP/tree.json" || fail "no accessible group bar"
    "$py" -c 'import json, sys
t = json.load(open(sys.argv[1]))
v = eval(sys.argv[2])
print("\n".join(v) if isinstance(v, list) else v)' "$LQ_TMP/tree.json" "$1"
}
selected_page() { tree_field '[p["name"] for p in t["pages"] if "selected" in p["states"]]'; }
page_selected() { [ "$(selected_page)" = "$1" ]; }

lqd_start_with_book "$LQ_TMP/program" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<Lanquill>
  <group id="TEAM">
    <computer id="PC01"><ComputerName>PC01</ComputerName><UserName/><IpAddress/><Memo/></computer>
    <computer id="PC02"><ComputerName>PC02</ComputerName><UserName/><IpAddress/><Memo/></computer>
  </group>
  <group id="财务部">
    <computer id="KUAIJI"><ComputerName>KUAIJI</ComputerName><UserName/><IpAddress/><Memo/></computer>
  </group>
</Lanquill>
XML

# --- The tree as it starts: two page tabs, the first one's list shown ---
[ "$(tree_field '[p["name"] for p in t["pages"]]')" = $'TEAM\n财务部' ] ||
    fail "page tabs: $(cat "$LQ_TMP/tree.json")"
[ "$(selected_page)" = TEAM ] || fail "selected page: $(cat "$LQ_TMP/tree.json")"
[ "$(tree_field 't["list"]')" = TEAM ] || fail "shown list: $(cat "$LQ_TMP/tree.json")"
[ "$(tree_field '[i["name"] for i in t["items"]]')" = $'群体消息\nPC01\nPC02' ] ||
    fail "items of TEAM: $(cat "$LQ_TMP/tree.json")"
[ "$(tree_field '[i["role"] for i in t["items"]]' | sort -u)" = "list item" ] ||
    fail "item roles: $(cat "$LQ_TMP/tree.json")"
[ "$(tree_field '[p["actions"][0] for p in t["pages"]] + [i["actions"][0] for i in t["items"]]' |
    sort -u)" = Press ] || fail "actions: $(cat "$LQ_TMP/tree.json")"
echo "PASS: the workgroups are page tabs by name, TEAM selected, its list holds its items by caption"

# --- Pressing the other page's tab ---
atspi press 财务部 || fail "pressing 财务部 failed"
lqd_wait page_selected 财务部 || fail "财务部 not selected after its press: $(cat "$LQ_TMP/tree.json")"
[ "$(tree_field '[i["name"] for i in t["items"]]')" = $'群体消息\nKUAIJI' ] ||
    fail "items after pressing 财务部: $(cat "$LQ_TMP/tree.json")"
[ -n "$shots" ] && lqd_shot "$shots/accessible-bar-page.png"
echo "PASS: pressing the 财务部 tab makes its page active, and its items show in the list"

# --- Activating an item opens the send dialog for it ---
atspi activate KUAIJI || fail "activating KUAIJI failed"
dlg=$(lqd_window_named "发送消息") || fail "activating KUAIJI opened no send dialog"
[ "$(tree_field '[i["name"] for i in t["items"] if "selected" in i["states"]]')" = KUAIJI ] ||
    fail "the activated item is not the selected one: $(cat "$LQ_TMP/tree.json")"
[ -n "$shots" ] && lqd_shot "$shots/accessible-bar-send.png"
xdotool windowactivate --sync "$dlg" key --clearmodifiers Escape
lqd_wait lqd_window_gone "$dlg" || fail "Esc did not close the send dialog"
echo "PASS: activating KUAIJI selects it and opens its send dialog"
lqd_stop_lanquill
exit 0
