#!/usr/bin/env bash
# The network neighbourhood against real Samba peers (harness.sh makes the namespaces): first a
# peer that is local master browser and speaks SMB1, then one whose smbd allows no SMB1. Runs
# TEST_PROGRAM inside the client namespace for each. Exit 77 (skipped) where namespaces cannot
# be made. Usage: run_browse.sh TEST_PROGRAM LANQUILL_NET
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=harness.sh
. "$here/harness.sh"
# shellcheck source=browse_peers.sh
. "$here/browse_peers.sh"

test_program=$1
net_program=$2
lq_require_root_netns || exit 77
trap lq_teardown EXIT
trap 'exit 130' INT TERM

# The client's own libsmbclient home keeps it off the machine's name cache (browse_peers.sh).
run_case() {
    local home
    home=$(lq_client_home)
    lq_client env HOME="$home" LQ_NET_BIN="$net_program" LQ_BROWSE_MODE="$1" \
        LQ_WORKGROUP="$LQ_WORKGROUP" LQ_PEER_NAME="$LQ_PEER_NAME" "$test_program"
}

status=0

lq_log "case 1: master browser with SMB1"
lq_setup
lq_make_master
lq_start_samba
if lq_wait_ready && lq_wait_master; then
    run_case master || status=1
else
    status=1
fi
lq_teardown

lq_log "case 2: no SMB1 on the peer, no browse list"
lq_setup
# Later lines win in smb.conf: this replaces the harness's NT1 minimum.
cat >>"$LQ_PEER_CONF" <<CONF
    server min protocol = SMB2_02
CONF
lq_start_samba
if lq_wait_ready; then
    run_case smb2 || status=1
else
    status=1
fi
exit $status
