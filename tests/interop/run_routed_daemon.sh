#!/usr/bin/env bash
# lanquilld on a routed LAN (harness_routed.sh): LQHOSTB on subnet B registers its names with the
# WINS server in the router (--wins), refreshes them, answers and receives from the client on
# subnet A (the routed LAN counts as local), and releases its names at stop; LQHOSTC beside it
# has no WINS server (--wins none) and is neither found nor reached from subnet A. What the WINS
# server holds is read from nmbd's wins.dat, which nmbd writes when it stops, and from its
# answers and its log.
# Usage: run_routed_daemon.sh LANQUILLD LANQUILL_NET
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=harness_routed.sh
. "$here/harness_routed.sh"

daemon=$1
net=$2
lq_routed_begin python3
# A short time to live, so that a refresh (at half of it) comes within the scenario. The
# router's own names do not outlive it, which a workgroup message would notice: this scenario,
# the last on a shared LAN, sets it, and nmbd reads its configuration again.
printf '    min wins ttl = 20\n    max wins ttl = 20\n' >>"$LQ_TMP/router/smb.conf"
kill -HUP "$LQ_ROUTER_NMBD_PID"

HOST_B_ADDR=$LQ_NET_B.3
HOST_C_ADDR=$LQ_NET_B.4
NS_B=lqhb$LQ_ID
NS_C=lqhc$LQ_ID
lq_routed_attach "$NS_B" B "$HOST_B_ADDR"
lq_routed_attach "$NS_C" B "$HOST_C_ADDR"
mkdir -p "$LQ_TMP"/{b,c}/{run,state}
start_daemon() { # NS DIR NAME WINS [OPTION...]
    local ns=$1 dir=$2 name=$3 wins=$4
    shift 4
    lq_start_lanquilld "$ns" "$LQ_TMP/$dir/run" "$LQ_TMP/$dir.log" env \
        RUNTIME_DIRECTORY="$LQ_TMP/$dir/run" STATE_DIRECTORY="$LQ_TMP/$dir/state" \
        "$daemon" --listen --name "$name" --workgroup "$LQ_WORKGROUP" --wins "$wins" "$@"
}
started=$(date +%s)
lq_check "LQHOSTB starts with --wins (the router's address on its subnet)" \
    start_daemon "$NS_B" b LQHOSTB "$LQ_WINS_B"
daemon_b=$LQ_DAEMON_PID
lq_check "LQHOSTC starts with --wins none" start_daemon "$NS_C" c LQHOSTC none
daemon_c=$LQ_DAEMON_PID

# Waits up to SECONDS for CMD to succeed.
within() {
    local tries=$(($1 * 5)) i
    shift
    for i in $(seq 1 $tries); do
        "$@" && return 0
        sleep 0.2
    done
    return 1
}
eventually() { within 5 "$@"; }
fails() { ! "$@" >/dev/null 2>&1; }
wins_lacks() { ! lq_wins_knows "$1"; }
lq_check "the WINS server knows LQHOSTB<00>" eventually lq_wins_knows LQHOSTB
lq_check "  ... and LQHOSTB<03>" eventually lq_wins_knows "LQHOSTB#03"
at_address() {
    lq_client nmblookup -s "$LQ_CLIENT_CONF" -U "$LQ_WINS_A" --recursion LQHOSTB |
        grep -q "^$HOST_B_ADDR LQHOSTB<00>"
}
lq_check "  ... at its address" within 10 at_address
lq_check "the WINS server does not know LQHOSTC" wins_lacks LQHOSTC

# One message from subnet A: sent with lanquill-net ARGS..., read by a session (in NS) of DIR's
# daemon.
message_arrives() {
    local ns=$1 dir=$2 text=$3
    shift 3
    lq_session "$ns" "$LQ_TMP/$dir/run/session.sock" --count 1 --seconds 6 >"$LQ_TMP/out" &
    local reader=$!
    sleep 0.5
    lq_client "$net" "$@" "$text" >"$LQ_TMP/send.out" 2>&1
    wait $reader
    grep -q "\"text\": \"$text\"" "$LQ_TMP/out"
}
lq_check "a message by name from subnet A reaches LQHOSTB" \
    message_arrives "$NS_B" b "across to lanquilld" --wins "$LQ_WINS_A" send LQHOSTB
status_lists() { lq_client "$net" --wins "$LQ_WINS_A" status "$1" | grep -Eq "^ *$1 +<00> +UNIQUE"; }
lq_check "LQHOSTB answers node status to subnet A (a routed private range is local)" \
    status_lists LQHOSTB
lq_check "without a WINS server LQHOSTC is not found from subnet A" \
    fails lq_client "$net" --wins "$LQ_WINS_A" lookup LQHOSTC
lq_check "  ... and refuses a message from subnet A even by address" \
    fails lq_client "$net" send "$HOST_C_ADDR" "not across"
kill -TERM "$daemon_c"
wait "$daemon_c" 2>/dev/null
lq_check "LQHOSTC starts again with --allow-from subnet A" \
    start_daemon "$NS_C" c LQHOSTC none --allow-from "$LQ_NET_A.0/24"
