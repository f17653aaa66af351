#!/usr/bin/env python3
"""A stand-in for the Terminal Services RPC of a Windows 10/11 desktop, for the namespace tests.

It answers connection-oriented DCE/RPC (NDR32; the SMB session below it carries the account,
and with --account a client may add NTLMSSP integrity or privacy at the RPC level) for
TermSrvSession, TermSrvEnumeration and IcaApi, the calls that put a message box on a desktop
session, and writes every message it would have shown as one JSON line to RECORDS:

    {"iface": "lsm"|"ica", "session": N, "title": "...", "text": "...", "style": N,
     "timeout": N, "donotwait": true|false}

It is written from the interface descriptions alone, apart from lanquill's own codec, so that
the two check each other. Anything it did not expect (a PDU type, an opnum, a string that is not
NUL-terminated, a length that does not match its array, an authentication verifier) is answered
as a Windows server would (fault, rejection) and logged on stderr as "unexpected: ...".

Two ways to be reached, both usable at once:
  --npdir DIR   Unix sockets DIR/lsm_api_service and DIR/ctx_winstation_api_service, where smbd
                hands over the pipe names it does not serve itself (its "np" folder under the
                ncalrpc dir), after its named-pipe-auth handshake; then each message is framed
                with a 2-byte little-endian length.
  --tcp ADDR    two TCP ports on ADDR (chosen by the system), one per pipe, for an SMB server
                that forwards a pipe to a socket as a plain byte stream (impacket's
                registerNamedPipe).
When listening, it writes "lsm PORT" and "ica PORT" lines (TCP) and then "ready" to --ready FILE.

Behaviour options:
  --sessions 0,1,2    the sessions there are (default 0,1); 0 is "Services", the active one
                      "Console", others "RDP-Tcp#N", all Disconnected but the active one
  --active N          the session in state Active (default 1; -1: none)
  --refuse-lsm        bind to TermSrvSession/TermSrvEnumeration rejected (abstract syntax not
                      supported): a client must fall back to IcaApi
  --no-lsm-pipe / --no-ica-pipe   that pipe is not served at all
  --deny-open         RpcOpenSession answers E_ACCESSDENIED, RpcWinStationSendMessage
                      STATUS_ACCESS_DENIED (an account without the Message permission)
  --account USER:PASSWORD   the account RPC-level NTLMSSP (NTLMv2) is checked against;
                      without it a bind that asks for authentication gets a bind_nak
"""
import argparse
import hashlib
import hmac
import json
import os
import socketserver
import struct
import sys
import threading
import uuid

# ---- constants ---------------------------------------------------------------------------

NDR32 = (uuid.UUID("8a885d04-1ceb-11c9-9fe8-08002b104860"), 2, 0)
# Bind-time feature negotiation: this prefix in the first 8 bytes of a transfer syntax, the
# offered feature bits little-endian in the last 8.
FEATURE_PREFIX = uuid.UUID("6cb71c2c-9812-4540-0000-000000000000").bytes_le[:8]
FEATURES_KNOWN = 0x01 | 0x02  # security context multiplexing, keep connection on orphan

SESSION_IF = uuid.UUID("484809d6-4239-471b-b5bc-61df8c23ac48")
ENUM_IF = uuid.UUID("88143fd0-c28d-4b2b-8fef-8d882f6a9390")
ICA_IF = uuid.UUID("5ca4a760-ebb1-11cf-8611-00a0245420ed")
PIPE_IFACES = {"lsm_api_service": {SESSION_IF: "session", ENUM_IF: "enum"},
               "ctx_winstation_api_service": {ICA_IF: "ica"}}
PIPE_NAMES = {"lsm_api_service": "LSM_API_service",
              "ctx_winstation_api_service": "Ctx_WinStation_API_service"}

PT_REQUEST, PT_RESPONSE, PT_FAULT = 0, 2, 3
PT_BIND, PT_BIND_ACK, PT_BIND_NAK = 11, 12, 13
PT_ALTER, PT_ALTER_RESP, PT_AUTH3, PT_SHUTDOWN, PT_CANCEL, PT_ORPHANED = 14, 15, 16, 17, 18, 19
PFC_FIRST, PFC_LAST, PFC_OBJECT = 0x01, 0x02, 0x80

NCA_OP_RNG_ERROR = 0x1C010002
NCA_UNK_IF = 0x1C010003
NCA_PROTO_ERROR = 0x1C01000B
NCA_CONTEXT_MISMATCH = 0x1C00001A
RPC_X_BAD_STUB_DATA = 0x000006F7
E_ACCESSDENIED = 0x80070005
HR_WINSTATION_NOT_FOUND = 0x80071B6E  # HRESULT of ERROR_CTX_WINSTATION_NOT_FOUND
STATUS_ACCESS_DENIED = 0xC0000022
STATUS_CTX_WINSTATION_NOT_FOUND = 0xC00A0015
IDOK, IDASYNC = 1, 32001
STATE_ACTIVE, STATE_DISCONNECTED = 0, 4

OUR_MAX_FRAG = 4280  # what Windows offers on SMB pipes

# ---- shared state ------------------------------------------------------------------------

