#!/usr/bin/env bash
# One message box on a fake Windows 10/11 desktop (tests/interop/harness_windows.sh: smbd with
# SMB3 and mandatory signing handing the Terminal Services pipe to fake_tsts.py), timed as a user
# waits for it: the whole `lanquill-net send --windows` process, from start to exit, against the
# same calls made by Samba's own RPC client from python3-samba (tests/interop/tsts_client.py:
# logon, bind, session enumeration, open, show, close). Runs alternate; medians are kept; a run
# counts only when the target recorded its message. Needs root (network namespaces).
# Usage: bench/bench_windows.sh [path/to/lanquill-net] [runs]
# The last lines are for bench/run: TABLE|figure|lanquill|reference|ratio|goal
set -u
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
net=${1:-${LANQUILL_BUILD_DIR:-$top/build}/bin/lanquill-net}
runs=${2:-5}
[ -x "$net" ] || { echo "lanquill-net not found; pass its path" >&2; exit 2; }
# shellcheck source=../tests/interop/harness_windows.sh
. "$top/tests/interop/harness_windows.sh"
lqw_require || exit 77
if ! "$net" --help 2>&1 | grep -q -- '--windows'; then
    echo "SKIP: this lanquill-net has no 'send --windows' (its --help does not name it)"
    exit 77
fi
trap lq_teardown EXIT
trap 'exit 130' INT TERM
lq_setup
lqw_accounts
lqw_start_smbd --sessions 0,1,2 --active 2 || { echo "the fake target did not start" >&2; exit 1; }

ours=()
reference=()
missed=0
# timed KIND: one send, its time in ms appended to that list when the target recorded it.
timed() {
    local before after start end status
    before=$(lqw_records | grep -c .)
    start=${EPOCHREALTIME/./}
    if [ "$1" = lanquill ]; then
        lq_client env PASSWD="$LQW_PASSWORD" SMB_CONF_PATH="$LQ_CLIENT_CONF" "$net" --wins none \
            send --windows --user "$LQW_USER" "$LQ_PEER_ADDR" "bench $2" </dev/null \
            >"$LQ_TMP/out" 2>&1
    else
        lq_client "$LQW_PY" "$LQW_HERE/tsts_client.py" samba "$LQ_PEER_ADDR" "$LQW_USER" \
            "$LQW_PASSWORD" "bench $2" --conf "$LQ_CLIENT_CONF" >"$LQ_TMP/out" 2>&1
    fi
    status=$?
    end=${EPOCHREALTIME/./}
    after=$(lqw_records | grep -c .)
    local ms=$(((end - start) / 1000))
    echo "  $1 run $2: $ms ms, exit $status, recorded $((after - before))"
    if [ $status -ne 0 ] || [ $((after - before)) -ne 1 ]; then
        cat "$LQ_TMP/out"
        missed=$((missed + 1))
        return
    fi
    [ "$2" = 0 ] && return
    if [ "$1" = lanquill ]; then ours+=("$ms"); else reference+=("$ms"); fi
}

# One unmeasured send each first: smbd forks its first child, Python fills its caches.
timed lanquill 0 >/dev/null
timed samba 0 >/dev/null
for ((r = 1; r <= runs; r++)); do
    timed lanquill "$r"
    timed samba "$r"
done
median() { printf '%s\n' "$@" | sort -n | awk '{ v[++n] = $1 } END { if (n) print v[int((n + 1) / 2)] }'; }
a=$(median "${ours[@]}")
b=$(median "${reference[@]}")
ratio=
[ -n "$a" ] && [ -n "$b" ] && ratio=$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.2f", a / b }')
echo "TABLE|message box on a fake Windows desktop (smbd, SMB3 signed), whole process vs python3-samba (median of $runs)|${a:-none} ms|${b:-none} ms|$ratio|<= 1.00"
[ $missed -eq 0 ]
