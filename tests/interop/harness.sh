# Real-peer test harness: a client and a Samba peer in two private network namespaces joined by
# a veth pair, nothing else attached. Source it from bash, then:
#
#   lq_require_root_netns || exit 77   # prints why and fails when namespaces cannot be made
#   trap lq_teardown EXIT
#   lq_setup                            # namespaces, link, addresses, empty resolv.conf
#   lq_start_samba                      # nmbd + smbd in the peer namespace
#   lq_wait_ready                       # node status, TCP 139 and broadcast name queries work
#   lq_client CMD...                    # run CMD in the client namespace
#   lq_check DESCRIPTION CMD...         # "ok"/"FAIL" line; failures counted in LQ_FAILURES
#   lq_start_lanquilld NS DIR LOG CMD...  # lanquilld in NS, waits for DIR/session.sock
#   lq_session NS SOCKET ARGS...        # session_client.py in NS
#
# Everything is named after this shell's pid, so runs side by side do not meet. Variables set:
#   LQ_NS_CLIENT LQ_NS_PEER LQ_CLIENT_ADDR LQ_PEER_ADDR LQ_BROADCAST LQ_DEAD_ADDR LQ_PEER_NAME
#   LQ_WORKGROUP LQ_PEER_MAC LQ_TMP LQ_MSG_DIR LQ_CLIENT_CONF LQ_PEER_CONF

LQ_ID=$$
LQ_NS_CLIENT=lqc$LQ_ID
LQ_NS_PEER=lqp$LQ_ID
LQ_VETH_CLIENT=lqvc$LQ_ID
LQ_VETH_PEER=lqvp$LQ_ID
LQ_NET=10.231.$((LQ_ID % 250 + 1))
LQ_CLIENT_ADDR=$LQ_NET.1
LQ_PEER_ADDR=$LQ_NET.2
LQ_DEAD_ADDR=$LQ_NET.77 # on the link, but nobody has it
LQ_BROADCAST=$LQ_NET.255
LQ_PEER_NAME=LQPEER
LQ_WORKGROUP=LQWG
LQ_TMP=
LQ_MSG_DIR=

LQ_HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
LQ_FAILURES=0

lq_log() { printf 'harness: %s\n' "$*" >&2; }

# What a peer that did not come up left behind, for the test's output: the folder goes with the
# test, and in CI the output is all there is. Prints the processes of namespace NS, its addresses
# and the end of each log under DIR.
lq_show_logs() {
    local ns=$1 dir=$2 pid
    lq_log "processes in $ns:"
    for pid in $(ip netns pids "$ns" 2>/dev/null); do
        printf '  %s %s\n' "$pid" "$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)" >&2
    done
    ip -n "$ns" -brief addr >&2 2>/dev/null
    find "$dir" -maxdepth 1 -type f -size +0 | sort | while read -r file; do
        lq_log "end of $file:"
        tail -n 25 "$file" | sed 's/^/  /' >&2
    done
}

lq_check() {
    if "${@:2}"; then
        echo "ok   - $1"
    else
        echo "FAIL - $1"
        LQ_FAILURES=$((LQ_FAILURES + 1))
    fi
}

