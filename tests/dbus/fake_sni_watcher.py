#!/usr/bin/env python3
"""A StatusNotifierItem watcher for tests, as a panel that shows such items runs one: takes
org.kde.StatusNotifierWatcher on the session bus and writes the service of each item that
registers as one line to OUT.

Usage: fake_sni_watcher.py OUT
"""
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

IFACE = "org.kde.StatusNotifierWatcher"

# Qt reads only the properties the introspection data lists; dbus-python lists none by itself.
INTROSPECTION = """<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
  </interface>
  <interface name="org.freedesktop.DBus.Properties">
    <method name="Get">
      <arg name="interface" type="s" direction="in"/><arg name="name" type="s" direction="in"/>
      <arg name="value" type="v" direction="out"/>
    </method>
  </interface>
  <interface name="org.freedesktop.DBus.Introspectable">
    <method name="Introspect"><arg name="xml" type="s" direction="out"/></method>
  </interface>
</node>"""


class Watcher(dbus.service.Object):
    def __init__(self, bus, out):
        super().__init__(bus, "/StatusNotifierWatcher")
        self.out = out

    @dbus.service.method("org.freedesktop.DBus.Introspectable", out_signature="s")
    def Introspect(self):
        return INTROSPECTION

    @dbus.service.method(IFACE, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        with open(self.out, "a", encoding="utf-8") as f:
            f.write("%s %s\n" % (sender, service))
        self.StatusNotifierItemRegistered(service)

    @dbus.service.method(IFACE, in_signature="s")
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.method("org.freedesktop.DBus.Properties", in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        values = {"IsStatusNotifierHostRegistered": dbus.Boolean(True),
                  "ProtocolVersion": dbus.Int32(0),
                  "RegisteredStatusNotifierItems": dbus.Array([], signature="s")}
        return values[name]

    @dbus.service.signal(IFACE, signature="s")
    def StatusNotifierItemRegistered(self, service):
        pass


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    name = dbus.service.BusName("org.kde.StatusNotifierWatcher", bus)
    watcher = Watcher(bus, sys.argv[1])
    print("ready", flush=True)
    GLib.MainLoop().run()
    del name, watcher


if __name__ == "__main__":
    main()
