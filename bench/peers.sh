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

# "median mean min max" in ms, one line per command in the order run, from hyperfine's CSV
# export FILE.
bench_figures_from_csv() {
    awk -F, 'NR > 1 { printf "%.1f %.1f %.1f %.1f\n", $4 * 1000, $2 * 1000, $7 * 1000, $8 * 1000 }' "$1"
}

# The same from SAMPLES, lines "<command number> <microseconds>", of COUNT commands numbered 1 on.
bench_figures_from_samples() {
    local c
    for ((c = 1; c <= $2; c++)); do
        echo "$1" | awk -v c="$c" '$1 == c { print $2 }' | sort -n |
            awk '{ t[++n] = $1; s += $1 } END { printf "%.1f %.1f %.1f %.1f\n",
                t[int((n + 1) / 2)] / 1000, s / n / 1000, t[1] / 1000, t[n] / 1000 }'
    done
}
