# Routed-LAN harness: two subnets joined by a router namespace that forwards between them and
# runs nmbd as WINS server and domain master browser. Subnet A holds the client and Samba peer A,
# subnet B Samba peer B; both peers register their names with the WINS server. Each subnet is a
# bridge inside the router namespace, so further hosts can be attached to it. Source it from
# bash (it sources harness.sh for the shared helpers), then:
#
#   lq_routed_begin [python3]           # SKIP without root (or python3); the LAN up and ready
#   lq_routed_wait_browse_list NAME     # the domain master browser's merged list holds NAME
#   lq_client CMD...  lq_peer_b CMD...  lq_router CMD...
#   lq_routed_attach NS SUBNET ADDR     # another host namespace on subnet A or B, removed at exit
#
# The scenarios share one LAN (routed_lab.sh makes it once, and its election with it): where
# LQ_ROUTED_LAB names the file that describes it, lq_routed_begin joins that LAN, empties the
# peers' message folder and at exit removes only the hosts the scenario attached; otherwise it
# makes a LAN of its own and removes all of it at exit.
#
# Variables set (besides harness.sh's LQ_TMP, LQ_MSG_DIR, LQ_WORKGROUP):
#   LQ_NS_CLIENT LQ_NS_PEER (peer A) LQ_NS_PEER_B LQ_NS_ROUTER
#   LQ_NET_A LQ_NET_B LQ_CLIENT_ADDR LQ_PEER_ADDR LQ_PEER_B_ADDR LQ_WINS_A LQ_WINS_B
#   LQ_BROADCAST (subnet A) LQ_BROADCAST_B LQ_PEER_NAME LQ_PEER_B_NAME LQ_WINS_DAT
#   LQ_CLIENT_CONF (no WINS server) LQ_CLIENT_WINS_CONF (wins server = LQ_WINS_A)
#   LQ_ROUTER_NMBD_PID (the WINS server's nmbd)

# shellcheck source=harness.sh
. "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/harness.sh"

LQ_NS_PEER_B=lqb$LQ_ID
LQ_NS_ROUTER=lqr$LQ_ID
LQ_NET_A=10.232.$((LQ_ID % 250 + 1))
LQ_NET_B=10.233.$((LQ_ID % 250 + 1))
LQ_CLIENT_ADDR=$LQ_NET_A.1
LQ_PEER_ADDR=$LQ_NET_A.2
LQ_PEER_B_ADDR=$LQ_NET_B.2
LQ_WINS_A=$LQ_NET_A.254
LQ_WINS_B=$LQ_NET_B.254
LQ_BROADCAST=$LQ_NET_A.255
LQ_BROADCAST_B=$LQ_NET_B.255
LQ_DEAD_ADDR=$LQ_NET_A.77
LQ_PEER_NAME=LQPEERA
LQ_PEER_B_NAME=LQPEERB
LQ_ROUTED_LINKS=0

lq_router() { ip netns exec "$LQ_NS_ROUTER" "$@"; }
lq_peer_b() { ip netns exec "$LQ_NS_PEER_B" "$@"; }

# A new namespace NS with one link into the bridge of SUBNET (A or B), address ADDR/24, the
# router as default gateway and an empty resolv.conf (names resolve only through NetBIOS).
lq_routed_attach() {
    local ns=$1 subnet=$2 addr=$3 gateway
    LQ_ROUTED_LINKS=$((LQ_ROUTED_LINKS + 1))
    # The link is named after this shell: hosts a scenario attaches to a shared LAN meet none
    # of the LAN's own.
    local outside=lqo${LQ_ROUTED_LINKS}x$$ inside=lqi${LQ_ROUTED_LINKS}x$$
    [ "$subnet" = A ] && gateway=$LQ_WINS_A || gateway=$LQ_WINS_B
    ip netns add "$ns"
    LQ_ROUTED_NAMESPACES="${LQ_ROUTED_NAMESPACES:-} $ns"
    mkdir -p "/etc/netns/$ns"
    : >"/etc/netns/$ns/resolv.conf"
    ip link add "$inside" type veth peer name "$outside"
    ip link set "$inside" netns "$ns"
    ip link set "$outside" netns "$LQ_NS_ROUTER"
    ip -n "$LQ_NS_ROUTER" link set "$outside" master "lqbr$subnet" up
    ip -n "$ns" addr add "$addr/24" brd + dev "$inside"
    ip -n "$ns" link set lo up
    ip -n "$ns" link set "$inside" up
    ip -n "$ns" route add default via "$gateway"
}

