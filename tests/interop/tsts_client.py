#!/usr/bin/env python3
"""Reference senders for the fake Windows target: the same calls as lanquill-net, made through
Samba's own RPC client (python3-samba) or impacket's, with stubs built here by hand.

    tsts_client.py samba|impacket ADDR USER PASSWORD TEXT [--title T] [--session N] [--ica]
                   [--conf SMB_CONF] [--seal]

--session N opens that session, otherwise the active one found by enumeration (else 1). --ica
uses IcaApi on \\pipe\\Ctx_WinStation_API_service instead. Prints "shown on session N" and exits
0 when the target accepted the message; otherwise prints why and exits 1.
"""
import argparse
import struct
import sys

SESSION_IF = "484809d6-4239-471b-b5bc-61df8c23ac48"
ENUM_IF = "88143fd0-c28d-4b2b-8fef-8d882f6a9390"
ICA_IF = "5ca4a760-ebb1-11cf-8611-00a0245420ed"
MB_ICONINFORMATION = 0x40


def cv_string(text):
    raw = (text + "\0").encode("utf-16-le")
    n = len(raw) // 2
    return struct.pack("<III", n, 0, n) + raw + b"\0" * (-len(raw) % 4)


def conformant(text):
    raw = (text + "\0").encode("utf-16-le")
    n = len(raw) // 2
    return struct.pack("<I", n) + raw + b"\0" * (-len(raw) % 4), n


def active_session(call_enum):
    """RpcOpenEnum, RpcGetEnumResult level 1, RpcCloseEnum: the first Active session."""
    out = call_enum(0, b"")
    handle, hr = out[:20], struct.unpack("<I", out[20:24])[0]
    if hr:
        return None
    out = call_enum(5, handle + struct.pack("<I", 1))
    found = None
    referent, count = struct.unpack("<II", out[:8])
    pos = 8
    for _ in range(count if referent else 0):
        sid, state = struct.unpack("<ii", out[pos + 8:pos + 16])
        if state == 0 and found is None:
            found = sid
        pos += 84
    call_enum(1, handle)
    return found


def show_lsm(call_session, session, title, text):
    out = call_session(0, struct.pack("<I", session))
    handle, hr = out[:20], struct.unpack("<I", out[20:24])[0]
    if hr:
        return "RpcOpenSession: 0x%08x" % hr
    stub = handle + cv_string(title) + cv_string(text) + struct.pack("<III", MB_ICONINFORMATION, 0, 1)
    response, hr = struct.unpack("<II", call_session(9, stub)[:8])
    call_session(1, handle)
    if hr:
        return "RpcShowMessageBox: 0x%08x" % hr
    if response not in (1, 32001):
        return "RpcShowMessageBox: response %d" % response
    return None


def show_ica(call_ica, session, title, text):
    out = call_ica(0, b"")
    result, handle = struct.unpack("<I", out[:4])[0], out[4:24]
    if result or not out[24]:
        return "RpcWinStationOpenServer: 0x%08x" % result
    t, tn = conformant(title)
    m, mn = conformant(text)
    stub = (handle + struct.pack("<I", session) + t + struct.pack("<I", tn) + m
            + struct.pack("<I", mn) + struct.pack("<II", MB_ICONINFORMATION, 0) + b"\x01")
    out = call_ica(7, stub)
    result, response = struct.unpack("<II", out[:8])
    call_ica(1, handle)
    if result or not out[8]:
        return "RpcWinStationSendMessage: 0x%08x" % result
    return None


def samba_calls(a, pipe, ifaces):
    from samba import credentials, param
    from samba.dcerpc import base
    lp = param.LoadParm()
    if a.conf:
        lp.load(a.conf)
    creds = credentials.Credentials()
    creds.guess(lp)
    user = a.user
    if "\\" in user:
        domain, user = user.split("\\", 1)
        creds.set_domain(domain)
    creds.set_username(user)
    creds.set_password(a.password)
    binding = "ncacn_np:%s[\\pipe\\%s%s]" % (a.address, pipe, ",seal,ntlm" if a.seal else "")
    first = base.ClientConnection(binding, (ifaces[0], 1), lp, creds)
    conns = [first] + [base.ClientConnection(binding, (i, 1), lp, creds, basis_connection=first)
                       for i in ifaces[1:]]
    return [lambda op, stub, c=c: bytes(c.request(op, stub)) for c in conns]


def impacket_calls(a, pipe, ifaces):
    from impacket import uuid as iuuid
    from impacket.dcerpc.v5 import transport
    t = transport.DCERPCTransportFactory("ncacn_np:%s[\\pipe\\%s]" % (a.address, pipe))
    domain, user = (a.user.split("\\", 1) if "\\" in a.user else ("", a.user))
    t.set_credentials(user, a.password, domain)
    dce = t.get_dce_rpc()
    if a.seal:
        from impacket.dcerpc.v5 import rpcrt
        dce.set_credentials(user, a.password, domain)
        dce.set_auth_type(rpcrt.RPC_C_AUTHN_WINNT)
        dce.set_auth_level(rpcrt.RPC_C_AUTHN_LEVEL_PKT_PRIVACY)
    dce.connect()
    dce.bind(iuuid.uuidtup_to_bin((ifaces[0], "1.0")))
    dces = [dce] + [dce.alter_ctx(iuuid.uuidtup_to_bin((i, "1.0"))) for i in ifaces[1:]]

    def call(d, op, stub):
        d.call(op, stub)
        return d.recv()
    return [lambda op, stub, d=d: call(d, op, stub) for d in dces]


def main():
    p = argparse.ArgumentParser()
    p.add_argument("client", choices=("samba", "impacket"))
    p.add_argument("address")
    p.add_argument("user")
    p.add_argument("password")
    p.add_argument("text")
    p.add_argument("--title", default="Message from REFERENCE")
    p.add_argument("--session", type=int)
    p.add_argument("--ica", action="store_true")
    p.add_argument("--conf")
    p.add_argument("--seal", action="store_true", help="RPC-level NTLMSSP with sealing")
    a = p.parse_args()
    connect = samba_calls if a.client == "samba" else impacket_calls
    try:
        if a.ica:
            (call_ica,) = connect(a, "Ctx_WinStation_API_service", [ICA_IF])
            session = 1 if a.session is None else a.session
            error = show_ica(call_ica, session, a.title, a.text)
        else:
            call_session, call_enum = connect(a, "LSM_API_service", [SESSION_IF, ENUM_IF])
            session = a.session
            if session is None:
                session = active_session(call_enum)
                if session is None:
                    session = 1
            error = show_lsm(call_session, session, a.title, a.text)
    except Exception as e:  # the libraries' own errors: logon, pipe, faults
        print("failed: %s" % (e,))
        return 1
    if error:
        print("failed: %s" % error)
        return 1
    print("shown on session %d" % session)
    return 0


if __name__ == "__main__":
    sys.exit(main())
