#!/usr/bin/env bash
# Runs a real-peer test program: makes the namespaces and the Samba peer (harness.sh), runs the
# program inside the client namespace with the caller's environment, tears everything down. Exit 77 (skipped) where network
# namespaces cannot be made. Usage: run_interop.sh TEST_PROGRAM LANQUILL_NET
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=harness.sh
. "$here/harness.sh"

test_program=$1
net_program=$2
lq_require_root_netns || exit 77
trap lq_teardown EXIT
trap 'exit 130' INT TERM
lq_setup
lq_start_samba
lq_wait_ready || exit 1
lq_client env LQ_NET_BIN="$net_program" "$test_program"
