#!/usr/bin/env python3
"""The fake Windows target's DCE/RPC side, driven with hand-made PDUs over loopback TCP: binds
(feature negotiation, NDR64 only, unknown interface, authentication, bad version), requests in
fragments both ways, every call of the three interfaces, and the faults a Windows server gives
for bad stubs, handles, opnums and contexts. Each case also says whether the fake must log
"unexpected". Prints ok/FAIL lines and "N passed, N failed".
Usage: fake_tsts_check.py [path/to/fake_tsts.py]
"""
import json
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
FAKE = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "fake_tsts.py")
NDR32 = uuid.UUID("8a885d04-1ceb-11c9-9fe8-08002b104860").bytes_le + struct.pack("<HH", 2, 0)
NDR64 = uuid.UUID("71710533-beba-4937-8319-b5dbef9ccc36").bytes_le + struct.pack("<HH", 1, 0)
FEATURES = uuid.UUID("6cb71c2c-9812-4540-0300-000000000000").bytes_le + struct.pack("<HH", 1, 0)
SESSION = uuid.UUID("484809d6-4239-471b-b5bc-61df8c23ac48").bytes_le + struct.pack("<HH", 1, 0)
ENUM = uuid.UUID("88143fd0-c28d-4b2b-8fef-8d882f6a9390").bytes_le + struct.pack("<HH", 1, 0)
ICA = uuid.UUID("5ca4a760-ebb1-11cf-8611-00a0245420ed").bytes_le + struct.pack("<HH", 1, 0)
OTHER = uuid.UUID("12345778-1234-abcd-ef00-0123456789ab").bytes_le + struct.pack("<HH", 0, 0)

passed = failed = 0
fakes = []


def check(what, ok, detail=""):
    global passed, failed
    if ok:
        passed += 1
        print("ok   - " + what)
    else:
        failed += 1
        print("FAIL - %s %s" % (what, detail))


def pdu(ptype, flags, body, call_id=1, auth=b"", version=5):
    return struct.pack("<BBBB4sHHI", version, 0, ptype, flags, b"\x10\0\0\0",
                       16 + len(body) + len(auth), len(auth) and len(auth) - 8, call_id) + body + auth


def bind_body(contexts, max_recv=4280):
    body = struct.pack("<HHIB3x", 4280, max_recv, 0, len(contexts))
    for i, (abstract, syntaxes) in enumerate(contexts):
        body += struct.pack("<HBx", i, len(syntaxes)) + abstract + b"".join(syntaxes)
    return body


