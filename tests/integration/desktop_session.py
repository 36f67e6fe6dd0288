"""A Linux desktop's PipeWire for tests, run the way a Debian desktop runs it: the server with
the distribution's own configuration (/usr/share/pipewire/pipewire.conf), a session D-Bus,
WirePlumber linking and configuring what clients make, and pipewire-pulse serving the
PulseAudio interface that browsers and call programs record through. Every instance has
private runtime, home, configuration and state directories, so it meets no other server and
no user's settings (WirePlumber keeps volumes and defaults in its state directory); stop()
ends every daemon it started, and what the bus started for them. A missing program fails
the test.

The bus starts the desktop portal (xdg-desktop-portal) and its permission store when a
browser asks for them, nothing else (no document portal and its file system). The portal
serves cameras only beside an access-dialog backend, which a desktop brings (GNOME's, KDE's)
and this machine has none of: the session names a stand-in that is never asked, because
camera access is already allowed, as it is once a user has said yes (allow_cameras)."""

import json
import os
import shutil

from pipewire_daemon import PipeWireDaemon

PROGRAMS = ("dbus-daemon", "dbus-send", "pipewire", "wireplumber", "pipewire-pulse", "pactl")
BUS_SERVICES = ("org.freedesktop.portal.Desktop", "org.freedesktop.impl.portal.PermissionStore")
BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path={root}/bus</listen>
  <servicedir>{root}/services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""
ACCESS_PORTAL = """[portal]
DBusName=org.freedesktop.impl.portal.desktop.korvextest
Interfaces=org.freedesktop.impl.portal.Access;
UseIn=korvex-test
"""


class DesktopSession(PipeWireDaemon):
    def __init__(self):
        missing = [name for name in PROGRAMS if shutil.which(name) is None]
        if missing:
            raise AssertionError(f"the desktop session needs {', '.join(missing)}: "
                                 "run scripts/install-deps.sh")
        self.prepare()
        home = os.path.join(self.root, "home")
        self.client_env.update(
            HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
            XDG_STATE_HOME=os.path.join(home, ".local", "state"),
            XDG_DATA_HOME=os.path.join(home, ".local", "share"),
            XDG_CACHE_HOME=os.path.join(home, ".cache"),
            DBUS_SESSION_BUS_ADDRESS="unix:path=" + os.path.join(self.root, "bus"),
            PULSE_SERVER="unix:" + os.path.join(self.runtime, "pulse", "native"))
        for name in ("PIPEWIRE_CONFIG_DIR", "PULSE_RUNTIME_PATH", "PULSE_COOKIE"):
            self.client_env.pop(name, None)
        os.makedirs(home)
        services = os.path.join(self.root, "services")
        portals = os.path.join(self.root, "portals")
        os.makedirs(services)
        os.makedirs(portals)
        for name in BUS_SERVICES:
            shutil.copy(f"/usr/share/dbus-1/services/{name}.service", services)
        with open(os.path.join(portals, "access.portal"), "w") as f:
            f.write(ACCESS_PORTAL)
        self.client_env["XDG_DESKTOP_PORTAL_DIR"] = portals
        config = os.path.join(self.root, "bus.conf")
        with open(config, "w") as f:
            f.write(BUS_CONFIG.format(root=self.root))
        # The bus starts the services it activates with its own environment: this one.
        self.spawn("dbus-daemon", ["dbus-daemon", "--nofork", "--nosyslog",
                                   f"--config-file={config}"])
        self.wait_until("the session bus did not come up",
                        lambda: os.path.exists(os.path.join(self.root, "bus")))
        self.spawn("pipewire", ["pipewire"])
        self.wait_for_server()
        # Its socket comes before its modules: the drivers the configuration makes last
        # say that it has them all, which WirePlumber needs from the start.
        self.wait_until("the PipeWire server did not make its drivers",
                        lambda: "Freewheel-Driver" in self.nodes())
        self.spawn("wireplumber", ["wireplumber"])
        # WirePlumber makes its second connection, through which it exports what it makes,
        # once its modules have loaded.
        self.wait_until("WirePlumber did not start", lambda: any(
            o["type"] == "PipeWire:Interface:Client"
            and o["info"]["props"].get("application.name") == "WirePlumber [export]"
            for o in self.objects()))
        self.spawn("pipewire-pulse", ["pipewire-pulse"])
        # What `pactl info` says on such a desktop.
        self.wait_until("pipewire-pulse did not start", lambda: "Server Name: PulseAudio (on "
                        "PipeWire " in self.run("pactl", "info", check=False).stdout)

    def allow_cameras(self):
        """What a user's yes to the portal's camera dialog leaves in its permission store."""
        self.run("dbus-send", "--session", "--print-reply",
                 "--dest=org.freedesktop.impl.portal.PermissionStore",
                 "/org/freedesktop/impl/portal/PermissionStore",
                 "org.freedesktop.impl.portal.PermissionStore.SetPermission", "string:devices",
                 "boolean:true", "string:camera", "string:", "array:string:yes")

    def pulse_sources(self):
        """{name: (description, volume percentages, muted)} of every source pipewire-pulse
        shows, as `pactl` reads them."""
        listed = json.loads(self.run("pactl", "--format=json", "list", "sources").stdout)
        return {s["name"]: (s["description"],
                            [int(v["value_percent"].rstrip("%")) for v in s["volume"].values()],
                            s["mute"]) for s in listed}

    def set_quantum(self, frames):
        """Forces the graph's quantum (0: back to the server's own), as a user or a
        program asking for low latency does."""
        self.run("pw-metadata", "-n", "settings", "0", "clock.force-quantum", str(frames))
