#!/usr/bin/env bash
# lanquilld in the workgroup's browse list: Samba's nmbd as local master browser in the peer
# namespace of harness.sh, `lanquilld --listen` (it holds TCP 139, so it owns the machine's names
# and announces them) in the client namespace. The list is read as users read it: Samba's
# smbtree -S, and `lanquill-net view /domain:WG`, which the add-group dialog shares. Checks that
# lanquilld appears soon after it starts, is gone soon after it stops, and answers the
# announcement request of a master browser that comes up after it.
# Usage: run_daemon_browse.sh LANQUILLD LANQUILL_NET
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=harness.sh
. "$here/harness.sh"
# shellcheck source=browse_peers.sh
. "$here/browse_peers.sh"
daemon=$1
net=$2
lq_daemon_setup
start_daemon() {
    lq_start_lanquilld "$LQ_NS_CLIENT" "$RUNTIME_DIRECTORY" "$LQ_TMP/lanquilld.log" \
        "$daemon" --listen --name "$HOST" --workgroup "$LQ_WORKGROUP"
}
stop_daemon() {
    kill -TERM "$LQ_DAEMON_PID"
    wait "$LQ_DAEMON_PID" 2>/dev/null
}
start_nmbd() {
    setsid ip netns exec "$LQ_NS_PEER" nmbd --foreground --no-process-group -s "$LQ_PEER_CONF" \
        </dev/null >>"$LQ_TMP/peer/log/nmbd.out" 2>&1 &
}
# Ends the peer's nmbd processes (this run started them) by pid, and waits until they are gone.
stop_nmbd() {
    local pid pids=()
    for pid in $(ip netns pids "$LQ_NS_PEER"); do
        [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = nmbd ] && pids+=("$pid")
    done
    kill -TERM "${pids[@]}" 2>/dev/null
    for _ in $(seq 1 50); do
        for pid in "${pids[@]}"; do
            kill -0 "$pid" 2>/dev/null && break
            pid=
        done
        [ -z "$pid" ] && return 0
        sleep 0.1
    done
}
# The master's browse list names our computer, as Samba's own libsmbclient client reads it
# (smbclient -L shows no servers here; smbtree without -S stops at the first host without shares).
listed() {
    lq_client env HOME="$home" smbtree -S -s "$LQ_CLIENT_CONF" -U guest% \
        --option='client min protocol=NT1' >"$LQ_TMP/list" 2>&1
    grep -Eq "^\s+\\\\\\\\$HOST\s" "$LQ_TMP/list"
}
# Polls CONDITION every half second until the run's clock ($SECONDS) reaches DEADLINE.
until_deadline() {
    local deadline=$1
    shift
    while [ "$SECONDS" -lt "$deadline" ]; do
        "$@" && return 0
        sleep 0.5
    done
    "$@"
}
not() { ! "$@"; }

home=$(lq_client_home)
lq_make_master
lq_start_samba
if ! lq_wait_ready || ! lq_wait_master; then
    echo "FAIL - the Samba peer did not become master browser"
    exit 1
fi

# 1. At start lanquilld announces itself: the list names it within seconds, not minutes.
lq_check "lanquilld starts" start_daemon
lq_check "the master's list names $HOST within 15 s of its start" until_deadline $((SECONDS + 15)) listed
lq_check "with the comment Lanquill" grep -Eq "^\s+\\\\\\\\$HOST\s+Lanquill\s*$" "$LQ_TMP/list"
lq_client env HOME="$home" "$net" view "/domain:$LQ_WORKGROUP" >"$LQ_TMP/view" 2>&1
lq_check "lanquill-net view /domain:$LQ_WORKGROUP lists $HOST beside $LQ_PEER_NAME" \
    bash -c "grep -qx '$HOST' '$LQ_TMP/view' && grep -qx '$LQ_PEER_NAME' '$LQ_TMP/view'"

# 2. At stop its last announcement takes it out of the list at once; without it the master
# would keep it for three announcement periods.
stop_daemon
lq_check "after lanquilld stops, the list drops $HOST within 15 s" \
    until_deadline $((SECONDS + 15)) not listed

# 3. A master browser that comes up after lanquilld asks the workgroup to announce; lanquilld
# answers within 30 s. Its own schedule would next announce 3 minutes after its start, so
# appearing before that is the answer.
started=$SECONDS
lq_check "lanquilld starts again" start_daemon
lq_check "and is listed again" until_deadline $((SECONDS + 15)) listed
while [ "$SECONDS" -lt $((started + 65)) ]; do sleep 1; done # past the one-minute announcement
stop_nmbd
# smbd serves the list nmbd last wrote: the new nmbd starts from none.
find "$LQ_TMP/peer" -name browse.dat -delete
start_nmbd
sleep 2
lq_check "the restarted nmbd's list does not know $HOST yet" not listed
if lq_wait_master; then
    lq_check "after the new master's request, $HOST is listed before its next own announcement" \
        until_deadline $((started + 170)) listed
else
    lq_check "the restarted nmbd becomes master browser" false
fi
stop_daemon
echo "--- lanquilld's log (tail) ---"
tail -n 4 "$LQ_TMP/lanquilld.log"
exit $((LQ_FAILURES > 0))
