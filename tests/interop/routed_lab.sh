#!/usr/bin/env bash
# The routed LAN (harness_routed.sh) that the routed scenarios share, made once with its election:
#   routed_lab.sh up FILE     # the LAN ready, peer B in the merged browse list; FILE describes it
#   routed_lab.sh down FILE   # every process of its namespaces ended, namespaces and folder removed
# Where namespaces cannot be made, FILE says why and the scenarios report SKIP.
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=harness_routed.sh
. "$here/harness_routed.sh"

file=$2
case $1 in
up)
    rm -f "$file"
    if ! why=$(lq_require_root_netns); then
        printf 'LQ_ROUTED_LAB_SKIP=%q\n' "$why" >"$file"
        echo "$why"
        exit 0
    fi
    trap 'exit 130' INT TERM
    lq_routed_setup
    lq_routed_start_samba
    if lq_routed_wait_ready && lq_routed_wait_browse_list "$LQ_PEER_B_NAME"; then
        lq_routed_describe >"$file.new" && mv "$file.new" "$file" && exit 0
    fi
    LQ_KEEP_TMP=${LQ_KEEP_TMP:-1} lq_routed_teardown
    exit 1
    ;;
down)
    [ -f "$file" ] || exit 0
    # shellcheck disable=SC1090
    . "$file"
    [ -n "${LQ_ROUTED_LAB_SKIP:-}" ] || lq_routed_teardown
    rm -f "$file"
    ;;
*)
    echo "usage: routed_lab.sh up|down FILE" >&2
    exit 2
    ;;
esac
