#!/usr/bin/env python3
"""A desktop portal for tests that offers GlobalShortcuts only: sessions are granted at once,
each BindShortcuts call is written as one JSON line to OUT, and every bound shortcut is then
activated once, as a user pressing the key would.

Usage: fake_portal.py OUT
"""
import json
import sys

import dbus
import dbus.lowlevel
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

PATH = "/org/freedesktop/portal/desktop"
IFACE = "org.freedesktop.portal.GlobalShortcuts"


def request_path(sender, token):
    return "%s/request/%s/%s" % (PATH, sender[1:].replace(".", "_"), token)


class Portal(dbus.service.Object):
    def __init__(self, bus, out):
        super().__init__(bus, PATH)
        self.bus, self.out = bus, out

    def respond(self, path, results):
        message = dbus.lowlevel.SignalMessage(path, "org.freedesktop.portal.Request", "Response")
        message.append(dbus.UInt32(0), dbus.Dictionary(results, signature="sv"), signature="ua{sv}")
        GLib.timeout_add(20, lambda: self.bus.send_message(message) and False)

    @dbus.service.method("org.freedesktop.DBus.Properties", in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        if interface == IFACE and name == "version":
            return dbus.UInt32(1)
        raise dbus.exceptions.DBusException("no such property",
                                            name="org.freedesktop.DBus.Error.UnknownProperty")

    @dbus.service.method(IFACE, in_signature="a{sv}", out_signature="o", sender_keyword="sender")
    def CreateSession(self, options, sender=None):
        path = request_path(sender, options["handle_token"])
        session = "%s/session/%s/%s" % (PATH, sender[1:].replace(".", "_"),
                                         options["session_handle_token"])
        self.respond(path, {"session_handle": dbus.String(session)})
        return dbus.ObjectPath(path)

    @dbus.service.method(IFACE, in_signature="oa(sa{sv})sa{sv}", out_signature="o",
                         sender_keyword="sender")
    def BindShortcuts(self, session, shortcuts, parent_window, options, sender=None):
        record = {"session": str(session),
                  "shortcuts": [{"id": str(i), **{str(k): str(v) for k, v in p.items()}}
                                for i, p in shortcuts]}
        with open(self.out, "a", encoding="utf-8") as f:
            f.write(json.dumps(record, ensure_ascii=False) + "\n")
        path = request_path(sender, options["handle_token"])
        self.respond(path, {"shortcuts": dbus.Array(shortcuts, signature="(sa{sv})")})
        for shortcut_id, _ in shortcuts:
            GLib.timeout_add(300, lambda s=shortcut_id: self.Activated(
                session, s, dbus.UInt64(0), dbus.Dictionary({}, signature="sv")) and False)
        return dbus.ObjectPath(path)

    @dbus.service.signal(IFACE, signature="osta{sv}")
    def Activated(self, session, shortcut_id, timestamp, options):
        pass


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    name = dbus.service.BusName("org.freedesktop.portal.Desktop", bus)
    portal = Portal(bus, sys.argv[1])
    print("ready", flush=True)
    GLib.MainLoop().run()
    del name, portal


if __name__ == "__main__":
    main()
