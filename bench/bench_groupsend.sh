#!/usr/bin/env bash
# A workgroup message to 200 members spread over 4 subnets, 50 each, with a WINS server: the
# client's own subnet gets the broadcast, the 150 members on the 3 subnets beyond the router get
# a directed message each. The members are simulated (fake_members.py: a WINS server and a
# messenger on TCP 139 on every member address, in one namespace that the client routes to), named with
# --member as the desktop program names a book page's computers. Figures: the whole
# `lanquill-net send /domain:` process, the UDP datagrams it sent (the client namespace's
# counters: broadcast parts, WINS queries, the browse attempt), and the TCP connections it
# opened. Needs root and python3. Usage: bench/bench_groupsend.sh [path/to/lanquill-net] [runs]
# The last lines are for bench/run: TABLE|figure|lanquill|reference|ratio|goal
set -u
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
net=${1:-${LANQUILL_BUILD_DIR:-$top/build}/bin/lanquill-net}
runs=${2:-3}
[ -x "$net" ] || { echo "lanquill-net not found; pass its path" >&2; exit 2; }
if [ "$(id -u)" -ne 0 ] || ! command -v ip >/dev/null || ! command -v python3 >/dev/null; then
    echo "SKIP: needs root, iproute2 and python3 (network namespaces)"
    exit 77
fi

id=$$
client=lqgc$id
peers=lqgp$id
n=$((id % 200 + 20))
tmp=$(mktemp -d /tmp/lanquill-groupsend.XXXXXX)
teardown() {
    local ns pids
    for ns in "$client" "$peers"; do
        pids=$(ip netns pids "$ns" 2>/dev/null)
        # shellcheck disable=SC2086
        [ -n "$pids" ] && kill $pids 2>/dev/null
        ip netns del "$ns" 2>/dev/null
        rm -rf "/etc/netns/$ns"
    done
    rm -rf "$tmp"
}
trap teardown EXIT
trap 'exit 130' INT TERM

for ns in "$client" "$peers"; do
    ip netns add "$ns"
    ip -n "$ns" link set lo up
    mkdir -p "/etc/netns/$ns"
    : >"/etc/netns/$ns/resolv.conf"
done
ip link add lqgv$id type veth peer name lqgw$id
ip link set lqgv$id netns "$client"
ip link set lqgw$id netns "$peers"
ip -n "$client" addr add "10.240.$n.1/24" brd + dev lqgv$id
ip -n "$client" link set lqgv$id up
ip -n "$peers" addr add "10.240.$n.2/24" brd + dev lqgw$id
ip -n "$peers" link set lqgw$id up
members=()
pairs=()
for s in 0 1 2 3; do
    [ $s -gt 0 ] && ip -n "$client" route add "10.$((240 + s)).$n.0/24" via "10.240.$n.2"
    for h in $(seq 10 59); do
        address=10.$((240 + s)).$n.$h
        if [ $s -eq 0 ]; then
            ip -n "$peers" addr add "$address/24" dev lqgw$id
        else
            ip -n "$peers" addr add "$address/32" dev lo
        fi
        name=MEMBER$s$h
        members+=(--member "$name")
        pairs+=("$name=$address")
    done
done
: >"$tmp/conf"
ip netns exec "$peers" python3 "$here/fake_members.py" "10.240.$n.2" "$tmp/log" "${pairs[@]}" \
    2>"$tmp/fake.err" &
for _ in $(seq 1 50); do
    grep -qs ready "$tmp/log" && break
    sleep 0.1
done
grep -qs ready "$tmp/log" || { echo "the simulated members did not start" >&2; exit 1; }

counter() { # the client namespace's /proc/net/snmp field PROTO FIELD
    ip netns exec "$client" awk -v p="$1:" -v f="$2" \
        '$1 == p && !h { for (i = 2; i <= NF; i++) k[i] = $i; h = 1; next }
         $1 == p && h { for (i = 2; i <= NF; i++) if (k[i] == f) print $i }' /proc/net/snmp
}

samples=()
for ((r = 1; r <= runs; r++)); do
    : >"$tmp/log"
    udp0=$(counter Udp OutDatagrams)
    lo0=$(ip netns exec "$client" cat /sys/class/net/lo/statistics/tx_packets)
    tcp0=$(counter Tcp ActiveOpens)
    start=${EPOCHREALTIME/./}
    ip netns exec "$client" env SMB_CONF_PATH="$tmp/conf" "$net" --wins "10.240.$n.2" \
        send /domain:LQWG "${members[@]}" -- "bench $r" >"$tmp/out" 2>"$tmp/err"
    status=$?
    end=${EPOCHREALTIME/./}
    sleep 0.5
    udp=$(($(counter Udp OutDatagrams) - udp0))
    # The system resolver asks the namespace's loopback (an empty resolv.conf): none leave it.
    lo=$(($(ip netns exec "$client" cat /sys/class/net/lo/statistics/tx_packets) - lo0))
    tcp=$(($(counter Tcp ActiveOpens) - tcp0))
    got=$(grep -c '^message$' "$tmp/log")
    queries=$(grep -c '^query$' "$tmp/log")
    samples+=("$(((end - start) / 1000)) $udp $tcp $got $queries $status $lo")
    echo "  run $r: $(((end - start) / 1000)) ms, $udp UDP datagrams ($queries WINS queries," \
        "$lo packets to loopback), $tcp TCP connections, $got members got it, exit $status"
done
cat "$tmp/out" "$tmp/err"
median() { printf '%s\n' "${samples[@]}" | awk -v c="$1" '{ print $c }' | sort -n |
    awk '{ v[++n] = $1 } END { print v[int((n + 1) / 2)] }'; }
echo "TABLE|workgroup message, 200 members over 4 subnets (150 beyond the router), whole process (median)|$(median 1) ms|||"
echo "TABLE|  ... UDP datagrams sent (broadcast parts, WINS queries, browse)|$(median 2)|||"
echo "TABLE|  ... of which WINS queries|$(median 5)|||"
echo "TABLE|  ... packets to the namespace's loopback (system resolver)|$(median 7)|||"
echo "TABLE|  ... TCP connections opened (directed messages)|$(median 3)|||= 150"
echo "TABLE|  ... members beyond the router that got it|$(median 4)|||= 150"
[ "$(median 4)" = 150 ] && [ "$(median 3)" = 150 ]
