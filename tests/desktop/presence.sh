#!/usr/bin/env bash
# In a real X server, against a Samba peer in the client's private namespace: the computers of
# the page on show get a presence mark at the corner of their icon once their answers are in,
# green for the peer that answers (asked at its address, and by its name for an entry without
# one), grey for an address or a name nobody holds, none for a name no query can carry.
# Usage: presence.sh BIN_DIR [SCREENSHOT_DIR]
. "$(dirname "$0")/scenario.sh" "$@"
lqd_begin samba

lqd_start_with_book "$LQ_TMP/program" <<XML
<Lanquill>
  <group id="$LQ_WORKGROUP">
    <computer id="$LQ_PEER_NAME"><ComputerName>$LQ_PEER_NAME</ComputerName><IpAddress>$LQ_PEER_ADDR</IpAddress></computer>
    <computer id="GONE"><ComputerName>GONE</ComputerName><IpAddress>$LQ_NET.77</IpAddress></computer>
    <computer id="BYNAME"><ComputerName>$LQ_PEER_NAME</ComputerName><IpAddress></IpAddress></computer>
    <computer id="NOSUCH"><ComputerName>NOSUCH</ComputerName><IpAddress></IpAddress></computer>
    <computer id="NO.NAME"><ComputerName>NO.NAME</ComputerName><IpAddress></IpAddress></computer>
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
green_of=() grey_of=()
for item in 1 2 3 4 5; do
    green_of[$item]=$(marked $item "$green")
    grey_of[$item]=$(marked $item "$grey")
done
echo "green: ${green_of[*]}; grey: ${grey_of[*]} (peer, gone address, peer by name, gone name," \
    "no name)"
[ -n "$shots" ] && lqd_crop "$win" 0 0 "$(xwininfo -id "$win" | sed -n 's/.*Width: *//p')" \
    "$(xwininfo -id "$win" | sed -n 's/.*Height: *//p')" "$shots/presence.png"
# The icons carry some of both colours themselves: the item that cannot be asked is the baseline.
for item in 1 3; do
    [ "${green_of[$item]:-0}" -gt $((${green_of[5]:-0} + 20)) ] ||
        fail "item $item (the answering peer) has no green mark"
done
for item in 2 4; do
    [ "${green_of[$item]:-0}" -eq 0 ] || fail "item $item (nobody there) shows green"
    [ "${grey_of[$item]:-0}" -gt $((${grey_of[5]:-0} + 20)) ] ||
        fail "item $item (nobody there) has no grey mark"
done
echo "PASS: the peer is marked online at its address and by its name, the gone address and name" \
    "offline, the name no query can carry not at all"
