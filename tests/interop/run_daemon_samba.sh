#!/usr/bin/env bash
# lanquilld beside smbd on one host (the client namespace of harness.sh): smbd holds TCP 139 with
# the smb.conf lines of `lanquill-net receiver-config`, so its messages reach lanquilld through
# lanquill-deliver; lanquilld runs without 139. Senders in the peer namespace: smbclient -M, also
# with hostile calling names (-n) that must never reach a shell. Then lanquill-deliver on what smbd
# never hands it (a directory, a FIFO, /dev/zero, over-long files, a link), and lanquilld stopped
# and started again: smbd's messages meanwhile wait in lanquill-deliver's queue and arrive.
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
# smbd writes each message to $TMPDIR/msg.XXXXXX, and lanquill-deliver's queue goes beside it:
# a /tmp of the run's own.
smbd_tmp=$LQ_TMP/smbd-tmp
mkdir -p "$smbd_tmp"
chmod 1777 "$smbd_tmp"
host_conf=$LQ_TMP/host/smb.conf
mkdir -p "$LQ_TMP/host"
lq_write_conf "$LQ_TMP/host" "$LQ_CLIENT_ADDR" $HOST >"$host_conf"
printf '    map to guest = Bad User\n' >>"$host_conf"
"$net" receiver-config | grep -v '^#' |
    sed "s|/usr/libexec/lanquill/lanquill-deliver|$LQ_TMP/lanquill-deliver|" >>"$host_conf"
setsid ip netns exec "$LQ_NS_CLIENT" env TMPDIR="$smbd_tmp" smbd --foreground --no-process-group -s "$host_conf" \
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
# lanquill-deliver removes the message files that lanquilld took.
smbd_files() { find "$smbd_tmp" -maxdepth 1 -user nobody -name 'msg.*' 2>/dev/null; }
lq_check "no message file of smbd left behind" [ -z "$(smbd_files)" ]

