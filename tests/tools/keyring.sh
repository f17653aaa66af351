#!/usr/bin/env bash
# lanquill-net takes the password of `send --windows` from the desktop keyring where the desktop
# program keeps it (QtKeychain's items: service "Lanquill", key "windows/" + the account as
# typed): a private session bus and gnome-keyring with a throw-away home, and a private network
# namespace where nothing listens on 445. With the secret kept, the send gets as far as the
# connection; without it, and with no terminal, it says there is no password.
# Usage: keyring.sh LANQUILL_NET
set -u
net=$1
for tool in dbus-run-session gnome-keyring-daemon secret-tool unshare; do
    command -v "$tool" >/dev/null || { echo "SKIP: no $tool"; exit 77; }
done
[ "$(id -u)" = 0 ] || { echo "SKIP: needs root for a private network namespace"; exit 77; }
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME=$home XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config XDG_CACHE_HOME=$home/cache
export XDG_RUNTIME_DIR=$home/run LC_ALL=C.UTF-8
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset PASSWD LANGUAGE

exec unshare -n dbus-run-session -- bash -s "$net" <<'SCENARIO'
net=$1
failures=0
check() { # check NAME EXPECTED ACTUAL
    if [ "$2" = "$3" ]; then echo "ok   - $1"; else echo "FAIL - $1: got '$3'"; failures=$((failures + 1)); fi
}
ip link set lo up
eval "$(printf 'unlock' | gnome-keyring-daemon --unlock --components=secrets)" >/dev/null
send() { "$net" send --windows --user "$1" 127.0.0.1 "下课了" </dev/null 2>&1; echo "exit $?"; }

check "no secret kept, no terminal: no password" \
    "lanquill-net: 127.0.0.1: no password: set PASSWD, or run the command on a terminal
exit 1" "$(send 'SCHOOL\admin')"
printf 's3cret' | secret-tool store --label="Lanquill windows/SCHOOL\\admin" \
    xdg:schema org.qt.keychain user 'windows/SCHOOL\admin' server Lanquill type plaintext
check "the kept secret is taken: the send goes on to the computer" \
    "lanquill-net: 127.0.0.1: cannot connect to the computer (TCP 445)
exit 1" "$(send 'SCHOOL\admin')"
check "another account's secret is not taken" \
    "lanquill-net: 127.0.0.1: no password: set PASSWD, or run the command on a terminal
exit 1" "$(send 'SCHOOL\teacher')"
printf 'YmluYXJ5' | secret-tool store --label="Lanquill windows/other" \
    xdg:schema org.qt.keychain user 'windows/other' server Lanquill type base64
check "a secret kept as data (base64) is taken too" \
    "lanquill-net: 127.0.0.1: cannot connect to the computer (TCP 445)
exit 1" "$(send 'other')"
exit $((failures > 0))
SCENARIO
