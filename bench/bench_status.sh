#!/usr/bin/env bash
# Whole-process time of a node-status query: `lanquill-net status ADDRESS` against Samba's own
# `nmblookup -A ADDRESS`, both asking a Samba peer in private network namespaces (tests/interop/
# harness.sh). The two run alternately in one loop inside the client namespace, so that the cost
# of entering the namespace is in neither figure. Goal: Lanquill at most a fifth of nmblookup.
# Needs root. Usage: bench/bench_status.sh [path/to/lanquill-net] [runs]
# The last line is for bench/run: TABLE|figure|lanquill|reference|ratio|goal
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../tests/interop/harness.sh
. "$here/../tests/interop/harness.sh"
# shellcheck source=peers.sh
. "$here/peers.sh"

runs=${2:-30}
bench_begin "${1:-}"
lq_start_samba
lq_wait_ready || exit 1

# Inside the namespace: each command `runs` times, alternating; one line per run:
# "<command index> <exit status> <microseconds>". EPOCHREALTIME needs no extra process.
timer='
runs=$1 net=$2 conf=$3 addr=$4
for ((i = 0; i < runs + 2; i++)); do
    for c in 0 1; do
        start=${EPOCHREALTIME/./}
        if [ $c -eq 0 ]; then
            "$net" status "$addr" >/dev/null 2>&1
        else
            nmblookup -s "$conf" -A "$addr" >/dev/null 2>&1
        fi
        rc=$?
        end=${EPOCHREALTIME/./}
        # The first two rounds warm the caches and are not counted.
        [ $i -ge 2 ] && echo "$c $rc $((end - start))"
    done
done
'
samples=$(lq_client bash -c "$timer" _ "$runs" "$net" "$LQ_CLIENT_CONF" "$LQ_PEER_ADDR")

# "mean median min max failures" in ms for command index $1.
summary() {
    echo "$samples" | awk -v c="$1" '$1 == c { print $3, $2 }' | sort -n |
        awk '{ n++; t[n] = $1; s += $1; if ($2 != 0) f++ }
            END { printf "%.2f %.2f %.2f %.2f %d\n", s / n / 1000,
                  t[int((n + 1) / 2)] / 1000, t[1] / 1000, t[n] / 1000, f + 0 }'
}
read -r l_mean l_median l_min l_max l_fail <<<"$(summary 0)"
read -r r_mean r_median r_min r_max r_fail <<<"$(summary 1)"

echo "node-status query of $LQ_PEER_ADDR, whole process, $runs runs each, alternating:"
printf '  %-22s mean %7.2f ms  median %7.2f ms  min %7.2f ms  max %7.2f ms  failed %d\n' \
    "lanquill-net status:" "$l_mean" "$l_median" "$l_min" "$l_max" "$l_fail" \
    "nmblookup -A:" "$r_mean" "$r_median" "$r_min" "$r_max" "$r_fail"
ratio=$(awk -v a="$l_median" -v b="$r_median" 'BEGIN { printf "%.2f", a / b }')
echo "  median ratio: $ratio (goal <= 0.20)"
echo "TABLE|node-status query, whole process (median)|$l_median ms|$r_median ms|$ratio|<= 0.20"
[ "$l_fail" -eq 0 ] && [ "$r_fail" -eq 0 ]
