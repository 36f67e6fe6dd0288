"""korvex-doctor, the Korvex check, run as a user runs it on systems the tests prepare,
its lines checked.

Linux (as root): every test has a network and mount namespace of its own (its own
/run and /dev/shm, so no other receiver, section or daemon of the machine is seen)
and starts there what the system under test has: a private PipeWire server with and
without WirePlumber and pipewire-pulse, a PulseAudio server with and without the
cable, avahi-daemon on a system bus of its own, the receiver with a phone streaming,
another program on the port.

Windows (under Wine): the tests' prefix with and without the camera's registrations,
a PulseAudio server (Wine's audio endpoints) with and without the cable, the camera
privacy settings, and the receiver running.

Usage: doctor_test.py [unittest args] -- [LAUNCHER...] korvex-doctor korvex-receiver
       [KorvexSource.dll]   (the DLL for the Windows build)
with KORVEX_PHONE_SIM naming the phone simulator.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from phone_client import occupy_port
from pulse_server import CABLE, PulseServer
from receiver import Receiver, launcher_from_argv, under_wine

COMMAND = launcher_from_argv()
WINE = under_wine(COMMAND)
if WINE:
    LAUNCHER, DOCTOR, RECEIVER, SOURCE_DLL = COMMAND[:-3], *COMMAND[-3:]
else:
    LAUNCHER, DOCTOR, RECEIVER = COMMAND[:-2], *COMMAND[-2:]
PHONE_SIM = os.environ.get("KORVEX_PHONE_SIM", "")
LINE = re.compile(r"^(ok|warning|problem) +([^:]+): (.*)$")


def findings(out):
    """{subject: (verdict, text)} of the check's lines, in the order printed."""
    found = {}
    for line in out.splitlines():
        match = LINE.match(line)
        if match:
            found[match.group(2)] = (match.group(1), match.group(3))
    return found


class Checked:
    """One run of the check."""

    def __init__(self, result):
        self.status = result.returncode
        self.out = result.stdout
        self.found = findings(result.stdout)

    def verdict(self, subject):
        return self.found.get(subject, ("absent", ""))[0]

    def text(self, subject):
        return self.found.get(subject, ("absent", self.out))[1]


