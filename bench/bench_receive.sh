#!/usr/bin/env bash
# Receiving: lanquilld on TCP 139 against smbd holding 139 with the message command of
# `lanquill-net receiver-config` (lanquill-deliver handing each message to lanquilld), on the
# same namespace pair (tests/interop/harness.sh; the receiver is the client namespace).
#   - messages accepted per second from 8 concurrent `lanquill-net send` loops, counted at a
#     session.sock client that acknowledges each;
#   - wire-to-client latency: from the SEND_MESSAGE leaving the sender to the line reaching the
#     session client (both in one process: session.sock is a path, reachable from any namespace);
#   - lanquilld's start time: from exec to session.sock existing.
# Ends with TABLE| lines for bench/run's table.
# Needs root. Usage: bench/bench_receive.sh [path/to/lanquill-net] [messages per loop]
# (lanquilld and lanquill-deliver are taken from the same folder)
set -u
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
# shellcheck source=../tests/interop/harness.sh
. "$here/../tests/interop/harness.sh"
bin=$(dirname "${1:-${LANQUILL_BUILD_DIR:-$top/build}/bin/lanquill-net}")
per_loop=${2:-40}
loops=4 # a host holds at most four sessions at once
lq_require_root_netns || exit 77
trap lq_teardown EXIT
trap 'exit 130' INT TERM
lq_setup
HOST=LQHOST
export RUNTIME_DIRECTORY=$LQ_TMP/run STATE_DIRECTORY=$LQ_TMP/state
export LANQUILL_SESSION_SOCKET=$RUNTIME_DIRECTORY/session.sock
install -m 755 "$bin/lanquill-deliver" "$LQ_TMP/lanquill-deliver"
socket=$LANQUILL_SESSION_SOCKET
# The rate limit (20 a minute per sender) would measure itself: lifted for the benchmark.
start_lanquilld() {
    lq_start_lanquilld "$LQ_NS_CLIENT" "$RUNTIME_DIRECTORY" "$LQ_TMP/lanquilld.log" \
        "$bin/lanquilld" --listen --per-minute 0 --name $HOST --workgroup "$LQ_WORKGROUP"
}

# Messages per second: 8 loops of `lanquill-net send` until the session client has them all.
throughput() {
    local total=$((loops * per_loop)) start end
    lq_session "$LQ_NS_CLIENT" "$socket" --count $total --seconds 60 >"$LQ_TMP/tp.out" &
    local reader=$!
    sleep 0.3
    local senders=()
    start=$(date +%s%N)
    for l in $(seq 1 $loops); do
        lq_peer bash -c "for i in \$(seq 1 $per_loop); do '$bin/lanquill-net' send $LQ_CLIENT_ADDR \"loop $l message \$i\" >/dev/null 2>&1; done" &
        senders+=($!)
    done
    wait $reader
    end=$(date +%s%N)
    wait "${senders[@]}"
    local got
    got=$(grep -c '"id"' "$LQ_TMP/tp.out")
    awk -v n="$got" -v ns=$((end - start)) -v total=$total \
        'BEGIN { printf "%d of %d messages in %.2f s: %.0f messages/s\n", n, total, ns / 1e9, n / (ns / 1e9) }'
}

