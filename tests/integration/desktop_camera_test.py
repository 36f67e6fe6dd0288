"""The receiver's camera on a Linux desktop's PipeWire (desktop_session.py): WirePlumber links
the readers that name it, GStreamer's pipewiresrc gets pictures of every offered size, and a
second korvex-receiver lists it and probes it. The rate the camera keeps under WirePlumber
(30 +- 1.5 pictures a second at each size) is measured by scripts/desktop_figures.py on the
release build; here the camera must never run faster, nor stall.

usage: desktop_camera_test.py -- korvex-receiver
"""

import re
import subprocess
import sys
import unittest

from desktop_session import DesktopSession
from pipewire_reader import NODE, CameraReader, is_placeholder
from receiver import Receiver, forget_frame_section, isolate_shared_memory, launcher_from_argv

isolate_shared_memory()
COMMAND = launcher_from_argv()
SIZES = ((1920, 1080), (1280, 720), (640, 360))
PROBED = re.compile(rb"-> (\d+) frames in \S+ s = (\S+) fps")


class DesktopCamera(unittest.TestCase):
    def setUp(self):
        self.session = DesktopSession()
        self.addCleanup(self.session.stop)
        forget_frame_section()
        self.addCleanup(forget_frame_section)
        self.receiver = Receiver(COMMAND, ["--no-audio", "--no-mdns"], env=self.session.client_env)
        self.addCleanup(self.receiver.kill)
        self.receiver.wait_for(lambda r: b"-> listening on TCP 45334\n" in r.out, 30)
        self.session.wait_for_node(NODE)

    def test_wireplumber_links_readers_of_every_size_and_the_probe(self):
        for width, height in SIZES:
            with self.subTest(size=(width, height)):
                reader = CameraReader(self.session, width, height, link=False)
                self.addCleanup(reader.stop)
                reader.wait_for_pictures(10)
                first = reader.taken()[0][-1][0]
                reader.wait_for_pictures(40)
                pictures, last = reader.taken()
                reader.stop()
                rate = (len(pictures) - 10) / ((pictures[-1][0] - first) / 1e6)
                print(f"{width}x{height}: {rate:.1f} pictures a second under WirePlumber",
                      file=sys.stderr)
                self.assertTrue(is_placeholder(last, width, height))
                self.assertTrue(5 <= rate <= 32, f"{rate:.1f} pictures a second")

        listed = subprocess.run(COMMAND + ["--list-cameras"], env=self.session.client_env,
                                capture_output=True, timeout=30)
        self.assertIn(b'  "Korvex"  pipewire:korvex-camera\n', listed.stdout)
        probe = subprocess.run(COMMAND + ["--probe-camera", "Korvex", "--frames", "30"],
                               env=self.session.client_env, capture_output=True, timeout=60)
        self.assertEqual(probe.returncode, 0, probe.stderr)
        frames, fps = PROBED.search(probe.stdout).groups()
        print(f"probe: {frames.decode()} frames at {float(fps):.1f} fps", file=sys.stderr)
        self.assertTrue(5 <= float(fps) <= 32, probe.stdout)
        self.assertEqual(self.receiver.stop(), 0)
        self.session.wait_for_node(NODE, present=False, timeout=5)


if __name__ == "__main__":
    unittest.main(verbosity=2)
