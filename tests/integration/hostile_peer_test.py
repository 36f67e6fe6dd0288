"""A short run of korvex-hostile-peer against the real receiver: one attack of each kind,
scaled down to seconds, each while the phone simulator streams beside it. The driver
checks that the receiver is still there, that the simulator's next connection streams
again within 2 s with readable stamps, and that threads and descriptors come back (peak
memory is a release build's figure: scripts/hostile_figures.sh judges it); this test
checks its verdict and that the receiver never exited.

usage: hostile_peer_test.py -- korvex-receiver korvex-frames korvex-hostile-peer
The phone simulator is named by KORVEX_PHONE_SIM.
"""

import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from receiver import isolate_shared_memory, launcher_from_argv


def isolate_network():
    """Runs this test again in a network namespace of its own as well: the peers that
    vanish without a FIN need CAP_NET_ADMIN, which the namespace's owner has, and the
    attacks then reach no receiver but the test's. Where namespaces are not allowed
    the test runs as it is."""
    if os.environ.get("KORVEX_PRIVATE_NET"):
        return
    unshare = ["unshare", "--net", "--mount", "--propagation", "private"]
    if os.geteuid() != 0:
        unshare.append("--map-root-user")
    setup = "ip link set lo up && mount -t tmpfs -o mode=1777 tmpfs /dev/shm"
    if subprocess.run(unshare + ["sh", "-c", setup], capture_output=True).returncode != 0:
        return
    argv = unshare + ["sh", "-c", setup + ' && exec "$@"', "sh", sys.executable] + sys.argv
    os.execvpe(argv[0], argv,
               dict(os.environ, KORVEX_PRIVATE_NET="1", KORVEX_PRIVATE_SHM="1"))


isolate_network()
isolate_shared_memory()
RECEIVER, FRAMES, HOSTILE = launcher_from_argv()
SIM = os.environ.get("KORVEX_PHONE_SIM", "")
ATTACKS = ["magic-flood", "largest-payloads", "every-type", "silent", "resets", "half-open",
           "no-reading", "churn-at-once", "absurd-sizes", "takeover-storm"]


class HostilePeers(unittest.TestCase):
    def test_receiver_withstands_every_kind_of_attack(self):
        self.assertTrue(os.access(SIM, os.X_OK), f"no phone simulator at {SIM!r}")
        with tempfile.TemporaryFile() as log:
            receiver = subprocess.Popen([RECEIVER, "--no-audio", "--no-vcam", "--no-mdns"],
                                        stdin=subprocess.DEVNULL, stdout=log, stderr=log)
            try:
                deadline = time.monotonic() + 30
                while b"shm mapped" not in self._read(log):
                    self.assertIsNone(receiver.poll(), self._read(log).decode())
                    self.assertLess(time.monotonic(), deadline, "the receiver did not start")
                    time.sleep(0.1)
                only = [arg for name in ATTACKS for arg in ("--only", name)]
                driver = subprocess.run(
                    [HOSTILE, "--sim", SIM, "--pid", str(receiver.pid), "--quick", *only, "--",
                     FRAMES], capture_output=True, text=True, timeout=150)
                print(driver.stdout, driver.stderr, file=sys.stderr)
                self.assertIsNone(receiver.poll(), "the receiver exited")
                self.assertEqual(driver.returncode, 0, driver.stdout + driver.stderr)
                self.assertEqual(driver.stdout.count("\nattack "), len(ATTACKS))
                # At most three connections are served at once, two threads each, whatever
                # the number of peers: the phone's, and two on their way out.
                for name, base, peak in re.findall(r"attack ([\w-]+):.*? threads (\d+)/(\d+)/",
                                                   driver.stdout):
                    self.assertLessEqual(int(peak), int(base) + 6, name)
            finally:
                if receiver.poll() is None:
                    receiver.send_signal(signal.SIGINT)
                receiver.wait(timeout=20)

    @staticmethod
    def _read(log):
        log.seek(0)
        return log.read()


if __name__ == "__main__":
    unittest.main()
