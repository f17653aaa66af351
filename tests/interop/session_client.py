#!/usr/bin/env python3
"""A desktop session for tests: says hello on session.sock, prints every line it gets (one JSON
object per line) to stdout, acknowledges messages unless --no-ack, exits after --count
messages or --seconds."""
import json, socket, sys, time, argparse

p = argparse.ArgumentParser()
p.add_argument("socket")
p.add_argument("--count", type=int, default=1)
p.add_argument("--seconds", type=float, default=10)
p.add_argument("--no-ack", action="store_true")
a = p.parse_args()
deadline = time.time() + a.seconds
s = None
while s is None and time.time() < deadline:
    try:
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        s.connect(a.socket)
    except OSError:
        s = None
        time.sleep(0.05)
if s is None:
    sys.exit("no session socket")
s.sendall(b'{"hello":1}\n')
buf, got = b"", 0
while got < a.count and time.time() < deadline:
    s.settimeout(max(0.01, deadline - time.time()))
    try:
        chunk = s.recv(65536)
    except socket.timeout:
        break
    if not chunk:
        break
    buf += chunk
    while b"\n" in buf:
        line, buf = buf.split(b"\n", 1)
        obj = json.loads(line)
        print(json.dumps(obj, ensure_ascii=False), flush=True)
        if "id" in obj:
            got += 1
            if not a.no_ack:
                s.sendall(json.dumps({"ack": obj["id"]}).encode() + b"\n")
sys.exit(0 if got >= a.count else 1)
