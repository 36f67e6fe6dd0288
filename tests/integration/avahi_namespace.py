"""A network and mount namespace of a test's own, with a private /run and
/dev/shm, and on request its own D-Bus system bus and avahi-daemon: what the
discovery and Korvex check tests run the receiver in, touching none of the
machine's own network or daemons. Root only."""

import os
import subprocess
import time


def run(*command):
    done = subprocess.run(command, capture_output=True, text=True)
    if done.returncode != 0:
        raise AssertionError(f"{command}: {done.stderr.strip()}")
    return done.stdout


def wait_until(predicate, timeout, what):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.05)


class Side:
    """One namespace pair (network, mount) with a private /run, its own system bus
    and avahi-daemon restricted to its end of the veth pair."""

    def __init__(self, name, directory):
        self.name = name
        self.directory = directory
        self.bus = f"unix:path={directory}/{name}-bus"
        self.processes = []
        self.isolated = False
        holder = subprocess.Popen(["unshare", "--net", "--mount", "--propagation", "private",
                                   "sleep", "600"])
        self.processes.append(holder)
        self.pid = holder.pid
        ours = os.readlink("/proc/self/ns/net")
        wait_until(lambda: os.readlink(f"/proc/{self.pid}/ns/net") != ours, 5,
                   f"{name} namespace")

    def enter(self):
        return ["nsenter", "-t", str(self.pid), "-n", "-m", "env",
                f"DBUS_SYSTEM_BUS_ADDRESS={self.bus}"]

    def sh(self, script):
        return run(*self.enter(), "sh", "-ec", script)

    def isolate(self):
        """Gives the namespace a /run and a /dev/shm of its own (once)."""
        if not self.isolated:
            self.sh("mount -t tmpfs tmpfs /run; mkdir -p /run/avahi-daemon /run/dbus; "
                    "mount -t tmpfs tmpfs /dev/shm")
            self.isolated = True

    def start_daemons(self, interface):
        self.isolate()
        bus_conf = os.path.join(self.directory, f"{self.name}-bus.conf")
        with open(bus_conf, "w") as f:
            f.write(f"""<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>{self.bus}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_type="method_return"/>
    <allow send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="signal"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
  </policy>
  <includedir>/usr/share/dbus-1/system.d</includedir>
</busconfig>
""")
        avahi_conf = os.path.join(self.directory, f"{self.name}-avahi.conf")
        with open(avahi_conf, "w") as f:
            f.write(f"""[server]
host-name=host-{self.name}
use-ipv4=yes
use-ipv6=no
allow-interfaces={interface}
enable-dbus=yes
ratelimit-burst=1000
[publish]
publish-workstation=no
publish-hinfo=no
""")
        self._spawn(["dbus-daemon", "--nofork", f"--config-file={bus_conf}"])
        wait_until(lambda: os.path.exists(self.bus.split("=", 1)[1]), 10, f"{self.name} bus")
        self._spawn(["avahi-daemon", "--no-drop-root", "--no-chroot", "--no-rlimits", "-f",
                     avahi_conf])
        wait_until(self._avahi_running, 10, f"{self.name} avahi-daemon")

    def _spawn(self, command):
        self.processes.append(subprocess.Popen(self.enter() + command, stdout=subprocess.DEVNULL,
                                               stderr=subprocess.DEVNULL))

    def _avahi_running(self):
        done = subprocess.run(self.enter() + [
            "dbus-send", "--system", "--print-reply", "--dest=org.freedesktop.Avahi", "/",
            "org.freedesktop.Avahi.Server.GetState"], capture_output=True, text=True)
        return "int32 2" in done.stdout

    def close(self):
        for proc in reversed(self.processes):
            if proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(5)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
