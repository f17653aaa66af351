# Fake Windows 10/11 targets for the namespace tests, on top of harness.sh's namespace pair: the
# peer namespace becomes the "Windows" computer. Source it from bash, then:
#
#   lqw_require || exit 77      # root, namespaces, smbd, python3-samba, python3-impacket
#   trap lq_teardown EXIT
#   lq_setup                    # harness.sh: namespaces, link, addresses
#   lqw_accounts                # the target's local account (LQW_USER, LQW_PASSWORD)
#   lqw_start_smbd [FAKE OPTIONS]     # target (a): smbd, mandatory signing, SMB3, tdbsam account,
#                                     # fake_tsts.py on its np sockets
#   lqw_start_impacket [FAKE OPTIONS] # target (b): impacket's SMB2 server, the pipes forwarded
#                                     # to fake_tsts.py on TCP
#   lqw_restart_fake [FAKE OPTIONS]   # target (a) only: the responder again, smbd stays
#   lqw_stop_target             # ends the target's daemons (to start it again otherwise)
#   lqw_records                 # the messages the target showed, one JSON line each
#
# Both targets answer at LQ_PEER_ADDR as NetBIOS name LQW_NAME (smbd's target through nmbd too).
# Variables: LQW_NAME LQW_USER LQW_PASSWORD LQW_RECORDS LQW_FAKE_LOG LQW_CLIENT_CONF

LQW_HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=harness.sh
. "$LQW_HERE/harness.sh"

LQW_NAME=LQWIN
LQW_USER=lqadmin
LQW_PASSWORD='Pa55-w0rd:lq'  # impacket's client takes Latin-1 passwords only
# Debian's interpreter: python3-samba and python3-impacket are its packages, whatever python3
# comes first on PATH.
LQW_PY=/usr/bin/python3
[ -x "$LQW_PY" ] || LQW_PY=python3

lqw_require() {
    lq_require_root_netns || return 1
    if ! "$LQW_PY" -c 'import samba.dcerpc.base' 2>/dev/null ||
        ! "$LQW_PY" -c 'import impacket.smbserver' 2>/dev/null; then
        echo "SKIP: needs python3-samba and python3-impacket (scripts/deps.sh --test)"
        return 1
    fi
    return 0
}

# The account lives in the target namespace only: ip netns exec lays /etc/netns/NS/passwd and
# group over the machine's, so smbd and smbpasswd there see a user that the machine lacks.
lqw_accounts() {
    local dir=/etc/netns/$LQ_NS_PEER
    cp /etc/passwd "$dir/passwd"
    cp /etc/group "$dir/group"
    echo "$LQW_USER:x:64990:64990:Lanquill test administrator:/nonexistent:/usr/sbin/nologin" >>"$dir/passwd"
    echo "$LQW_USER:x:64990:" >>"$dir/group"
    LQW_RECORDS=$LQ_TMP/shown.jsonl
    LQW_FAKE_LOG=$LQ_TMP/fake_tsts.log
    LQW_CLIENT_CONF=$LQ_TMP/client/smb.conf
    export LQW_PY LQW_NAME LQW_USER LQW_PASSWORD LQW_RECORDS LQW_FAKE_LOG LQW_CLIENT_CONF
}

lqw_records() { cat "$LQW_RECORDS" 2>/dev/null; }

# Waits for FILE to say "ready" (at most 10 s).
lqw_wait_ready() {
    for _ in $(seq 1 100); do
        grep -qs '^ready' "$1" && return 0
        sleep 0.1
    done
    lq_log "$2 did not start; see $LQW_FAKE_LOG"
    return 1
}

