#!/usr/bin/env bash
# The add-group dialog against two real Samba computers of one workgroup: the first is its
# master browser (harness.sh and browse_peers.sh make both, in one private peer namespace).
# Waits for the election once, then runs TEST_PROGRAM inside the client namespace on Qt's
# offscreen platform. Exit 77 (skipped) where namespaces cannot be made.
# Usage: run_addgroup.sh TEST_PROGRAM
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=harness.sh
. "$here/harness.sh"
# shellcheck source=browse_peers.sh
. "$here/browse_peers.sh"

test_program=$1
lq_require_root_netns || exit 77
trap lq_teardown EXIT
trap 'exit 130' INT TERM
started=$SECONDS
lq_setup
lq_make_master
lq_add_second_peer NT1
lq_start_samba
lq_start_second_peer
lq_wait_ready && lq_wait_second_ready && lq_wait_master || exit 1
lq_log "peers up after $((SECONDS - started)) s"
home=$(lq_client_home)
lq_client env HOME="$home" QT_QPA_PLATFORM=offscreen "$test_program"
status=$?
lq_log "done after $((SECONDS - started)) s"
exit $status
