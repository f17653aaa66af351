#!/usr/bin/env bash
# The add-group dialog on a routed LAN (harness_routed.sh): from subnet A it lists peer B of
# subnet B, as the domain master browser in the router merges both subnets' lists, and OK
# writes peer B with the address the WINS server gives. TEST_PROGRAM runs in the client
# namespace on Qt's offscreen platform, with a home whose ~/.smb/smb.conf names the WINS server
# (libsmbclient's browse and the lookups read that file alike).
# Usage: run_routed_addgroup.sh TEST_PROGRAM
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=harness_routed.sh
. "$here/harness_routed.sh"

test_program=$1
started=$SECONDS
lq_routed_begin
lq_routed_wait_browse_list "$LQ_PEER_B_NAME" || exit 1
home=$LQ_TMP/client/home
mkdir -p "$home/.smb"
cp "$LQ_CLIENT_WINS_CONF" "$home/.smb/smb.conf"
lq_client env HOME="$home" QT_QPA_PLATFORM=offscreen LQ_PEER2_NAME="$LQ_PEER_B_NAME" \
    LQ_PEER2_ADDR="$LQ_PEER_B_ADDR" LQ_ALSO_LISTED=LQROUTER "$test_program"
status=$?
lq_log "done after $((SECONDS - started)) s"
exit $status
