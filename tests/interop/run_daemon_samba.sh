#!/usr/bin/env bash
# lanquilld beside smbd on one host (the client namespace of harness.sh): smbd holds TCP 139 with
# the smb.conf lines of `lanquill-net receiver-config`, so its messages reach lanquilld through
# lanquill-deliver; lanquilld runs without 139. Senders in the peer namespace: smbclient -M, also
# with hostile calling names (-n) that must never reach a shell.
# Usage: run_daemon_samba.sh LANQUILLD LANQUILL_NET LANQUILL_DELIVER
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=harness.sh
. "$here/harness.sh"
daemon=$1
net=$2
deliver=$3
lq_daemon_setup
export LANQUILL_SESSION_SOCKET=$RUNTIME_DIRECTORY/session.sock # smbd's children inherit it
# smbd runs the message command as nobody: it must reach the built lanquill-deliver.
install -m 755 "$deliver" "$LQ_TMP/lanquill-deliver"

# Our host: smbd with the receiver-config lines, the installed path swapped for the built one.
host_conf=$LQ_TMP/host/smb.conf
mkdir -p "$LQ_TMP/host"
lq_write_conf "$LQ_TMP/host" "$LQ_CLIENT_ADDR" $HOST >"$host_conf"
printf '    map to guest = Bad User\n' >>"$host_conf"
"$net" receiver-config | grep -v '^#' |
    sed "s|/usr/libexec/lanquill/lanquill-deliver|$LQ_TMP/lanquill-deliver|" >>"$host_conf"
setsid ip netns exec "$LQ_NS_CLIENT" smbd --foreground --no-process-group -s "$host_conf" \
    </dev/null >"$LQ_TMP/host/log/smbd.out" 2>&1 &
for _ in $(seq 1 100); do
    lq_peer timeout 2 bash -c "exec 3<>/dev/tcp/$LQ_CLIENT_ADDR/139" 2>/dev/null && break
    sleep 0.1
done

log=$LQ_TMP/lanquilld.log
lq_check "lanquilld starts beside smbd" lq_start_lanquilld "$LQ_NS_CLIENT" "$RUNTIME_DIRECTORY" \
    "$log" "$daemon" --listen --name $HOST --workgroup "$LQ_WORKGROUP"
lq_check "it logs once that 139 is taken" [ "$(grep -c 'no session service on TCP 139' "$log")" -eq 1 ]

peer_conf=$LQ_TMP/peer-client.conf
lq_write_conf "$LQ_TMP/peerclient" "$LQ_PEER_ADDR" LQPEER >"$peer_conf"
printf '    client min protocol = NT1\n    client max protocol = NT1\n' >>"$peer_conf"
# smbclient -M from the peer, calling name $1, text $2; the session's lines in $3.
send_through_smbd() {
    lq_session "$LQ_NS_CLIENT" "$LANQUILL_SESSION_SOCKET" --count 1 --seconds 15 >"$3" &
    local reader=$!
    sleep 0.3
    printf '%s' "$2" | lq_peer smbclient -s "$peer_conf" -n "$1" -M $HOST -I "$LQ_CLIENT_ADDR" \
        -U guest% -N >>"$LQ_TMP/smbclient.out" 2>&1
    wait $reader
}
field() { # field FILE NAME: that field of the first message in FILE
    python3 -c 'import json,sys
for l in open(sys.argv[1]):
    o = json.loads(l)
    if "id" in o: sys.stdout.write(o[sys.argv[2]]); break' "$1" "$2"
}

send_through_smbd LQPEER "你好，Lanquill 经 smbd" "$LQ_TMP/out1"
lq_check "the session hears status no-139" grep -q '"status": "no-139"' "$LQ_TMP/out1"
lq_check "smbclient -M through smbd and lanquill-deliver: Chinese text intact" \
    [ "$(field "$LQ_TMP/out1" text)" = "你好，Lanquill 经 smbd" ]
lq_check "sender from %m and %I" \
    [ "$(field "$LQ_TMP/out1" from) $(field "$LQ_TMP/out1" address)" = "LQPEER $LQ_PEER_ADDR" ]

# By address, smbd's %L is the address: the message is for the computer.
lq_session "$LQ_NS_CLIENT" "$LANQUILL_SESSION_SOCKET" --count 1 --seconds 15 >"$LQ_TMP/out2" &
reader=$!
sleep 0.3
lq_peer "$net" send "$LQ_CLIENT_ADDR" "by address" >/dev/null 2>&1
wait $reader
lq_check "lanquill-net send by address through smbd arrives, to the computer" \
    [ "$(field "$LQ_TMP/out2" text) $(field "$LQ_TMP/out2" to)" = "by address $HOST" ]

# Hostile calling names (at most 15 bytes): had one reached a shell, it would write $mark.
mark=/tmp/lq$$
rm -f "$mark"
i=0
for name in ";id>$mark" "\$(id>$mark)" "\`id>$mark\`" "a'\$(id>$mark)'"; do
    i=$((i + 1))
    send_through_smbd "$name" "hostile $i" "$LQ_TMP/hostile$i"
    # smbd passes such a name as an empty %m (the address then names the sender) or with its
    # unsafe characters replaced, depending on the name: the sender is data either way.
    lq_check "calling name $name: the message arrives (from '$(field "$LQ_TMP/hostile$i" from)')" \
        [ "$(field "$LQ_TMP/hostile$i" text)" = "hostile $i" ]
    lq_check "calling name $name: no shell ran it" [ ! -e "$mark" ]
done

# lanquill-deliver itself, run as smbd runs it, with arguments no smbd would pass: each is data.
message=$LQ_TMP/deliver.msg
for name in "a'; id>$mark; '" "x\$(id>$mark)" $'two\nlines' "\`id>$mark\`"; do
    printf 'direct' >"$message"
    lq_client "$LQ_TMP/lanquill-deliver" "$LQ_PEER_ADDR" "$name" lqhost "$message" 2>/dev/null
    lq_check "lanquill-deliver with sender $(printf %q "$name"): no shell ran it" [ ! -e "$mark" ]
done
lq_check "lanquilld still logged the 139 notice only once" \
    [ "$(grep -c 'no session service on TCP 139' "$log")" -eq 1 ]
# smbd writes each message to /tmp/msg.XXXXXX: lanquill-deliver removes the ones lanquilld took,
# and keeps the file when lanquilld is not there.
smbd_files() { find /tmp -maxdepth 1 -user nobody -name 'msg.*' -newer "$host_conf" 2>/dev/null; }
lq_check "no message file of smbd left behind" [ -z "$(smbd_files)" ]
kill -TERM "$LQ_DAEMON_PID"
wait "$LQ_DAEMON_PID"
printf 'while lanquilld is away' | lq_peer smbclient -s "$peer_conf" -M $HOST -I "$LQ_CLIENT_ADDR" \
    -U guest% -N >>"$LQ_TMP/smbclient.out" 2>&1
sleep 0.5
kept=$(smbd_files)
lq_check "with lanquilld stopped the message file stays" \
    grep -q 'while lanquilld is away' ${kept:-/nonexistent}
# shellcheck disable=SC2086
rm -f $kept
rm -f "$mark"
echo "--- lanquilld log (tail) ---"; tail -n 8 "$log"
exit $((LQ_FAILURES > 0))
