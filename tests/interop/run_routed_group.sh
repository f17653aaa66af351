#!/usr/bin/env bash
# A workgroup message on a routed LAN (harness_routed.sh): sent from subnet A, it reaches the
# lanquilld on subnet A by the broadcast and the Samba peer on subnet B by a directed message
# after a WINS lookup, each once; the Samba peer on subnet A (which takes no broadcasts) gets no
# directed copy, being on a broadcast network. Without a WINS server only the broadcast goes out.
# Usage: run_routed_group.sh LANQUILLD LANQUILL_NET
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=harness_routed.sh
. "$here/harness_routed.sh"

daemon=$1
net=$2
lq_routed_begin python3

NS_A=lqga$LQ_ID
lq_routed_attach "$NS_A" A "$LQ_NET_A.3"
mkdir -p "$LQ_TMP"/a/{run,state}
lq_check "LQHOSTA starts on subnet A" \
    lq_start_lanquilld "$NS_A" "$LQ_TMP/a/run" "$LQ_TMP/a.log" env \
    RUNTIME_DIRECTORY="$LQ_TMP/a/run" STATE_DIRECTORY="$LQ_TMP/a/state" \
    "$daemon" --listen --name LQHOSTA --workgroup "$LQ_WORKGROUP" --wins "$LQ_WINS_A"

received() { cat "$LQ_MSG_DIR/$1".*.msg 2>/dev/null; }
# How many messages NAME's smbd took with exactly TEXT.
copies() { grep -lxF "$2" "$LQ_MSG_DIR/$1".*.msg 2>/dev/null | wc -l; }
prints() { [ "$1" = "$2" ] || { echo "    expected \"$2\", got \"$1\"" >&2; return 1; }; }

# A home whose ~/.smb/smb.conf is CONF: libsmbclient (the browse list) reads it as lanquill-net's
# lookups do, and keeps its name cache under the test's folder, away from the machine's, where
# earlier runs left this workgroup at addresses long gone.
home_with() {
    local home=$LQ_TMP/home-$(basename "$1" .conf)
    mkdir -p "$home/.smb"
    cp "$1" "$home/.smb/smb.conf"
    echo "$home"
}

# Sends TEXT to the workgroup with lanquill-net ARGS... (smb.conf CONF) while a session of
# LQHOSTA listens; leaves the lines with TEXT that LQHOSTA got in $LQ_TMP/got, lanquill-net's
# output in $LQ_TMP/send.out and .err, its exit status in $sent.
group_send() {
    local conf=$1 text=$2
    shift 2
    lq_session "$NS_A" "$LQ_TMP/a/run/session.sock" --count 3 --seconds 6 >"$LQ_TMP/session" &
    local reader=$!
    sleep 0.5
    lq_client env HOME="$(home_with "$conf")" "$net" send "/domain:$LQ_WORKGROUP" "$@" "$text" \
        >"$LQ_TMP/send.out" 2>"$LQ_TMP/send.err"
    sent=$?
    wait $reader
    sleep 1 # smbd's message command writes its file
    grep -F "\"text\": \"$text\"" "$LQ_TMP/session" >"$LQ_TMP/got"
}
got_once() { prints "$(wc -l <"$LQ_TMP/got")" 1; }

# --- Without a WINS server: the broadcast alone, as always ---
group_send "$LQ_CLIENT_CONF" "broadcast only" --member "$LQ_PEER_B_NAME"
lq_check "no WINS server: lanquill-net reports success" prints "$sent" 0
lq_check "  ... LQHOSTA on subnet A got the broadcast once" got_once
lq_check "  ... peer B on subnet B got nothing" prints "$(received "$LQ_PEER_B_NAME")" ""

# --- With the WINS server of smb.conf: peer B by a directed message, found in the domain
# master browser's list; the router itself is on subnet A too, so the broadcast reached it ---
lq_routed_wait_browse_list "$LQ_PEER_B_NAME" || exit 1
group_send "$LQ_CLIENT_WINS_CONF" "from the browse list"
lq_check "browse list: lanquill-net reports success" prints "$sent" 0
lq_check "  ... LQHOSTA on subnet A got it once" got_once
lq_check "  ... peer B on subnet B got it exactly once" \
    prints "$(copies "$LQ_PEER_B_NAME" "from the browse list")" 1
lq_check "  ... peer A on subnet A got no directed copy" prints "$(received "$LQ_PEER_NAME")" ""
lq_check "  ... the output says one computer on another network was reached" \
    grep -q "delivered to 1 computer(s) of workgroup $LQ_WORKGROUP" "$LQ_TMP/send.out"
cat "$LQ_TMP/send.out" "$LQ_TMP/send.err"

# --- The book's members too: each computer still once ---
# Peer B is named twice (any case), peer A is on the broadcast network, LQNOBODY is not known.
group_send "$LQ_CLIENT_WINS_CONF" "across subnets" --member "$LQ_PEER_B_NAME" \
    --member=lqpeerb --member "$LQ_PEER_NAME" --member LQNOBODY
lq_check "with a WINS server: lanquill-net reports success" prints "$sent" 0
lq_check "  ... LQHOSTA on subnet A got it once (the broadcast, no directed copy)" got_once
lq_check "  ... peer B on subnet B got it exactly once" \
    prints "$(copies "$LQ_PEER_B_NAME" "across subnets")" 1
lq_check "  ... peer A on subnet A got no directed copy" prints "$(received "$LQ_PEER_NAME")" ""
lq_check "  ... the output says one computer on another network was reached" \
    grep -q "delivered to 1 computer(s) of workgroup $LQ_WORKGROUP" "$LQ_TMP/send.out"
lq_check "  ... stderr names the member not reached (LQNOBODY), and why" \
    grep -q "^lanquill-net: LQNOBODY: the recipient is not known on the network" "$LQ_TMP/send.err"
lq_check "  ... and counts it" \
    grep -q ": 1 member(s) of workgroup $LQ_WORKGROUP on other networks were not reached" \
    "$LQ_TMP/send.err"
cat "$LQ_TMP/send.err" # what was not reached, and why, for a failure's log

# --- Bad members are usage errors, refused before anything is sent ---
usage_error() {
    lq_client env SMB_CONF_PATH="$LQ_CLIENT_WINS_CONF" "$net" send "/domain:$LQ_WORKGROUP" "$@" \
        >/dev/null 2>&1
    [ $? -eq 2 ]
}
lq_check "--member without a text is a usage error" usage_error --member "$LQ_PEER_B_NAME"
lq_check "--member with a name that cannot be one is a usage error" \
    usage_error --member 'A*B' "text"
sleep 1
lq_check "  ... and peer B got nothing more" prints "$(ls "$LQ_MSG_DIR/$LQ_PEER_B_NAME".*.msg | wc -l)" 2

if [ "$LQ_FAILURES" -ne 0 ]; then
    echo "$LQ_FAILURES check(s) failed; logs under $LQ_TMP (LQ_KEEP_TMP=1 keeps them)"
    exit 1
fi
echo "all routed group checks passed"
