#!/usr/bin/env bash
# lanquilld's limits against Samba's smbclient in the peer namespace: text length, on-link
# senders, the per-sender rate, sessions under siege. Each message case starts a fresh
# lanquilld (no session connected, so what it takes stays in its spool and can be counted).
# Usage: run_daemon_limits.sh LANQUILLD LANQUILL_NET
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=harness.sh
. "$here/harness.sh"
daemon=$1
net=$2
lq_daemon_setup
log=$LQ_TMP/lanquilld.log
peer_conf=$LQ_TMP/peer-client.conf
lq_write_conf "$LQ_TMP/peerclient" "$LQ_PEER_ADDR" "$LQ_PEER_NAME" >"$peer_conf"
printf '    client min protocol = NT1\n    client max protocol = NT1\n' >>"$peer_conf"

# A second address of the peer on a subnet the client has only a route to: off-link for
# lanquilld. The peer sends from it while the "off-link" route is in place.
off_net=10.232.$((LQ_ID % 250 + 1))
ip -n "$LQ_NS_PEER" addr add "$off_net.2/24" dev "$LQ_VETH_PEER"
ip -n "$LQ_NS_CLIENT" route add "$off_net.0/24" dev "$LQ_VETH_CLIENT"
sender_route() {
    case $1 in
    on-link) ip -n "$LQ_NS_PEER" route del "$LQ_CLIENT_ADDR/32" 2>/dev/null || true ;;
    off-link) ip -n "$LQ_NS_PEER" route replace "$LQ_CLIENT_ADDR/32" dev "$LQ_VETH_PEER" \
        src "$off_net.2" ;;
    esac
}

start_daemon() {
    rm -rf "$STATE_DIRECTORY"
    : >"$log"
    # shellcheck disable=SC2086
    lq_start_lanquilld "$LQ_NS_CLIENT" "$RUNTIME_DIRECTORY" "$log" \
        "$daemon" --listen --name $HOST --workgroup "$LQ_WORKGROUP" $1
}
stop_daemon() {
    kill -TERM "$LQ_DAEMON_PID"
    wait "$LQ_DAEMON_PID" 2>/dev/null
}
spooled() { find "$STATE_DIRECTORY/spool" -type f 2>/dev/null | wc -l; }