lq_routed_setup() {
    LQ_TMP=$(mktemp -d /tmp/lanquill-routed.XXXXXX)
    chmod 755 "$LQ_TMP" # the message command runs as nobody
    LQ_MSG_DIR=$LQ_TMP/messages
    mkdir -p "$LQ_MSG_DIR" "$LQ_TMP/peer" "$LQ_TMP/peerb" "$LQ_TMP/router" "$LQ_TMP/client"
    chmod 777 "$LQ_MSG_DIR"

    ip netns add "$LQ_NS_ROUTER"
    LQ_ROUTED_NAMESPACES=$LQ_NS_ROUTER
    ip -n "$LQ_NS_ROUTER" link set lo up
    ip netns exec "$LQ_NS_ROUTER" sysctl -qw net.ipv4.ip_forward=1
    local subnet
    # A bridge without an address of its own takes the lowest of its ports' and changes it as
    # hosts are attached: the hosts' cached neighbour entry for the router would then point
    # nowhere for half a minute, and every unicast to the WINS server would be lost.
    for subnet in A B; do
        ip -n "$LQ_NS_ROUTER" link add "lqbr$subnet" address "02:00:00:00:00:0${subnet,,}" type bridge
        ip -n "$LQ_NS_ROUTER" link set "lqbr$subnet" up
    done
    ip -n "$LQ_NS_ROUTER" addr add "$LQ_WINS_A/24" brd + dev lqbrA
    ip -n "$LQ_NS_ROUTER" addr add "$LQ_WINS_B/24" brd + dev lqbrB
    lq_routed_attach "$LQ_NS_CLIENT" A "$LQ_CLIENT_ADDR"
    lq_routed_attach "$LQ_NS_PEER" A "$LQ_PEER_ADDR"
    lq_routed_attach "$LQ_NS_PEER_B" B "$LQ_PEER_B_ADDR"

    LQ_WINS_DAT=$LQ_TMP/router/state/wins.dat
    lq_write_conf "$LQ_TMP/router" "$LQ_WINS_A/24 $LQ_WINS_B" LQROUTER >"$LQ_TMP/router/smb.conf"
    # No DNS proxy: a name the WINS server does not hold would otherwise send nmbd to DNS, which
    # outside this machine's namespaces may answer late or never, and hold up its other answers.
    # Level 3 logs each refresh, release and challenge the server takes.
    cat >>"$LQ_TMP/router/smb.conf" <<CONF
    wins support = yes
    dns proxy = no
    log level = 3
    domain master = yes
    local master = yes
    preferred master = yes
    os level = 65
    # A domain master browser serves the merged list through its smbd (NetServerEnum2 over SMB1).
    server min protocol = NT1
    server role = standalone server
    map to guest = Bad User
CONF
    local dir addr name wins
    for dir in peer peerb; do
        if [ $dir = peer ]; then
            addr=$LQ_PEER_ADDR name=$LQ_PEER_NAME wins=$LQ_WINS_A
        else
            addr=$LQ_PEER_B_ADDR name=$LQ_PEER_B_NAME wins=$LQ_WINS_B
        fi
        lq_write_conf "$LQ_TMP/$dir" "$addr" "$name" >"$LQ_TMP/$dir/smb.conf"
        cat >>"$LQ_TMP/$dir/smb.conf" <<CONF
    wins server = $wins
    server min protocol = NT1
    server role = standalone server
    map to guest = Bad User
    local master = no
    # Each message becomes one file: its sender in .from, its text in .msg (written last).
    message command = /bin/sh -c 'f=$LQ_MSG_DIR/$name.\$\$; echo "%f" > \$f.from; cat %s > \$f.tmp; mv \$f.tmp \$f.msg; rm -f %s' &
CONF
    done
    LQ_PEER_CONF=$LQ_TMP/peer/smb.conf
    LQ_CLIENT_CONF=$LQ_TMP/client/smb.conf
    LQ_CLIENT_WINS_CONF=$LQ_TMP/client/smb-wins.conf
    lq_write_conf "$LQ_TMP/client" "$LQ_CLIENT_ADDR" LQCLIENT >"$LQ_CLIENT_CONF"
    { cat "$LQ_CLIENT_CONF"; echo "    wins server = $LQ_WINS_A"; } >"$LQ_CLIENT_WINS_CONF"
    export LQ_NS_CLIENT LQ_NS_PEER LQ_NS_PEER_B LQ_NS_ROUTER LQ_NET_A LQ_NET_B LQ_CLIENT_ADDR \
        LQ_PEER_ADDR LQ_PEER_B_ADDR LQ_WINS_A LQ_WINS_B LQ_BROADCAST LQ_BROADCAST_B \
        LQ_PEER_NAME LQ_PEER_B_NAME LQ_WORKGROUP LQ_TMP LQ_MSG_DIR LQ_CLIENT_CONF \
        LQ_CLIENT_WINS_CONF LQ_WINS_DAT LQ_PEER_CONF
}

