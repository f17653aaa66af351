#!/usr/bin/env python3
"""A stand-in for lanquilld's session socket: serves PATH, answers each client's hello with
{"status":"receiving"}, then sends every message of MESSAGES (a JSON-lines file, read afresh on
each connection) not yet acknowledged, PACE seconds apart (0 by default), and appends each
acknowledged id to ACKS. Unacknowledged messages go out again on the next connection, as
lanquilld's spool does.

Usage: fake_lanquilld.py PATH MESSAGES ACKS [PACE]
"""
import json
import os
import socket
import sys
import threading
import time


def send_all(stream, lines, pace):
    try:
        for line in lines:
            stream.write(line.encode("utf-8"))
            stream.flush()
            time.sleep(pace)
    except OSError:
        pass  # the client went; what it did not acknowledge goes again next time


def serve(path, messages_file, acks_file, pace="0"):
    if os.path.exists(path):
        os.unlink(path)
    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    server.bind(path)
    server.listen(1)
    print("listening", flush=True)
    while True:
        conn, _ = server.accept()
        stream = conn.makefile("rwb")
        try:
            hello = json.loads(stream.readline())
            assert hello == {"hello": 1}, hello
            stream.write(b'{"status":"receiving"}\n')
            acked = set()
            if os.path.exists(acks_file):
                with open(acks_file) as f:
                    acked = {line.strip() for line in f}
            with open(messages_file, encoding="utf-8") as f:
                pending = [line for line in f if json.loads(line)["id"] not in acked]
            threading.Thread(target=send_all, args=(stream, pending, float(pace)),
                             daemon=True).start()
            while True:
                line = stream.readline()
                if not line:
                    break
                ack = json.loads(line)["ack"]
                with open(acks_file, "a") as f:
                    f.write(ack + "\n")
        except (OSError, ValueError, AssertionError) as error:
            print("connection ended: %r" % (error,), flush=True)
        finally:
            conn.close()


if __name__ == "__main__":
    serve(*sys.argv[1:5])
