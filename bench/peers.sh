# The common start of the bench_*.sh scripts that time lanquill-net against real Samba peers.
# Source it after tests/interop/harness.sh, then:
#   bench_begin NET [TOOL]   lanquill-net is NET, or the one in build/ (or $LANQUILL_BUILD_DIR)
#                            when NET is empty, never a sanitizer build's (sets $net); TOOL, the
#                            reference program, must be installed. Exit 77
#                            without network namespaces; otherwise the namespaces are made and
#                            torn down on exit.
bench_begin() {
    local top
    top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
    net=${1:-${LANQUILL_BUILD_DIR:-$top/build}/bin/lanquill-net}
    [ -x "$net" ] || { echo "lanquill-net not found; pass its path" >&2; exit 2; }
    if [ -n "${2:-}" ] && ! command -v "$2" >/dev/null; then
        echo "$2 is missing: scripts/deps.sh --test" >&2
        exit 2
    fi
    lq_require_root_netns || exit 77
    trap lq_teardown EXIT
    trap 'exit 130' INT TERM
    lq_setup
}