# nmbd in NS with the smb.conf of DIR (and smbd too when WITH_SMBD is "smbd"); nmbd's pid in
# LQ_NMBD_PID (setsid and ip netns exec exec it in place).
lq_routed_samba() {
    local ns=$1 dir=$2 with_smbd=${3:-}
    setsid ip netns exec "$ns" nmbd --foreground --no-process-group -s "$dir/smb.conf" \
        </dev/null >>"$dir/log/nmbd.out" 2>&1 &
    LQ_NMBD_PID=$!
    if [ "$with_smbd" = smbd ]; then
        setsid ip netns exec "$ns" smbd --foreground --no-process-group -s "$dir/smb.conf" \
            </dev/null >"$dir/log/smbd.out" 2>&1 &
    fi
}

lq_routed_start_samba() {
    lq_routed_samba "$LQ_NS_ROUTER" "$LQ_TMP/router" smbd
    LQ_ROUTER_NMBD_PID=$LQ_NMBD_PID
    # The peers register with the WINS server as they start: it must be listening by then.
    lq_poll 10 lq_router_listens
    lq_routed_samba "$LQ_NS_PEER" "$LQ_TMP/peer" smbd
    lq_routed_samba "$LQ_NS_PEER_B" "$LQ_TMP/peerb" smbd
}

