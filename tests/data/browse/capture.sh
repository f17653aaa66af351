#!/usr/bin/env bash
# Captures the browser frames Samba's nmbd sends on \MAILSLOT\BROWSE, inside the private pair of
# network namespaces of tests/interop/harness.sh (made here, torn down on exit): a peer that
# becomes local master browser and a second one that is a plain member. A listener in the other
# namespace keeps the first datagram of each opcode it hears within 40 s as nmbd-<name>.bin next
# to this script: the election, the announcement request, the local master and domain
# announcements of the master, and the member's host announcement.
# Run as root. Sends nothing outside the namespaces.
set -u
out=$(cd "$(dirname "$0")" && pwd)
interop=$out/../../interop
# shellcheck source=../../interop/harness.sh
. "$interop/harness.sh"
# shellcheck source=../../interop/browse_peers.sh
. "$interop/browse_peers.sh"
lq_require_root_netns || exit 77
trap lq_teardown EXIT
lq_setup
lq_make_master
lq_add_second_peer
lq_client python3 - "$out" 40 <<'PY' &
import os, socket, sys, time
names = {0x01: "host-announcement", 0x02: "announcement-request", 0x08: "election",
         0x0C: "domain-announcement", 0x0F: "local-master-announcement"}
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("0.0.0.0", 138))
s.settimeout(1)
end = time.time() + float(sys.argv[2])
while time.time() < end:
    try:
        data, _ = s.recvfrom(65535)
    except socket.timeout:
        continue
    smb = data[82:]
    if len(smb) < 33 + 34 or smb[32] != 17:
        continue
    offset = int.from_bytes(smb[33 + 24:33 + 26], "little")
    if b"\\MAILSLOT\\BROWSE\0" not in smb or offset >= len(smb):
        continue
    name = names.get(smb[offset])
    path = os.path.join(sys.argv[1], "nmbd-%s.bin" % name)
    if name and not os.path.exists(path):
        open(path, "wb").write(data)
        print("kept", os.path.basename(path), len(data))
PY
listener=$!
lq_start_samba
lq_start_second_peer
wait $listener
