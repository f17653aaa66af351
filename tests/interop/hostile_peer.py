#!/usr/bin/env python3
"""A hostile NetBIOS host for the real-peer checks; run it inside the peer namespace only.

    hostile_peer.py ADDR answer IP       name queries answered with IP (loopback, broadcast...)
    hostile_peer.py ADDR table N NAME [GROUP]
                                         node status: NAME<00>, group GROUP<00> (default LQWG),
                                         then unique names to N in all (\\x00, \\x1b escapes)
    hostile_peer.py ADDR slow SECONDS    every SMB answered after SECONDS (a peer just inside
                                         each reply deadline)
    hostile_peer.py ADDR stall IP        name queries answered with IP; TCP 139 accepts and
                                         never answers
In every mode but stall TCP 139 takes any messenger session and answers each SMB as a success.
"""
import socket
import struct
import sys
import threading
import time

addr, mode = sys.argv[1], sys.argv[2]


def pad(name, suffix):
    return name.ljust(15, b" ")[:15] + bytes([suffix])


def wire(text):
    return text.encode().decode("unicode_escape").encode("latin-1")


def udp_peer():
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    sock.bind(("0.0.0.0", 137))  # broadcasts reach only a wildcard bind
    while True:
        query, sender = sock.recvfrom(2048)
        if len(query) < 50 or query[2] & 0x80:
            continue
        tid, question, qtype = query[:2], query[12:46], query[46:48]
        head = tid + b"\x84\x00\x00\x00\x00\x01\x00\x00\x00\x00" + question + qtype + b"\x00\x01"
        if qtype == b"\x00\x20" and mode in ("answer", "stall"):
            ip = socket.inet_aton(sys.argv[3])
            sock.sendto(head + b"\x00\x00\x00\x00\x00\x06\x00\x00" + ip, sender)
        elif qtype == b"\x00\x21":
            args = sys.argv[3:] if mode == "table" else ["2", "EVILPEER"]
            count, first, group = int(args[0]), args[1], (args[2:] or ["LQWG"])[0]
            entries = [pad(wire(first), 0) + b"\x04\x00", pad(wire(group), 0) + b"\x84\x00"]
            entries += [pad(b"N%d" % i, 0x20) + b"\x04\x00" for i in range(2, count)]
            table = bytes([count]) + b"".join(entries) + bytes(46)
            sock.sendto(head + b"\x00\x00\x00\x00" + struct.pack(">H", len(table)) + table, sender)


def read_exact(conn, length):
    data = b""
    while len(data) < length:
        more = conn.recv(length - len(data))
        if not more:
            raise EOFError
        data += more
    return data


def slow_session(conn, delay):
    try:
        while True:
            head = read_exact(conn, 4)
            body = read_exact(conn, ((head[1] & 1) << 16) | struct.unpack(">H", head[2:])[0])
            time.sleep(delay)
            if head[0] == 0x81:  # session request: positive answer
                conn.sendall(b"\x82\x00\x00\x00")
                continue
            reply = bytearray(body[:32])
            reply[5:9] = bytes(4)  # status: success
            reply[9] |= 0x80  # a reply
            words = b"\x01\x00\x00" if body[4] == 0x72 else b"\x00"  # negotiate: dialect 0
            if body[4] == 0xD5:  # start of a multi-block message: group id 1
                words = b"\x01\x01\x00"
            reply += words + b"\x00\x00"
            conn.sendall(struct.pack(">I", len(reply)) + reply)
    except (EOFError, OSError):
        conn.close()


def tcp_peer(delay):
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind((addr, 139))
    server.listen()
    while True:
        conn, _ = server.accept()
        threading.Thread(target=slow_session, args=(conn, delay), daemon=True).start()


delay = float(sys.argv[3]) if mode == "slow" else 1e9 if mode == "stall" else 0
threading.Thread(target=tcp_peer, args=(delay,), daemon=True).start()
udp_peer()
