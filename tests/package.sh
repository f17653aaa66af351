#!/usr/bin/env bash
# The Debian package on this machine: cpack builds it, lintian finds no errors, dpkg installs it,
# the files land where a desktop looks for them, lanquilld gets the bind capability (no systemd
# here) or its socket units get enabled (systemd), only root and the group lanquilld may run that
# capable binary while lanquilld.service (DynamicUser) still may, and dpkg -r, then --purge, take
# everything away again, capability and unit links included: -r keeps the spooled messages,
# --purge removes them with the state folder and lanquill-deliver's queue. Needs root; refuses to
# touch an installed lanquill or a state folder it did not make.
# Usage: package.sh BUILD_DIR
set -u
build=$1

if [ "$(id -u)" -ne 0 ]; then echo "SKIP: the package test installs with dpkg: needs root"; exit 77; fi
for tool in cpack dpkg lintian getcap identify python3 runuser; do
    command -v "$tool" >/dev/null || { echo "SKIP: needs $tool: scripts/deps.sh --test"; exit 77; }
done
if dpkg-query -W -f='${Status}' lanquill 2>/dev/null | grep -q installed; then
    echo "SKIP: a lanquill package is installed on this machine already; not touching it"
    exit 77
fi
nobody_queue=/tmp/lanquill-deliver.$(id -u nobody)
decoy=/tmp/lanquill-deliver.$(id -u daemon) # made by root below: not daemon's queue
for state in /var/lib/lanquill /var/lib/private/lanquill "$nobody_queue" "$decoy"; do
    if [ -e "$state" ] || [ -L "$state" ]; then
        echo "SKIP: $state exists on this machine already; a purge would remove it"
        exit 77
    fi
done

