#!/usr/bin/env bash
# Whole-process time of finding the computers of a /24 by node status, where no browse list
# exists: `lanquill-net view /domain:WG` (its browse attempt, beside the node-status sweep of the
# subnet, finds no master browser) against `nbtscan SUBNET/24`, both inside the client namespace of
# tests/interop/harness.sh. Two Samba computers answer node status on two addresses of the
# peer namespace; their smbd refuse SMB1 and neither stands for master browser, as on a LAN of
# today's Windows machines. Goals: the whole view of a /24 in 0.6 s, of a /22 in 1.5 s.
#
# Three figures: lanquill-net as it runs on such a LAN (libsmbclient asks the subnet for a
# master browser by broadcast and waits in vain while the sweep runs), the same with
# libsmbclient told to resolve names by host only (so the figure is process start plus the
# sweep alone), and nbtscan.
# The client namespace's neighbour table is flushed before every run, as before a first scan:
# with the failed ARP entries of a previous scan still there, nbtscan's time swings between
# about 1.6 and 4 s, depending on which command ran before it.
# The same three then run on a /22: the client's address moves to the /22 holding the peers'
# /24, so every command asks 1,022 addresses (fewer runs: nbtscan takes seconds there).
# Needs root. Usage: bench/bench_sweep.sh [path/to/lanquill-net] [runs] [runs on the /22]
# hyperfine times the runs where it is installed; LQ_BENCH_LOOP=1 uses a plain loop instead.
# The last lines are for bench/run: TABLE|figure|lanquill|reference|ratio|goal
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../tests/interop/harness.sh
. "$here/../tests/interop/harness.sh"
# shellcheck source=peers.sh
. "$here/peers.sh"
# shellcheck source=../tests/interop/browse_peers.sh
. "$here/../tests/interop/browse_peers.sh"

runs=${2:-10}
wide_runs=${3:-3}
bench_begin "${1:-}" nbtscan
lq_refuse_smb1
echo "    local master = no" >>"$LQ_PEER_CONF"
lq_add_second_peer SMB2_02
lq_start_samba
lq_start_second_peer
lq_wait_ready && lq_wait_second_ready || exit 1
home=$(lq_client_home)
quick_home=$LQ_TMP/client/home-host-only
mkdir -p "$quick_home/.smb"
{ cat "$LQ_CLIENT_CONF"; echo "    name resolve order = host"; } >"$quick_home/.smb/smb.conf"

subnet=$LQ_NET.0/24
lanquill_args=("$net" view "/domain:$LQ_WORKGROUP")
lanquill_cmd="${lanquill_args[*]}"
nbtscan_cmd="nbtscan $subnet"

# Each must find both computers, or the figures would compare a failure with a success.
check() {
    local what=$1 out=$2
    shift 2
    for want in "$@"; do
        grep -Eq "$want" <<<"$out" || { echo "$what did not find $want:" >&2; echo "$out" >&2; exit 1; }
    done
    echo "$what finds: $*"
}
check "lanquill-net view" "$(lq_client env HOME="$home" "${lanquill_args[@]}" 2>/dev/null)" \
    "^$LQ_PEER_NAME\$" "^$LQ_PEER2_NAME\$"
check "lanquill-net view (host-only libsmbclient)" \
    "$(lq_client env HOME="$quick_home" "${lanquill_args[@]}" 2>/dev/null)" \
    "^$LQ_PEER_NAME\$" "^$LQ_PEER2_NAME\$"
check "nbtscan" "$(lq_client nbtscan "$subnet" 2>/dev/null)" \
    "^$LQ_PEER_ADDR +$LQ_PEER_NAME " "^$LQ_PEER2_ADDR +$LQ_PEER2_NAME "

# "median mean min max" in ms of each command, one line each, in the order given. HOME is set
# per command, so every command runs through env.
lanquill_run="env HOME=$home $lanquill_cmd"
quick_run="env HOME=$quick_home $lanquill_cmd"
if [ -z "${LQ_BENCH_LOOP:-}" ] && command -v hyperfine >/dev/null; then
    csv=$LQ_TMP/sweep.csv
    lq_client hyperfine -N --warmup 1 --runs "$runs" --export-csv "$csv" \
        --prepare "ip neigh flush all" \
        --command-name "lanquill-net view /domain:$LQ_WORKGROUP" "$lanquill_run" \
        --command-name "the same with libsmbclient by host names only" "$quick_run" \
        --command-name "$nbtscan_cmd" "$nbtscan_cmd" || exit 1
    figures=$(bench_figures_from_csv "$csv")
