"""The receiver's DNS-SD advertisement over the wire (Linux, as root).

Two network and mount namespaces joined by a veth pair: the PC's side runs its
own D-Bus system bus, avahi-daemon and the receiver; the phone's side runs the
same pair of daemons for korvex-phone-sim --discover, and this script queries
the PC's responder from there as a phone would. Nothing touches the machine's
own network or daemons.
"""

import ctypes
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import mdns_query
from avahi_namespace import Side, run, wait_until
from receiver import Receiver, launcher_from_argv

if os.geteuid() != 0:
    print("failed: needs root to make network and mount namespaces and to run avahi-daemon "
          "(CI runs as root)")
    sys.exit(1)

COMMAND = launcher_from_argv()
PHONE_SIM = os.environ.get("KORVEX_PHONE_SIM", "")
PC_ADDRESSES = ["10.77.0.1", "10.77.1.1"]  # advertised, in this order
PHONE_ADDRESS = "10.77.0.2"
SERVICE = "_korvex._tcp.local"
CLONE_NEWNET = 0x40000000


class Advertisement(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.directory = tempfile.mkdtemp(prefix="korvex-discovery-")
        cls.pc = Side("pc", cls.directory)
        cls.phone = Side("phone", cls.directory)
        try:
            cls.pc.sh(f"ip link add kvx-pc type veth peer name kvx-phone netns {cls.phone.pid}; "
                      "ip link set lo up; ip link set kvx-pc up; "
                      f"ip addr add {PC_ADDRESSES[0]}/24 dev kvx-pc; "
                      f"ip addr add {PC_ADDRESSES[1]}/24 dev kvx-pc; "
                      # Neither is reachable from a LAN, so neither is advertised.
                      "ip addr add 169.254.7.7/16 dev kvx-pc; ip addr add 100.64.0.9/10 dev kvx-pc")
            cls.phone.sh(f"ip link set lo up; ip link set kvx-phone up; "
                         f"ip addr add {PHONE_ADDRESS}/24 dev kvx-phone")
            cls.pc.start_daemons("kvx-pc")
            cls.phone.start_daemons("kvx-phone")
            # This script's queries go out from the phone's side.
            fd = os.open(f"/proc/{cls.phone.pid}/ns/net", os.O_RDONLY)
            libc = ctypes.CDLL(None, use_errno=True)
            if libc.setns(fd, CLONE_NEWNET) != 0:
                raise OSError(ctypes.get_errno(), "setns")
            os.close(fd)
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.phone.close()
        cls.pc.close()
        shutil.rmtree(cls.directory, ignore_errors=True)

    def start_receiver(self, env):
        receiver = Receiver(self.pc.enter() + [f"{k}={v}" for k, v in env.items()] + COMMAND,
                            ["--no-audio", "--no-vcam"])
        self.addCleanup(receiver.kill)
        return receiver

    def ptr(self):
        return mdns_query.query(SERVICE, mdns_query.PTR, PHONE_ADDRESS, timeout=0.3)

    def advertise(self, env, label):
        """Starts a receiver and waits until a phone could find and reach it: the
        pointer record lists it and its host name has addresses (Avahi answers the
        shared pointer at once, the unique records after probing). Returns the
        receiver and the seconds from start to then."""
        started = time.monotonic()
        receiver = self.start_receiver(env)
        instance = f"{label}.{SERVICE}".lower()
        wait_until(lambda: instance in [name.lower() for name in self.ptr()] and mdns_query.query(
            f"{label}.local", mdns_query.A, PHONE_ADDRESS, timeout=0.2), 10,
                   f"{instance} browsable")
        return receiver, time.monotonic() - started

    def withdraw(self, receiver):
        """Ctrl-C; returns the seconds until the phone's side no longer finds it."""
        interrupted = time.monotonic()
        receiver.proc.send_signal(signal.SIGINT)
        wait_until(lambda: not self.ptr(), 5, "the service to be withdrawn")
        gone = time.monotonic() - interrupted
        self.assertEqual(receiver.wait_exit(), 0)
        return gone

    def test_service_records_discovery_and_withdrawal(self):
        receiver, browsable = self.advertise({"COMPUTERNAME": "Test_PC.lab"}, "Test-PC")
        receiver.wait_for(lambda r: b"-> listening" in r.out)
        self.assertIn('-> advertised _korvex._tcp as "Test-PC" on 10.77.0.1, 10.77.1.1\n',
                      receiver.out.decode())
        self.assertNotIn("mDNS", receiver.err.decode())

        instance = f"Test-PC.{SERVICE}"
        self.assertEqual([name.lower() for name in self.ptr()], [instance.lower()])
        self.assertEqual(mdns_query.query(instance, mdns_query.SRV, PHONE_ADDRESS),
                         [(0, 0, 45334, "Test-PC.local")])
        self.assertEqual(mdns_query.query(instance, mdns_query.TXT, PHONE_ADDRESS), [["v=1"]])
        self.assertEqual(sorted(mdns_query.query("Test-PC.local", mdns_query.A, PHONE_ADDRESS)),
                         PC_ADDRESSES)

        sim = subprocess.run(self.phone.enter() + [
            PHONE_SIM, "--discover", "--duration", "2", "--size", "320x240", "--fps", "15"],
            capture_output=True, text=True, timeout=60)
        self.assertEqual(sim.returncode, 0, sim.stderr)
        found = re.search(r'^-> discovered "Test-PC" at ([0-9.]+):45334$', sim.stdout, re.M)
        self.assertTrue(found, sim.stdout)
        self.assertIn(found.group(1), PC_ADDRESSES)
        frames = int(re.search(r"^frames=(\d+) ", sim.stdout, re.M).group(1))
        self.assertGreater(frames, 0)
        receiver.wait_for(lambda r: b"Korvex phone simulator" in r.out)

        gone = self.withdraw(receiver)
        self.assertLessEqual(gone, 2.0)
        print(f"\nfigures: browsable {browsable:.2f} s after start; gone {gone:.2f} s after "
              "Ctrl-C", file=sys.stderr)

    def test_label_follows_computername_then_hostname(self):
        for env, label in (({"HOSTNAME": "lab-box.example"}, "lab-box"),
                           ({"COMPUTERNAME": "Front Desk", "HOSTNAME": "lab-box"}, "Front-Desk")):
            receiver, _ = self.advertise(env, label)
            self.assertEqual(sorted(mdns_query.query(f"{label}.local", mdns_query.A,
                                                     PHONE_ADDRESS)), PC_ADDRESSES)
            self.withdraw(receiver)


if __name__ == "__main__":
    os.environ.pop("COMPUTERNAME", None)
    os.environ.pop("HOSTNAME", None)
    unittest.main()