# Runs CMD every tenth of a second until it succeeds (0) or SECONDS have passed (its last
# status). A deadline is a bound on a wait for an event, never the event: give it a wide margin.
lq_poll() {
    local seconds=$1 deadline
    shift
    deadline=$(($(date +%s%N) + seconds * 1000000000))
    until "$@"; do
        [ "$(date +%s%N)" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

lq_wait_socket() { lq_poll 20 test -S "$1"; }

# ip netns exec execs CMD: LQ_DAEMON_PID is lanquilld itself (for signals).
lq_start_lanquilld() {
    local ns=$1 dir=$2 log=$3
    shift 3
    ip netns exec "$ns" "$@" 2>>"$log" &
    LQ_DAEMON_PID=$!
    lq_wait_socket "$dir/session.sock"
}

# A desktop session (session_client.py) in namespace NS.
lq_session() {
    local ns=$1 socket=$2
    shift 2
    ip netns exec "$ns" python3 "$LQ_HERE/session_client.py" "$socket" "$@"
}

lq_require_root_netns() {
    if [ "$(id -u)" -ne 0 ]; then
        echo "SKIP: real-peer tests need root (network namespaces)"
        return 1
    fi
    if ! command -v ip >/dev/null || ! command -v smbd >/dev/null || ! command -v nmbd >/dev/null ||
        ! command -v nmblookup >/dev/null; then
        echo "SKIP: needs iproute2 and Samba (smbd, nmbd, nmblookup): scripts/deps.sh --test"
        return 1
    fi
    local probe=lqprobe$LQ_ID
    if ! ip netns add "$probe" 2>/dev/null; then
        echo "SKIP: 'ip netns add' is not possible here"
        return 1
    fi
    ip netns del "$probe"
    return 0
}

lq_client() { ip netns exec "$LQ_NS_CLIENT" "$@"; }
lq_peer() { ip netns exec "$LQ_NS_PEER" "$@"; }

lq_setup() {
    LQ_TMP=$(mktemp -d /tmp/lanquill-interop.XXXXXX)
    chmod 755 "$LQ_TMP" # the message command runs as nobody
    LQ_MSG_DIR=$LQ_TMP/messages
    mkdir -p "$LQ_MSG_DIR" "$LQ_TMP/peer" "$LQ_TMP/client"
    chmod 777 "$LQ_MSG_DIR"

    ip netns add "$LQ_NS_CLIENT"
    ip netns add "$LQ_NS_PEER"
    # Names resolve only through NetBIOS inside: no DNS server leaves the namespaces.
    for ns in "$LQ_NS_CLIENT" "$LQ_NS_PEER"; do
        mkdir -p "/etc/netns/$ns"
        : >"/etc/netns/$ns/resolv.conf"
    done
    ip link add "$LQ_VETH_CLIENT" type veth peer name "$LQ_VETH_PEER"
    ip link set "$LQ_VETH_CLIENT" netns "$LQ_NS_CLIENT"
    ip link set "$LQ_VETH_PEER" netns "$LQ_NS_PEER"
    ip -n "$LQ_NS_CLIENT" addr add "$LQ_CLIENT_ADDR/24" brd + dev "$LQ_VETH_CLIENT"
    ip -n "$LQ_NS_PEER" addr add "$LQ_PEER_ADDR/24" brd + dev "$LQ_VETH_PEER"
    for ns in "$LQ_NS_CLIENT" "$LQ_NS_PEER"; do
        ip -n "$ns" link set lo up
    done
    ip -n "$LQ_NS_CLIENT" link set "$LQ_VETH_CLIENT" up
    ip -n "$LQ_NS_PEER" link set "$LQ_VETH_PEER" up
    LQ_PEER_MAC=$(ip -n "$LQ_NS_PEER" -o link show "$LQ_VETH_PEER" |
        sed -n 's/.*link\/ether \([0-9a-f:]*\).*/\1/p' | tr 'a-f:' 'A-F-')

    LQ_PEER_CONF=$LQ_TMP/peer/smb.conf
    LQ_CLIENT_CONF=$LQ_TMP/client/smb.conf
    lq_write_conf "$LQ_TMP/peer" "$LQ_PEER_ADDR" "$LQ_PEER_NAME" >"$LQ_PEER_CONF"
    cat >>"$LQ_PEER_CONF" <<CONF
    server min protocol = NT1
    server role = standalone server
    map to guest = Bad User
    local master = yes
    # Each message becomes one file: its sender in .from, its text in .msg (written last).
    message command = /bin/sh -c 'f=$LQ_MSG_DIR/m.\$\$; echo "%f" > \$f.from; cat %s > \$f.tmp; mv \$f.tmp \$f.msg; rm -f %s' &
CONF
    lq_write_conf "$LQ_TMP/client" "$LQ_CLIENT_ADDR" LQCLIENT >"$LQ_CLIENT_CONF"
    export LQ_NS_CLIENT LQ_NS_PEER LQ_CLIENT_ADDR LQ_PEER_ADDR LQ_BROADCAST LQ_DEAD_ADDR \
        LQ_PEER_NAME LQ_WORKGROUP LQ_PEER_MAC LQ_TMP LQ_MSG_DIR LQ_CLIENT_CONF LQ_PEER_CONF
}

# smb.conf [global] with every state folder under DIR, bound to ADDR only.
lq_write_conf() {
    local dir=$1 addr=$2 name=$3
    mkdir -p "$dir"/{lock,state,cache,private,pid,ncalrpc,log}
    cat <<CONF
[global]
    netbios name = $name
    workgroup = $LQ_WORKGROUP
    interfaces = $addr/24
    bind interfaces only = yes
    dos charset = CP936
    unix charset = UTF-8
    lock directory = $dir/lock
    state directory = $dir/state
    cache directory = $dir/cache
    private dir = $dir/private
    pid directory = $dir/pid
    ncalrpc dir = $dir/ncalrpc
    log file = $dir/log/%m.log
    max log size = 0
    load printers = no
    printing = bsd
    printcap name = /dev/null
    disable spoolss = yes
    usershare path =
CONF
}

lq_start_samba() {
    # smbd signals its whole process group when it stops: each daemon gets a session of its own.
    setsid ip netns exec "$LQ_NS_PEER" nmbd --foreground --no-process-group -s "$LQ_PEER_CONF" \
        </dev/null >"$LQ_TMP/peer/log/nmbd.out" 2>&1 &
    setsid ip netns exec "$LQ_NS_PEER" smbd --foreground --no-process-group -s "$LQ_PEER_CONF" \
        </dev/null >"$LQ_TMP/peer/log/smbd.out" 2>&1 &
}

# Waits until the peer answers node status, TCP 139 and a broadcast name query (nmbd answers
# broadcasts only after registering its names, some seconds after start).
lq_wait_ready() {
    local started=$SECONDS
    if lq_poll 120 lq_answers "$LQ_PEER_NAME" "$LQ_PEER_ADDR"; then
        lq_log "peer ready after $((SECONDS - started)) s"
        return 0
    fi
    lq_log "peer did not become ready"
    lq_show_logs "$LQ_NS_PEER" "$LQ_TMP/peer/log"
    return 1
}

# The computer NAME at ADDRESS takes TCP 139 and answers a broadcast name query from the client.
lq_answers() {
    lq_client timeout 2 bash -c "exec 3<>/dev/tcp/$2/139" 2>/dev/null &&
        lq_client nmblookup -s "$LQ_CLIENT_CONF" -B "$LQ_BROADCAST" "$1" 2>/dev/null | grep -q "^$2 "
}

# Ends every process of both namespaces by pid, then removes them and the temporary folder.
lq_teardown() { lq_teardown_namespaces "$LQ_NS_PEER" "$LQ_NS_CLIENT"; }

# Ends every process of namespace NS by pid: TERM twice, then KILL.
lq_end_processes_of() {
    local pids pass
    for pass in TERM TERM KILL; do
        pids=$(ip netns pids "$1" 2>/dev/null)
        [ -z "$pids" ] && break
        # shellcheck disable=SC2086
        kill -"$pass" $pids 2>/dev/null
        sleep 0.3
    done
}

# The same for the namespaces given.
lq_teardown_namespaces() {
    local ns
    for ns in "$@"; do
        ip netns list 2>/dev/null | grep -qw "$ns" || continue
        lq_end_processes_of "$ns"
        ip netns del "$ns" 2>/dev/null
        rm -rf "/etc/netns/$ns"
    done
    if [ -n "$LQ_TMP" ] && [ -d "$LQ_TMP" ]; then
        if [ -n "${LQ_KEEP_TMP:-}" ]; then
            lq_log "kept $LQ_TMP"
        else
            rm -rf "$LQ_TMP"
        fi
    fi
}

# The start every lanquilld scenario shares: root and namespaces (else SKIP), python3 for the
# session client, the namespace pair with its teardown, lanquilld's folders under the run's own
# folder, and the name it answers to (HOST).
lq_daemon_setup() {
    lq_require_root_netns || exit 77
    command -v python3 >/dev/null || { echo "SKIP: needs python3 (scripts/deps.sh --test)"; exit 77; }
    trap lq_teardown EXIT
    trap 'exit 130' INT TERM
    lq_setup
    HOST=LQHOST
    export RUNTIME_DIRECTORY=$LQ_TMP/run STATE_DIRECTORY=$LQ_TMP/state
}