options = None
record_lock = threading.Lock()


def unexpected(what):
    sys.stderr.write("fake_tsts: unexpected: %s\n" % what)
    sys.stderr.flush()


def note(what):
    sys.stderr.write("fake_tsts: %s\n" % what)
    sys.stderr.flush()


def record(entry):
    with record_lock, open(options.records, "a", encoding="utf-8") as f:
        f.write(json.dumps(entry, ensure_ascii=False) + "\n")


def session_table():
    table = []
    for sid in options.sessions:
        if sid == options.active:
            name, state = "Console", STATE_ACTIVE
        elif sid == 0:
            name, state = "Services", STATE_DISCONNECTED
        else:
            name, state = "RDP-Tcp#%d" % sid, STATE_DISCONNECTED
        table.append((sid, state, name))
    return table


# ---- NDR reading -------------------------------------------------------------------------


class BadStub(Exception):
    pass


class Reader:
    def __init__(self, data):
        self.data, self.pos = data, 0

    def align(self, n):
        self.pos = (self.pos + n - 1) // n * n

    def take(self, n):
        if n < 0 or self.pos + n > len(self.data):
            raise BadStub("stub ends %d bytes early" % (self.pos + n - len(self.data)))
        chunk = self.data[self.pos:self.pos + n]
        self.pos += n
        return chunk

    def u8(self):
        return self.take(1)[0]

    def u32(self):
        self.align(4)
        return struct.unpack("<I", self.take(4))[0]

    def handle(self):
        self.align(4)
        return self.take(20)

    def utf16(self, count, what):
        raw = self.take(2 * count)
        try:
            return raw.decode("utf-16-le")
        except UnicodeDecodeError:
            raise BadStub("%s is not valid UTF-16" % what)

    def cv_string(self, what):
        """[string] WCHAR*: max count, offset, actual count, the characters with their NUL."""
        maximum, offset, actual = self.u32(), self.u32(), self.u32()
        if offset != 0 or actual > maximum or actual == 0:
            raise BadStub("%s: max %d offset %d actual %d" % (what, maximum, offset, actual))
        text = self.utf16(actual, what)
        if not text.endswith("\0"):
            raise BadStub("%s is not NUL-terminated" % what)
        return text[:-1]

    def conformant_wchars(self, what):
        """[size_is(N)] PWCHAR: max count, then that many characters."""
        count = self.u32()
        if count > 1024:
            raise BadStub("%s: %d characters, over the range 0..1024" % (what, count))
        return count, self.utf16(count, what)

    def done(self, what):
        if self.pos != len(self.data):
            unexpected("%s: %d bytes after the last parameter" % (what, len(self.data) - self.pos))


# ---- the calls ---------------------------------------------------------------------------


class Fault(Exception):
    def __init__(self, status):
        super().__init__("fault 0x%08x" % status)
        self.status = status


def new_handle(handles, kind, value):
    h = struct.pack("<I", 0) + uuid.uuid4().bytes
    handles[h] = (kind, value)
    return h


def lookup_handle(handles, raw, kind, what):
    entry = handles.get(raw)
    if entry is None or entry[0] != kind:
        unexpected("%s with a handle it never gave out" % what)
        raise Fault(NCA_CONTEXT_MISMATCH)
    return entry[1]


def enum_entries(level):
    out = b""
    for sid, state, name in session_table():
        wname = (name + "\0").encode("utf-16-le").ljust(66, b"\0")[:66]
        arm = struct.pack("<ii", sid, state) + wname  # 74 bytes
        if level >= 2:
            arm += b"\0\0" + struct.pack("<II", 0, 1) + b"\0" * 16  # Source, bFullDesktop, GUID
        if level >= 3:
            arm += struct.pack("<II", 0, 0)  # ProtoDataSize, pProtocolData NULL
        entry = struct.pack("<II", level, level) + arm  # Level, union discriminant, arm
        out += entry + b"\0" * (-len(entry) % 4)
    return out


def call_enum(conn, opnum, r):
    if opnum == 0:  # RpcOpenEnum
        r.done("RpcOpenEnum")
        return new_handle(conn.handles, "enum", None) + struct.pack("<I", 0)
    if opnum == 1:  # RpcCloseEnum
        h = r.handle()
        r.done("RpcCloseEnum")
        lookup_handle(conn.handles, h, "enum", "RpcCloseEnum")
        del conn.handles[h]
        return b"\0" * 20 + struct.pack("<I", 0)
    if opnum in (5, 9):  # RpcGetEnumResult, RpcGetEnumResultEx
        h = r.handle()
        level = r.u32()
        r.done("RpcGetEnumResult")
        lookup_handle(conn.handles, h, "enum", "RpcGetEnumResult")
        if level not in (1, 2, 3):
            unexpected("RpcGetEnumResult level %d; answering level 3" % level)
            level = 3
        if opnum == 9:
            note("RpcGetEnumResultEx answered with the RpcGetEnumResult entries")
        entries = session_table()
        # unique pointer to a conformant array: referent, count, the entries
        body = struct.pack("<II", 0x20000, len(entries)) + enum_entries(level)
        return body + struct.pack("<II", len(entries), 0)
    unexpected("TermSrvEnumeration opnum %d" % opnum)
    raise Fault(NCA_OP_RNG_ERROR)


