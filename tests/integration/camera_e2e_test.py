"""The camera end to end on the Windows build: the phone simulator streams 720p30 into the
receiver under Wine, and korvex-camera-watch reads the "Korvex" camera's pictures from
KorvexSource.dll through Media Foundation's source reader, as a camera application would.
Every picture must be the simulator's frame (its stamp reads back) or the placeholder, the
stamps must come in order, and the phone-to-camera delay is printed.

usage: camera_e2e_test.py -- launcher... korvex-receiver korvex-camera-watch KorvexSource.dll
The phone simulator is the native build's, named by KORVEX_PHONE_SIM.
"""

import os
import re
import subprocess
import sys
import time
import unittest

from receiver import Receiver, forget_frame_section, launcher_from_argv

COMMAND = launcher_from_argv()
LAUNCHER, (RECEIVER, WATCH, DLL) = COMMAND[:-3], COMMAND[-3:]
SIM = os.environ.get("KORVEX_PHONE_SIM", "")
LISTENING = b"-> listening on TCP 45334\n"
PICTURES = re.compile(r"camera pictures: (\d+) \(repeats (\d+), placeholder (\d+)\)")
SUMMARY = re.compile(r"frames=(\d+) torn=(\d+) unreadable=(\d+) gaps=(\d+) size=(\S+) "
                     r"latency_ms_p50=(\S+) latency_ms_p99=(\S+) latency_ms_max=(\S+) "
                     r"backwards=(\d+)\n$")
SECONDS = 6


class CameraEndToEnd(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.path.isfile(SIM):
            raise AssertionError(f"needs the native phone simulator: KORVEX_PHONE_SIM={SIM!r}")

    def test_phone_to_camera_at_720p30(self):
        forget_frame_section()
        self.addCleanup(forget_frame_section)
        r = Receiver(LAUNCHER + [RECEIVER], ["--no-audio", "--no-mdns"])
        self.addCleanup(r.kill)
        r.wait_for(lambda r: LISTENING in r.out, timeout=30)
        r.wait_for(lambda r: b"shm mapped" in r.out, timeout=10)

        # The camera reads from before the phone connects until after it has gone.
        watch = subprocess.Popen(LAUNCHER + [WATCH, "Z:" + DLL, "1280x720", str(SECONDS + 8)],
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.addCleanup(watch.kill)
        time.sleep(3)
        sim = subprocess.run(
            [SIM, "--size", "1280x720", "--fps", "30", "--gop", "30", "--duration",
             str(SECONDS), "--audio", "none", "--name", "Camera E2E"],
            capture_output=True, text=True, timeout=60)
        self.assertEqual(sim.returncode, 0, sim.stderr)
        sent = int(dict(item.split("=") for item in sim.stdout.strip().splitlines()[-1].split())["frames"])

        out, err = watch.communicate(timeout=60)
        self.assertEqual(watch.returncode, 0, err)
        pictures = PICTURES.search(out)
        summary = SUMMARY.search(out)
        self.assertIsNotNone(pictures, out)
        self.assertIsNotNone(summary, out)
        total, repeats, placeholder = map(int, pictures.groups())
        frames, _, unreadable, gaps, size = summary.groups()[:5]
        # Before and after the phone: the placeholder. In between: the phone's frames.
        self.assertGreater(placeholder, 0, out)
        self.assertEqual(size, "1280x720", out)
        self.assertEqual(int(unreadable), 0, out)
        # The camera keeps 30 pictures a second on its own clock, so it may skip a frame
        # now and then; it must show most of them, in order.
        self.assertGreaterEqual(int(frames), sent * 7 // 10, out)
        self.assertLessEqual(int(frames), sent, out)
        self.assertEqual(int(summary.group(9)), 0, out)  # no stamp went backwards
        self.assertLessEqual(total, (SECONDS + 8) * 30 + 5, "faster than 30 pictures a second")
        print(f"sent {sent} | camera pictures {total}, repeats {repeats}, placeholder "
              f"{placeholder} | " + out.strip().splitlines()[-1], file=sys.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
