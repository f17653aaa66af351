#!/usr/bin/env bash
# The systemd units of lanquilld pass systemd-analyze verify (with ExecStart pointed at the
# built daemon, since nothing is installed). Exit 77 where systemd-analyze is missing.
set -u
units=$1
daemon=$2
command -v systemd-analyze >/dev/null || { echo "SKIP: no systemd-analyze"; exit 77; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cp "$units"/*.socket "$dir"/
sed "s|^ExecStart=.*|ExecStart=$daemon|" "$units/lanquilld.service" >"$dir/lanquilld.service"
# Only our units' own findings count; systemd-analyze also reports on the host's units.
out=$(cd "$dir" && systemd-analyze verify --man=no ./*.socket ./lanquilld.service 2>&1)
echo "$out"
! echo "$out" | grep -q "$dir"
