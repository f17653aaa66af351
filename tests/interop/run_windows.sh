#!/usr/bin/env bash
# Messages to a Windows 10/11 desktop, against the two fake targets of harness_windows.sh: smbd
# (SMB3, mandatory signing, a local account) handing the Terminal Services pipes to fake_tsts.py,
# and impacket's SMB2 server forwarding them to it. First the reference senders (python3-samba,
# impacket, with and without RPC-level sealing) show that each target works; then
# `lanquill-net send --windows`: Chinese two-line text with the session found by enumeration,
# 1,000 characters (and 1,001 refused), a chosen session, a wrong password, a dead address, a
# name nobody has, an account without the Message right, a missing session, a computer without
# the pipes, and the IcaApi path when the LSM interface is refused. Every failure must leave the
# target's record empty.
# Usage: run_windows.sh LANQUILL_NET
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=harness_windows.sh
. "$here/harness_windows.sh"
net=$1
export LC_ALL=C.UTF-8
unset LANGUAGE
lqw_require || exit 77
trap lq_teardown EXIT
trap 'exit 130' INT TERM
lq_setup
lqw_accounts

# ---- helpers ------------------------------------------------------------------------------
count() { lqw_records | grep -c . ; }

# The fields of record N (1-based) as "iface session style timeout donotwait", its title and
# text each on a line of its own (text with its line breaks escaped).
record() {
    lqw_records | "$LQW_PY" -c 'import json, sys
lines = sys.stdin.read().splitlines()
n = int(sys.argv[1])
if len(lines) < n:
    sys.exit(1)
r = json.loads(lines[n - 1])
print(r["iface"], r["session"], r["style"], r["timeout"], str(r["donotwait"]).lower())
print(r["title"])
print(json.dumps(r["text"], ensure_ascii=False))' "$1"
}
quoted() { "$LQW_PY" -c 'import json, sys; print(json.dumps(sys.argv[1], ensure_ascii=False))' "$1"; }

# Titles the target may show: this computer's NetBIOS name from the client smb.conf, or the
# host name lanquill-net falls back to.
host=$(hostname -s | cut -c1-15 | tr 'a-z' 'A-Z')
title_ok() { [ "$1" = "Message from LQCLIENT" ] || [ "$1" = "Message from $host" ]; }

# expect_shown N IFACE SESSION TEXT: record N is TEXT on SESSION through IFACE, with the
# contract's title, style MB_OK|MB_ICONINFORMATION, no timeout, not waiting.
expect_shown() {
    local got
    got=$(record "$1") || { echo "    no record $1"; return 1; }
    local fields title text
    fields=$(sed -n 1p <<<"$got")
    title=$(sed -n 2p <<<"$got")
    text=$(sed -n 3p <<<"$got")
    [ "$fields" = "$2 $3 64 0 true" ] || { echo "    record: $fields"; return 1; }
    title_ok "$title" || { echo "    title: $title"; return 1; }
    [ "$text" = "$(quoted "$4")" ] || { echo "    text: $text"; return 1; }
}

