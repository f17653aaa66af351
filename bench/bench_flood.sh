#!/usr/bin/env bash
# A forged datagram flood against lanquilld: N MESSNGR datagrams to UDP 138, each from a forged
# source address on lanquilld's subnet (raw socket in the peer namespace), as fast as the peer
# can send them. Reported: what lanquilld spooled, its CPU time and resident memory before and
# after, and whether a real message over TCP 139 still gets in afterwards.
# Needs root. Usage: bench/bench_flood.sh [path/to/lanquilld] [datagrams]
set -u
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
# shellcheck source=../tests/interop/harness.sh
. "$here/../tests/interop/harness.sh"
daemon=${1:-${LANQUILL_BUILD_DIR:-$top/build}/bin/lanquilld}
count=${2:-200000}
net=$(dirname "$daemon")/lanquill-net
lq_daemon_setup

# One real workgroup datagram of lanquill-net's, caught before lanquilld holds UDP 138: the flood
# sends it again and again with other sources and datagram ids.
lq_client python3 -c '
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("0.0.0.0", 138)); s.settimeout(10)
open(sys.argv[1], "wb").write(s.recvfrom(2048)[0])' "$LQ_TMP/datagram" &
catcher=$!
sleep 0.5
lq_peer "$net" send "/domain:$LQ_WORKGROUP" "flood" >/dev/null 2>&1
wait $catcher || { echo "no datagram caught"; exit 1; }

lq_start_lanquilld "$LQ_NS_CLIENT" "$RUNTIME_DIRECTORY" "$LQ_TMP/lanquilld.log" \
    "$daemon" --listen --name $HOST --workgroup "$LQ_WORKGROUP" || exit 1
pid=$(ip netns pids "$LQ_NS_CLIENT" | while read -r p; do
    [ "$(readlink "/proc/$p/exe")" = "$(readlink -f "$daemon")" ] && echo "$p"; done | head -1)
usage() { # CPU seconds and resident KiB of lanquilld
    awk '{ printf "%.2f ", ($14 + $15) / 100 }' "/proc/$pid/stat"
    awk '/^VmRSS/ { print $2 }' "/proc/$pid/status"
}
read -r cpu0 rss0 < <(usage)

start=$(date +%s%N)
lq_peer python3 - "$LQ_CLIENT_ADDR" "$LQ_NET" "$count" "$LQ_TMP/datagram" <<'PY'
import socket, struct, sys
target, net, count, template = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
datagram = bytearray(open(template, "rb").read())
raw = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW)
for i in range(count):
    source = socket.inet_aton("%s.%d" % (net, 3 + i % 250))
    datagram[2:4] = struct.pack(">H", i & 0xFFFF)  # datagram id: no two alike
    datagram[4:8] = source
    udp = struct.pack(">HHHH", 138, 138, 8 + len(datagram), 0) + datagram
    ip = struct.pack(">BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), i & 0xFFFF, 0, 64, 17, 0,
                     source, socket.inet_aton(target))
    try:
        raw.sendto(ip + udp, (target, 0))
    except OSError:
        pass
PY
end=$(date +%s%N)
sleep 1
read -r cpu1 rss1 < <(usage)
spooled=$(find "$STATE_DIRECTORY/spool" -name '*.msg' | wc -l)
if lq_peer "$net" send "$LQ_CLIENT_ADDR" "a real message after the flood" >"$LQ_TMP/send.out" 2>&1; then
    real="taken"
else
    real="refused: $(cat "$LQ_TMP/send.out")"
fi
kill -TERM "$pid"; wait "$LQ_DAEMON_PID" 2>/dev/null
awk -v n="$count" -v ns=$((end - start)) -v s="$spooled" -v c0="$cpu0" -v c1="$cpu1" \
    -v r0="$rss0" -v r1="$rss1" -v real="$real" 'BEGIN {
    printf "%d forged datagrams in %.1f s (%.0f/s): %d spooled; lanquilld CPU %.2f s, resident %d KiB -> %d KiB; a message over TCP afterwards: %s\n",
        n, ns / 1e9, n / (ns / 1e9), s, c1 - c0, r0, r1, real
    printf "TABLE|forged datagram flood (%d)|%d spooled, %.2f s CPU, %d->%d KiB|real TCP message %s\n",
        n, s, c1 - c0, r0, r1, real }'
grep -c . "$LQ_TMP/lanquilld.log" | xargs printf '%s log lines\n'
