#!/usr/bin/env python3
"""Hosts that try to keep every TCP 139 session of a receiver; run it in the peer namespace only.

    hostile_sessions.py ADDRESS NAME NET hold SECONDS   NET.10-17 hold four sessions each and
                                                        send a NEGOTIATE in each every 5 s
    hostile_sessions.py ADDRESS NAME NET cycle SECONDS  NET.20-169 open session after session,
                                                        each keeping its four newest
Prints how many sessions were granted and refused.
"""
import socket
import struct
import sys
import threading
import time

address, name, net, mode, seconds = sys.argv[1:6]
end = time.monotonic() + float(seconds)
counts = {"granted": 0, "refused": 0}
lock = threading.Lock()


def encoded(text, suffix):  # first-level encoding, RFC 1001 14.1
    raw = text.ljust(15).encode() + bytes([suffix])
    return bytes([32]) + b"".join(bytes([65 + (b >> 4), 65 + (b & 15)]) for b in raw) + b"\0"


NEGOTIATE = b"\xffSMB\x72" + bytes(27) + b"\x00" + struct.pack("<H", 12) + b"\x02NT LM 0.12\0"


def session(source):
    s = socket.socket()
    s.settimeout(3)
    try:
        s.bind((source, 0))
        s.connect((address, 139))
        body = encoded(name, 0x03) + encoded("HOSTILE", 0x00)
        s.sendall(bytes([0x81, 0, 0, len(body)]) + body)
        granted = s.recv(5)[:1] == b"\x82"
    except OSError:
        granted = False
    with lock:
        counts["granted" if granted else "refused"] += 1
    if not granted:
        s.close()
        time.sleep(0.05)
        return None
    return s


def hold(source):
    while time.monotonic() < end:
        s = session(source)
        try:
            while s and time.monotonic() < end:
                s.sendall(struct.pack(">I", len(NEGOTIATE)) + NEGOTIATE)
                if not s.recv(4096):
                    break
                time.sleep(5)
        except OSError:
            pass
        if s:
            s.close()


def cycle(source):
    held = []
    while time.monotonic() < end:
        s = session(source)
        if s:
            held.append(s)
        if len(held) > 4:
            held.pop(0).close()
    for s in held:
        s.close()


if mode == "hold":
    workers = [threading.Thread(target=hold, args=("%s.%d" % (net, 10 + i // 4),))
               for i in range(32)]
else:
    workers = [threading.Thread(target=cycle, args=("%s.%d" % (net, 20 + i),))
               for i in range(150)]
for worker in workers:
    worker.start()
for worker in workers:
    worker.join()
print("%(granted)d sessions granted, %(refused)d refused" % counts)