# send NAME PASSWORD ARGS...: lanquill-net in the client namespace; $NAME.out/.err/.rc, and how
# long it took in $NAME.ms (shown, never asserted).
send() {
    local name=$LQ_TMP/$1 pw=$2 start end
    shift 2
    start=${EPOCHREALTIME/./}
    lq_client env PASSWD="$pw" SMB_CONF_PATH="$LQ_CLIENT_CONF" "$net" --wins none send --windows \
        "$@" </dev/null >"$name.out" 2>"$name.err"
    echo $? >"$name.rc"
    end=${EPOCHREALTIME/./}
    echo $(((end - start) / 1000)) >"$name.ms"
}
rc() { cat "$LQ_TMP/$1.rc"; }
out() { cat "$LQ_TMP/$1.out"; }
err() { cat "$LQ_TMP/$1.err"; }
# failed NAME COMPUTER REASON: exit 1 and exactly the contract's line on stderr
failed() {
    [ "$(rc "$1")" = 1 ] && [ "$(err "$1")" = "lanquill-net: $2: $3" ] ||
        { echo "    exit $(rc "$1"): $(err "$1")"; return 1; }
}
# The password never shows: not in what lanquill-net printed.
no_password() { ! cat "$LQ_TMP"/*.out "$LQ_TMP"/*.err | grep -qF "$LQW_PASSWORD"; }

reference() { # reference CLIENT TEXT [ARGS...]
    lq_client "$LQW_PY" "$LQW_HERE/tsts_client.py" "$1" "$LQ_PEER_ADDR" "$LQW_USER" "$LQW_PASSWORD" \
        "$2" --conf "$LQW_CLIENT_CONF" "${@:3}" >>"$LQ_TMP/reference.out" 2>&1
}

wait_name() { # the target's name answers broadcast queries (nmbd needs a few seconds)
    for _ in $(seq 1 100); do
        lq_client nmblookup -s "$LQ_CLIENT_CONF" -B "$LQ_BROADCAST" "$LQW_NAME" 2>/dev/null |
            grep -q "^$LQ_PEER_ADDR " && return 0
        sleep 0.2
    done
    return 1
}

two_lines=$'下课了，请保存文件\n第二行：Lanquill 测试'
long=$("$LQW_PY" -c 'import sys
base = "下课了，请保存文件。Save your work, please! "
sys.stdout.write((base * 40)[:int(sys.argv[1])])' 1000)
too_long="${long}x"

# ---- reference senders on both targets ------------------------------------------------------
lq_check "smbd target starts (mandatory signing, SMB3, account, the fake on its np sockets)" \
    lqw_start_smbd --sessions 0,1,2 --active 2
lq_check "python3-samba through smbd: shown on the active session" \
    reference samba "$two_lines" --title "Message from LQCLIENT"
lq_check "  ... the fake recorded it as sent" expect_shown 1 lsm 2 "$two_lines"
lq_check "python3-samba through smbd, IcaApi pipe" reference samba ica --ica --title "Message from LQCLIENT"
lq_check "  ... recorded" expect_shown 2 ica 1 ica
# RPC-level sealing as a careful client adds it (NTLMSSP, privacy) on both pipes: impacket's
# client, since python3-samba's raw interface tables carry no auth services to seal with.
lq_check "impacket's client through smbd, sealed (NTLMSSP privacy)" \
    reference impacket "$two_lines" --seal --title "Message from LQCLIENT"
lq_check "  ... recorded" expect_shown 3 lsm 2 "$two_lines"
lq_check "impacket's client through smbd, IcaApi, sealed" \
    reference impacket ica --seal --ica --title "Message from LQCLIENT"
lq_check "  ... recorded" expect_shown 4 ica 1 ica
lqw_stop_target
: >"$LQW_RECORDS"
lq_check "impacket target starts (SMB2, account, pipes forwarded to the fake)" \
    lqw_start_impacket --sessions 0,1,2 --active 2
lq_check "impacket's client through impacket's server: shown on the active session" \
    reference impacket "$two_lines" --title "Message from LQCLIENT"
lq_check "  ... recorded" expect_shown 1 lsm 2 "$two_lines"
refused() {
    ! lq_client "$LQW_PY" "$LQW_HERE/tsts_client.py" impacket "$LQ_PEER_ADDR" "$LQW_USER" wrong \
        text >>"$LQ_TMP/reference.out" 2>&1
}
lq_check "impacket's client with a wrong password is refused" refused
lq_check "  ... and nothing recorded" [ "$(count)" = 1 ]
lqw_stop_target
: >"$LQW_RECORDS"

# ---- lanquill-net -------------------------------------------------------------------------
# Without the command every check below fails; this line says why first.
if ! "$net" --help 2>&1 | grep -q -- '--windows'; then
    echo "FAIL - lanquill-net's --help does not name 'send --windows': it lacks the command" \
        "(or its help does)"
    LQ_FAILURES=$((LQ_FAILURES + 1))
fi

# smbd target: by name, enumeration, the limits, the failures.
lq_check "smbd target again" lqw_start_smbd --sessions 0,1,2 --active 2
lq_check "its name answers broadcast queries" wait_name
send two "$LQW_PASSWORD" --user "$LQW_USER" "$LQW_NAME" "$two_lines"
lq_check "smbd: Chinese two-line text by name: exit 0, 'message shown on $LQW_NAME (session 2)'" \
    [ "$(rc two) $(out two)" = "0 message shown on $LQW_NAME (session 2)" ]
lq_check "  ... shown unchanged on the active session, found by enumeration" \
    expect_shown 1 lsm 2 "$two_lines"
send long "$LQW_PASSWORD" --user "$LQW_NAME\\$LQW_USER" "$LQ_PEER_ADDR" "$long"
lq_check "smbd: 1,000 characters by address, user as COMPUTER\\USER: exit 0" [ "$(rc long)" = 0 ]
lq_check "  ... all 1,000 arrive unchanged" expect_shown 2 lsm 2 "$long"
shown=$(count)
send toolong "$LQW_PASSWORD" --user "$LQW_USER" "$LQ_PEER_ADDR" "$too_long"
lq_check "1,001 characters: usage error (exit 2), nothing shown" \
    [ "$(rc toolong) $(count)" = "2 $shown" ]
send chosen "$LQW_PASSWORD" --user "$LQW_USER" --session 1 "$LQ_PEER_ADDR" chosen
lq_check "smbd: --session 1: 'message shown on $LQ_PEER_ADDR (session 1)'" \
    [ "$(rc chosen) $(out chosen)" = "0 message shown on $LQ_PEER_ADDR (session 1)" ]
lq_check "  ... shown on session 1" expect_shown 3 lsm 1 chosen
shown=$(count)
send wrongpw "not-the-password" --user "$LQW_USER" "$LQ_PEER_ADDR" wrongpw
lq_check "smbd: wrong password: exit 1, the logon message" \
    failed wrongpw "$LQ_PEER_ADDR" "the logon was refused (user name or password)"
lq_check "  ... nothing shown" [ "$(count)" = "$shown" ]
# From here on every send but the IcaApi one must fail and show nothing.
failures_start=$(count)
send nosession "$LQW_PASSWORD" --user "$LQW_USER" --session 7 "$LQ_PEER_ADDR" nosession
lq_check "smbd: --session 7, which the computer lacks: 'no such session'" \
    failed nosession "$LQ_PEER_ADDR" "no such session on the computer"
send unknown "$LQW_PASSWORD" --user "$LQW_USER" LQNOBODY unknown
lq_check "a name nobody answers: 'not known on the network'" \
    failed unknown LQNOBODY "the computer is not known on the network"
# While it waits, no process of the send keeps the password in the environment /proc shows.
# lanquill-net wipes it as it starts: on an idle machine /proc was once read before that. The send
# to the dead address waits 3 s or more, so the environment is asked for 2 s while it runs.
send dead "$LQW_PASSWORD" --user "$LQW_USER" "$LQ_DEAD_ADDR" dead &
sender=$!
sending() { ip netns pids "$LQ_NS_CLIENT" | xargs -r -I{} cat /proc/{}/comm 2>/dev/null | grep -q lanquill-net; }
holding() { ip netns pids "$LQ_NS_CLIENT" | xargs -r -I{} grep -lF "PASSWD=$LQW_PASSWORD" /proc/{}/environ 2>/dev/null | wc -l; }
sending_and_wiped() { sending && [ "$(holding)" = 0 ]; }
lq_poll 10 sending
lq_poll 2 sending_and_wiped
held=$(holding)
wait "$sender"
lq_check "a send that waits holds the password in no environment ($held processes did)" [ "$held" = 0 ]
echo "     (the dead address took $(cat "$LQ_TMP/dead.ms") ms; the deadline is 10 s)"
lq_check "a dead address: exit 1, cannot connect or no answer within 10 seconds" bash -c '
    [ "$1" = "lanquill-net: $2: cannot connect to the computer (TCP 445)" ] ||
    [ "$1" = "lanquill-net: $2: no answer within 10 seconds" ]' _ "$(err dead)" "$LQ_DEAD_ADDR"
lq_check "  ... exit 1" [ "$(rc dead)" = 1 ]

lq_check "smbd target: the account lacks the Message right" lqw_restart_fake --deny-open
send denied "$LQW_PASSWORD" --user "$LQW_USER" "$LQ_PEER_ADDR" denied
lq_check "smbd: E_ACCESSDENIED from RpcOpenSession: 'access denied'" \
    failed denied "$LQ_PEER_ADDR" "access denied: the account may not send messages there"
lq_check "smbd target: LSM interface refused" lqw_restart_fake --sessions 0,1,2 --active 2 --refuse-lsm
send fallback "$LQW_PASSWORD" --user "$LQW_USER" "$LQ_PEER_ADDR" "$two_lines"
lq_check "smbd: LSM refused, IcaApi takes it: exit 0, session 1 (no enumeration)" \
    [ "$(rc fallback) $(out fallback)" = "0 message shown on $LQ_PEER_ADDR (session 1)" ]
lq_check "  ... shown unchanged through IcaApi" expect_shown 4 ica 1 "$two_lines"
lq_check "smbd target: neither pipe served (AllowRemoteRPC off)" \
    lqw_restart_fake --no-lsm-pipe --no-ica-pipe
send nopipes "$LQW_PASSWORD" --user "$LQW_USER" "$LQ_PEER_ADDR" nopipes
lq_check "smbd: no pipes: 'does not take remote messages'" failed nopipes "$LQ_PEER_ADDR" \
    "the computer does not take remote messages (AllowRemoteRPC is not set)"
lq_check "after every failure nothing more was shown (the IcaApi message aside)" \
    [ "$(count)" = "$((failures_start + $(grep -c '"iface": "ica"' "$LQW_RECORDS")))" ]
lqw_stop_target
: >"$LQW_RECORDS"

# impacket target: SMB2 with its own NTLM and signing.
lq_check "impacket target again" lqw_start_impacket --sessions 0,1,2 --active 2
send itwo "$LQW_PASSWORD" --user "$LQW_USER" "$LQ_PEER_ADDR" "$two_lines"
lq_check "impacket: Chinese two-line text: exit 0, session 2" \
    [ "$(rc itwo) $(out itwo)" = "0 message shown on $LQ_PEER_ADDR (session 2)" ]
lq_check "  ... shown unchanged" expect_shown 1 lsm 2 "$two_lines"
send ilong "$LQW_PASSWORD" --user "$LQW_USER" "$LQ_PEER_ADDR" "$long"
lq_check "impacket: 1,000 characters arrive unchanged" expect_shown 2 lsm 2 "$long"
shown=$(count)
send iwrongpw "not-the-password" --user "$LQW_USER" "$LQ_PEER_ADDR" wrongpw
lq_check "impacket: wrong password: exit 1, the logon message" \
    failed iwrongpw "$LQ_PEER_ADDR" "the logon was refused (user name or password)"
lq_check "  ... nothing shown" [ "$(count)" = "$shown" ]
lqw_stop_target
lq_check "impacket target: LSM interface refused" lqw_start_impacket --refuse-lsm
send ifallback "$LQW_PASSWORD" --user "$LQW_USER" "$LQ_PEER_ADDR" "$two_lines"
lq_check "impacket: LSM refused, IcaApi takes it" \
    [ "$(rc ifallback) $(out ifallback)" = "0 message shown on $LQ_PEER_ADDR (session 1)" ]
lq_check "  ... shown unchanged through IcaApi" expect_shown 3 ica 1 "$two_lines"

lq_check "the password never appeared in lanquill-net's output" no_password
if grep -q 'unexpected' "$LQW_FAKE_LOG"; then
    echo "     what the fake did not expect:"
    grep 'unexpected' "$LQW_FAKE_LOG" | sed 's/^/       /'
fi
lq_check "the fake met nothing it did not expect" bash -c '! grep -q unexpected "$1"' _ "$LQW_FAKE_LOG"
echo "$LQ_FAILURES check(s) failed"
[ "$LQ_FAILURES" -eq 0 ]
