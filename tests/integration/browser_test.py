"""A real browser on a Linux desktop's PipeWire (desktop_session.py, browser_page.py): headless
Chromium, Debian's, records the "Korvex Microphone" through getUserMedia and Web Audio (the
page measures the tone's pitch and length), and, with its PipeWire camera support
(WebRtcPipeWireCamera, through the desktop portal), lists the "Korvex" camera and reads the
phone's pictures from it, stamps and all.

usage: browser_test.py -- korvex-receiver
The phone simulator is named by KORVEX_PHONE_SIM.
"""

import base64
import os
import subprocess
import unittest

from audio_phone import simulated_tone
from browser_page import Chromium, PageServer
from desktop_session import DesktopSession
from frame_stamp import read_stamp
from receiver import Receiver, forget_frame_section, isolate_shared_memory, launcher_from_argv

isolate_shared_memory()
COMMAND = launcher_from_argv()
SIM = os.environ["KORVEX_PHONE_SIM"]
WIDTH, HEIGHT = 1280, 720


class Browser(unittest.TestCase):
    def setUp(self):
        self.session = DesktopSession()
        self.addCleanup(self.session.stop)
        self.pages = PageServer()
        self.addCleanup(self.pages.stop)
        forget_frame_section()
        self.addCleanup(forget_frame_section)

    def start(self, args):
        r = Receiver(COMMAND, ["--no-mdns"] + args, env=self.session.client_env)
        self.addCleanup(r.kill)
        r.wait_for(lambda r: b"-> listening on TCP 45334\n" in r.out, 30)
        return r

    def browse(self, page, features=()):
        browser = Chromium(self.session, self.pages.url(page), features)
        self.addCleanup(browser.stop)
        return browser

    def test_a_page_records_the_phones_tone_from_the_korvex_microphone(self):
        r = self.start(["--no-vcam"])
        self.session.wait_for_node("korvex-microphone")
        self.browse("microphone.html?seconds=6")
        recording = self.pages.next_post("recording", 60)
        self.assertEqual(recording["label"], "Korvex Microphone", recording)
        sent = simulated_tone(3.0)
        heard = self.pages.next_post("result", 30)
        print(f"\nChromium heard {heard}", flush=True)
        self.assertNotIn("error", heard)
        self.assertEqual(heard["sampleRate"], 48000)
        self.assertAlmostEqual(heard["seconds"], sent, delta=0.03)
        self.assertLessEqual(heard["longestHoleMs"], 2.0)
        self.assertAlmostEqual(heard["pitchHz"], 1000, delta=5)
        self.assertEqual(r.stop(), 0)

    def test_a_page_lists_the_korvex_camera_and_reads_the_phones_pictures(self):
        self.session.allow_cameras()
        r = self.start(["--no-audio"])
        self.session.wait_for_node("korvex-camera")
        # Debian's Chromium looks for cameras only as V4L2 devices until its PipeWire camera
        # support is switched on.
        without = self.browse(f"camera.html?width={WIDTH}&height={HEIGHT}&seconds=1")
        self.assertEqual(self.pages.next_post("result", 60),
                         {"error": "no Korvex camera", "cameras": []})
        without.stop()
        self.browse(f"camera.html?width={WIDTH}&height={HEIGHT}&seconds=5",
                    ["WebRtcPipeWireCamera"])
        reading = self.pages.next_post("reading", 60)
        self.assertEqual(reading["cameras"], ["Korvex"])
        sim = subprocess.Popen([SIM, "--size", f"{WIDTH}x{HEIGHT}", "--fps", "30", "--duration",
                                "5", "--audio", "none"], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)
        self.addCleanup(lambda: sim.poll() is None and sim.kill())
        seen = self.pages.next_post("result", 30)
        sim.communicate(timeout=60)
        self.assertNotIn("error", seen)
        stamps = [read_stamp(base64.b64decode(luma), WIDTH, HEIGHT) for luma in seen["lumas"]]
        print(f"\nChromium read {WIDTH}x{HEIGHT} at {seen['rate']:.1f} pictures a second, "
              f"stamps {stamps}", flush=True)
        self.assertEqual(seen["size"], [WIDTH, HEIGHT])
        # The camera's 30 a second (how close is for scripts/desktop_figures.py); and the
        # phone's pictures, in order, once it streams.
        self.assertTrue(5 <= seen["rate"] <= 32, seen["rate"])
        indices = [stamp[0] for stamp in stamps if stamp is not None]
        self.assertGreaterEqual(len(indices), 3, stamps)
        self.assertEqual(indices, sorted(indices))
        self.assertEqual(r.stop(), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
