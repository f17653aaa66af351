# The start every desktop scenario shares. A scenario, called as SCRIPT BIN_DIR [SCREENSHOT_DIR],
# sources this with its arguments: . "$(dirname "$0")/scenario.sh" "$@"
# Afterwards LQD_BIN and shots are set, both harnesses are loaded, and fail() is defined.
set -u
LQD_BIN=$1
shots=${2:-}
. "$(dirname "${BASH_SOURCE[0]}")/../interop/harness.sh"
. "$(dirname "${BASH_SOURCE[0]}")/desktop.sh"

dir= # the program directory of the scenario's current run

# A failed check: the reason, the program's own output, and the end of the scenario.
fail() { echo "FAIL: $*"; [ -f "$dir/lanquill.out" ] && cat "$dir/lanquill.out"; exit 1; }

# Starts lanquill in a fresh program directory DIR (sets dir) whose config.xml is the standard
# input, and sets win to its main window.
lqd_start_with_book() {
    dir=$1
    lqd_program_dir "$dir"
    cat >"$dir/config.xml"
    lqd_start_lanquill "$dir"
    win=$(lqd_main_window) || fail "no main window"
}