def call_session(conn, opnum, r):
    if opnum == 0:  # RpcOpenSession
        sid = r.u32()
        r.done("RpcOpenSession")
        note("RpcOpenSession %d" % sid)
        if options.deny_open:
            return b"\0" * 20 + struct.pack("<I", E_ACCESSDENIED)
        if sid not in options.sessions:
            return b"\0" * 20 + struct.pack("<I", HR_WINSTATION_NOT_FOUND)
        return new_handle(conn.handles, "session", sid) + struct.pack("<I", 0)
    if opnum == 1:  # RpcCloseSession
        h = r.handle()
        r.done("RpcCloseSession")
        lookup_handle(conn.handles, h, "session", "RpcCloseSession")
        del conn.handles[h]
        return b"\0" * 20 + struct.pack("<I", 0)
    if opnum == 9:  # RpcShowMessageBox
        h = r.handle()
        title = r.cv_string("title")
        text = r.cv_string("message")
        style, timeout, donotwait = r.u32(), r.u32(), r.u32()
        r.done("RpcShowMessageBox")
        sid = lookup_handle(conn.handles, h, "session", "RpcShowMessageBox")
        if donotwait not in (0, 1):
            unexpected("RpcShowMessageBox bDoNotWait %d" % donotwait)
        record({"iface": "lsm", "session": sid, "title": title, "text": text, "style": style,
                "timeout": timeout, "donotwait": bool(donotwait)})
        return struct.pack("<II", IDASYNC if donotwait else IDOK, 0)
    unexpected("TermSrvSession opnum %d" % opnum)
    raise Fault(NCA_OP_RNG_ERROR)


def call_ica(conn, opnum, r):
    if opnum == 0:  # RpcWinStationOpenServer: out pResult, phServer, BOOLEAN
        r.done("RpcWinStationOpenServer")
        h = new_handle(conn.handles, "server", None)
        return struct.pack("<I", 0) + h + b"\x01"
    if opnum == 1:  # RpcWinStationCloseServer: out pResult, BOOLEAN
        h = r.handle()
        r.done("RpcWinStationCloseServer")
        lookup_handle(conn.handles, h, "server", "RpcWinStationCloseServer")
        del conn.handles[h]
        return struct.pack("<I", 0) + b"\x01"
    if opnum == 7:  # RpcWinStationSendMessage
        h = r.handle()
        sid = r.u32()
        tcount, title = r.conformant_wchars("title")
        tlen = r.u32()
        mcount, text = r.conformant_wchars("message")
        mlen = r.u32()
        style, timeout = r.u32(), r.u32()
        donotwait = r.u8()
        r.done("RpcWinStationSendMessage")
        lookup_handle(conn.handles, h, "server", "RpcWinStationSendMessage")
        # The length parameters are the size_is of their arrays: a marshalling engine that checks
        # correlation refuses a stub where they differ.
        if tlen != tcount or mlen != mcount:
            raise BadStub("title %d chars, TitleLength %d; message %d chars, MessageLength %d"
                          % (tcount, tlen, mcount, mlen))
        title, text = title.rstrip("\0"), text.rstrip("\0")
        if options.deny_open:
            return struct.pack("<II", STATUS_ACCESS_DENIED, 0) + b"\x00"
        if sid not in options.sessions:
            return struct.pack("<II", STATUS_CTX_WINSTATION_NOT_FOUND, 0) + b"\x00"
        record({"iface": "ica", "session": sid, "title": title, "text": text, "style": style,
                "timeout": timeout, "donotwait": bool(donotwait)})
        return struct.pack("<II", 0, IDASYNC if donotwait else IDOK) + b"\x01"
    unexpected("IcaApi opnum %d" % opnum)
    raise Fault(NCA_OP_RNG_ERROR)


CALLS = {"session": call_session, "enum": call_enum, "ica": call_ica}


# ---- NTLMSSP at the RPC level (packet integrity and privacy) -------------------------------
# A Windows server runs the RPC-level authentication a client asks for; this one knows NTLMSSP
# (auth type 10) with NTLMv2 and extended session security, for the account given by --account.

AUTH_NTLMSSP = 10
LEVEL_INTEGRITY, LEVEL_PRIVACY = 5, 6
NTLM_UNICODE, NTLM_SIGN, NTLM_SEAL, NTLM_KEY_EXCH = 0x1, 0x10, 0x20, 0x40000000
NTLM_ESS, NTLM_TARGET_INFO, NTLM_VERSION, NTLM_128, NTLM_56 = (0x80000, 0x800000, 0x2000000,
                                                                0x20000000, 0x80000000)
NTLM_OFFERED = (NTLM_UNICODE | 0x4 | NTLM_SIGN | NTLM_SEAL | 0x200 | 0x8000 | NTLM_ESS
                | NTLM_TARGET_INFO | NTLM_VERSION | NTLM_128 | NTLM_KEY_EXCH | NTLM_56)