else
    # Alternating, inside one shell in the namespace, so that entering it is in no figure.
    timer='
    runs=$1; shift
    for ((i = 0; i < runs + 1; i++)); do
        for ((c = 1; c <= $#; c++)); do
            ip neigh flush all
            start=${EPOCHREALTIME/./}
            ${!c} >/dev/null 2>&1
            end=${EPOCHREALTIME/./}
            [ $i -ge 1 ] && echo "$c $((end - start))"
        done
    done'
    samples=$(lq_client bash -c "$timer" _ "$runs" "$lanquill_run" "$quick_run" "$nbtscan_cmd")
    figures=$(bench_figures_from_samples "$samples" 3)
fi
read -r l_median l_mean l_min l_max <<<"$(sed -n 1p <<<"$figures")"
read -r q_median q_mean q_min q_max <<<"$(sed -n 2p <<<"$figures")"
read -r r_median r_mean r_min r_max <<<"$(sed -n 3p <<<"$figures")"
echo "whole process, $runs runs each, in ms:"
printf '  %-40s median %7.1f  mean %7.1f  min %7.1f  max %7.1f\n' \
    "lanquill-net view /domain:$LQ_WORKGROUP" "$l_median" "$l_mean" "$l_min" "$l_max" \
    "  libsmbclient by host names only" "$q_median" "$q_mean" "$q_min" "$q_max" \
    "nbtscan $subnet" "$r_median" "$r_mean" "$r_min" "$r_max"
ratio=$(awk -v a="$l_median" -v b="$r_median" 'BEGIN { printf "%.2f", a / b }')
quick_ratio=$(awk -v a="$q_median" -v b="$r_median" 'BEGIN { printf "%.2f", a / b }')
echo "  median ratio against nbtscan: $ratio, sweep alone $quick_ratio (goal: whole view <= 600 ms)"
echo "TABLE|computers of a /24 by node-status sweep, no browse list, whole process (median)|$l_median ms|$r_median ms|$ratio|<= 600 ms"
echo "TABLE|the same, libsmbclient resolving by host names only (sweep alone)|$q_median ms|$r_median ms|$quick_ratio|<= 1.00"

# ---- the same on a /22 --------------------------------------------------------------------
dev=$(lq_client ip -o -4 addr show | awk -v a="$LQ_CLIENT_ADDR" '$4 ~ "^" a "/" { print $2 }')
wide=$(lq_client python3 -c "import ipaddress; print(ipaddress.ip_interface('$LQ_CLIENT_ADDR/22').network)")
lq_client ip addr del "$LQ_CLIENT_ADDR/24" dev "$dev"
lq_client ip addr add "$LQ_CLIENT_ADDR/22" brd + dev "$dev"
wide_cmd="nbtscan $wide"
check "lanquill-net view on $wide" "$(lq_client env HOME="$home" "${lanquill_args[@]}" 2>/dev/null)" \
    "^$LQ_PEER_NAME\$" "^$LQ_PEER2_NAME\$"
timer='
runs=$1; shift
for ((i = 0; i < runs; i++)); do
    for ((c = 1; c <= $#; c++)); do
        ip neigh flush all
        start=${EPOCHREALTIME/./}
        ${!c} >/dev/null 2>&1
        end=${EPOCHREALTIME/./}
        echo "$c $((end - start))"
    done
done'
samples=$(lq_client bash -c "$timer" _ "$wide_runs" "$lanquill_run" "$quick_run" "$wide_cmd")
figures=$(bench_figures_from_samples "$samples" 3)
read -r l_median _ _ _ <<<"$(sed -n 1p <<<"$figures")"
read -r q_median _ _ _ <<<"$(sed -n 2p <<<"$figures")"
read -r r_median _ _ _ <<<"$(sed -n 3p <<<"$figures")"
echo "the same on $wide, $wide_runs runs each, medians in ms: lanquill-net view $l_median," \
    "host names only $q_median, nbtscan $r_median"
ratio=$(awk -v a="$l_median" -v b="$r_median" 'BEGIN { printf "%.2f", a / b }')
quick_ratio=$(awk -v a="$q_median" -v b="$r_median" 'BEGIN { printf "%.2f", a / b }')
echo "TABLE|computers of a /22 by node-status sweep, no browse list, whole process (median)|$l_median ms|$r_median ms|$ratio|<= 1500 ms"
echo "TABLE|the same on a /22, libsmbclient resolving by host names only (sweep alone)|$q_median ms|$r_median ms|$quick_ratio|<= 1.00"
