#!/usr/bin/env bash
# lanquilld in the workgroup's browse list: Samba's nmbd as local master browser in the peer
# namespace of harness.sh, `lanquilld --listen` (it holds TCP 139, so it owns the machine's names
# and announces them) in the client namespace. The list is read as users read it: Samba's
# smbtree -S, and `lanquill-net view /domain:WG`, which the add-group dialog shares. Checks that
# lanquilld appears soon after it starts, is gone soon after it stops, and answers an
# announcement request.
# Usage: run_daemon_browse.sh LANQUILLD LANQUILL_NET
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=harness.sh
. "$here/harness.sh"
# shellcheck source=browse_peers.sh
. "$here/browse_peers.sh"
daemon=$1
net=$2
lq_daemon_setup
start_daemon() {
    lq_start_lanquilld "$LQ_NS_CLIENT" "$RUNTIME_DIRECTORY" "$LQ_TMP/lanquilld.log" \
        "$daemon" --listen --name "$HOST" --workgroup "$LQ_WORKGROUP"
}
stop_daemon() {
    kill -TERM "$LQ_DAEMON_PID"
    wait "$LQ_DAEMON_PID" 2>/dev/null
}
# The master's browse list names our computer, as Samba's own libsmbclient client reads it
# (smbclient -L shows no servers here; smbtree without -S stops at the first host without shares).
listed() {
    lq_client env HOME="$home" smbtree -S -s "$LQ_CLIENT_CONF" -U guest% \
        --option='client min protocol=NT1' >"$LQ_TMP/list" 2>&1
    grep -Eq "^\s+\\\\\\\\$HOST\s" "$LQ_TMP/list"
}
# Polls CONDITION every half second until the run's clock ($SECONDS) reaches DEADLINE.
until_deadline() {
    local deadline=$1
    shift
    while [ "$SECONDS" -lt "$deadline" ]; do
        "$@" && return 0
        sleep 0.5
    done
    "$@"
}
not() { ! "$@"; }

home=$(lq_client_home)
lq_make_master
lq_start_samba
if ! lq_wait_ready || ! lq_wait_master; then
    echo "FAIL - the Samba peer did not become master browser"
    exit 1
fi

# 1. At start lanquilld announces itself: the list names it within seconds, not minutes.
lq_check "lanquilld starts" start_daemon
lq_check "the master's list names $HOST within 15 s of its start" until_deadline $((SECONDS + 15)) listed
lq_check "with the comment Lanquill" grep -Eq "^\s+\\\\\\\\$HOST\s+Lanquill\s*$" "$LQ_TMP/list"
lq_client env HOME="$home" "$net" view "/domain:$LQ_WORKGROUP" >"$LQ_TMP/view" 2>&1
lq_check "lanquill-net view /domain:$LQ_WORKGROUP lists $HOST beside $LQ_PEER_NAME" \
    bash -c "grep -qx '$HOST' '$LQ_TMP/view' && grep -qx '$LQ_PEER_NAME' '$LQ_TMP/view'"

# 2. At stop its last announcement takes it out of the list at once; without it the master
# would keep it for three announcement periods.
stop_daemon
lq_check "after lanquilld stops, the list drops $HOST within 15 s" \
    until_deadline $((SECONDS + 15)) not listed

# 3. The Announcement Request a master browser sends (as nmbd sent it, captured) is answered
# with a Host Announcement within the answer window of 30 s; lanquilld's own schedule would next
# announce a minute after its start, so one seen before that is the answer.
started=$SECONDS
lq_check "lanquilld starts again" start_daemon
lq_check "and is listed again" until_deadline $((SECONDS + 15)) listed
lq_peer python3 - "$LQ_VETH_PEER" "$LQ_CLIENT_ADDR" "$here/../data/browse/nmbd-announcement-request.bin" \
    $((started + 58 - SECONDS)) >"$LQ_TMP/answer" 2>&1 <<'PY'
import socket, struct, sys, time

link, target, request, seconds = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4])
sniffer = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(0x0800))
sniffer.bind((link, 0))
sniffer.settimeout(1)
asker = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
asker.sendto(open(request, "rb").read(), (target, 138))
sent = time.monotonic()
while time.monotonic() < sent + seconds:
    try:
        ip = sniffer.recv(65535)[14:]
    except socket.timeout:
        continue
    udp = ip[(ip[0] & 15) * 4:]
    if ip[9] == 17 and ip[12:16] == socket.inet_aton(target) and udp[:4] == b"\0\x8a\0\x8a" \
            and b"\\MAILSLOT\\BROWSE\0\x01" in udp:
        print("answered after %.1f s" % (time.monotonic() - sent))
        sys.exit(0)
print("no Host Announcement in %.0f s" % seconds)
sys.exit(1)
PY
lq_check "an Announcement Request is answered before lanquilld's next own announcement ($(cat \
    "$LQ_TMP/answer"))" grep -q '^answered after' "$LQ_TMP/answer"
stop_daemon
echo "--- lanquilld's log (tail) ---"
tail -n 4 "$LQ_TMP/lanquilld.log"
exit $((LQ_FAILURES > 0))
