#!/usr/bin/env bash
# Two lanquilld hosts and no Samba anywhere: host A (the client namespace of harness.sh) gets its
# three sockets from systemd-socket-activate and runs lanquilld as nobody; host B (the peer
# namespace) runs `lanquilld --listen` as root. They message each other by name with
# `lanquill-net send`, the names resolved by broadcast queries that lanquilld answers.
# Usage: run_daemon_pair.sh LANQUILLD LANQUILL_NET
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=harness.sh
. "$here/harness.sh"
daemon=$1
net=$2
lq_require_root_netns || exit 77
for tool in python3 systemd-socket-activate setpriv; do
    command -v $tool >/dev/null || { echo "SKIP: needs $tool (scripts/deps.sh --test)"; exit 77; }
done
trap lq_teardown EXIT
trap 'exit 130' INT TERM
lq_setup
# nobody runs the activated daemon: the test folder and the daemon must be reachable for it.
install -m 755 "$daemon" "$LQ_TMP/lanquilld"
mkdir -p "$LQ_TMP"/{a,b}/{run,state}
chown -R nobody "$LQ_TMP/a"

# A: systemd-socket-activate binds all its -l addresses with one type, and passes on the sockets
# it was given: the datagram pair (137, 138) goes around the stream one (139). Without --accept
# it starts the command at the first traffic on its sockets.
# Each hands its command only LISTEN_* and the -E variables.
ip netns exec "$LQ_NS_CLIENT" systemd-socket-activate --datagram -l 0.0.0.0:137 -l 0.0.0.0:138 \
    systemd-socket-activate -l 0.0.0.0:139 \
    -E RUNTIME_DIRECTORY="$LQ_TMP/a/run" -E STATE_DIRECTORY="$LQ_TMP/a/state" \
    setpriv --reuid=nobody --regid=nogroup --clear-groups --inh-caps=-all \
    "$LQ_TMP/lanquilld" --name LQA --workgroup "$LQ_WORKGROUP" 2>"$LQ_TMP/a.log" &
activator=$!
# Before B starts, nothing on the link sends: once the activator holds UDP 137, lanquilld must not
# have been started (B's first broadcasts will start it).
lq_poll 20 bash -c "ip netns exec $LQ_NS_CLIENT ss -lun | grep -q ':137 '"
lq_check "A waits for traffic: no session socket yet" [ ! -S "$LQ_TMP/a/run/session.sock" ]
lq_check "host B starts with --listen as root" lq_start_lanquilld "$LQ_NS_PEER" "$LQ_TMP/b/run" \
    "$LQ_TMP/b.log" env RUNTIME_DIRECTORY="$LQ_TMP/b/run" STATE_DIRECTORY="$LQ_TMP/b/state" \
    "$LQ_TMP/lanquilld" --listen --name LQB --workgroup "$LQ_WORKGROUP"

# One message: its own name <03> is what each session sees; $1 namespace, $2 socket, $3 sender
# namespace, $4 target, $5 text.
exchange() {
    lq_session "$1" "$2" --count 1 --seconds 10 >"$LQ_TMP/out" &
    local reader=$!
    sleep 0.5
    ip netns exec "$3" "$net" send "$4" "$5" >"$LQ_TMP/send.out" 2>&1
    wait $reader
    grep -q "\"text\": \"$5\"" "$LQ_TMP/out"
}
# The first message, by address, connects to 139 and so starts lanquilld on A.
ip netns exec "$LQ_NS_PEER" "$net" send "$LQ_CLIENT_ADDR" "wake up" >"$LQ_TMP/send.out" 2>&1 &
lq_check "socket activation starts lanquilld on A" lq_wait_socket "$LQ_TMP/a/run/session.sock"
wait $!
lq_check "it runs as nobody" [ "$(ps -o user= -p $activator)" = nobody ]
lq_check "the message that woke it arrives" \
    bash -c "python3 '$here/session_client.py' '$LQ_TMP/a/run/session.sock' --count 1 --seconds 5 |
             grep -q 'wake up'"
lq_check "its status says receiving (TCP 139 was passed)" \
    bash -c "python3 '$here/session_client.py' '$LQ_TMP/a/run/session.sock' --count 1 --seconds 1 |
             grep -q '\"receiving\"'"
# A's registrations (three broadcasts 250 ms apart) are through once B finds A by name.
lq_poll 20 ip netns exec "$LQ_NS_PEER" "$net" lookup LQA >/dev/null 2>&1
lq_check "B to A by name" exchange "$LQ_NS_CLIENT" "$LQ_TMP/a/run/session.sock" "$LQ_NS_PEER" \
    LQA "你好 A"
lq_check "A to B by name" exchange "$LQ_NS_PEER" "$LQ_TMP/b/run/session.sock" "$LQ_NS_CLIENT" \
    LQB "你好 B"
lq_check "A to the workgroup reaches B" exchange "$LQ_NS_PEER" "$LQ_TMP/b/run/session.sock" \
    "$LQ_NS_CLIENT" "/domain:$LQ_WORKGROUP" "大家好"
kill -TERM "$activator" "$LQ_DAEMON_PID"
echo "--- A's log (tail) ---"; tail -n 4 "$LQ_TMP/a.log"
exit $((LQ_FAILURES > 0))
