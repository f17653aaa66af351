#!/usr/bin/env bash
# Name lookups against a Samba peer in private network namespaces (tests/interop/harness.sh):
# the give-up time of a name nobody answers for (the system resolver and NetBIOS asked
# together), and one batch of 50 names of which 25 are gone (`lanquill-net lookup NAME...`,
# as the add-group dialog resolves its ticked computers). Whole process, inside the client
# namespace. Needs root. Usage: bench/bench_lookup.sh [path/to/lanquill-net] [runs]
# The last lines are for bench/run: TABLE|figure|lanquill|reference|ratio|goal
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../tests/interop/harness.sh
. "$here/../tests/interop/harness.sh"
# shellcheck source=peers.sh
. "$here/peers.sh"

runs=${2:-5}
bench_begin "${1:-}"
lq_start_samba
lq_wait_ready || exit 1

batch=()
for i in $(seq 1 25); do batch+=("$LQ_PEER_NAME" "GONE$i"); done

# One line per run: "<command number> <microseconds> <names found>".
timer='
runs=$1 net=$2 peer=$3; shift 3
for ((i = 0; i < runs; i++)); do
    start=${EPOCHREALTIME/./}
    "$net" lookup NOSUCHPC >/dev/null 2>&1
    end=${EPOCHREALTIME/./}
    echo "1 $((end - start)) 0"
    start=${EPOCHREALTIME/./}
    found=$("$net" lookup "$@" 2>/dev/null | grep -c "^$peer ")
    end=${EPOCHREALTIME/./}
    echo "2 $((end - start)) $found"
done
'
samples=$(lq_client bash -c "$timer" _ "$runs" "$net" "$LQ_PEER_NAME" "${batch[@]}")
figures=$(bench_figures_from_samples "$(awk '{ print $1, $2 }' <<<"$samples")" 2)
read -r u_median u_mean u_min u_max <<<"$(sed -n 1p <<<"$figures")"
read -r b_median b_mean b_min b_max <<<"$(sed -n 2p <<<"$figures")"
found=$(awk '$1 == 2 { print $3 }' <<<"$samples" | sort -u | tr '\n' ' ')

echo "name lookups inside the client namespace, $runs runs each:"
printf '  %-34s median %7.1f ms  mean %7.1f  min %7.1f  max %7.1f\n' \
    "unknown name, give-up:" "$u_median" "$u_mean" "$u_min" "$u_max" \
    "50 names, 25 gone, one batch:" "$b_median" "$b_mean" "$b_min" "$b_max"
echo "  names found per batch run: $found(25 expected)"
echo "TABLE|unknown name given up (system resolver and NetBIOS together), whole process (max)|$u_max ms|||<= 1500 ms"
echo "TABLE|50 names of which 25 are gone, one batch, whole process (max)|$b_max ms|||<= 2000 ms"
[ "$found" = "25 " ]
