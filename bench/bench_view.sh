#!/usr/bin/env bash
# Whole-process time of listing a workgroup's computers from its master browser:
# `lanquill-net view /domain:WG` against Samba's own `smbtree` (SMB1, as guest), both asking a
# Samba peer that is local master browser, in private network namespaces (tests/interop/
# harness.sh). smbtree walks the whole tree (workgroups, servers and their shares), so it does
# more than Lanquill; it is the nearest reference client there is (`smbtree -N` crashes on
# Debian 12's Samba). The election takes about 40 s before the first run.
# Needs root. Usage: bench/bench_view.sh [path/to/lanquill-net] [runs]
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

runs=${2:-20}
bench_begin "${1:-}" smbtree
lq_make_master
lq_start_samba
lq_wait_ready && lq_wait_master || exit 1
home=$(lq_client_home)

lanquill_cmd="$net view /domain:$LQ_WORKGROUP"
smbtree_cmd="smbtree -U guest% --option='client min protocol=NT1' -s $LQ_CLIENT_CONF"
groups_cmd="$net view"

# Both must list the peer, or the figures would compare a failure with a success.
inside() { lq_client env HOME="$home" bash -c "$1" 2>&1; }
listed=$(inside "$lanquill_cmd")
echo "lanquill-net view /domain:$LQ_WORKGROUP gives:"; echo "$listed" | sed 's/^/    /'
echo "$listed" | grep -qx "$LQ_PEER_NAME" || { echo "lanquill-net does not list $LQ_PEER_NAME" >&2; exit 1; }
tree=$(inside "$smbtree_cmd")
echo "smbtree gives:"; echo "$tree" | sed 's/^/    /'
echo "$tree" | grep -q "\\\\$LQ_PEER_NAME" || { echo "smbtree does not list $LQ_PEER_NAME" >&2; exit 1; }

# "median mean min max" in ms of each command, one line each, in the order given.
if [ -z "${LQ_BENCH_LOOP:-}" ] && command -v hyperfine >/dev/null; then
    csv=$LQ_TMP/view.csv
    lq_client env HOME="$home" hyperfine -N --warmup 2 --runs "$runs" --export-csv "$csv" \
        --command-name "lanquill-net view /domain:$LQ_WORKGROUP" "$lanquill_cmd" \
        --command-name "smbtree" "$smbtree_cmd" \
        --command-name "lanquill-net view" "$groups_cmd" || exit 1
    figures=$(bench_figures_from_csv "$csv")
else
    # Alternating, inside one shell in the namespace, so that entering it is in no figure.
    timer='
    runs=$1; shift
    for ((i = 0; i < runs + 2; i++)); do
        for ((c = 1; c <= $#; c++)); do
            start=${EPOCHREALTIME/./}
            bash -c "${!c}" >/dev/null 2>&1
            end=${EPOCHREALTIME/./}
            [ $i -ge 2 ] && echo "$c $((end - start))"
        done
    done'
    samples=$(lq_client env HOME="$home" bash -c "$timer" _ "$runs" "$lanquill_cmd" "$smbtree_cmd" "$groups_cmd")
    figures=$(bench_figures_from_samples "$samples" 3)
fi
read -r l_median l_mean l_min l_max <<<"$(sed -n 1p <<<"$figures")"
read -r r_median r_mean r_min r_max <<<"$(sed -n 2p <<<"$figures")"
read -r g_median g_mean g_min g_max <<<"$(sed -n 3p <<<"$figures")"
echo "whole process, $runs runs each, in ms:"
printf '  %-34s median %7.1f  mean %7.1f  min %7.1f  max %7.1f\n' \
    "lanquill-net view /domain:$LQ_WORKGROUP" "$l_median" "$l_mean" "$l_min" "$l_max" \
    "smbtree (whole tree)" "$r_median" "$r_mean" "$r_min" "$r_max" \
    "lanquill-net view (workgroups)" "$g_median" "$g_mean" "$g_min" "$g_max"
ratio=$(awk -v a="$l_median" -v b="$r_median" 'BEGIN { printf "%.2f", a / b }')
echo "  median ratio, computers of $LQ_WORKGROUP against smbtree: $ratio"
echo "TABLE|computers of a workgroup from its master browser, whole process (median)|$l_median ms|$r_median ms|$ratio|"
echo "TABLE|workgroups from the master browser, whole process (median)|$g_median ms|||"