# The WINS server knows NAME<00>, or NAME<xx> given as NAME#xx (asked by unicast, as a client on
# subnet A asks).
lq_wins_knows() {
    local name=${1%%#*} suffix=00
    [ "$name" != "$1" ] && suffix=${1##*#}
    lq_client nmblookup -s "$LQ_CLIENT_CONF" -U "$LQ_WINS_A" --recursion "$1" 2>/dev/null |
        grep -q "^[0-9.]* $name<$suffix>"
}

lq_router_listens() { lq_router ss -lun 2>/dev/null | grep -q "$LQ_WINS_B:137 "; }

lq_routed_ready() {
    lq_wins_knows "$LQ_PEER_NAME" && lq_wins_knows "$LQ_PEER_B_NAME" &&
        lq_client timeout 2 bash -c "exec 3<>/dev/tcp/$LQ_PEER_B_ADDR/139" 2>/dev/null &&
        lq_answers "$LQ_PEER_NAME" "$LQ_PEER_ADDR"
}

lq_routed_wait_ready() {
    local started=$SECONDS
    if lq_poll 120 lq_routed_ready; then
        lq_log "routed LAN ready after $((SECONDS - started)) s"
        return 0
    fi
    lq_log "routed LAN did not become ready; logs under $LQ_TMP"
    return 1
}

# Until the domain master browser's merged list holds NAME: the router, once master on subnet B,
# asks its hosts to announce themselves, and writes what it hears of both subnets into the list
# its smbd serves (read from the file: smbclient -L asks for the empty domain and lists nothing).
# The election ends 20 to 40 s after the start.
lq_routed_wait_browse_list() {
    local started=$SECONDS
    if lq_poll 120 grep -q "^\"$1\" " "$LQ_TMP/router/cache/browse.dat" 2>/dev/null; then
        lq_log "the merged browse list holds $1 after $((SECONDS - started)) s more"
        return 0
    fi
    lq_log "the merged browse list never held $1; logs under $LQ_TMP/router/log"
    return 1
}

# The start every routed scenario shares: root and namespaces (else SKIP), python3 where the
# scenario needs it ("python3"), the routed LAN (shared or its own) ready, and the teardown on
# exit. Fails when the LAN does not become ready.
lq_routed_begin() {
    if [ -n "${LQ_ROUTED_LAB:-}" ]; then
        [ -f "$LQ_ROUTED_LAB" ] || { echo "FAIL: the shared routed LAN was not made ($LQ_ROUTED_LAB)"; exit 1; }
        # shellcheck disable=SC1090
        . "$LQ_ROUTED_LAB"
        [ -n "${LQ_ROUTED_LAB_SKIP:-}" ] && { echo "$LQ_ROUTED_LAB_SKIP"; exit 77; }
    else
        lq_require_root_netns || exit 77
    fi
    if [ "${1:-}" = python3 ] && ! command -v python3 >/dev/null; then
        echo "SKIP: needs python3 (scripts/deps.sh --test)"
        exit 77
    fi
    trap 'exit 130' INT TERM
    if [ -n "${LQ_ROUTED_LAB:-}" ]; then
        LQ_ROUTED_NAMESPACES=
        trap lq_routed_leave EXIT
        rm -f "$LQ_MSG_DIR"/*
    else
        trap lq_routed_teardown EXIT
        lq_routed_setup
        lq_routed_start_samba
    fi
    lq_routed_wait_ready || exit 1
}

# The variables a scenario needs to join this LAN, as lines of shell.
lq_routed_describe() {
    local name
    for name in LQ_ID LQ_NS_CLIENT LQ_NS_PEER LQ_NS_PEER_B LQ_NS_ROUTER LQ_NET_A LQ_NET_B \
        LQ_CLIENT_ADDR LQ_PEER_ADDR LQ_PEER_B_ADDR LQ_WINS_A LQ_WINS_B LQ_BROADCAST \
        LQ_BROADCAST_B LQ_PEER_NAME LQ_PEER_B_NAME LQ_WORKGROUP LQ_TMP LQ_MSG_DIR LQ_CLIENT_CONF \
        LQ_CLIENT_WINS_CONF LQ_WINS_DAT LQ_PEER_CONF LQ_ROUTER_NMBD_PID LQ_ROUTED_NAMESPACES; do
        printf 'export %s=%q\n' "$name" "${!name}"
    done
}

# Ends every process of every namespace by pid, then removes them and the temporary folder.
lq_routed_teardown() {
    # shellcheck disable=SC2086
    lq_teardown_namespaces ${LQ_ROUTED_NAMESPACES:-}
}

# A scenario's end on the shared LAN: the hosts it attached, not the LAN or its folder.
lq_routed_leave() {
    # shellcheck disable=SC2086
    LQ_TMP= lq_teardown_namespaces ${LQ_ROUTED_NAMESPACES:-}
}