# Sends a text of BYTES bytes in CP936 with CLIENT; fails when the sender was refused.
# smbclient reads at most 1,600 bytes of text, so longer ones go with lanquill-net (Chinese: two
# bytes a character on the wire, up to its own limit of 1,000 characters, which lanquilld takes).
send_text() { # CLIENT BYTES
    if [ "$1" = smbclient ]; then
        head -c "$2" /dev/zero | tr '\0' x |
            lq_peer smbclient -s "$peer_conf" -M $HOST -I "$LQ_CLIENT_ADDR" -U guest% -N \
                >"$LQ_TMP/send.out" 2>&1
        # smbclient exits 0 either way; a refusal shows as the SMB error it got.
        ! grep -q NT_STATUS "$LQ_TMP/send.out"
    else
        lq_peer "$net" send "$LQ_CLIENT_ADDR" "$(python3 -c 'import sys
n = int(sys.argv[1]); print("中" * (n // 2) + "x" * (n % 2))' "$2")" >"$LQ_TMP/send.out" 2>&1
    fi
}

# One case: lanquilld's options, the sender's route, the client, bytes of text, messages sent,
# how many it takes, and the log line its refusals leave (once per case).
#   description | options | sender | client | bytes | sent | taken | log line
cases=(
    "1,600 bytes of text are taken||on-link|smbclient|1600|1|1|"
    "1,600 bytes of Chinese are taken||on-link|lanquill-net|1600|1|1|"
    "1,000 Chinese characters, the most a sender allows, are taken||on-link|lanquill-net|2000|1|1|"
    "a sender off every local subnet is refused||off-link|smbclient|10|1|0|refusing messages from $off_net.2"
    "--allow-off-link takes it|--allow-off-link|off-link|smbclient|10|1|1|"
    "the 21st to 23rd message of a minute are refused, logged once||on-link|smbclient|10|23|20|a minute from $LQ_PEER_ADDR"
)
for row in "${cases[@]}"; do
    IFS='|' read -r what options sender client bytes sent taken logged <<<"$row"
    start_daemon "$options" || { lq_check "$what: lanquilld starts" false; continue; }
    sender_route "$sender"
    failed=0
    for i in $(seq 1 "$sent"); do
        send_text "$client" "$bytes" || failed=$((failed + 1))
    done
    sender_route on-link
    stop_daemon
    lq_check "$what: $(spooled) of $sent taken, $failed refused" \
        [ "$(spooled)" -eq "$taken" -a "$failed" -eq $((sent - taken)) ]
    if [ -n "$logged" ]; then
        lq_check "$what: logged once" [ "$(grep -c "$logged" "$log")" -eq 1 ]
    fi
done

# Sessions under siege for 30 s: eight hosts holding four sessions each with a NEGOTIATE every
# 5 s, and beside them 150 hosts opening session after session. A real smbclient and a real
# lanquill-net still get their messages in at 5, 15 and 25 s, and lanquilld stays under half a
# core.
for i in $(seq 10 169); do
    ip -n "$LQ_NS_PEER" addr add "$LQ_NET.$i/24" dev "$LQ_VETH_PEER"
done
start_daemon "" || lq_check "lanquilld starts for the session cases" false
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$LQ_DAEMON_PID/stat"; }
ticks=$(cpu_ticks)
began=$(date +%s.%N)
attackers=()
for siege in hold cycle; do
    lq_peer python3 "$here/hostile_sessions.py" "$LQ_CLIENT_ADDR" "$HOST" "$LQ_NET" "$siege" 30 \
        >"$LQ_TMP/siege-$siege.out" 2>&1 &
    attackers+=($!)
done
refused=()
for at in 5 15 25; do
    sleep "$(awk -v t="$began" -v at="$at" -v now="$(date +%s.%N)" \
        'BEGIN { d = t + at - now; print (d > 0 ? d : 0) }')"
    send_text smbclient 12 || refused+=("smbclient at $at s")
    send_text lanquill-net 12 || refused+=("lanquill-net at $at s: $(cat "$LQ_TMP/send.out")")
done
wait "${attackers[@]}"
used=$(awk -v t="$began" -v now="$(date +%s.%N)" -v ticks=$(($(cpu_ticks) - ticks)) \
    -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%d", ticks * 100 / hz / (now - t) }')
lq_check "under siege every real message is accepted (refused: ${refused[*]:-none}; holding: $(cat \
    "$LQ_TMP/siege-hold.out"); cycling: $(cat "$LQ_TMP/siege-cycle.out"))" \
    [ "${#refused[@]}:$(spooled)" = 0:6 ]
lq_check "under siege lanquilld used ${used}% of a core" [ "$used" -lt 50 ]
stop_daemon

# Chinese from smbclient: with Debian's dos charset (CP850) it sends the UTF-8 bytes as they are;
# with CP936 it converts in 127-byte pieces, and a piece that cuts a character goes out raw.
debian_conf=$LQ_TMP/peer-cp850.conf
sed 's/dos charset = CP936/dos charset = CP850/' "$peer_conf" >"$debian_conf"
long_text=$(python3 -c 'print("下课了请保存文件" * 62 + "完")')
start_daemon "" || lq_check "lanquilld starts for the Chinese cases" false
printf '你好，世界' | lq_peer smbclient -s "$debian_conf" -M $HOST -I "$LQ_CLIENT_ADDR" -U guest% -N \
    >/dev/null 2>&1
printf '%s' "$long_text" | lq_peer smbclient -s "$peer_conf" -M $HOST -I "$LQ_CLIENT_ADDR" \
    -U guest% -N >/dev/null 2>&1
stop_daemon
lq_check "UTF-8 from smbclient arrives as it was typed" \
    grep -rqF '"text":"你好，世界"' "$STATE_DIRECTORY/spool"
lq_check "497 characters (smbclient reads 1,600 bytes), converted piecewise, arrive whole" \
    grep -rqF "\"text\":\"$long_text\"" "$STATE_DIRECTORY/spool"

# Node status answers are larger than their questions: none to a sender off the local subnets.
start_daemon "" || lq_check "lanquilld starts for the node-status cases" false
for sender in on-link off-link; do
    sender_route "$sender"
    lq_peer nmblookup -s "$peer_conf" -A "$LQ_CLIENT_ADDR" >"$LQ_TMP/status-$sender.out" 2>&1
done
sender_route on-link
stop_daemon
lq_check "node status is answered on the local subnet" grep -q "$HOST" "$LQ_TMP/status-on-link.out"
lq_check "node status is not answered to an off-link source" \
    grep -q "No reply from" "$LQ_TMP/status-off-link.out"
exit $((LQ_FAILURES > 0))
