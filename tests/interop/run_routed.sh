#!/usr/bin/env bash
# lanquill-net on a routed LAN (harness_routed.sh): the client on subnet A reaches the Samba peer
# on subnet B by name only through the WINS server in the router, given with --wins or by
# `wins server` in the smb.conf it reads; without a WINS server nothing crosses the router.
# Usage: run_routed.sh LANQUILL_NET
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=harness_routed.sh
. "$here/harness_routed.sh"

net=$1
lq_routed_begin

# lanquill-net in the client namespace, reading the smb.conf CONF (plain: no WINS server).
net_with() {
    local conf=$1
    shift
    lq_client env SMB_CONF_PATH="$conf" "$net" "$@"
}
plain() { net_with "$LQ_CLIENT_CONF" "$@"; }
configured() { net_with "$LQ_CLIENT_WINS_CONF" "$@"; }

# Messages peer NAME has received, each file's text on one line.
received() { cat "$LQ_MSG_DIR/$1".*.msg 2>/dev/null; }
# The message files of every peer, after smbd's message command had time to write them.
settle() { sleep 1; }

prints() { [ "$1" = "$2" ] || { echo "    expected \"$2\", got \"$1\"" >&2; return 1; }; }
fails() { ! "$@" >/dev/null 2>&1; }

# --- Without a WINS server: broadcasts stop at the router ---
lq_check "the router forwards: peer B's port 139 is reachable from subnet A" \
    lq_client timeout 2 bash -c "exec 3<>/dev/tcp/$LQ_PEER_B_ADDR/139"
lq_check "broadcast only: lookup of the peer on the other subnet finds nothing" \
    fails plain lookup "$LQ_PEER_B_NAME"
lq_check "broadcast only: the peer on the own subnet is found" \
    prints "$(plain lookup "$LQ_PEER_NAME")" "$LQ_PEER_ADDR"
lq_check "broadcast only: status by name of the other subnet's peer fails" \
    fails plain status "$LQ_PEER_B_NAME"
lq_check "broadcast only: send by name to the other subnet is refused as unknown" \
    fails plain send "$LQ_PEER_B_NAME" "not across"
lq_check "--wins none overrides the configured server: nothing crosses" \
    fails configured --wins none lookup "$LQ_PEER_B_NAME"
settle
lq_check "nothing reached peer B without a WINS server" prints "$(received "$LQ_PEER_B_NAME")" ""

# --- With the WINS server: by name across the router ---
lq_check "--wins before the command word: lookup crosses to subnet B" \
    prints "$(plain --wins "$LQ_WINS_A" lookup "$LQ_PEER_B_NAME")" "$LQ_PEER_B_ADDR"
lq_check "--wins after the command word: lookup crosses to subnet B" \
    prints "$(plain lookup --wins="$LQ_WINS_A" "$LQ_PEER_B_NAME")" "$LQ_PEER_B_ADDR"
lq_check "wins server of smb.conf: lookup of both peers and a lower-case name" \
    prints "$(configured lookup "$LQ_PEER_B_NAME" lqpeera)" \
    "$LQ_PEER_B_NAME $LQ_PEER_B_ADDR
lqpeera $LQ_PEER_ADDR"
lq_check "with the WINS server, a name nobody has is still not found" \
    fails configured lookup LQNOBODY
status_lists_itself() { configured status "$1" | grep -Eq "^ *$1 +<00> +UNIQUE"; }
lq_check "status by name crosses: peer B's name table" status_lists_itself "$LQ_PEER_B_NAME"
lq_check "send by name crosses the router" \
    plain --wins "$LQ_WINS_A" send "$LQ_PEER_B_NAME" "across the router"
settle
lq_check "peer B received the text once" prints "$(received "$LQ_PEER_B_NAME")" "across the router"
lq_check "peer A received nothing" prints "$(received "$LQ_PEER_NAME")" ""

# --- Bad --wins values are usage errors (exit 2), refused before anything is sent ---
usage_error() {
    plain "$@" >/dev/null 2>&1
    [ $? -eq 2 ]
}
lq_check "--wins without its address is a usage error" usage_error lookup --wins
lq_check "--wins with a DNS name is a usage error" usage_error --wins wins.example lookup X
lq_check "--wins with a broadcast address is a usage error" usage_error --wins 255.255.255.255 lookup X
lq_check "--wins given twice is a usage error" usage_error --wins "$LQ_WINS_A" lookup --wins none X

if [ "$LQ_FAILURES" -ne 0 ]; then
    echo "$LQ_FAILURES check(s) failed; logs under $LQ_TMP (LQ_KEEP_TMP=1 keeps them)"
    exit 1
fi
echo "all routed checks passed"