work=$(mktemp -d)
installed=
made_private=
placed_policy=
desktop=
policy=/usr/sbin/policy-rc.d
cleanup() {
    if [ -n "$desktop" ]; then
        lqd_teardown
        lq_teardown
    fi
    [ -n "$installed" ] && dpkg --purge lanquill >/dev/null 2>&1
    [ -n "$placed_policy" ] && rm -f "$policy"
    rm -rf /var/lib/lanquill /var/lib/private/lanquill "$nobody_queue"
    [ -n "$made_private" ] && rmdir /var/lib/private
    rm -rf "$decoy"
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

# Where systemd runs, postinst would start the socket units, and a datagram on them would start
# lanquilld on this machine's own interfaces: service starts are refused while the test runs.
if [ -d /run/systemd/system ] && [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' >"$policy"
    chmod 755 "$policy"
    placed_policy=1
fi

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" >cpack.log 2>&1) ||
    fail "cpack: $(tail -20 "$work/cpack.log")"
deb=$(ls "$work"/lanquill_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || fail "cpack made no .deb: $(tail -20 "$work/cpack.log")"
echo "PASS: cpack made $(basename "$deb")"

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libxml2 libc6; do
    grep -q "$lib" <<<"$depends" || fail "Depends lacks the computed $lib: $depends"
done
echo "PASS: Depends holds the computed libraries: $depends"
dpkg-deb -f "$deb" Recommends | grep -qw libsmbclient ||
    fail "Recommends lacks libsmbclient, which the neighbourhood loads: $(dpkg-deb -f "$deb" Recommends)"
echo "PASS: Recommends libsmbclient"

lintian --no-tag-display-limit "$deb" >"$work/lintian.log" 2>&1
grep '^E:' "$work/lintian.log" && fail "lintian reports errors"
echo "PASS: lintian reports no errors ($(grep -c '^W:' "$work/lintian.log") warnings)"

dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || { installed=1; fail "dpkg -i: $(cat "$work/dpkg.log")"; }
installed=1
for file in /usr/bin/lanquill /usr/bin/lanquill-net /usr/bin/lanquill-net-view /usr/sbin/lanquilld \
    /usr/libexec/lanquill/lanquill-deliver /usr/share/lanquill/LANQUILL.CHM \
    /usr/share/lanquill/prepare-windows.ps1 \
    /usr/share/applications/lanquill.desktop \
    /usr/share/metainfo/io.github.lanquill.Lanquill.metainfo.xml \
    /usr/share/icons/hicolor/16x16/apps/lanquill.png /usr/share/icons/hicolor/128x128/apps/lanquill.png \
    /usr/share/man/man1/lanquill-net.1.gz /usr/share/man/man8/lanquilld.8.gz \
    /usr/share/doc/lanquill/copyright /usr/lib/systemd/system/lanquilld.service \
    /usr/lib/systemd/system/lanquilld-nbns.socket /usr/lib/systemd/system/lanquilld-nbdgm.socket \
    /usr/lib/systemd/system/lanquilld-nbss.socket; do
    [ -e "$file" ] || fail "not installed: $file"
done
size=$(identify -format '%wx%h' /usr/share/icons/hicolor/48x48/apps/lanquill.png 2>&1)
[ "$size" = 48x48 ] || fail "the 48 px icon is $size"
echo "PASS: dpkg -i put programs, help, desktop entry, metainfo, icons, manual pages and units in place"

if [ -d /run/systemd/system ]; then
    for unit in lanquilld-nbns.socket lanquilld-nbdgm.socket lanquilld-nbss.socket; do
        systemctl is-enabled -q "$unit" || fail "$unit not enabled"
    done
    getcap /usr/sbin/lanquilld | grep -q cap_net_bind_service && fail "capability set under systemd"
    echo "PASS: with systemd the socket units are enabled, lanquilld has no capability"
else
    getcap /usr/sbin/lanquilld | grep -q 'cap_net_bind_service=ep' ||
        fail "lanquilld lacks cap_net_bind_service: $(getcap /usr/sbin/lanquilld)"
    for program in /usr/bin/lanquill /usr/bin/lanquill-net /usr/libexec/lanquill/lanquill-deliver; do
        [ -z "$(getcap "$program")" ] || fail "$program got a capability: $(getcap "$program")"
    done
    echo "PASS: without systemd lanquilld alone gets cap_net_bind_service"
fi

# Only root and the group lanquilld may run the (capable) receiver; lanquilld.service still can:
# systemd starts it as its dynamic user (an unused uid) with the unit's SupplementaryGroups=,
# CapabilityBoundingSet= and NoNewPrivileges=, which unit_exec does the same way. The usage
# message (exit 2, for an unknown option) shows that lanquilld ran.
mode=$(stat -c '%U:%G %a' /usr/sbin/lanquilld)
[ "$mode" = "root:lanquilld 750" ] || fail "/usr/sbin/lanquilld is $mode, not root:lanquilld 750"
dpkg-statoverride --list /usr/sbin/lanquilld >/dev/null || fail "no dpkg-statoverride for lanquilld"
runuser -u nobody -- /usr/sbin/lanquilld --not-an-option >"$work/run.out" 2>&1
code=$?
# runuser says so, and exits 1, when it cannot execute the program.
[ "$code" -ne 2 ] && grep -q 'Permission denied' "$work/run.out" ||
    fail "a user outside the group ran lanquilld (exit $code): $(cat "$work/run.out")"
runuser -u nobody -G lanquilld -- /usr/sbin/lanquilld --not-an-option >"$work/run.out" 2>&1
code=$?
[ "$code" -eq 2 ] || fail "a member of lanquilld could not run it (exit $code): $(cat "$work/run.out")"
unit_exec() {
    python3 - "$@" <<'PY'
import ctypes, grp, os, sys
unit = open("/usr/lib/systemd/system/lanquilld.service").read().splitlines()
def values(key):
    return " ".join(l.split("=", 1)[1] for l in unit if l.startswith(key + "=")).split()
numbers = {"CAP_NET_BIND_SERVICE": 10}  # linux/capability.h
keep = {numbers[name] for name in values("CapabilityBoundingSet")}
libc = ctypes.CDLL(None, use_errno=True)
for cap in range(int(open("/proc/sys/kernel/cap_last_cap").read()) + 1):
    if cap not in keep and libc.prctl(24, cap, 0, 0, 0) != 0:  # PR_CAPBSET_DROP
        sys.exit("cannot drop capability %d from the bounding set" % cap)
if values("NoNewPrivileges") == ["yes"]:
    libc.prctl(38, 1, 0, 0, 0)  # PR_SET_NO_NEW_PRIVS
os.setgroups([grp.getgrnam(name).gr_gid for name in values("SupplementaryGroups")])
os.setgid(61934)  # what DynamicUser= picks: an uid and gid no account has
os.setuid(61934)
try:
    os.execv(sys.argv[1], sys.argv[1:])
except OSError as error:
    sys.exit("cannot execute %s as the service: %s" % (sys.argv[1], error))
PY
}
unit_exec /usr/sbin/lanquilld --not-an-option >"$work/run.out" 2>&1
code=$?
[ "$code" -eq 2 ] || fail "lanquilld.service could not run lanquilld (exit $code): $(cat "$work/run.out")"
echo "PASS: lanquilld is root:lanquilld 0750: others cannot run it, the group and the service can"

# The installed program started as the menu starts it (the entry's Exec line), in a private
# namespace and display: a first start asks for a workgroup, the book lands in the data folder
# and not in the folder it was started from, and F1 shows the installed help.
tests=$(cd "$(dirname "$0")" && pwd)
. "$tests/interop/harness.sh"
. "$tests/desktop/desktop.sh"
if lq_require_root_netns >/dev/null && lqd_require >/dev/null; then
    desktop=1
    lq_setup
    lqd_start_display || fail "no display"
    read -r program arguments < <(sed -n 's/^Exec=//p' /usr/share/applications/lanquill.desktop)
    [ "$program" = lanquill ] || fail "the desktop entry starts $program"
    mkdir -p "$LQ_TMP/started-in"
    LQD_BIN=/usr/bin
    # shellcheck disable=SC2086
    lqd_start_lanquill "$LQ_TMP/started-in" $arguments
    add=$(lqd_window_named "添加工作组") || fail "the installed program opened no add-group dialog"
    lqd_click "$add" 128 18
    xdotool type --delay 20 "TEAM7"
    lqd_click "$add" 84 220
    book=$LQ_TMP/data/Lanquill/config.xml
    lqd_wait grep -q '<group id="TEAM7"' "$book" 2>/dev/null ||
        fail "no TEAM7 in $book: $(cat "$LQ_TMP/started-in/lanquill.out")"
    [ -e "$LQ_TMP/started-in/config.xml" ] && fail "config.xml written to the folder started in"
    win=$(lqd_main_window) || fail "no main window"
    xdotool mousemove --window "$win" 50 10 click 1
    xdotool key F1
    # Counted on every try: the viewer is a process of its own and takes a moment to show.
    help_shown() { [ "$(lqd_count_windows_named 'Lanquill 2.0')" -eq 1 ]; }
    lqd_wait help_shown ||
        fail "F1 showed no help (the data folder has none; the installed copy should open): $(tail -5 "$LQ_TMP/started-in/lanquill.out")"
    echo "PASS: started by its desktop entry, the program keeps config.xml in the data folder and F1 shows the installed help"
    lqd_teardown
    lq_teardown
    desktop=
else
    echo "note: no namespace or display tools here; the installed program was not started"
fi

# What lanquilld under DynamicUser= leaves: /var/lib/lanquill a link to /var/lib/private/lanquill,
# with a message in the spool; a message in lanquill-deliver's queue (smbd's guest account); and a
# folder of the queue's name that another account made (not ours: it stays).
if [ ! -d /var/lib/private ]; then
    install -d -m 700 /var/lib/private
    made_private=1
fi
install -d -m 700 /var/lib/private/lanquill/spool
printf '{"id":"1-1-0","text":"kept"}\n' >/var/lib/private/lanquill/spool/1-1-0.msg
ln -s private/lanquill /var/lib/lanquill
runuser -u nobody -- install -d -m 700 "$nobody_queue"
runuser -u nobody -- sh -c "printf '{}\n' >'$nobody_queue/1-1.json'"
mkdir -m 700 "$decoy"
state_kept() { [ -s /var/lib/lanquill/spool/1-1-0.msg ] && [ -s "$nobody_queue/1-1.json" ]; }

dpkg -r lanquill >"$work/dpkg.log" 2>&1 || fail "dpkg -r: $(cat "$work/dpkg.log")"
[ -e /usr/bin/lanquill ] && fail "dpkg -r left /usr/bin/lanquill"
links=$(find /etc/systemd/system -name 'lanquilld*' 2>/dev/null)
[ -z "$links" ] || fail "dpkg -r left unit links: $links"
state_kept || fail "dpkg -r removed the spooled or queued messages"
dpkg --purge lanquill >"$work/dpkg.log" 2>&1 || fail "dpkg --purge: $(cat "$work/dpkg.log")"
installed=
dpkg-query -W lanquill >/dev/null 2>&1 && fail "dpkg --purge left the package known to dpkg"
for state in /var/lib/lanquill /var/lib/private/lanquill "$nobody_queue"; do
    if [ -e "$state" ] || [ -L "$state" ]; then
        fail "dpkg --purge left $state: $(find "$state" | head -5 | tr '\n' ' ')"
    fi
done
[ -d "$decoy" ] || fail "dpkg --purge removed $decoy, a folder of another account"
getent group lanquilld >/dev/null && fail "dpkg --purge left the group lanquilld"
dpkg-statoverride --list /usr/sbin/lanquilld >/dev/null && fail "dpkg --purge left the statoverride"
echo "PASS: dpkg -r removes the programs, leaves no unit enabled and keeps the spool and the queue;"
echo "      --purge removes them, the statoverride and the group, and leaves no trace"
exit 0
