#!/usr/bin/env python3
"""The second fake Windows target: impacket's SMB2 server with one account, its TSTS pipes
forwarded to fake_tsts.py's TCP ports. Run it in the target namespace only.

    impacket_target.py ADDR USER PASSWORD LSM_PORT ICA_PORT
(a port of 0 leaves that pipe out: opening it then fails as on a computer without it)
"""
import sys

from impacket import ntlm, smbserver

address, user, password, lsm, ica = sys.argv[1], sys.argv[2], sys.argv[3], *map(int, sys.argv[4:6])
server = smbserver.SimpleSMBServer(listenAddress=address, listenPort=445)
server.setSMB2Support(True)
server.addCredential(user, 0, "", ntlm.compute_nthash(password).hex())
for name, port in (("LSM_API_service", lsm), ("Ctx_WinStation_API_service", ica)):
    if port:
        # impacket matches the name exactly as the client wrote it.
        for variant in {name, name.lower(), name.upper()}:
            server.registerNamedPipe(variant, ("127.0.0.1", port))
print("ready", flush=True)
server.start()
