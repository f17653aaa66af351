#!/usr/bin/env python3
"""NetworkManager's properties that name a DHCP lease's NetBIOS name servers, for tests: every
Get reads STATE (JSON) afresh, so a test changes the network between calls:

    {"primary": "/org/freedesktop/NetworkManager/ActiveConnection/1" or "/",
     "active": [paths of the active connections],
     "leases": {connection path: {DHCP option name: value, ...}}}

A connection without a lease answers Dhcp4Config "/". Owns org.freedesktop.NetworkManager on
the session bus (the test points the system bus address at it).
Usage: fake_networkmanager.py STATE
"""
import json
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

ROOT = "/org/freedesktop/NetworkManager"
NM = "org.freedesktop.NetworkManager"


class NetworkManager(dbus.service.FallbackObject):
    def __init__(self, bus, state_path):
        super().__init__(bus, "/")
        self.state_path = state_path

    def state(self):
        with open(self.state_path, encoding="utf-8") as f:
            return json.load(f)

    @dbus.service.method("org.freedesktop.DBus.Properties", in_signature="ss",
                         out_signature="v", path_keyword="path")
    def Get(self, interface, name, path=None):
        state = self.state()
        leases = state.get("leases", {})
        if path == ROOT and interface == NM and name == "PrimaryConnection":
            return dbus.ObjectPath(state.get("primary", "/"))
        if path == ROOT and interface == NM and name == "ActiveConnections":
            return dbus.Array([dbus.ObjectPath(p) for p in state.get("active", [])],
                              signature="o")
        if interface == NM + ".Connection.Active" and name == "Dhcp4Config":
            return dbus.ObjectPath(path + "/Dhcp4" if path in leases else "/")
        if interface == NM + ".DHCP4Config" and name == "Options" and path.endswith("/Dhcp4"):
            options = leases.get(path[: -len("/Dhcp4")], {})
            return dbus.Dictionary({k: dbus.String(v) for k, v in options.items()},
                                   signature="sv")
        sys.stderr.write("fake NetworkManager: unexpected Get %s %s %s\n" % (path, interface, name))
        raise dbus.exceptions.DBusException(
            "no such property", name="org.freedesktop.DBus.Error.UnknownProperty")


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    NetworkManager(bus, sys.argv[1])
    name = dbus.service.BusName(NM, bus)  # noqa: F841 (kept while the loop runs)
    print("ready", flush=True)
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