# Median wire-to-client latency over N single-block messages, one TCP session each.
latency() {
    lq_peer python3 - "$LQ_CLIENT_ADDR" "$socket" "${1:-100}" <<'PY'
import json, socket, statistics, struct, sys, time
addr, path, n = sys.argv[1], sys.argv[2], int(sys.argv[3])
def nb(name, suffix):  # RFC 1001 first-level encoding
    raw = name.ljust(15).encode()[:15] + bytes([suffix])
    return bytes([32]) + bytes(c for b in raw for c in (0x41 + (b >> 4), 0x41 + (b & 15))) + b"\0"
def smb(command, words, data):
    hdr = b"\xffSMB" + bytes([command]) + bytes(27)
    return hdr + bytes([len(words) // 2]) + words + struct.pack("<H", len(data)) + data
def frame(body, kind=0):
    return struct.pack(">BBH", kind, 0, len(body)) + body
def read_frame(t):
    head = b""
    while len(head) < 4: head += t.recv(4 - len(head))
    size = struct.unpack(">H", head[2:])[0]
    body = b""
    while len(body) < size: body += t.recv(size - len(body))
    return head[0], body
u = socket.socket(socket.AF_UNIX); u.connect(path); u.sendall(b'{"hello":1}\n')
f = u.makefile("rb")
f.readline(); f.readline()  # hello, status
negotiate = smb(0x72, b"", b"\x02NT LM 0.12\0")
samples = []
for i in range(n):
    t = socket.create_connection((addr, 139))
    t.sendall(frame(nb("LQHOST", 3) + nb("LQPEER", 0), 0x81))
    assert read_frame(t)[0] == 0x82
    t.sendall(frame(negotiate)); read_frame(t)
    text = b"latency %d" % i
    request = frame(smb(0xD0, b"", b"\x04LQPEER\0\x04LQHOST\0\x01" + struct.pack("<H", len(text)) + text))
    t0 = time.perf_counter()
    t.sendall(request)
    line = json.loads(f.readline())
    samples.append((time.perf_counter() - t0) * 1000)
    u.sendall(json.dumps({"ack": line["id"]}).encode() + b"\n")
    read_frame(t); t.close()
print("median %.2f ms  min %.2f ms  max %.2f ms  (%d messages)" % (
    statistics.median(samples), min(samples), max(samples), n))
PY
}

echo "== lanquilld on TCP 139"
start_lanquilld || { echo "lanquilld did not start"; exit 1; }
printf '  accepted: '; throughput | tee "$LQ_TMP/rate.ours"
printf '  wire-to-client latency: '; latency 100 | tee "$LQ_TMP/latency.ours"
kill -TERM "$LQ_DAEMON_PID"; wait "$LQ_DAEMON_PID" 2>/dev/null

echo "== smbd on TCP 139, message command lanquill-deliver, lanquilld behind it"
conf=$LQ_TMP/host/smb.conf
mkdir -p "$LQ_TMP/host"
lq_write_conf "$LQ_TMP/host" "$LQ_CLIENT_ADDR" $HOST >"$conf"
printf '    map to guest = Bad User\n' >>"$conf"
"$bin/lanquill-net" receiver-config | grep -v '^#' |
    sed "s|/usr/libexec/lanquill/lanquill-deliver|$LQ_TMP/lanquill-deliver|" >>"$conf"
setsid ip netns exec "$LQ_NS_CLIENT" smbd --foreground --no-process-group -s "$conf" \
    </dev/null >/dev/null 2>&1 &
for _ in $(seq 1 100); do
    lq_peer timeout 2 bash -c "exec 3<>/dev/tcp/$LQ_CLIENT_ADDR/139" 2>/dev/null && break
    sleep 0.1
done
start_lanquilld || { echo "lanquilld did not start"; exit 1; }
printf '  accepted: '; throughput | tee "$LQ_TMP/rate.smbd"
printf '  wire-to-client latency: '; latency 100 | tee "$LQ_TMP/latency.smbd"
kill -TERM "$LQ_DAEMON_PID"; wait "$LQ_DAEMON_PID" 2>/dev/null

echo "== lanquilld start, exec to session.sock (20 starts, in the namespace)"
rm -rf "$RUNTIME_DIRECTORY"
lq_client python3 - "$bin/lanquilld" "$RUNTIME_DIRECTORY/session.sock" $HOST <<'PY' | tee "$LQ_TMP/start.ours"
import os, signal, statistics, subprocess, sys, time
daemon, path, name = sys.argv[1:4]
samples = []
for _ in range(20):
    t0 = time.perf_counter()
    p = subprocess.Popen([daemon, "--listen", "--name", name], stderr=subprocess.DEVNULL)
    while not os.path.exists(path):
        if p.poll() is not None: sys.exit("lanquilld exited")
        time.sleep(0.0001)
    samples.append((time.perf_counter() - t0) * 1000)
    p.send_signal(signal.SIGTERM); p.wait()
print("  median %.2f ms  min %.2f ms  max %.2f ms" % (statistics.median(samples), min(samples), max(samples)))
PY

# The table rows: rates as their inverse ratio (smbd's over ours: at most 0.10 is ten times its
# rate), the latency and start goals judged here.
rate() { sed -n 's/.*: \([0-9]*\) messages\/s$/\1/p' "$1"; }
median() { sed -n 's/.*median \([0-9.]*\) ms.*/\1/p' "$1"; }
ours=$(rate "$LQ_TMP/rate.ours") smbd=$(rate "$LQ_TMP/rate.smbd")
[ -n "$ours" ] && [ -n "$smbd" ] &&
    echo "TABLE|receive, 8 lanquill-net send loops: lanquilld vs smbd + message command|$ours msg/s|$smbd msg/s|$(awk -v a="$smbd" -v b="$ours" 'BEGIN { printf "%.2f", a / b }')|<= 0.10"
ours=$(median "$LQ_TMP/latency.ours") smbd=$(median "$LQ_TMP/latency.smbd")
[ -n "$ours" ] && [ -n "$smbd" ] &&
    echo "TABLE|wire-to-client latency, median: lanquilld vs smbd + message command|$ours ms|$smbd ms|$(awk -v a="$ours" -v b="$smbd" 'BEGIN { printf "%.2f", a / b }')|< 2 ms $(awk -v t="$ours" 'BEGIN { print (t + 0 < 2) ? "met" : "missed" }')"
ours=$(median "$LQ_TMP/start.ours")
[ -n "$ours" ] &&
    echo "TABLE|lanquilld start, exec to session.sock, median|$ours ms|||< 50 ms $(awk -v t="$ours" 'BEGIN { print (t + 0 < 50) ? "met" : "missed" }')"
