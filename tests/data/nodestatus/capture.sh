#!/bin/bash
# Captures real node-status replies from Samba's nmbd, inside a private pair of network
# namespaces made here and torn down on exit. Writes nmbd-<length>.bin next to this script for
# every reply length seen in the first minute: 193 bytes (5 names) right after start, then
# 211 and 229 bytes as nmbd becomes local master browser.
# Run as root. Sends nothing outside the namespaces.
set -euo pipefail
out=$(cd "$(dirname "$0")" && pwd)
tag=lqcap$$
peer=${tag}p
client=${tag}c
tmp=$(mktemp -d)

cleanup() {
    for ns in "$peer" "$client"; do
        for pid in $(ip netns pids "$ns" 2>/dev/null); do kill "$pid" 2>/dev/null || true; done
    done
    sleep 0.5
    for ns in "$peer" "$client"; do
        for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -9 "$pid" 2>/dev/null || true; done
        ip netns del "$ns" 2>/dev/null || true
        rm -rf "/etc/netns/$ns"
    done
    rm -rf "$tmp"
}
trap cleanup EXIT

for ns in "$peer" "$client"; do
    ip netns add "$ns"
    mkdir -p "/etc/netns/$ns" && : >"/etc/netns/$ns/resolv.conf"
    ip -n "$ns" link set lo up
done
ip link add "${tag}a" type veth peer name "${tag}b"
ip link set "${tag}a" netns "$peer"
ip link set "${tag}b" netns "$client"
ip -n "$peer" addr add 10.231.7.2/24 dev "${tag}a"
ip -n "$client" addr add 10.231.7.3/24 dev "${tag}b"
ip -n "$peer" link set "${tag}a" up
ip -n "$client" link set "${tag}b" up

mkdir -p "$tmp"/{lock,state,cache,private,pid,log}
cat >"$tmp/smb.conf" <<CONF
[global]
netbios name = PEER
workgroup = WORKGROUP
interfaces = 10.231.7.2/24
bind interfaces only = yes
server role = standalone server
local master = yes
preferred master = yes
os level = 65
load printers = no
lock directory = $tmp/lock
state directory = $tmp/state
cache directory = $tmp/cache
private dir = $tmp/private
pid directory = $tmp/pid
log file = $tmp/log/%m.log
CONF
setsid ip netns exec "$peer" nmbd --foreground --no-process-group -s "$tmp/smb.conf" \
    </dev/null >"$tmp/nmbd.out" 2>&1 &

query() {
    ip netns exec "$client" python3 - "$1" <<'PY'
import socket, sys
q = bytes.fromhex("000000100001000000000000" "20434b" + "41" * 30 + "00" "0021" "0001")
assert len(q) == 50
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("10.231.7.3", 6767))
s.settimeout(0.5)
for _ in range(10):
    s.sendto(q, ("10.231.7.2", 137))
    try:
        data, _ = s.recvfrom(1000)
        open(sys.argv[1], "wb").write(data)
        print(len(data))
        break
    except socket.timeout:
        pass
else:
    sys.exit("no reply")
PY
}
sleep 1.5
for _ in $(seq 20); do
    query "$tmp/reply.bin"
    len=$(stat -c %s "$tmp/reply.bin")
    [ -e "$out/nmbd-$len.bin" ] || cp "$tmp/reply.bin" "$out/nmbd-$len.bin"
    [ "$len" -ge 229 ] && break
    sleep 3
done
