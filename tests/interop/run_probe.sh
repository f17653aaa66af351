#!/usr/bin/env bash
# The node-status probe against a real Samba peer: makes the namespaces and the peer
# (harness.sh), runs TEST_PROGRAM inside the client namespace on Qt's offscreen platform, tears
# everything down. Exit 77 (skipped) where network namespaces cannot be made.
# Usage: run_probe.sh TEST_PROGRAM LANQUILL_NET
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
lq_client env QT_QPA_PLATFORM=offscreen LQ_NET_BIN="$net_program" "$test_program"
