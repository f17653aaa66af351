#!/usr/bin/env bash
# The probe socket under a flood of datagrams: makes a private network namespace (harness.sh;
# no Samba peer) and runs TEST_PROGRAM inside it on Qt's offscreen platform, so that the real
# platform layers it starts reach nothing outside. Exit 77 (skipped) where network namespaces
# cannot be made. Usage: run_flood.sh TEST_PROGRAM
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=harness.sh
. "$here/harness.sh"

test_program=$1
if [ "$(id -u)" -ne 0 ] || ! command -v ip >/dev/null || ! ip netns add "lqflood$LQ_ID" 2>/dev/null; then
    echo "SKIP: the flood test needs root and network namespaces"
    exit 77
fi
ip netns del "lqflood$LQ_ID"
trap lq_teardown EXIT
trap 'exit 130' INT TERM
lq_setup
lq_client env QT_QPA_PLATFORM=offscreen "$test_program"