def md4(data):
    """MD4 (RFC 1320): the NT hash; OpenSSL 3 leaves it out of hashlib."""
    def rol(x, n):
        return ((x << n) | (x >> (32 - n))) & 0xFFFFFFFF
    msg = data + b"\x80" + b"\0" * ((55 - len(data)) % 64) + struct.pack("<Q", len(data) * 8)
    h = [0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476]
    for block in range(0, len(msg), 64):
        x = struct.unpack("<16I", msg[block:block + 64])
        a, b, c, d = h
        for i in range(16):
            k, sh = i, (3, 7, 11, 19)[i % 4]
            a, b, c, d = d, rol((a + ((b & c) | (~b & d)) + x[k]) & 0xFFFFFFFF, sh), b, c
        for i in range(16):
            k, sh = (i % 4) * 4 + i // 4, (3, 5, 9, 13)[i % 4]
            a, b, c, d = d, rol((a + ((b & c) | (b & d) | (c & d)) + x[k] + 0x5A827999)
                                & 0xFFFFFFFF, sh), b, c
        for i in range(16):
            k = (0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15)[i]
            sh = (3, 9, 11, 15)[i % 4]
            a, b, c, d = d, rol((a + (b ^ c ^ d) + x[k] + 0x6ED9EBA1) & 0xFFFFFFFF, sh), b, c
        h = [(v + w) & 0xFFFFFFFF for v, w in zip(h, (a, b, c, d))]
    return struct.pack("<4I", *h)


class Rc4:
    def __init__(self, key):
        s, j = list(range(256)), 0
        for i in range(256):
            j = (j + s[i] + key[i % len(key)]) % 256
            s[i], s[j] = s[j], s[i]
        self.s, self.i, self.j = s, 0, 0

    def crypt(self, data):
        s, i, j, out = self.s, self.i, self.j, bytearray()
        for byte in data:
            i = (i + 1) % 256
            j = (j + s[i]) % 256
            s[i], s[j] = s[j], s[i]
            out.append(byte ^ s[(s[i] + s[j]) % 256])
        self.i, self.j = i, j
        return bytes(out)


def hmac_md5(key, data):
    return hmac.new(key, data, hashlib.md5).digest()


class Ntlm:
    """The server side of one NTLMSSP exchange and the sealing that follows it."""

    def __init__(self):
        self.challenge = os.urandom(8)
        self.flags = 0
        self.ready = False

    def challenge_token(self, negotiate):
        if negotiate[:8] != b"NTLMSSP\0" or struct.unpack("<I", negotiate[8:12])[0] != 1:
            raise ValueError("not an NTLMSSP NEGOTIATE")
        offered = struct.unpack("<I", negotiate[12:16])[0]
        self.flags = (offered & NTLM_OFFERED) | NTLM_UNICODE | NTLM_TARGET_INFO | 0x20000
        name = "LQWIN".encode("utf-16-le")
        info = b"".join(struct.pack("<HH", av, len(name)) + name for av in (2, 1, 4, 3))
        info += struct.pack("<HH", 0, 0)
        head = b"NTLMSSP\0" + struct.pack("<I", 2)
        head += struct.pack("<HHI", len(name), len(name), 56) + struct.pack("<I", self.flags)
        head += self.challenge + b"\0" * 8
        head += struct.pack("<HHI", len(info), len(info), 56 + len(name))
        head += bytes((10, 0)) + struct.pack("<H", 19041) + b"\0\0\0\x0f"
        return head + name + info

    def authenticate(self, token):
        """Checks the NTLMv2 answer against --account and derives the keys; False if wrong."""
        def field(offset):
            length, _, where = struct.unpack("<HHI", token[offset:offset + 8])
            if where + length > len(token):
                raise ValueError("field past the end")
            return token[where:where + length]
        if token[:8] != b"NTLMSSP\0" or struct.unpack("<I", token[8:12])[0] != 3:
            raise ValueError("not an NTLMSSP AUTHENTICATE")
        nt, domain, user = field(20), field(28), field(36)
        session_key = field(52)
        flags = struct.unpack("<I", token[60:64])[0]
        account, password = options.account
        if user.decode("utf-16-le").lower() != account.lower() or len(nt) < 24:
            return False
        owf = hmac_md5(md4(password.encode("utf-16-le")),
                       (user.decode("utf-16-le").upper() + domain.decode("utf-16-le"))
                       .encode("utf-16-le"))
        proof = hmac_md5(owf, self.challenge + nt[16:])
        if not hmac.compare_digest(proof, nt[:16]):
            return False
        key = hmac_md5(owf, proof)
        if flags & NTLM_KEY_EXCH and len(session_key) == 16:
            key = Rc4(key).crypt(session_key)
        self.flags &= flags

        def derive(what):
            return hashlib.md5(key + ("session key to %s key magic constant\0" % what).encode()).digest()
        seal_len = 16 if self.flags & NTLM_128 else 7 if self.flags & NTLM_56 else 5
        self.sign_in = derive("client-to-server signing")
        self.sign_out = derive("server-to-client signing")
        self.seal_in = Rc4(derive("client-to-server sealing")[:seal_len])
        self.seal_out = Rc4(derive("server-to-client sealing")[:seal_len])
        self.seq_in = self.seq_out = 0
        self.ready = True
        return True

    def unwrap(self, level, prefix, payload, trailer, signature):
        """The plain payload of a request (its header and body up to the payload in prefix,
        its auth trailer without the token in trailer). Raises ValueError when the signature,
        which covers the whole PDU in plain, does not match."""
        plain = self.seal_in.crypt(payload) if level == LEVEL_PRIVACY else payload
        mac = hmac_md5(self.sign_in, struct.pack("<I", self.seq_in) + prefix + plain + trailer)[:8]
        if self.flags & NTLM_KEY_EXCH:
            mac = self.seal_in.crypt(mac)
        expected = struct.pack("<I", 1) + mac + struct.pack("<I", self.seq_in)
        self.seq_in += 1
        if signature != expected:
            raise ValueError("the request's signature does not match")
        return plain

    def wrap(self, level, payload, whole):
        """The payload as sent and the signature; whole holds the plain payload."""
        mac = hmac_md5(self.sign_out, struct.pack("<I", self.seq_out) + whole)[:8]
        sent = self.seal_out.crypt(payload) if level == LEVEL_PRIVACY else payload
        if self.flags & NTLM_KEY_EXCH:
            mac = self.seal_out.crypt(mac)
        signature = struct.pack("<I", 1) + mac + struct.pack("<I", self.seq_out)
        self.seq_out += 1
        return sent, signature