lqw_wait_port() {
    for _ in $(seq 1 100); do
        lq_client timeout 2 bash -c "exec 3<>/dev/tcp/$LQ_PEER_ADDR/$1" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

lqw_start_smbd() {
    local dir=$LQ_TMP/win conf=$LQ_TMP/win/smb.conf
    mkdir -p "$dir"
    lq_write_conf "$dir" "$LQ_PEER_ADDR" "$LQW_NAME" >"$conf"
    cat >>"$conf" <<CONF
    server role = standalone server
    passdb backend = tdbsam:$dir/private/passdb.tdb
    map to guest = Never
    restrict anonymous = 2
    server min protocol = SMB3_00
    server signing = mandatory
    local master = no
CONF
    # smbd hands every pipe it does not serve itself to <ncalrpc dir>/np/<name>; the folder is
    # root's and 0700, as smbd (root here) expects.
    mkdir -p "$dir/ncalrpc/np"
    chmod 700 "$dir/ncalrpc/np"
    printf '%s\n%s\n' "$LQW_PASSWORD" "$LQW_PASSWORD" |
        lq_peer smbpasswd -c "$conf" -s -a "$LQW_USER" >"$dir/log/smbpasswd.out" 2>&1 ||
        { lq_log "smbpasswd failed: $(cat "$dir/log/smbpasswd.out")"; return 1; }
    lqw_restart_fake "$@" || return 1
    setsid ip netns exec "$LQ_NS_PEER" smbd --foreground --no-process-group -s "$conf" \
        </dev/null >"$dir/log/smbd.out" 2>&1 &
    setsid ip netns exec "$LQ_NS_PEER" nmbd --foreground --no-process-group -s "$conf" \
        </dev/null >"$dir/log/nmbd.out" 2>&1 &
    lqw_wait_port 445 || { lq_log "smbd did not listen on 445; logs in $dir/log"; return 1; }
}

# smbd connects to the np socket on each pipe open, so the responder can change under it.
lqw_restart_fake() {
    if [ -n "${LQW_FAKE_PID:-}" ]; then
        kill "$LQW_FAKE_PID" 2>/dev/null
        wait "$LQW_FAKE_PID" 2>/dev/null
    fi
    rm -f "$LQ_TMP/fake.ready" "$LQ_TMP"/win/ncalrpc/np/*
    setsid ip netns exec "$LQ_NS_PEER" "$LQW_PY" "$LQW_HERE/fake_tsts.py" "$LQW_RECORDS" \
        --npdir "$LQ_TMP/win/ncalrpc/np" --ready "$LQ_TMP/fake.ready" \
        --account "$LQW_USER:$LQW_PASSWORD" "$@" </dev/null \
        2>>"$LQW_FAKE_LOG" &
    LQW_FAKE_PID=$!
    lqw_wait_ready "$LQ_TMP/fake.ready" fake_tsts.py
}

lqw_start_impacket() {
    rm -f "$LQ_TMP/fake.ready"
    setsid ip netns exec "$LQ_NS_PEER" "$LQW_PY" "$LQW_HERE/fake_tsts.py" "$LQW_RECORDS" \
        --tcp 127.0.0.1 --ready "$LQ_TMP/fake.ready" --account "$LQW_USER:$LQW_PASSWORD" "$@" \
        </dev/null 2>>"$LQW_FAKE_LOG" &
    lqw_wait_ready "$LQ_TMP/fake.ready" fake_tsts.py || return 1
    local lsm ica
    lsm=$(awk '$1 == "lsm" { print $2 }' "$LQ_TMP/fake.ready")
    ica=$(awk '$1 == "ica" { print $2 }' "$LQ_TMP/fake.ready")
    setsid ip netns exec "$LQ_NS_PEER" "$LQW_PY" "$LQW_HERE/impacket_target.py" "$LQ_PEER_ADDR" \
        "$LQW_USER" "$LQW_PASSWORD" "${lsm:-0}" "${ica:-0}" </dev/null \
        >"$LQ_TMP/impacket.out" 2>&1 &
    lqw_wait_port 445 || { lq_log "impacket did not listen on 445: $(cat "$LQ_TMP/impacket.out")"; return 1; }
}

# Ends every process of the target namespace (smbd's helpers included), waits until 445 is free.
lqw_stop_target() {
    lq_end_processes_of "$LQ_NS_PEER"
    LQW_FAKE_PID=
}