def cv(text, nul=True):
    raw = (text + ("\0" if nul else "")).encode("utf-16-le")
    return struct.pack("<III", len(raw) // 2, 0, len(raw) // 2) + raw + b"\0" * (-len(raw) % 4)


class Fake:
    def __init__(self, *options):
        self.dir = tempfile.mkdtemp(prefix="fake-tsts-check.")
        self.records = os.path.join(self.dir, "records")
        self.log = open(os.path.join(self.dir, "log"), "w+")
        ready = os.path.join(self.dir, "ready")
        self.proc = subprocess.Popen([sys.executable, FAKE, self.records, "--tcp", "127.0.0.1",
                                      "--ready", ready] + list(options),
                                     stdout=subprocess.DEVNULL, stderr=self.log)
        fakes.append(self)
        for _ in range(200):
            if os.path.exists(ready):
                break
            try:
                self.proc.wait(0.05)
                raise SystemExit("fake_tsts.py ended at start")
            except subprocess.TimeoutExpired:
                pass
        self.ports = dict(line.split() for line in open(ready) if " " in line)

    def connect(self, pipe="lsm"):
        s = socket.create_connection(("127.0.0.1", int(self.ports[pipe])))
        s.settimeout(20)  # a guard against a hang, not a measurement
        return s

    def unexpected_lines(self):
        self.log.flush()
        return [line for line in open(self.log.name) if "unexpected" in line]

    def shown(self):
        if not os.path.exists(self.records):
            return []
        return [json.loads(line) for line in open(self.records)]

    def stop(self):
        self.proc.terminate()
        self.proc.wait()


def read_pdu(s):
    head = b""
    while len(head) < 16:
        chunk = s.recv(16 - len(head))
        if not chunk:
            return None
        head += chunk
    frag = struct.unpack("<H", head[8:10])[0]
    body = b""
    while len(body) < frag - 16:
        chunk = s.recv(frag - 16 - len(body))
        if not chunk:
            return None
        body += chunk
    return head[2], head[3], body


def call(s, ctx, opnum, stub, pieces=1, call_id=7):
    """A request split into PIECES fragments; the answer reassembled: ("response", stub) or
    ("fault", status)."""
    size = -(-len(stub) // pieces) if stub else 0
    chunks = [stub[i:i + size] for i in range(0, len(stub), size)] if size else [b""]
    for i, chunk in enumerate(chunks):
        flags = (1 if i == 0 else 0) | (2 if i == len(chunks) - 1 else 0)
        s.sendall(pdu(0, flags, struct.pack("<IHH", len(stub), ctx, opnum) + chunk, call_id))
    answer, fragments = b"", 0
    while True:
        got = read_pdu(s)
        if got is None:
            return ("closed", None)
        ptype, flags, body = got
        fragments += 1
        if ptype == 3:
            return ("fault", struct.unpack("<I", body[8:12])[0])
        answer += body[8:]
        if flags & 2:
            call.fragments = fragments
            return ("response", answer)


def bound(fake, pipe, contexts, max_recv=4280):
    s = fake.connect(pipe)
    s.sendall(pdu(11, 3, bind_body(contexts, max_recv)))
    return s, read_pdu(s)


def results(body):
    """The result list of a bind_ack: [(result, reason, syntax bytes)]."""
    addr_len = struct.unpack("<H", body[8:10])[0]
    pos = 10 + addr_len
    pos += -(16 + pos) % 4
    n = body[pos]
    pos += 4
    return [struct.unpack("<HH", body[pos + 24 * i:pos + 24 * i + 4]) + (body[pos + 24 * i + 4:pos + 24 * i + 24],)
            for i in range(n)], body[10:10 + addr_len]


def main():
    fake = Fake("--sessions", "0,1,2", "--active", "2")

    # ---- binds, table-driven: contexts -> expected (result, reason) per context -----------
    binds = [
        ("session + feature negotiation: accepted, negotiate ack with the offered bits",
         [(SESSION, [NDR32]), (SESSION, [FEATURES])], [(0, 0), (3, 3)], False),
        ("NDR64 only: transfer syntaxes not supported", [(SESSION, [NDR64])], [(2, 2)], True),
        ("NDR64 and NDR32 offered: NDR32 taken", [(SESSION, [NDR64, NDR32])], [(0, 0)], False),
        ("an interface the pipe does not serve: abstract syntax not supported",
         [(OTHER, [NDR32])], [(2, 1)], True),
        ("IcaApi on the LSM pipe: abstract syntax not supported", [(ICA, [NDR32])], [(2, 1)], True),
    ]
    for what, contexts, want, logs in binds:
        before = len(fake.unexpected_lines())
        s, (ptype, _, body) = bound(fake, "lsm", contexts)
        got, address = results(body)
        check("bind: " + what, ptype == 12 and [(r, why) for r, why, _ in got] == want,
              "%d %s" % (ptype, got))
        if want[0] == (0, 0):
            check("  ... accepted context carries NDR32, address \\PIPE\\LSM_API_service",
                  got[0][2] == NDR32 and address == b"\\PIPE\\LSM_API_service\0", repr(address))
        if len(want) > 1:
            check("  ... the negotiate ack carries no transfer syntax", got[1][2] == b"\0" * 20)
        check("  ... logged as unexpected" if logs else "  ... nothing logged as unexpected",
              (len(fake.unexpected_lines()) > before) == logs)
        s.close()

    naks = [("an authentication verifier: bind_nak, authentication type not recognized",
             pdu(11, 3, bind_body([(SESSION, [NDR32])]), auth=b"\x0a\x06\0\0\0\0\0\0" + b"N" * 16), 8),
            ("RPC version 4: bind_nak, version not supported",
             pdu(11, 3, bind_body([(SESSION, [NDR32])]), version=4), 4)]
    for what, raw, reason in naks:
        s = fake.connect()
        s.sendall(raw)
        ptype, _, body = read_pdu(s)
        check("bind: " + what, ptype == 13 and struct.unpack("<H", body[:2])[0] == reason,
              "%d %r" % (ptype, body[:2]))
        s.close()

    # ---- calls on one association: session context 0, enumeration context 1 ---------------
    s, (ptype, _, _) = bound(fake, "lsm", [(SESSION, [NDR32]), (ENUM, [NDR32])], max_recv=1024)
    kind, out = call(s, 1, 0, b"")
    check("RpcOpenEnum: a handle and S_OK", kind == "response" and len(out) == 24 and out[20:] == b"\0" * 4)
    enum = out[:20]
    for level, stride in ((1, 84), (2, 108), (3, 116)):
        kind, out = call(s, 1, 5, enum + struct.pack("<I", level))
        ok = kind == "response"
        if ok:
            referent, count = struct.unpack("<II", out[:8])
            rows = [struct.unpack("<IIii", out[8 + i * stride:24 + i * stride]) for i in range(count)]
            names = [out[24 + i * stride:24 + i * stride + 66].decode("utf-16-le").split("\0")[0]
                     for i in range(count)]
            tail = struct.unpack("<II", out[8 + count * stride:])
            ok = (referent != 0 and rows == [(level, level, 0, 4), (level, level, 1, 4),
                                             (level, level, 2, 0)]
                  and names == ["Services", "RDP-Tcp#1", "Console"] and tail == (3, 0))
        check("RpcGetEnumResult level %d: 3 sessions, 2 Active as Console, %d-byte entries"
              % (level, stride), ok, repr(out[:40]))
    kind, out = call(s, 1, 1, enum)
    check("RpcCloseEnum: handle zeroed, S_OK", (kind, out) == ("response", b"\0" * 24))
    kind, out = call(s, 1, 1, enum)
    check("RpcCloseEnum again: context mismatch fault", (kind, out) == ("fault", 0x1C00001A))

    kind, out = call(s, 0, 0, struct.pack("<I", 2), pieces=2)
    check("RpcOpenSession 2 in two fragments: a handle and S_OK",
          kind == "response" and out[20:] == b"\0" * 4)
    handle = out[:20]
    text = ("下课了，请保存文件\n第二行 " * 60)[:1000]
    stub = handle + cv("Message from CHECK") + cv(text) + struct.pack("<III", 0x40, 0, 1)
    kind, out = call(s, 0, 9, stub, pieces=4)
    check("RpcShowMessageBox, 1,000 characters in four fragments: IDASYNC, S_OK",
          (kind, out) == ("response", struct.pack("<II", 32001, 0)), repr((kind, out)))
    shown = fake.shown()
    check("  ... recorded whole on session 2",
          shown == [{"iface": "lsm", "session": 2, "title": "Message from CHECK", "text": text,
                     "style": 64, "timeout": 0, "donotwait": True}], repr(shown)[:200])
    stub = handle + cv("T") + cv("wait") + struct.pack("<III", 0x40, 30, 0)
    check("RpcShowMessageBox waiting: IDOK",
          call(s, 0, 9, stub) == ("response", struct.pack("<II", 1, 0)))

    before = len(fake.unexpected_lines())
    bad = [
        ("message without its NUL", handle + cv("T") + cv("x", nul=False) + struct.pack("<III", 0, 0, 1),
         0, 9, 0x6F7),
        ("stub cut short", handle + cv("T"), 0, 9, 0x6F7),
        ("a handle never given out", b"\0" * 4 + b"\x11" * 16 + cv("T") + cv("x")
         + struct.pack("<III", 0, 0, 1), 0, 9, 0x1C00001A),
        ("TermSrvSession opnum 30", b"", 0, 30, 0x1C010002),
        ("a context never bound", b"", 5, 0, 0x1C010003),
    ]
    for what, stub, ctx, opnum, status in bad:
        got = call(s, ctx, opnum, stub)
        check("fault for %s: 0x%08x" % (what, status), got == ("fault", status), repr(got))
    check("  ... each logged as unexpected", len(fake.unexpected_lines()) - before == len(bad))
    check("  ... and nothing shown", len(fake.shown()) == 2)
    kind, out = call(s, 0, 0, struct.pack("<I", 9))
    check("RpcOpenSession 9 (no such session): ERROR_CTX_WINSTATION_NOT_FOUND as HRESULT",
          kind == "response" and out == b"\0" * 20 + struct.pack("<I", 0x80071B6E))
    kind, out = call(s, 0, 1, handle)
    check("RpcCloseSession: S_OK", (kind, out) == ("response", b"\0" * 24))
    s.sendall(pdu(0, 2, struct.pack("<IHH", 4, 0, 0) + b"\0" * 4, 9))
    got = read_pdu(s)
    check("a last fragment without its first: protocol error fault",
          got and got[0] == 3 and struct.unpack("<I", got[2][8:12])[0] == 0x1C01000B)
    s.close()

    # Responses longer than the client's fragment size come in fragments.
    big = Fake("--sessions", ",".join(str(i) for i in range(40)), "--active", "1")
    s, _ = bound(big, "lsm", [(ENUM, [NDR32])], max_recv=1024)
    enum = call(s, 0, 0, b"")[1][:20]
    kind, out = call(s, 0, 5, enum + struct.pack("<I", 3))
    check("40 sessions at level 3 for a 1,024-byte client: %d fragments, all there"
          % getattr(call, "fragments", 0),
          kind == "response" and call.fragments > 4 and len(out) == 8 + 40 * 116 + 8
          and struct.unpack("<I", out[-4:])[0] == 0)
    s.close()
    big.stop()

    # ---- IcaApi ---------------------------------------------------------------------------
    s, _ = bound(fake, "ica", [(ICA, [NDR32])])
    kind, out = call(s, 0, 0, b"")
    check("RpcWinStationOpenServer: result 0, a handle, TRUE",
          kind == "response" and len(out) == 25 and out[:4] == b"\0" * 4 and out[24] == 1)
    server = out[4:24]

    def send_message(title, text, tlen=None, mlen=None, session=1):
        t = (title + "\0").encode("utf-16-le")
        m = (text + "\0").encode("utf-16-le")
        tn, mn = len(t) // 2, len(m) // 2
        return (server + struct.pack("<II", session, tn) + t + b"\0" * (-len(t) % 4)
                + struct.pack("<II", tn if tlen is None else tlen, mn) + m + b"\0" * (-len(m) % 4)
                + struct.pack("<III", mn if mlen is None else mlen, 0x40, 0) + b"\x01")
    got = call(s, 0, 7, send_message("Message from CHECK", "经 IcaApi\n两行"))
    check("RpcWinStationSendMessage: result 0, IDASYNC, TRUE",
          got == ("response", struct.pack("<II", 0, 32001) + b"\x01"), repr(got))
    check("  ... recorded as ica on session 1", fake.shown()[-1] == {
        "iface": "ica", "session": 1, "title": "Message from CHECK", "text": "经 IcaApi\n两行",
        "style": 64, "timeout": 0, "donotwait": True})
    got = call(s, 0, 7, send_message("T", "bytes", mlen=12))
    check("RpcWinStationSendMessage with MessageLength in bytes, not its array's count: bad stub",
          got == ("fault", 0x6F7), repr(got))
    got = call(s, 0, 7, send_message("T", "x", session=5))
    check("RpcWinStationSendMessage to session 5: STATUS_CTX_WINSTATION_NOT_FOUND, FALSE",
          got == ("response", struct.pack("<II", 0xC00A0015, 0) + b"\0"), repr(got))
    check("RpcWinStationCloseServer: result 0, TRUE",
          call(s, 0, 1, server) == ("response", b"\0" * 4 + b"\x01"))
    s.close()
    check("three messages shown in all", len(fake.shown()) == 3)
    fake.stop()

    # ---- the options: LSM refused, opening denied -------------------------------------------
    refusing = Fake("--refuse-lsm", "--deny-open")
    s, (ptype, _, body) = bound(refusing, "lsm", [(SESSION, [NDR32]), (ENUM, [NDR32])])
    got, _ = results(body)
    check("--refuse-lsm: both LSM interfaces rejected (abstract syntax not supported)",
          [(r, why) for r, why, _ in got] == [(2, 1), (2, 1)])
    s.close()
    s, _ = bound(refusing, "ica", [(ICA, [NDR32])])
    server = call(s, 0, 0, b"")[1][4:24]
    got = call(s, 0, 7, send_message("T", "denied"))
    check("--deny-open: RpcWinStationSendMessage STATUS_ACCESS_DENIED, FALSE",
          got == ("response", struct.pack("<II", 0xC0000022, 0) + b"\0"), repr(got))
    s.close()
    refusing.stop()
    denying = Fake("--deny-open")
    s, _ = bound(denying, "lsm", [(SESSION, [NDR32])])
    got = call(s, 0, 0, struct.pack("<I", 1))
    check("--deny-open: RpcOpenSession E_ACCESSDENIED, no handle",
          got == ("response", b"\0" * 20 + struct.pack("<I", 0x80070005)), repr(got))
    s.close()
    check("  ... nothing shown by the refusing fakes", refusing.shown() == [] and denying.shown() == [])
    denying.stop()

    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    try:
        status = main()
    except Exception as e:  # a check that went wrong early leaves the rest without their input
        check("the checks ran to their end", False, "%s: %s" % (type(e).__name__, e))
        print("%d passed, %d failed" % (passed, failed))
        status = 1
    finally:
        for fake in fakes:
            if fake.proc.poll() is None:
                fake.stop()
            shutil.rmtree(fake.dir, ignore_errors=True)
    sys.exit(status)