class LinuxCheck(unittest.TestCase):
    def setUp(self):
        if os.geteuid() != 0:
            self.fail("needs root for its namespaces and avahi-daemon (CI runs as root)")
        from avahi_namespace import Side
        self.directory = tempfile.mkdtemp(prefix="korvex-doctor-")
        self.addCleanup(shutil.rmtree, self.directory, ignore_errors=True)
        self.pc = Side("pc", self.directory)
        self.addCleanup(self.pc.close)
        self.pc.isolate()
        self.pc.sh("ip link set lo up")
        # No sound server unless a test starts one: an empty runtime directory.
        self.runtime = os.path.join(self.directory, "runtime")
        os.makedirs(self.runtime, mode=0o700)
        self.env = {"XDG_RUNTIME_DIR": self.runtime, "LANG": "C.UTF-8"}
        os.environ.pop("PULSE_SERVER", None)

    def inside(self, *command, env=None):
        """The command run in the test's namespace with the system's environment."""
        variables = [f"{name}={value}" for name, value in {**self.env, **(env or {})}.items()]
        return self.pc.enter() + variables + list(command)

    def check(self):
        result = subprocess.run(self.inside(DOCTOR), capture_output=True, text=True, timeout=60)
        self.assertEqual(result.stderr, "")
        return Checked(result)

    def check_until(self, predicate, what, timeout=15.0):
        deadline = time.monotonic() + timeout
        while True:
            checked = self.check()
            if predicate(checked):
                return checked
            if time.monotonic() > deadline:
                self.fail(f"the check never saw {what}:\n{checked.out}")
            time.sleep(0.3)

    def use_pipewire(self):
        from pipewire_daemon import PipeWireDaemon
        pipewire = PipeWireDaemon()
        self.addCleanup(pipewire.stop)
        self.env["XDG_RUNTIME_DIR"] = pipewire.runtime
        return pipewire

    def start(self, command, env):
        process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        def stop():
            process.terminate()
            process.wait(10)
        self.addCleanup(stop)

    def test_a_bare_system_names_each_thing_missing(self):
        checked = self.check()
        self.assertEqual(list(checked.found), ["PipeWire", "PulseAudio", "discovery", "addresses",
                                               "port", "v4l2loopback", "receiver"])
        self.assertEqual(checked.verdict("PipeWire"), "problem")
        self.assertIn("systemctl --user start pipewire wireplumber", checked.text("PipeWire"))
        self.assertIn("no sound server answers", checked.text("PulseAudio"))
        self.assertIn("avahi-daemon does not answer on the system bus", checked.text("discovery"))
        self.assertEqual(checked.verdict("addresses"), "problem")
        self.assertEqual(checked.found["port"], ("ok", "TCP 45334 is free for the receiver"))
        self.assertEqual(checked.verdict("v4l2loopback"), "ok")
        self.assertEqual(checked.found["receiver"],
                         ("warning", "the receiver is not running: start korvex-receiver"))
        self.assertTrue(checked.out.endswith("\n4 problems, 1 warning\n"), checked.out)
        self.assertEqual(checked.status, 1)

    def test_pulseaudio_with_and_without_the_cable(self):
        pulse = PulseServer()
        self.addCleanup(pulse.stop)
        self.env["PULSE_SERVER"] = pulse.client_env["PULSE_SERVER"]
        pulse.add_sink("speakers", "Speakers")
        checked = self.check()
        self.assertEqual(checked.verdict("PulseAudio"), "ok")
        self.assertEqual(checked.verdict("microphone"), "problem")
        self.assertIn('no sink is named "CABLE Input"', checked.text("microphone"))
        self.assertIn('output devices found: "Speakers"', checked.text("microphone"))

        pulse.add_sink("cable", CABLE)
        checked = self.check()
        self.assertEqual(checked.found["microphone"],
                         ("ok", f'the phone\'s sound goes into "{CABLE}"'))

    def test_a_private_pipewire_with_and_without_its_session_manager(self):
        pipewire = self.use_pipewire()
        checked = self.check()
        self.assertEqual(checked.verdict("PipeWire"), "ok")
        self.assertEqual(checked.verdict("session manager"), "problem")
        self.assertIn("install and start pipewire-pulse", checked.text("PulseAudio"))
        self.assertNotIn("microphone", checked.found, "with PipeWire no cable is needed")

        env = dict(pipewire.client_env)
        bus = subprocess.run(["dbus-daemon", "--session", "--fork", "--print-address=1",
                              "--print-pid=1"], capture_output=True, text=True, env=env,
                             check=True, timeout=30)
        address, pid = bus.stdout.split("\n")[:2]
        self.addCleanup(os.kill, int(pid), 15)
        env["DBUS_SESSION_BUS_ADDRESS"] = address
        self.start(["wireplumber"], env)
        self.start(["pipewire-pulse"], env)
        checked = self.check_until(lambda c: c.verdict("session manager") == "ok"
                                   and c.verdict("PulseAudio") == "ok", "WirePlumber")
        self.assertEqual(checked.text("session manager"),
                         "WirePlumber links programs to the camera and the microphone")
        self.assertIn("PipeWire's PulseAudio server", checked.text("PulseAudio"))

    def test_a_namespace_with_and_without_avahi(self):
        self.pc.sh("ip link add kvx-a type veth peer name kvx-b; ip link set kvx-a up; "
                   "ip link set kvx-b up; ip addr add 10.77.3.1/24 dev kvx-a")
        checked = self.check()
        self.assertEqual(checked.verdict("discovery"), "problem")
        self.assertEqual(checked.verdict("addresses"), "ok")
        self.assertIn("reaches it at 10.77.3.1 (", checked.text("addresses"))

        self.pc.start_daemons("kvx-a")
        checked = self.check()
        self.assertEqual(checked.found["discovery"],
                         ("ok", "the system's mDNS responder answers: phones find this PC by "
                                "themselves"))

    def test_the_receiver_its_camera_and_a_streaming_phone(self):
        if not PHONE_SIM:
            self.fail("KORVEX_PHONE_SIM is not set")
        self.use_pipewire()
        receiver = Receiver(self.inside(RECEIVER), ["--no-mdns"])
        self.addCleanup(receiver.kill)
        receiver.wait_for(lambda r: b"-> listening on TCP 45334" in r.out)
        # The section comes half a second after the listener.
        checked = self.check_until(lambda c: c.verdict("camera node") == "ok"
                                   and "no phone is streaming" in c.text("receiver"),
                                   "the nodes and the section")
        self.assertEqual(checked.found["port"],
                         ("ok", f"korvex-receiver (pid {receiver.proc.pid}) listens on TCP 45334"))
        self.assertEqual(checked.found["camera node"],
                         ("ok", 'the receiver\'s camera "Korvex" and "Korvex Microphone" are on '
                                "PipeWire"))

        sim = subprocess.Popen(self.inside(PHONE_SIM, "--host", "127.0.0.1", "--size", "640x360",
                                           "--duration", "8"),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(sim.wait, 30)
        checked = self.check_until(lambda c: c.verdict("receiver") == "ok", "the phone")
        self.assertRegex(checked.text("receiver"),
                         r"^the receiver runs and a phone is streaming \(\d+ pictures so far\)$")
        self.assertEqual(receiver.stop(), 0)

    def test_another_program_on_the_port(self):
        holder = subprocess.Popen(self.inside(sys.executable, "-c", (
            "import socket, sys, time\n"
            "s = socket.socket(socket.AF_INET6, socket.SOCK_STREAM)\n"
            "s.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 0)\n"
            "s.bind(('::', 45334)); s.listen(1)\n"
            "print('ready', flush=True); time.sleep(60)\n")), stdout=subprocess.PIPE, text=True)
        self.addCleanup(holder.stdout.close)
        self.addCleanup(holder.wait)
        self.addCleanup(holder.kill)
        self.assertEqual(holder.stdout.readline(), "ready\n")
        name = os.path.basename(sys.executable)[:15]  # as the kernel keeps it
        checked = self.check()
        self.assertEqual(checked.verdict("port"), "problem")
        self.assertIn(f"TCP 45334 is held by {name} (pid {holder.pid})", checked.text("port"))

        # The receiver's own startup says the same.
        receiver = Receiver(self.inside(RECEIVER), ["--no-mdns", "--no-vcam", "--no-audio"])
        self.addCleanup(receiver.kill)
        self.assertEqual(receiver.wait_exit(30), 1)
        self.assertRegex(receiver.err.decode(),
                         r"could not listen on TCP 45334: .+ \(os error 98\)\n"
                         + re.escape(f"   TCP 45334 is held by {name} (pid {holder.pid}): end that "
                                     "program, then start the receiver again\n") + "$")


# Registry keys the Windows checks read.
SOURCE_CLASS = r"HKLM\Software\Classes\CLSID\{F4467B1E-EB18-459B-87C2-42D42266FDEB}"
FILTER_CLASS = r"HKLM\Software\Classes\CLSID\{DF38157C-C0F1-4D8F-9A5A-A171D4E6AA5C}"
FILTER_INSTANCE = (r"HKLM\Software\Classes\CLSID\{860BB310-5D01-11d0-BD3B-00A0C911CE86}"
                   r"\Instance\{DF38157C-C0F1-4D8F-9A5A-A171D4E6AA5C}")
WEBCAM = (r"Software\Microsoft\Windows\CurrentVersion\CapabilityAccessManager\ConsentStore"
          r"\webcam")


class WindowsCheck(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        from wine_prefix import WinePrefix, windows_path
        cls.prefix = WinePrefix(LAUNCHER)
        cls.source = windows_path(os.path.realpath(SOURCE_DLL))

    def setUp(self):
        self.pulse = PulseServer()
        self.addCleanup(self.pulse.stop)
        self.pulse.add_sink("speakers", "Speakers")
        self.unregister()
        self.addCleanup(self.unregister)

    def unregister(self):
        self.prefix.run("regsvr32", "/u", "/s", self.source)
        for view in ("/reg:64", "/reg:32"):
            self.prefix.reg_delete(FILTER_INSTANCE, view=view)
            self.prefix.reg_delete(FILTER_CLASS, view=view)
        for root in ("HKLM", "HKCU"):
            self.prefix.reg_delete(rf"{root}\{WEBCAM}")

    def check(self):
        result = self.prefix.run(DOCTOR, env=self.pulse.client_env)
        return Checked(result)

    def test_a_prefix_without_the_registrations(self):
        self.assertFalse(self.prefix.reg_query(SOURCE_CLASS)[0])
        checked = self.check()
        self.assertEqual(list(checked.found),
                         ["firewall", "network", "discovery", "addresses", "port", "microphone",
                          "camera source", "camera", "camera privacy", "receiver"], checked.out)
        # Wine's firewall answers nothing it is asked but an empty list of rules.
        self.assertEqual(checked.verdict("firewall"), "warning")
        self.assertEqual(checked.verdict("network"), "warning")
        self.assertIn("this Windows has no DNS-SD responder", checked.text("discovery"))
        self.assertEqual(checked.found["port"], ("ok", "TCP 45334 is free for the receiver"))
        self.assertIn('VB-CABLE, whose playback side is "CABLE Input", is not installed: get it '
                      "from https://vb-audio.com/Cable/", checked.text("microphone"))
        self.assertIn('output devices found: "Speakers"', checked.text("microphone"))
        self.assertIn("KorvexSource.dll is not registered", checked.text("camera source"))
        self.assertIn('no virtual camera (Windows 11, build 22000 or later) and the DirectShow '
                      'camera "Korvex" is not registered', checked.text("camera"))
        self.assertEqual(checked.verdict("camera privacy"), "ok")
        self.assertEqual(checked.verdict("receiver"), "warning")
        self.assertEqual(checked.status, 1)

    def test_a_prefix_with_the_registrations(self):
        registered = self.prefix.run("regsvr32", "/s", self.source)
        self.assertEqual(registered.returncode, 0, registered.stderr)
        # What registering the DirectShow filter writes, standing in for its DLL.
        for view in ("/reg:64", "/reg:32"):
            self.prefix.reg_add(FILTER_INSTANCE, "FriendlyName", "Korvex", view=view)
            self.prefix.reg_add(FILTER_CLASS + r"\InprocServer32", None, self.source, view=view)
        self.pulse.add_sink("cable", CABLE)

        checked = self.check()
        self.assertEqual(checked.found["microphone"],
                         ("ok", f'the phone\'s sound goes into "{CABLE}"'))
        self.assertEqual(checked.verdict("camera source"), "ok", checked.out)
        self.assertRegex(checked.text("camera source"),
                         r"(?i)^" + re.escape(self.source) + r" loads and offers \d+ picture "
                         r"formats \(NV12 1920x1080 @ 30 fps first\)$")
        self.assertEqual(checked.found["camera"],
                         ("ok", 'the DirectShow camera "Korvex" is registered for 64-bit and '
                                "32-bit programs: programs that use DirectShow cameras list it "
                                "(the Camera app does not)"))

    def test_camera_privacy_settings_that_block_the_camera(self):
        for root, key, switch in (("HKCU", WEBCAM + r"\NonPackaged", "Let desktop apps access"),
                                  ("HKCU", WEBCAM, "Let apps access"),
                                  ("HKLM", WEBCAM, "Camera access")):
            self.prefix.reg_add(rf"{root}\{key}", "Value", "Deny")
            checked = self.check()
            self.assertEqual(checked.verdict("camera privacy"), "problem", checked.out)
            self.assertIn(f'"{switch}', checked.text("camera privacy"))

    def test_the_receiver_running_with_and_without_a_phone(self):
        receiver = Receiver(LAUNCHER + [RECEIVER], ["--no-mdns", "--no-vcam", "--no-audio"])
        self.addCleanup(receiver.kill)
        receiver.wait_for(lambda r: b"-> listening on TCP 45334" in r.out, timeout=60)
        checked = self.check()
        # Wine 8 lists the listening socket but names no process for it, so the
        # port's holder is unknown here (Windows names it).
        self.assertEqual(checked.verdict("port"), "problem")
        self.assertEqual(checked.found["receiver"],
                         ("warning", "no phone is streaming: open the Korvex app on the iPhone "
                                     "and pick this PC"))

        # A second receiver's startup says who holds the port, as far as the system tells.
        second = Receiver(LAUNCHER + [RECEIVER], ["--no-mdns", "--no-vcam", "--no-audio"])
        self.addCleanup(second.kill)
        self.assertEqual(second.wait_exit(60), 1)
        self.assertRegex(second.err.decode(),
                         r"could not listen on TCP 45334: .+ \(os error 10048\)\n   another "
                         r"program holds TCP 45334; the system does not say which\n$")

        if not PHONE_SIM:
            self.fail("KORVEX_PHONE_SIM is not set")
        sim = subprocess.Popen([PHONE_SIM, "--host", "127.0.0.1", "--size", "640x360",
                                "--duration", "10"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(sim.wait, 40)
        deadline = time.monotonic() + 20
        while (checked := self.check()).verdict("receiver") != "ok":
            self.assertLess(time.monotonic(), deadline, checked.out)
            time.sleep(0.5)
        self.assertRegex(checked.text("receiver"),
                         r"^the receiver runs and a phone is streaming \(\d+ pictures so far\)$")
        self.assertEqual(receiver.stop(), 0)

    def test_a_program_wine_does_not_name_on_the_port(self):
        holder = occupy_port()
        self.addCleanup(holder.close)
        checked = self.check()
        self.assertEqual(checked.found["port"],
                         ("problem", "TCP 45334 is held by a program the system does not name, "
                                     "and the receiver cannot listen beside it: end that program"))


# Each build runs its own system's checks.
del globals()["LinuxCheck" if WINE else "WindowsCheck"]

if __name__ == "__main__":
    unittest.main(verbosity=2)