daemon_c=$LQ_DAEMON_PID
lq_check "  ... and takes a message from subnet A by address" \
    message_arrives "$NS_C" c "allowed from A" send "$HOST_C_ADDR"

# Another lanquilld, on subnet A, claims LQHOSTB: nmbd answers WAIT FOR ACKNOWLEDGEMENT,
# challenges LQHOSTB with a name query, which it answers from subnet B as the holder, and refuses
# the claim; the claimant says so and LQHOSTB keeps its name.
NS_D=lqhd$LQ_ID
lq_routed_attach "$NS_D" A "$LQ_NET_A.5"
mkdir -p "$LQ_TMP"/d/{run,state}
lq_check "a lanquilld on subnet A starts as LQHOSTB too" start_daemon "$NS_D" d LQHOSTB "$LQ_WINS_A"
daemon_d=$LQ_DAEMON_PID
refused() { grep -qs "WINS server .* refuses LQHOSTB" "$LQ_TMP/d.log"; }
lq_check "the WINS server refuses it LQHOSTB after challenging the holder" within 15 refused
challenged() {
    grep -qs "Original client at IP $HOST_B_ADDR still wants the name LQHOSTB<00>" \
        "$LQ_TMP"/router/log/*
}
lq_check "  ... the holder answered the challenge (nmbd's log)" challenged
lq_check "  ... and LQHOSTB keeps its name" within 10 at_address
kill -TERM "$daemon_d"
wait "$daemon_d" 2>/dev/null

refreshed() { grep -qs "Name refresh for name LQHOSTB<00>" "$LQ_TMP"/router/log/*; }
lq_check "LQHOSTB refreshes its name before the time to live (20 s) runs out" within 20 refreshed
# nmbd drops expired names in a sweep every 20 s: 45 s after the start an unrefreshed name
# would be gone.
sleep $((started + 45 - $(date +%s) > 0 ? started + 45 - $(date +%s) : 0))
lq_check "  ... and the server still knows it 45 s after the start" lq_wins_knows LQHOSTB

# nmbd writes wins.dat when it stops, and reads it again when it starts.
restart_router_nmbd() {
    local pid=$LQ_ROUTER_NMBD_PID
    kill -TERM "$pid"
    for _ in $(seq 1 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    cp "$LQ_WINS_DAT" "$LQ_TMP/wins.dat.$1" || return 1
    lq_routed_samba "$LQ_NS_ROUTER" "$LQ_TMP/router"
    LQ_ROUTER_NMBD_PID=$LQ_NMBD_PID
    within 10 lq_wins_knows LQROUTER # its own names, which it keeps
}
# A line of wins.dat ("NAME#1c" death-time address... flagsR) for NAME#SUFFIX at ADDRESS, whose
# death time is at most MAX seconds from now (and at least MIN).
in_wins_dat() {
    local file=$LQ_TMP/wins.dat.$1 entry=$2 address=$3 min=$4 max=$5 now death
    now=$(date +%s)
    death=$(sed -n "s/^\"$entry\" \([0-9]*\) $address .*R\$/\1/p" "$file" | head -n 1)
    [ -n "$death" ] && [ $((death - now)) -ge "$min" ] && [ $((death - now)) -le "$max" ]
}
lq_check "nmbd stops and starts again, its database written" restart_router_nmbd running
lq_check "wins.dat holds LQHOSTB#00 at its address, alive for its time to live" \
    in_wins_dat running 'LQHOSTB#00' "$HOST_B_ADDR" -10 20
lq_check "  ... and LQHOSTB#03" in_wins_dat running 'LQHOSTB#03' "$HOST_B_ADDR" -10 20
lq_check "wins.dat holds no LQHOSTC" fails grep -q LQHOSTC "$LQ_TMP/wins.dat.running"

kill -TERM "$daemon_b" "$daemon_c"
wait "$daemon_b" "$daemon_c" 2>/dev/null
lq_check "at stop LQHOSTB releases its names: the server forgets them" \
    eventually wins_lacks LQHOSTB
lq_check "  ... both of them" wins_lacks "LQHOSTB#03"
# wins.dat does not tell a released name from an active one (nmbd keeps the record, flags as
# they were, until its extinction interval): nmbd's own log says what it did with the release.
released() { grep -qs "Unique name release for name $1 IP $HOST_B_ADDR" "$LQ_TMP"/router/log/*; }
both_released() { released 'LQHOSTB<00>' && released 'LQHOSTB<03>'; }
lq_check "nmbd took the release of LQHOSTB<00> and LQHOSTB<03>" eventually both_released

echo "--- LQHOSTB's log (tail) ---"
tail -n 5 "$LQ_TMP/b.log"
if [ "$LQ_FAILURES" -ne 0 ]; then
    echo "$LQ_FAILURES check(s) failed; LQ_KEEP_TMP=1 keeps the logs"
    exit 1
fi
echo "all routed lanquilld checks passed"
