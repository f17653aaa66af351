#!/usr/bin/env python3
"""A notification server for tests: takes org.freedesktop.Notifications on the session bus,
writes each Notify call as one JSON line to OUT, and with --invoke answers it at once with the
default action, as a user clicking the notification would.

Usage: notification_recorder.py OUT [--markup] [--invoke]
"""
import json
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

IFACE = "org.freedesktop.Notifications"


class Recorder(dbus.service.Object):
    def __init__(self, bus, out, markup, invoke):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.out, self.markup, self.invoke, self.last = out, markup, invoke, 0

    @dbus.service.method(IFACE, out_signature="as")
    def GetCapabilities(self):
        return ["body", "actions"] + (["body-markup"] if self.markup else [])

    @dbus.service.method(IFACE, out_signature="ssss")
    def GetServerInformation(self):
        return ("recorder", "lanquill-tests", "1", "1.2")

    @dbus.service.method(IFACE, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app_name, replaces_id, app_icon, summary, body, actions, hints, timeout):
        # As a server does: a live notification replaced keeps its id.
        if 0 < replaces_id <= self.last:
            nid = int(replaces_id)
        else:
            self.last += 1
            nid = self.last
        record = {"app_name": str(app_name), "replaces_id": int(replaces_id),
                  "app_icon": str(app_icon), "summary": str(summary), "body": str(body),
                  "actions": [str(a) for a in actions],
                  "hints": {str(k): str(v) for k, v in hints.items()}, "timeout": int(timeout)}
        with open(self.out, "a", encoding="utf-8") as f:
            f.write(json.dumps(record, ensure_ascii=False) + "\n")
        if self.invoke:
            GLib.timeout_add(50, lambda: self.ActionInvoked(nid, "default") and False)
        return nid

    @dbus.service.method(IFACE, in_signature="u")
    def CloseNotification(self, nid):
        self.NotificationClosed(nid, 3)

    @dbus.service.signal(IFACE, signature="us")
    def ActionInvoked(self, nid, key):
        pass

    @dbus.service.signal(IFACE, signature="uu")
    def NotificationClosed(self, nid, reason):
        pass


def main():
    out = sys.argv[1]
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    name = dbus.service.BusName(IFACE, bus, do_not_queue=True)
    Recorder(bus, out, "--markup" in sys.argv, "--invoke" in sys.argv)
    print("ready", flush=True)
    GLib.MainLoop().run()
    del name


if __name__ == "__main__":
    main()