# ---- PDUs --------------------------------------------------------------------------------


def header(ptype, flags, body_len, call_id, auth_len=0):
    return struct.pack("<BBBB4sHHI", 5, 0, ptype, flags, b"\x10\0\0\0", 16 + body_len, auth_len,
                       call_id)


def auth_trailer(data, auth_len):
    """(auth type, level, pad length, context id, token, where the trailer starts)."""
    at = len(data) - auth_len - 8
    if at < 16:
        raise ValueError("auth length %d past the PDU" % auth_len)
    kind, level, pad, _, ctx = struct.unpack("<BBBBI", data[at:at + 8])
    return kind, level, pad, ctx, data[at + 8:], at


class Connection:
    """One client on one pipe: bound contexts, handles, a request being reassembled."""

    def __init__(self, pipe, send):
        self.pipe, self.send = pipe, send
        self.contexts = {}  # context id -> interface name
        self.handles = {}
        self.max_xmit = OUR_MAX_FRAG
        self.bound = False
        self.partial = None  # (call_id, context id, opnum, stub so far)
        # RPC-level authentication, when the client asks for it: one NTLMSSP context per
        # auth context id (a client may multiplex several on one association).
        self.ntlms = {}
        self.auth = None  # (level, auth context id) of the call being answered
        self.header_sign = 0

    def pdu(self, data):
        if len(data) < 16:
            unexpected("PDU of %d bytes" % len(data))
            return False
        vers, minor, ptype, flags, drep, frag_len, auth_len, call_id = struct.unpack(
            "<BBBB4sHHI", data[:16])
        if vers != 5 or minor != 0 or drep[0] != 0x10 or frag_len != len(data):
            unexpected("header: version %d.%d, data representation %s, length %d of %d"
                       % (vers, minor, drep.hex(), frag_len, len(data)))
            if ptype in (PT_BIND, PT_ALTER):
                self.send(header(PT_BIND_NAK, PFC_FIRST | PFC_LAST, 4, call_id)
                          + struct.pack("<HH", 4, 0))  # protocol version not supported
            return False
        body = data[16:]
        if ptype in (PT_BIND, PT_ALTER):
            return self.bind(ptype, flags, call_id, auth_len, data)
        if ptype == PT_AUTH3:
            return self.auth3(call_id, auth_len, data)
        if ptype == PT_REQUEST and auth_len:
            body = self.unwrap_request(flags, call_id, auth_len, data)
            if body is None:
                return True
            auth_len = 0
        elif ptype == PT_REQUEST and self.ntlms:
            unexpected("a request without the authentication its bind set up")
            self.fault(call_id, 0, 5)
            return True
        if ptype == PT_REQUEST:
            return self.request(flags, call_id, auth_len, body)
        if ptype in (PT_ORPHANED, PT_CANCEL):
            note("%s for call %d" % ("orphaned" if ptype == PT_ORPHANED else "cancel", call_id))
            self.partial = None
            return True
        unexpected("PDU type %d" % ptype)
        self.fault(call_id, 0, NCA_PROTO_ERROR)
        return False

    def bind(self, ptype, flags, call_id, auth_len, data):
        what = "bind" if ptype == PT_BIND else "alter_context"
        body = data[16:]
        challenge = None
        if auth_len:
            try:
                kind, level, _, auth_ctx, token, at = auth_trailer(data, auth_len)
                body = data[16:at]
                known = self.ntlms.get(auth_ctx)
                if kind != AUTH_NTLMSSP or options.account is None \
                        or level not in (LEVEL_INTEGRITY, LEVEL_PRIVACY):
                    raise ValueError("auth type %d level %d" % (kind, level))
                if token[:12] == b"NTLMSSP\0\x01\0\0\0":
                    ntlm = Ntlm()
                    challenge = ntlm.challenge_token(token)
                    self.ntlms[auth_ctx] = ntlm
                    self.auth = (level, auth_ctx)
                    note("NTLMSSP at level %d, auth context %d" % (level, auth_ctx))
                elif known is not None and known.ready:
                    note("%s under auth context %d" % (what, auth_ctx))
                else:
                    raise ValueError("a token of an exchange that was not started")
            except (ValueError, struct.error) as e:
                # A Windows server runs the authentication it is asked for; this fake knows
                # NTLMSSP for --account only and says it does not know any other.
                unexpected("%s with an authentication verifier it cannot take: %s" % (what, e))
                self.send(header(PT_BIND_NAK, PFC_FIRST | PFC_LAST, 4, call_id)
                          + struct.pack("<HH", 8, 0))  # authentication type not recognized
                return False
        try:
            max_xmit, max_recv, group, n = struct.unpack("<HHIB", body[:9])
            pos = 12
            results = b""
            for _ in range(n):
                ctx_id, n_syn = struct.unpack("<HB", body[pos:pos + 3])
                abstract = uuid.UUID(bytes_le=body[pos + 4:pos + 20])
                a_major, a_minor = struct.unpack("<HH", body[pos + 20:pos + 24])
                pos += 24
                syntaxes = []
                for _ in range(n_syn):
                    raw = body[pos:pos + 20]
                    if len(raw) != 20:
                        raise struct.error("transfer syntax cut off")
                    syntaxes.append(raw)
                    pos += 20
                results += self.context_result(ctx_id, abstract, a_major, a_minor, syntaxes)
        except (struct.error, ValueError) as e:
            unexpected("%s body: %s" % (what, e))
            self.send(header(PT_BIND_NAK, PFC_FIRST | PFC_LAST, 4, call_id)
                      + struct.pack("<HH", 0, 0))
            return False
        if ptype == PT_BIND:
            if self.bound:
                unexpected("a second bind on one connection")
            self.bound = True
            self.header_sign = flags & 0x04  # PFC_SUPPORT_HEADER_SIGN, echoed as Windows does
            self.max_xmit = max(min(max_recv, OUR_MAX_FRAG), 1024)
            address = ("\\PIPE\\" + PIPE_NAMES[self.pipe]).encode() + b"\0"
        else:
            address = b""  # alter_context_resp carries an empty secondary address
        out = struct.pack("<HHI", self.max_xmit, OUR_MAX_FRAG, group or 0x12345)
        out += struct.pack("<H", len(address)) + address
        out += b"\0" * (-(16 + len(out)) % 4)
        out += struct.pack("<BBH", n, 0, 0) + results
        token = b""
        if challenge is not None:
            token = challenge
            out += b"\0" * (-len(out) % 4)
            out += struct.pack("<BBBBI", AUTH_NTLMSSP, self.auth[0], 0, 0, self.auth[1])
        self.send(header(PT_BIND_ACK if ptype == PT_BIND else PT_ALTER_RESP,
                         PFC_FIRST | PFC_LAST | self.header_sign, len(out) + len(token), call_id,
                         len(token)) + out + token)
        return True

    def auth3(self, call_id, auth_len, data):
        try:
            kind, _, _, auth_ctx, token, _ = auth_trailer(data, auth_len)
            ntlm = self.ntlms.get(auth_ctx)
            if ntlm is None or kind != AUTH_NTLMSSP:
                raise ValueError("no NTLMSSP exchange under way on auth context %d" % auth_ctx)
            if ntlm.authenticate(token):
                note("NTLMSSP logon of the account accepted")
            else:
                note("NTLMSSP logon refused: user name or password")
        except (ValueError, struct.error, UnicodeDecodeError) as e:
            unexpected("auth3: %s" % e)
        return True  # auth3 has no answer; a refused logon shows at the first request

    def unwrap_request(self, flags, call_id, auth_len, data):
        """The request's body in plain, or None after answering it with a fault."""
        try:
            kind, level, pad, auth_ctx, token, at = auth_trailer(data, auth_len)
            ntlm = self.ntlms.get(auth_ctx)
            if ntlm is None or not ntlm.ready:
                self.fault(call_id, 0, 5)  # ERROR_ACCESS_DENIED: not logged on
                return None
            self.auth = (level, auth_ctx)
            start = 24 + (16 if flags & PFC_OBJECT else 0)
            plain = ntlm.unwrap(level, data[:start], data[start:at], data[at:at + 8], token)
            if pad > len(plain):
                raise ValueError("auth pad %d longer than the stub" % pad)
            return data[16:start] + plain[:len(plain) - pad]
        except (ValueError, struct.error) as e:
            unexpected("request %d: %s" % (call_id, e))
            self.fault(call_id, 0, 5)
            return None

    def context_result(self, ctx_id, abstract, a_major, a_minor, syntaxes):
        if len(syntaxes) == 1 and syntaxes[0][:8] == FEATURE_PREFIX:
            offered = struct.unpack("<Q", syntaxes[0][8:16])[0]
            note("bind-time features offered 0x%x" % offered)
            # Negotiate ack: the features this side supports in the reason field, no syntax.
            return struct.pack("<HH", 3, offered & FEATURES_KNOWN) + b"\0" * 20
        iface = PIPE_IFACES[self.pipe].get(abstract)
        if iface is None or (a_major, a_minor) != (1, 0):
            unexpected("bind to %s %d.%d on %s" % (abstract, a_major, a_minor, self.pipe))
            return struct.pack("<HH", 2, 1) + b"\0" * 20  # abstract syntax not supported
        if options.refuse_lsm and iface in ("session", "enum"):
            note("refused %s as asked" % iface)
            return struct.pack("<HH", 2, 1) + b"\0" * 20
        for raw in syntaxes:
            syn = (uuid.UUID(bytes_le=raw[:16]),) + struct.unpack("<HH", raw[16:20])
            if syn == NDR32:
                self.contexts[ctx_id] = iface
                note("bound %s as context %d" % (iface, ctx_id))
                return struct.pack("<HH", 0, 0) + raw
        unexpected("no NDR32 among the transfer syntaxes for %s" % iface)
        return struct.pack("<HH", 2, 2) + b"\0" * 20  # transfer syntaxes not supported

    def request(self, flags, call_id, auth_len, body):
        if auth_len:
            unexpected("request with an authentication verifier")
            self.fault(call_id, 0, NCA_PROTO_ERROR)
            return False
        if len(body) < 8:
            unexpected("request body of %d bytes" % len(body))
            self.fault(call_id, 0, NCA_PROTO_ERROR)
            return False
        _, ctx_id, opnum = struct.unpack("<IHH", body[:8])
        stub = body[24:] if flags & PFC_OBJECT else body[8:]
        if flags & PFC_OBJECT:
            unexpected("request with an object UUID")
        if flags & PFC_FIRST:
            if self.partial is not None:
                unexpected("a new call before the last fragment of call %d" % self.partial[0])
            self.partial = (call_id, ctx_id, opnum, stub)
        elif self.partial is None or self.partial[0] != call_id:
            unexpected("a middle fragment of call %d without its first" % call_id)
            self.fault(call_id, ctx_id, NCA_PROTO_ERROR)
            return False
        else:
            self.partial = self.partial[:3] + (self.partial[3] + stub,)
        if not flags & PFC_LAST:
            return True
        call_id, ctx_id, opnum, stub = self.partial
        self.partial = None
        iface = self.contexts.get(ctx_id)
        if iface is None:
            unexpected("request on context %d, which is not bound" % ctx_id)
            self.fault(call_id, ctx_id, NCA_UNK_IF)
            return True
        try:
            answer = CALLS[iface](self, opnum, Reader(stub))
        except BadStub as e:
            unexpected("%s opnum %d: %s" % (iface, opnum, e))
            self.fault(call_id, ctx_id, RPC_X_BAD_STUB_DATA)
            return True
        except Fault as f:
            self.fault(call_id, ctx_id, f.status)
            return True
        self.respond(call_id, ctx_id, answer)
        return True

    def respond(self, call_id, ctx_id, stub):
        ntlm = self.ntlms.get(self.auth[1]) if self.auth else None
        sealed = ntlm is not None and ntlm.ready
        # Under authentication each fragment carries padding to 16, a trailer and a signature.
        room = ((self.max_xmit - 24 - 8 - 16) // 16 * 16 if sealed
                else (self.max_xmit - 24) // 8 * 8)
        pos = 0
        while True:
            piece = stub[pos:pos + room]
            flags = (PFC_FIRST if pos == 0 else 0) | (PFC_LAST if pos + room >= len(stub) else 0)
            body = struct.pack("<IHBB", len(stub) - pos, ctx_id, 0, 0)
            if sealed:
                level, auth_ctx = self.auth
                pad = -len(piece) % 16
                payload = piece + b"\0" * pad
                trailer = struct.pack("<BBBBI", AUTH_NTLMSSP, level, pad, 0, auth_ctx)
                head = header(PT_RESPONSE, flags, len(body) + len(payload) + 8 + 16, call_id, 16)
                sent, signature = ntlm.wrap(level, payload, head + body + payload + trailer)
                self.send(head + body + sent + trailer + signature)
            else:
                self.send(header(PT_RESPONSE, flags, len(body) + len(piece), call_id) + body + piece)
            pos += room
            if flags & PFC_LAST:
                return

    def fault(self, call_id, ctx_id, status):
        note("fault 0x%08x for call %d" % (status, call_id))
        body = struct.pack("<IHBBII", 0, ctx_id, 0, 0, status, 0)
        self.send(header(PT_FAULT, PFC_FIRST | PFC_LAST | 0x20, len(body), call_id) + body)


# ---- transports --------------------------------------------------------------------------


def read_exact(sock, n):
    data = b""
    while len(data) < n:
        chunk = sock.recv(n - len(data))
        if not chunk:
            return None
        data += chunk
    return data


class StreamHandler(socketserver.BaseRequestHandler):
    """A plain byte stream: PDUs found by their fragment length."""

    def handle(self):
        conn = Connection(self.server.pipe, self.request.sendall)
        note("connection on %s (TCP)" % self.server.pipe)
        while True:
            head = read_exact(self.request, 16)
            if head is None:
                return
            frag_len = struct.unpack("<H", head[8:10])[0]
            rest = read_exact(self.request, frag_len - 16) if frag_len > 16 else b""
            if rest is None:
                unexpected("connection closed inside a PDU")
                return
            if not conn.pdu(head + rest):
                return


class NpHandler(socketserver.BaseRequestHandler):
    """smbd's side: the named-pipe-auth handshake, then messages with a 2-byte length."""

    def handle(self):
        sock = self.request
        head = read_exact(sock, 4)
        if head is None:
            return
        length = struct.unpack(">I", head)[0]
        if length < 8 or length > 1 << 20:
            unexpected("named pipe auth request of %d bytes" % length)
            return
        req = read_exact(sock, length)
        if req is None or req[:4] != b"NPAM":
            unexpected("named pipe auth request without its magic")
            return
        level = struct.unpack("<I", req[4:8])[0]
        if level not in (7, 8):
            unexpected("named pipe auth level %d" % level)
        note("connection on %s (smbd, named pipe auth level %d)" % (self.server.pipe, level))
        # length, magic, level, union level, file type 2 (message mode), device state 0x05ff,
        # pad, allocation size 4096, status 0
        sock.sendall(struct.pack(">I", 32) + b"NPAM"
                     + struct.pack("<IIHH4xQI", level, level, 2, 0x05FF, 4096, 0))

        def send(data):
            # Each message this fake writes is one whole PDU; smbd passes it on as one read.
            sock.sendall(struct.pack("<H", len(data)) + data)

        conn = Connection(self.server.pipe, send)
        pending = b""
        while True:
            size = read_exact(sock, 2)
            if size is None:
                return
            message = read_exact(sock, struct.unpack("<H", size)[0])
            if message is None:
                unexpected("connection closed inside a message")
                return
            # A PDU may span messages, and a message may hold more than one PDU.
            pending += message
            while len(pending) >= 16:
                frag_len = struct.unpack("<H", pending[8:10])[0]
                if frag_len < 16:
                    unexpected("fragment length %d" % frag_len)
                    return
                if len(pending) < frag_len:
                    break
                pdu, pending = pending[:frag_len], pending[frag_len:]
                if not conn.pdu(pdu):
                    return


class UnixServer(socketserver.ThreadingMixIn, socketserver.UnixStreamServer):
    daemon_threads = True


class TcpServer(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    global options
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("records", help="file that gets one JSON line per message shown")
    p.add_argument("--npdir", help="smbd's np folder: serve the pipes as Unix sockets there")
    p.add_argument("--tcp", metavar="ADDR", help="serve the pipes on two TCP ports of ADDR")
    p.add_argument("--ready", help="file that gets the ports, then 'ready'")
    p.add_argument("--sessions", default="0,1")
    p.add_argument("--active", type=int, default=1)
    p.add_argument("--refuse-lsm", action="store_true")
    p.add_argument("--no-lsm-pipe", action="store_true")
    p.add_argument("--no-ica-pipe", action="store_true")
    p.add_argument("--deny-open", action="store_true")
    p.add_argument("--account", metavar="USER:PASSWORD",
                   help="the account RPC-level NTLMSSP (sign, seal) checks against")
    options = p.parse_args()
    if options.account is not None:
        if ":" not in options.account:
            p.error("--account wants USER:PASSWORD")
        options.account = tuple(options.account.split(":", 1))
    options.sessions = [int(s) for s in options.sessions.split(",") if s != ""]
    if not options.npdir and not options.tcp:
        p.error("give --npdir, --tcp or both")
    pipes = [name for name, off in (("lsm_api_service", options.no_lsm_pipe),
                                    ("ctx_winstation_api_service", options.no_ica_pipe)) if not off]
    servers, lines = [], []
    for pipe in pipes:
        if options.npdir:
            os.makedirs(options.npdir, mode=0o700, exist_ok=True)
            path = os.path.join(options.npdir, pipe)
            if os.path.exists(path):
                os.unlink(path)
            server = UnixServer(path, NpHandler)
            server.pipe = pipe
            servers.append(server)
        if options.tcp:
            server = TcpServer((options.tcp, 0), StreamHandler)
            server.pipe = pipe
            servers.append(server)
            lines.append("%s %d" % ("lsm" if pipe.startswith("lsm") else "ica",
                                    server.server_address[1]))
    open(options.records, "a").close()
    for server in servers:
        threading.Thread(target=server.serve_forever, daemon=True).start()
    if options.ready:
        with open(options.ready + ".tmp", "w") as f:
            f.write("".join(line + "\n" for line in lines) + "ready\n")
        os.rename(options.ready + ".tmp", options.ready)
    note("serving %s; sessions %s, active %d%s%s" % (
        ", ".join(pipes), options.sessions, options.active,
        ", LSM refused" if options.refuse_lsm else "",
        ", opening denied" if options.deny_open else ""))
    threading.Event().wait()


if __name__ == "__main__":
    main()
