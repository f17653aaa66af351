# shellcheck shell=bash disable=SC2153
# More of the neighbourhood for real-peer tests and timing scripts, on top of harness.sh: a
# second Samba computer of the workgroup, a master browser, and the client's libsmbclient
# configuration. Source harness.sh first, then this file. After lq_setup:
#
#   lq_make_master                  # before lq_start_samba: the first peer wins the election
#   lq_add_second_peer [PROTOCOL]   # a second address on the peer's link and a smb.conf for it;
#                                   # PROTOCOL is its smbd's minimum (NT1 unless given)
#   lq_refuse_smb1                  # before lq_start_samba: the first peer's smbd allows no SMB1
#   lq_start_second_peer            # its nmbd + smbd, in the peer namespace
#   lq_wait_second_ready            # it answers node status, TCP 139 and broadcast name queries
#   lq_wait_master                  # the browse list names the first peer as master
#   lq_client_home                  # prints a HOME whose .smb/smb.conf is the client's
#
# The second computer shares the first's namespace and link: two nmbd bound to two addresses of
# one subnet both hear its broadcasts, each answers for its own names. LQ_PEER2_HOST (3 unless
# set) is its host number on the /24. Variables set: LQ_PEER2_ADDR LQ_PEER2_NAME LQ_PEER2_CONF

LQ_PEER2_NAME=LQPEER2
LQ_PEER2_ADDR=
LQ_PEER2_CONF=
LQ_PEER2_PIDS=

lq_make_master() {
    cat >>"$LQ_PEER_CONF" <<CONF
    preferred master = yes
    os level = 65
CONF
}

lq_refuse_smb1() {
    # Later lines win in smb.conf: this replaces the harness's NT1 minimum.
    echo "    server min protocol = SMB2_02" >>"$LQ_PEER_CONF"
}

lq_add_second_peer() {
    local protocol=${1:-NT1}
    LQ_PEER2_ADDR=$LQ_NET.${LQ_PEER2_HOST:-3}
    LQ_PEER2_CONF=$LQ_TMP/peer2/smb.conf
    mkdir -p "$LQ_TMP/peer2"
    ip -n "$LQ_NS_PEER" addr add "$LQ_PEER2_ADDR/24" brd + dev "$LQ_VETH_PEER"
    lq_write_conf "$LQ_TMP/peer2" "$LQ_PEER2_ADDR" "$LQ_PEER2_NAME" >"$LQ_PEER2_CONF"
    # A plain member of the workgroup: it never stands for master, so the first peer's
    # election is not prolonged.
    cat >>"$LQ_PEER2_CONF" <<CONF
    server min protocol = $protocol
    server role = standalone server
    map to guest = Bad User
    local master = no
    preferred master = no
    domain master = no
    os level = 0
CONF
    export LQ_PEER2_ADDR LQ_PEER2_NAME LQ_PEER2_CONF
}

lq_start_second_peer() {
    setsid ip netns exec "$LQ_NS_PEER" nmbd --foreground --no-process-group -s "$LQ_PEER2_CONF" \
        </dev/null >>"$LQ_TMP/peer2/log/nmbd.out" 2>&1 &
    LQ_PEER2_PIDS=$!
    setsid ip netns exec "$LQ_NS_PEER" smbd --foreground --no-process-group -s "$LQ_PEER2_CONF" \
        </dev/null >>"$LQ_TMP/peer2/log/smbd.out" 2>&1 &
    LQ_PEER2_PIDS="$LQ_PEER2_PIDS $!"
}

# Once in CI the second peer never answered (the first did in 4 s) and its logs went with the
# test: they are shown, and its daemons start once more (Lanquill is tested here, not Samba).
lq_wait_second_ready() {
    local try
    for try in 1 2; do
        lq_poll 60 lq_answers "$LQ_PEER2_NAME" "$LQ_PEER2_ADDR" && return 0
        lq_log "the second peer did not become ready in 60 s (start $try)"
        lq_show_logs "$LQ_NS_PEER" "$LQ_TMP/peer2/log"
        # shellcheck disable=SC2086
        kill $LQ_PEER2_PIDS 2>/dev/null && lq_poll 20 eval "! kill -0 $LQ_PEER2_PIDS 2>/dev/null"
        [ "$try" = 2 ] || lq_start_second_peer
    done
    return 1
}

# Until the first peer's browse list, read with Samba's own client over SMB1, names it as
# master of the workgroup: the election takes about 21 s after nmbd starts, the workgroup's
# entry follows a second or so after the <1D> name.
lq_wait_master() {
    local started=$SECONDS
    if lq_poll 120 lq_master_listed; then
        lq_log "browse list names the master after $((SECONDS - started)) s more"
        return 0
    fi
    lq_log "the peer did not become master browser"
    lq_show_logs "$LQ_NS_PEER" "$LQ_TMP/peer/log"
    return 1
}
lq_master_listed() {
    lq_client smbclient -s "$LQ_CLIENT_CONF" -N -L "$LQ_PEER_ADDR" \
        --option='client min protocol=NT1' 2>/dev/null |
        grep -Eq "^\s+$LQ_WORKGROUP\s+$LQ_PEER_NAME\s*$"
}

# libsmbclient reads ~/.smb/smb.conf before the system's: a home of the test's own gives it the
# client configuration (this namespace's interface, state folders under the test's folder)
# instead of the machine's name cache, where other runs may have left the same workgroup at
# addresses of their own, long gone.
lq_client_home() {
    local home=$LQ_TMP/client/home
    mkdir -p "$home/.smb"
    cp "$LQ_CLIENT_CONF" "$home/.smb/smb.conf"
    echo "$home"
}
