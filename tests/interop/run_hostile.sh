#!/usr/bin/env bash
# lanquill-net against a hostile host (hostile_peer.py) in a private pair of network namespaces
# made by harness.sh; no Samba. Each case starts the peer in one mode, runs one command in the
# client namespace and checks what it printed and how it ended. Exit 77 (skipped) where network
# namespaces cannot be made. Usage: run_hostile.sh LANQUILL_NET [CASE...]
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=harness.sh
. "$here/harness.sh"

net=$1
shift
if [ "$(id -u)" -ne 0 ] || ! command -v ip >/dev/null || ! command -v python3 >/dev/null ||
    ! ip netns add "lqhostile$LQ_ID" 2>/dev/null; then
    echo "SKIP: the hostile-peer checks need root, python3 and network namespaces"
    exit 77
fi
ip netns del "lqhostile$LQ_ID"
trap lq_teardown EXIT
trap 'exit 130' INT TERM
lq_setup

failures=0
peer_pid=

start_peer() {
    [ -n "$peer_pid" ] && kill "$peer_pid" 2>/dev/null && wait "$peer_pid" 2>/dev/null
    # Not through lq_peer: $! must be the peer itself, so that it can be stopped by pid.
    ip netns exec "$LQ_NS_PEER" python3 "$here/hostile_peer.py" "$LQ_PEER_ADDR" "$@" &
    peer_pid=$!
    lq_poll 20 peer_listening || echo "note: the hostile peer is not listening yet"
}
peer_listening() {
    ip netns exec "$LQ_NS_PEER" ss -lnu | grep -q ":137 " &&
        ip netns exec "$LQ_NS_PEER" ss -lnt | grep -q "$LQ_PEER_ADDR:139 "
}

# check NAME EXPECTED_STATUS PATTERN COMMAND...: COMMAND ends with EXPECTED_STATUS and its
# output (stdout and stderr) matches the extended regular expression PATTERN.
check() {
    local name=$1 expected=$2 pattern=$3 status
    shift 3
    output=$(lq_client "$@" 2>&1)
    status=$?
    if [ "$status" -eq "$expected" ] && grep -Eq -- "$pattern" <<<"$output"; then
        echo "PASS $name"
    else
        echo "FAIL $name: exit $status (wanted $expected), output:"
        printf '%s\n' "$output" | cat -v | head -20
        failures=$((failures + 1))
    fi
}

case_loopback_answer() {
    local answer
    for answer in 127.0.0.1 0.0.0.0 255.255.255.255 "$LQ_BROADCAST"; do
        start_peer answer "$answer"
        check "name answered with $answer is not found" 1 "not found" "$net" lookup EVIL
    done
}

case_big_table() {
    # 255 names make a reply of over 4,600 bytes: more than any Ethernet frame.
    start_peer table 255 BIGTABLE
    check "a node status of 255 names is read" 0 "N254 +<20>" "$net" status "$LQ_PEER_ADDR"
}

case_bad_names() {
    # A name from the wire that cannot be a recipient is passed over: the message goes to the
    # address under the name any server accepts.
    local name
    for name in 'EV\x00IL' 'RED\x1b[31m'; do
        start_peer table 3 "$name"
        check "node-status name $name is not used as recipient" 0 "delivered to" \
            "$net" send "$LQ_PEER_ADDR" hello
    done
}

case_slow_peer() {
    # Each answer comes 4.5 s late, inside any single reply wait: only a deadline for the whole
    # send (10 s) ends it. 13 s leaves room for a slow machine, not for a second 10 s.
    local text started elapsed
    start_peer slow 4.5
    for text in short "$(printf '%.0s你好世界' $(seq 1 250))"; do
        started=$(date +%s%N)
        check "a peer slow at every step fails the send in one deadline" 1 "not delivered" \
            "$net" send "$LQ_PEER_ADDR" "$text"
        elapsed=$((($(date +%s%N) - started) / 1000000))
        echo "    the send ended after $elapsed ms"
        if [ "$elapsed" -gt 13000 ]; then
            echo "FAIL the send outlasted its deadline"
            failures=$((failures + 1))
        fi
    done
}

case_smbclient_log() {
    # The browse client meets a host that claims every name and answers no SMB sensibly:
    # whatever libsmbclient has to say about it goes to standard error, never among the names
    # (the one name is the peer's own, found by the node-status sweep).
    local out
    start_peer answer "$LQ_PEER_ADDR"
    out=$(lq_client "$net" view "/domain:$LQ_WORKGROUP" 2>/dev/null)
    if [ "$out" = EVILPEER ]; then
        echo "PASS view /domain prints nothing but names on standard output"
    else
        echo "FAIL view /domain wrote to standard output:"
        printf '%s\n' "$out" | cat -v | head -5
        failures=$((failures + 1))
    fi
}

case_stalled_browse() {
    # Every name points at the peer, whose TCP 139 takes the browse session and never answers:
    # the listing gives up at its deadline (5 s) and the sweep still finds the peer. 8 s leaves
    # room for a slow machine, not for a second deadline.
    # libsmbclient reads this run's configuration (HOME/.smb), whose name cache is its own: a
    # cached answer from elsewhere would send the browse to some other address.
    local started elapsed home=$LQ_TMP/stall-home
    mkdir -p "$home/.smb"
    cp "$LQ_CLIENT_CONF" "$home/.smb/smb.conf"
    start_peer stall "$LQ_PEER_ADDR"
    started=$(date +%s%N)
    check "view /domain ends at its deadline against a stalled browse" 0 "EVILPEER" \
        env HOME="$home" "$net" view "/domain:$LQ_WORKGROUP"
    elapsed=$((($(date +%s%N) - started) / 1000000))
    echo "    the listing ended after $elapsed ms"
    if [ "$elapsed" -gt 8000 ]; then
        echo "FAIL the listing outlasted its deadline"
        failures=$((failures + 1))
    fi
}

cases=${*:-$(declare -F | sed -n 's/^declare -f case_//p')}
for c in $cases; do
    "case_$c"
done
[ -n "$peer_pid" ] && kill "$peer_pid" 2>/dev/null
exit $((failures > 0))
