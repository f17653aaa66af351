#!/usr/bin/env bash
# In a real X server, against a Samba peer in the client's private namespace: the computers of
# the page on show get a presence mark at the corner of their icon once their answers are in,
# green for the peer that answers, grey for an address nobody holds, none without an address.
# Usage: presence.sh BIN_DIR [SCREENSHOT_DIR]
. "$(dirname "$0")/scenario.sh" "$@"
lqd_begin samba

lqd_start_with_book "$LQ_TMP/program" <<XML
<Lanquill>
  <group id="$LQ_WORKGROUP">
    <computer id="$LQ_PEER_NAME"><ComputerName>$LQ_PEER_NAME</ComputerName><IpAddress>$LQ_PEER_ADDR</IpAddress></computer>
    <computer id="GONE"><ComputerName>GONE</ComputerName><IpAddress>$LQ_NET.77</IpAddress></computer>
    <computer id="NOADDR"><ComputerName>NOADDR</ComputerName><IpAddress></IpAddress></computer>
  </group>
</Lanquill>
XML


# Pixels of COLOUR (within a few per cent) in the icon column of item INDEX.
marked() {
    lqd_crop "$win" 0 $(($(lqd_item_y "$1") - 16)) 40 32 "$LQ_TMP/item$1.png" || return 1
    convert "$LQ_TMP/item$1.png" -fuzz 3% -fill black +opaque "$2" -fill white -opaque "$2" \
        -format '%[fx:round(mean*w*h)]' info:
}
green='#2eb84b'
grey='#9a9a9a'
# The round waits about a second for answers; the marks are painted when it ends.
for _ in $(seq 1 50); do
    peer_green=$(marked 1 "$green")
    [ "${peer_green:-0}" -gt 20 ] && break
    sleep 0.2
done
gone_green=$(marked 2 "$green")
gone_grey=$(marked 2 "$grey")
none_grey=$(marked 3 "$grey")
none_green=$(marked 3 "$green")
echo "green: peer $peer_green, gone $gone_green, no address $none_green;" \
    "grey: gone $gone_grey, no address $none_grey"
[ -n "$shots" ] && lqd_crop "$win" 0 0 "$(xwininfo -id "$win" | sed -n 's/.*Width: *//p')" \
    "$(xwininfo -id "$win" | sed -n 's/.*Height: *//p')" "$shots/presence.png"
# The icons carry some of both colours themselves: the item without an address is the baseline.
[ "${peer_green:-0}" -gt $((${none_green:-0} + 20)) ] || fail "the answering peer has no green mark"
[ "${gone_green:-0}" -eq 0 ] || fail "the address nobody holds shows green"
[ "${gone_grey:-0}" -gt $((${none_grey:-0} + 20)) ] || fail "the address nobody holds has no grey mark"
echo "PASS: the peer is marked online, the gone address offline, the one without an address not at all"
