#!/usr/bin/env bash
# lanquilld against real peers: it runs in the client namespace of harness.sh (the only place it
# may broadcast its registrations) with a session.sock client; Samba's smbclient and nmblookup
# and our lanquill-net talk to it from the peer namespace.
# Usage: run_daemon.sh LANQUILLD LANQUILL_NET
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=harness.sh
. "$here/harness.sh"
daemon=$1
net=$2
lq_daemon_setup
user=$(id -un | tr a-z A-Z)
start_daemon() {
    lq_start_lanquilld "$LQ_NS_CLIENT" "$RUNTIME_DIRECTORY" "$LQ_TMP/lanquilld.log" \
        "$daemon" --listen --name $HOST --workgroup "$LQ_WORKGROUP"
}
session() { lq_session "$LQ_NS_CLIENT" "$RUNTIME_DIRECTORY/session.sock" "$@"; }
peer_conf=$LQ_TMP/peer-client.conf
lq_write_conf "$LQ_TMP/peerclient" "$LQ_PEER_ADDR" LQPEER >"$peer_conf"
printf '    client min protocol = NT1\n    client max protocol = NT1\n' >>"$peer_conf"

lq_check "lanquilld starts and opens session.sock" start_daemon

# 1. smbclient -M: Chinese, 1,000 characters over several lines, CP936 on the wire. smbclient
# converts each 127-byte piece of its UTF-8 input on its own and sends a piece that does not
# convert (one cut inside a character) unconverted; it sends LF as CRLF: every piece here (CRLF,
# 41 characters, two letters) ends on a character.
text=$(python3 -c 'import sys
unit = lambda i: "\n" + "".join(chr(0x4e00 + (i * 41 + k) % 900) for k in range(41)) + "ab"
sys.stdout.write("".join(unit(i) for i in range(7)) + "Z" * 705)')
session --count 1 --seconds 15 >"$LQ_TMP/out1" &
reader=$!
sleep 0.3
printf '%s' "$text" | lq_peer smbclient -s "$peer_conf" -M $HOST -I "$LQ_CLIENT_ADDR" -U guest% -N \
    >"$LQ_TMP/smbclient.out" 2>&1
wait $reader
got=$(python3 -c 'import json,sys
for l in open(sys.argv[1]):
    o=json.loads(l)
    if "id" in o: sys.stdout.write(o["text"])' "$LQ_TMP/out1")
lq_check "smbclient -M: the 1,000-character Chinese text arrives intact" \
    [ "$(printf '%s' "$got" | tr -d '\r')" = "$text" ]
lq_check "the session got hello and status lines first" grep -q '"status": "receiving"' "$LQ_TMP/out1"

# 2. lanquill-net send by name, by address and to the workgroup.
for target in "$HOST" "$LQ_CLIENT_ADDR" "/domain:$LQ_WORKGROUP"; do
    session --count 1 --seconds 10 >"$LQ_TMP/out2" &
    reader=$!
    sleep 0.3
    lq_peer "$net" send "$target" "你好 $target" >/dev/null 2>&1
    wait $reader
    lq_check "lanquill-net send $target arrives" grep -q "你好 $target" "$LQ_TMP/out2"
done

# 3. nmblookup sees our names and, with a session connected, the user.
session --count 99 --seconds 10 >/dev/null &
reader=$!
sleep 1.2
lq_check "nmblookup $HOST answers with our address" \
    bash -c "ip netns exec $LQ_NS_PEER nmblookup -s $peer_conf -B $LQ_BROADCAST $HOST | grep -q '^$LQ_CLIENT_ADDR '"
lq_peer nmblookup -s "$peer_conf" -A "$LQ_CLIENT_ADDR" >"$LQ_TMP/status" 2>&1
lq_check "nmblookup -A lists the computer, the workgroup and the user <03> sixth" \
    bash -c "sed -n '/<00>/,\$p' $LQ_TMP/status | awk 'NF>1' | sed -n '1p;2p;6p' | tr '\n' ' ' | grep -q '$HOST.*<00>.*$LQ_WORKGROUP.*<00>.*GROUP.*$user.*<03>'"
lq_check "nmblookup -A reports the adapter address" \
    bash -c "grep -qi 'MAC Address = $(lq_client ip -o link show "$LQ_VETH_CLIENT" | sed -n 's/.*link\/ether \([0-9a-f:]*\).*/\1/p' | tr a-f: A-F-)' $LQ_TMP/status"
lq_check "lanquill-net status by name finds the computer's table" \
    bash -c "ip netns exec $LQ_NS_PEER '$net' status $HOST | grep -q '$HOST *<00>'"
# On the machine itself, as the README's check does it: the question comes from our own address.
lq_client "$net" status "$LQ_CLIENT_ADDR" >"$LQ_TMP/own-status" 2>&1
lq_check "lanquill-net status of its own address, on the same machine, lists the computer and the user" \
    bash -c "grep -q '$HOST *<00>' $LQ_TMP/own-status && grep -q '$user *<03>' $LQ_TMP/own-status"
lq_check "lanquill-net status of its own name, on the same machine, answers" \
    bash -c "ip netns exec $LQ_NS_CLIENT '$net' status $HOST | grep -q '$HOST *<00>'"
wait $reader

# 4. SIGKILL between receipt and acknowledgement loses nothing and repeats only unacknowledged ids.
rounds=${LQ_KILL_ROUNDS:-20} # LQ_KILL_ROUNDS=200 for a longer hunt
lost=0
for i in $(seq 1 "$rounds"); do
    lq_peer "$net" send "$HOST" "kill round $i" >/dev/null 2>&1
    kill -KILL "$LQ_DAEMON_PID"; wait "$LQ_DAEMON_PID" 2>/dev/null
    start_daemon || { lost=$((lost + 1)); continue; }
    session --count 1 --seconds 5 >"$LQ_TMP/out4" 2>/dev/null
    grep -q "kill round $i\"" "$LQ_TMP/out4" || lost=$((lost + 1))
done
lq_check "SIGKILL $rounds times after 'accepted': no message lost ($lost lost)" [ "$lost" -eq 0 ]
lq_check "acknowledged messages are gone from the spool" \
    bash -c "[ -z \"\$(ls $STATE_DIRECTORY/spool)\" ]"

# 5. A flood of random bytes on 137, 138 and 139 leaves it answering. It comes from a second
# address of the peer: the sessions of a host that opened 200 in a minute are held back.
ip -n "$LQ_NS_PEER" addr add "$LQ_NET.3/24" dev "$LQ_VETH_PEER"
lq_peer python3 - "$LQ_CLIENT_ADDR" "$LQ_NET.3" <<'PY'
import os, socket, sys, random
addr, source = sys.argv[1], sys.argv[2]
u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
for i in range(int(os.environ.get("LQ_FLOOD", "100000"))):
    u.sendto(os.urandom(random.randint(0, 600)), (addr, 137 + i % 2))
for i in range(200):
    t = socket.create_connection((addr, 139), timeout=2, source_address=(source, 0))
    t.sendall(os.urandom(random.randint(1, 3000)))
    t.close()
PY
session --count 1 --seconds 10 >"$LQ_TMP/out5" &
reader=$!
sleep 0.3
lq_peer "$net" send "$HOST" "after the flood" >/dev/null 2>&1
wait $reader
lq_check "after the flood it still takes messages" grep -q "after the flood" "$LQ_TMP/out5"
lq_check "lanquilld is still running" kill -0 "$LQ_DAEMON_PID"
kill -TERM "$LQ_DAEMON_PID"
echo "--- lanquilld log (tail) ---"; tail -n 5 "$LQ_TMP/lanquilld.log"
exit $((LQ_FAILURES > 0))
