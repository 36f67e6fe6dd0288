"""The phone's audio end to end: the phone simulator sends a 1 kHz tone through the receiver into
a null sink standing in for VB-CABLE, and a recording of that sink's monitor is checked."""

import os
import re
import subprocess
import time
import unittest

from audio_recording import RATE, Recording, audible, frequency, longest_unbroken
from pulse_server import speakers_and_cable
from receiver import Receiver, forget_frame_section, isolate_shared_memory, launcher_from_argv

isolate_shared_memory()
COMMAND = launcher_from_argv()
SIM = os.environ["KORVEX_PHONE_SIM"]
STATUS = re.compile(r"\| audio (\d+) ms under (\d+) \[[#.]{12}\] (\d+\.\d\d)$")


class AudioTone(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pulse = speakers_and_cable()

    @classmethod
    def tearDownClass(cls):
        cls.pulse.stop()

    def play(self, receiver_args, audio, seconds=3):
        """Runs the simulator for `seconds` against the receiver while recording the cable;
        returns the recording and the status lines' audio figures meanwhile."""
        forget_frame_section()
        r = Receiver(COMMAND, ["--no-vcam", "--no-mdns"] + receiver_args,
                     env={"PULSE_SERVER": "unix:" + self.pulse.socket})
        self.addCleanup(r.kill)
        r.wait_for(lambda r: b"-> listening on TCP 45334\n" in r.out, 30)
        recording = Recording(self.pulse)
        sim = subprocess.Popen([SIM, "--host", "127.0.0.1", "--duration", str(seconds),
                                "--size", "64x64", "--fps", "5", "--audio", audio,
                                "--tone-hz", "1000", "--tone-level", "0.5"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.addCleanup(lambda: sim.poll() is None and sim.kill())
        r.out = b""
        r.wait_for(lambda r: sim.poll() is not None, seconds + 30)
        self.assertEqual(sim.returncode, 0, sim.stderr.read())
        # The last line may have been drawn after the phone stopped sending.
        lines = r.out.decode().split("\n")[:-2]
        time.sleep(0.3)
        samples = recording.stop()
        self.assertEqual(r.stop(), 0)
        lines = [line for line in lines if "waiting for iPhone" not in line]
        return samples, [m.groups() for m in map(STATUS.search, lines) if m]

    def test_tone_plays_at_its_frequency_and_level(self):
        samples, status = self.play([], "tone")
        # Over 3 s, a second or more without any gap (a rare gap still shows up under load).
        tone = longest_unbroken(audible(samples))
        self.assertGreater(len(tone), RATE, "the tone keeps breaking up")
        self.assertAlmostEqual(frequency(tone), 1000, delta=10)
        self.assertAlmostEqual(max(tone), 16384, delta=100)
        self.assertAlmostEqual(min(tone), -16384, delta=100)
        self.assertGreaterEqual(len(status), 1, "no status line while the tone played")
        # The queue is sampled at any point of its 10 ms cycle, so it may read 0 once.
        self.assertTrue(any(int(buffered) > 0 for buffered, _, _ in status), status)
        for buffered, underruns, level in status:
            self.assertEqual(underruns, "0")
            self.assertAlmostEqual(float(level), 0.5, delta=0.02)

    def test_gain_two_doubles_the_level_up_to_full_scale(self):
        samples, _ = self.play(["--gain", "2"], "tone")
        self.assertEqual(max(samples), 32767)
        self.assertEqual(min(samples), -32768)
        self.assertAlmostEqual(frequency(longest_unbroken(audible(samples))), 1000, delta=10)

    def test_silent_messages_play_silence(self):
        samples, status = self.play([], "silent")
        self.assertGreater(len(samples), 2 * RATE)
        self.assertEqual(max(abs(s) for s in samples), 0)
        self.assertGreaterEqual(len(status), 1)
        self.assertTrue(any(int(buffered) > 0 for buffered, _, _ in status), status)
        for buffered, underruns, level in status:
            self.assertEqual(underruns, "0")
            self.assertEqual(level, "0.00")


if __name__ == "__main__":
    unittest.main(verbosity=2)
