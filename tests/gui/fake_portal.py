"""A python-dbusmock template: the desktop portal's Inhibit, holding each inhibitor as
xdg-desktop-portal does, until Close on its request handle or until its caller leaves the bus.
ListInhibits on the mock interface tells what is held: (caller, flags, reason) each."""
import dbus

from dbusmock import MOCK_IFACE, mockobject

BUS_NAME = "org.freedesktop.portal.Desktop"
MAIN_OBJ = "/org/freedesktop/portal/desktop"
MAIN_IFACE = "org.freedesktop.portal.Inhibit"
SYSTEM_BUS = False

REQUEST_IFACE = "org.freedesktop.portal.Request"


def load(mock, parameters):
    # A global of the mock's module: the Close code below runs there.
    mockobject.portal_inhibits = {}
    mock.AddProperty(MAIN_IFACE, "version", dbus.UInt32(3))

    def caller_left(name, old_owner, new_owner):
        if new_owner:
            return
        for handle, (caller, _, _) in list(mockobject.portal_inhibits.items()):
            if caller == name:
                del mockobject.portal_inhibits[handle]
                mock.RemoveObject(handle)

    mock.connection.add_signal_receiver(caller_left, "NameOwnerChanged", "org.freedesktop.DBus",
                                        "org.freedesktop.DBus", "/org/freedesktop/DBus")


@dbus.service.method(MAIN_IFACE, in_signature="sua{sv}", out_signature="o", sender_keyword="sender")
def Inhibit(self, window, flags, options, sender):
    token = str(options.get("handle_token", f"t{len(mockobject.portal_inhibits) + len(self.call_log)}"))
    handle = f"/org/freedesktop/portal/desktop/request/{sender[1:].replace('.', '_')}/{token}"
    mockobject.portal_inhibits[handle] = (sender, int(flags), str(options.get("reason", "")))
    close = f"portal_inhibits.pop('{handle}', None); objects['{MAIN_OBJ}'].RemoveObject('{handle}')"
    self.AddObject(handle, REQUEST_IFACE, {}, [("Close", "", "", close)])
    return dbus.ObjectPath(handle)


@dbus.service.method(MOCK_IFACE, in_signature="", out_signature="a(sus)")
def ListInhibits(self):
    return dbus.Array(list(mockobject.portal_inhibits.values()), signature="(sus)")
