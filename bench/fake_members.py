"""Simulated workgroup members for bench_groupsend.sh: a WINS server that knows MEMBERnnn at the
address given on the command line, and a messenger on TCP 139 of every address of its namespace
that accepts each message. Appends "connect" and "message" lines to LOG.
Usage: fake_members.py WINS_ADDRESS LOG NAME=ADDRESS..."""
import socket
import struct
import sys
import threading

wins, log = sys.argv[1], sys.argv[2]
known = {}
for pair in sys.argv[3:]:
    name, address = pair.split("=")
    known[name.upper()] = socket.inet_aton(address)
lock = threading.Lock()


def note(line):
    with lock, open(log, "a") as out:
        out.write(line + "\n")


def decode(encoded):
    raw = bytes((encoded[i] - 65) << 4 | (encoded[i + 1] - 65) for i in range(0, 32, 2))
    return raw[:15].rstrip(b" ").decode("latin-1"), raw[15]


def wins_server():
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind((wins, 137))
    while True:
        data, peer = sock.recvfrom(1024)
        if len(data) < 50 or data[12] != 32:
            continue
        note("query")
        tid, flags = struct.unpack(">HH", data[:4])
        if flags & 0x8000:
            continue
        name, _ = decode(data[13:45])
        address = known.get(name.upper())
        question = data[12:46]
        if address is None:  # name error
            sock.sendto(struct.pack(">HHHHHH", tid, 0x8583, 0, 0, 0, 0) + question +
                        struct.pack(">HHIH", 0x20, 1, 0, 0), peer)
            continue
        sock.sendto(struct.pack(">HHHHHH", tid, 0x8580, 0, 1, 0, 0) + question +
                    struct.pack(">HHIHH", 0x20, 1, 300, 6, 0x6000) + address, peer)


def read_exact(conn, n):
    data = b""
    while len(data) < n:
        more = conn.recv(n - len(data))
        if not more:
            raise EOFError
        data += more
    return data


def member(conn):
    note("connect")
    try:
        with conn:
            while True:
                head = read_exact(conn, 4)
                length = ((head[1] & 1) << 16) | struct.unpack(">H", head[2:])[0]
                body = read_exact(conn, length)
                if head[0] == 0x81:
                    conn.sendall(b"\x82\x00\x00\x00")
                    continue
                if head[0] != 0 or body[:4] != b"\xffSMB":
                    return
                reply = bytearray(body[:32])
                reply[5:9] = b"\0\0\0\0"
                reply[9] |= 0x80
                words = b"\x01\x00\x00" if body[4] == 0x72 else b"\x00"  # dialect 0: NT LM
                reply += words + b"\x00\x00"
                conn.sendall(struct.pack(">BBH", 0, 0, len(reply)) + reply)
                if body[4] == 0xD0:
                    note("message")
    except (EOFError, OSError):
        pass


threading.Thread(target=wins_server, daemon=True).start()
server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(("0.0.0.0", 139))
server.listen(256)
note("ready")
while True:
    connection, _ = server.accept()
    threading.Thread(target=member, args=(connection,), daemon=True).start()
