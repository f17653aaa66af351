#!/usr/bin/env bash
# Whole-process time of a directed message: `lanquill-net send PEER text` against Samba's own
# `smbclient -M PEER`, both to a Samba peer in private network namespaces (tests/interop/
# harness.sh); and how long the program's name lookup takes to give up on a name nobody has.
# Needs root. Usage: bench/bench_send.sh [path/to/lanquill-net] [runs]
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../tests/interop/harness.sh
. "$here/../tests/interop/harness.sh"
# shellcheck source=peers.sh
. "$here/peers.sh"

runs=${2:-20}
bench_begin "${1:-}" smbclient
lq_start_samba
lq_wait_ready || exit 1

text="Benchmark message from Lanquill"
lanquill_cmd="$net send $LQ_PEER_ADDR '$text'"
smbclient_cmd="echo '$text' | smbclient -M $LQ_PEER_NAME -I $LQ_PEER_ADDR -p 139 -N -s $LQ_CLIENT_CONF --option='client min protocol=NT1' >/dev/null 2>&1"
lookup_cmd="$net lookup NOSUCHPC >/dev/null 2>&1; true"

# Mean and spread of `runs` runs of a shell command inside the client namespace, in ms.
time_loop() {
    local cmd=$1 n=$2 i start end
    local -a samples=()
    for ((i = 0; i < n; i++)); do
        start=$(date +%s%N)
        lq_client bash -c "$cmd" >/dev/null 2>&1
        end=$(date +%s%N)
        samples+=($(((end - start) / 1000)))
    done
    printf '%s\n' "${samples[@]}" | sort -n | awk '{ a[NR] = $1; s += $1 }
        END { printf "mean %.1f ms  median %.1f ms  min %.1f ms  max %.1f ms  (%d runs)\n",
              s / NR / 1000, a[int((NR + 1) / 2)] / 1000, a[1] / 1000, a[NR] / 1000, NR }'
}

if command -v hyperfine >/dev/null; then
    lq_client hyperfine --warmup 2 --runs "$runs" -N \
        --command-name "lanquill-net send" "bash -c \"$lanquill_cmd\"" \
        --command-name "smbclient -M" "bash -c \"$smbclient_cmd\""
    lq_client hyperfine --runs 3 -N --command-name "lookup of an unknown name" "bash -c \"$lookup_cmd\""
else
    echo "directed message, whole process (includes 'ip netns exec' and bash start-up):"
    printf '  %-26s' "lanquill-net send:"; time_loop "$lanquill_cmd" "$runs"
    printf '  %-26s' "smbclient -M:"; time_loop "$smbclient_cmd" "$runs"
    printf '  %-26s' "namespace + bash alone:"; time_loop "true" "$runs"
    echo "name lookup giving up (system resolver, then 3 NetBIOS broadcasts):"
    printf '  %-26s' "lanquill-net lookup:"; time_loop "$lookup_cmd" 3
fi
delivered=$(ls "$LQ_MSG_DIR"/*.msg 2>/dev/null | wc -l)
echo "messages the peer received: $delivered"
