"""A Linux desktop's PipeWire for tests, run the way a Debian desktop runs it: the server with
the distribution's own configuration (/usr/share/pipewire/pipewire.conf), a session D-Bus,
WirePlumber linking and configuring what clients make, and pipewire-pulse serving the
PulseAudio interface that browsers and call programs record through. Every instance has
private runtime, home, configuration and state directories, so it meets no other server and
no user's settings (WirePlumber keeps volumes and defaults in its state directory); stop()
ends every daemon it started. A missing program fails the test."""

import json
import os
import shutil

from pipewire_daemon import PipeWireDaemon

PROGRAMS = ("dbus-daemon", "pipewire", "wireplumber", "pipewire-pulse", "pactl")


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
        # The bus starts the services it activates (the desktop portal among them) with
        # its own environment, which is this one.
        self.spawn("dbus-daemon", ["dbus-daemon", "--session", "--nofork", "--nosyslog",
                                   "--address", self.client_env["DBUS_SESSION_BUS_ADDRESS"]])
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
        self.wait_until("pipewire-pulse did not start",
                        lambda: self.run("pactl", "info", check=False).returncode == 0)

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