# What smbd never hands it: each is left as it is, at once, in little memory (256 MB of address
# space at most, 5 s), with exit code 4. A directory, a FIFO (no writer: a blocking open would
# hang), /dev/zero (endless), a sparse 1 GB file (to be refused before it is read), a file one
# byte over 64 KiB, and a link to a good message (never followed).
odd=$LQ_TMP/odd
mkdir -p "$odd/folder"
mkfifo "$odd/fifo"
truncate -s 1G "$odd/huge"
head -c 65537 /dev/zero | tr '\0' x >"$odd/over"
printf 'a good message behind a link' >"$odd/target"
ln -s "$odd/target" "$odd/link"
for case in "a directory|$odd/folder" "a FIFO|$odd/fifo" "/dev/zero|/dev/zero" \
    "a 1 GB file|$odd/huge" "a file of 64 KiB + 1|$odd/over" "a symbolic link|$odd/link"; do
    what=${case%%|*}
    path=${case#*|}
    lq_client env TMPDIR="$smbd_tmp" bash -c 'ulimit -v 262144; exec timeout 5 "$@"' deliver \
        "$LQ_TMP/lanquill-deliver" "$LQ_PEER_ADDR" LQPEER lqhost "$path" 2>"$LQ_TMP/odd.err"
    code=$?
    lq_check "lanquill-deliver on $what: exit 4, not a message (got $code: $(head -c 160 "$LQ_TMP/odd.err" | tr '\n' ' '))" \
        [ "$code" -eq 4 ]
done
left_alone() {
    [ -d "$odd/folder" ] && [ -p "$odd/fifo" ] && [ -L "$odd/link" ] && [ -s "$odd/target" ] &&
        [ "$(stat -c %s "$odd/huge")" -eq 1073741824 ] && [ "$(stat -c %s "$odd/over")" -eq 65537 ]
}
lq_check "each was left as it is" left_alone

# lanquilld stopped: smbd's message goes to the queue, smbd's own file goes, and a background run
# hands the message in once lanquilld is back.
queue=$smbd_tmp/lanquill-deliver.$(id -u nobody)
restart_lanquilld() {
    lq_start_lanquilld "$LQ_NS_CLIENT" "$RUNTIME_DIRECTORY" "$log" "$daemon" --listen \
        --name $HOST --workgroup "$LQ_WORKGROUP"
}
stop_lanquilld() {
    kill -TERM "$LQ_DAEMON_PID"
    wait "$LQ_DAEMON_PID"
}
send_while_away() {
    printf '%s' "$1" | lq_peer smbclient -s "$peer_conf" -M $HOST -I "$LQ_CLIENT_ADDR" -U guest% -N \
        >>"$LQ_TMP/smbclient.out" 2>&1
}
queued() { find "$queue" -maxdepth 1 -name '*.json' 2>/dev/null | wc -l; }
texts() { # the texts of the messages in FILE, one a line, sorted
    python3 -c 'import json,sys
print("\n".join(sorted(json.loads(l)["text"] for l in open(sys.argv[1]) if "\"id\"" in l)))' "$1"
}
# The background runs of lanquill-deliver in our namespace, told by the program they run.
retriers() {
    local pid
    for pid in $(ip netns pids "$LQ_NS_CLIENT"); do
        [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$LQ_TMP/lanquill-deliver" ] && echo "$pid"
    done
    return 0
}
queued_only() { [ -z "$(smbd_files)" ] && [ "$(queued)" -eq 1 ]; }
queued_alone() { queued_only && [ -z "$(retriers)" ]; }
# What the runs above handed in and no session took: taken now, so that the sessions below see
# only what this part sends.
lq_session "$LQ_NS_CLIENT" "$LANQUILL_SESSION_SOCKET" --count 100 --seconds 2 >/dev/null
stop_lanquilld
send_while_away 'while lanquilld is away'
lq_check "with lanquilld stopped smbd's message file goes to the queue" queued_only
lq_check "lanquill-deliver's reason is in smbd's log" \
    grep -rq 'lanquilld is not reachable at .*; queued as' "$LQ_TMP/host/log"
lq_check "the queue is nobody's own, 0700" [ "$(stat -c '%U %a' "$queue" 2>&1)" = "nobody 700" ]
lq_check "one background run waits for lanquilld" [ "$(retriers | wc -l)" -eq 1 ]
sleep 2
lq_session "$LQ_NS_CLIENT" "$LANQUILL_SESSION_SOCKET" --count 1 --seconds 25 >"$LQ_TMP/back1" &
reader=$!
lq_check "lanquilld starts again" restart_lanquilld
wait $reader
lq_check "once lanquilld is back the queued message arrives" \
    [ "$(texts "$LQ_TMP/back1")" = "while lanquilld is away" ]
for _ in $(seq 1 50); do [ -z "$(retriers)" ] && break; sleep 0.1; done
drained() { [ "$(queued)" -eq 0 ] && [ -z "$(retriers)" ] && [ -z "$(smbd_files)" ]; }
lq_check "the queue is empty and the background run ended" drained

# The background run gone (killed; a reboot would do the same) before lanquilld is back: the next
# message, once lanquilld takes it, brings the queued one in too, each once.
stop_lanquilld
send_while_away 'kept while away'
# shellcheck disable=SC2046
kill $(retriers) 2>/dev/null
sleep 0.3
lq_check "queued, and its background run ended" queued_alone
restart_lanquilld
lq_session "$LQ_NS_CLIENT" "$LANQUILL_SESSION_SOCKET" --count 3 --seconds 8 >"$LQ_TMP/back2" &
reader=$!
sleep 0.3
send_while_away 'after lanquilld is back'
wait $reader
lq_check "the next message brings the queued one in, each once" \
    [ "$(texts "$LQ_TMP/back2")" = "$(printf 'after lanquilld is back\nkept while away')" ]
for _ in $(seq 1 50); do [ -z "$(retriers)" ] && break; sleep 0.1; done
lq_check "nothing left in the queue or in smbd's folder, no background run" drained
rm -f "$mark"
echo "--- lanquilld log (tail) ---"; tail -n 8 "$log"
exit $((LQ_FAILURES > 0))
