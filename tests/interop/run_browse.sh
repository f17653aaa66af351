#!/usr/bin/env bash
# The network neighbourhood against real Samba peers (harness.sh makes the namespaces): first a
# peer that is local master browser and speaks SMB1, then one whose smbd allows no SMB1. Runs
# TEST_PROGRAM inside the client namespace for each. Exit 77 (skipped) where namespaces cannot
# be made. Usage: run_browse.sh TEST_PROGRAM LANQUILL_NET
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=harness.sh
. "$here/harness.sh"

test_program=$1
net_program=$2
lq_require_root_netns || exit 77
trap lq_teardown EXIT
trap 'exit 130' INT TERM

# Waits until the peer's browse list, read with Samba's own client over SMB1, names the peer as
# master of the workgroup. The election takes about 21 s after nmbd starts; the workgroup's
# entry follows a second or so after the <1D> name.
wait_master() {
    local i
    for i in $(seq 1 90); do
        if lq_client smbclient -s "$LQ_CLIENT_CONF" -N -L "$LQ_PEER_ADDR" \
            --option='client min protocol=NT1' 2>/dev/null |
            grep -Eq "^\s+$LQ_WORKGROUP\s+$LQ_PEER_NAME\s*$"; then
            lq_log "browse list names the master after $((i / 2)) s more"
            return 0
        fi
        sleep 0.5
    done
    lq_log "the peer did not become master browser; logs in $LQ_TMP/peer/log"
    return 1
}

# libsmbclient reads ~/.smb/smb.conf before the system's: a home of the test's own gives it the
# client configuration (this namespace's interface, state folders under the test's temporary
# folder). Without it libsmbclient shares the machine's name cache, where other runs have left
# the same workgroup name at addresses of their own, long gone.
run_case() {
    local home=$LQ_TMP/client/home
    mkdir -p "$home/.smb"
    cp "$LQ_CLIENT_CONF" "$home/.smb/smb.conf"
    lq_client env HOME="$home" LQ_NET_BIN="$net_program" LQ_BROWSE_MODE="$1" \
        LQ_WORKGROUP="$LQ_WORKGROUP" LQ_PEER_NAME="$LQ_PEER_NAME" "$test_program"
}

status=0

lq_log "case 1: master browser with SMB1"
lq_setup
cat >>"$LQ_PEER_CONF" <<CONF
    preferred master = yes
    os level = 65
CONF
lq_start_samba
if lq_wait_ready && wait_master; then
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
