"""None of the phone's audio goes missing: the phone simulator sends a 3.0 s 1 kHz tone at its
real pace right after its hello, through the receiver into a null sink standing in for VB-CABLE,
and the recording of that sink's monitor holds all of it, without a hole, while the receiver
reports nothing discarded. Runs for the native build and for the Windows build under Wine."""

import os
import re
import subprocess
import sys
import time
import unittest

from audio_recording import RATE, Recording, audible, holes
from pulse_server import speakers_and_cable
from receiver import Receiver, forget_frame_section, isolate_shared_memory, launcher_from_argv

isolate_shared_memory()
COMMAND = launcher_from_argv()
SIM = os.environ["KORVEX_PHONE_SIM"]
SECONDS = 3.0
DISCARDED = re.compile(r"audio: .* discarded .*; (\d+) samples so far")


class WholeTone(unittest.TestCase):
    def setUp(self):
        self.pulse = speakers_and_cable()
        self.addCleanup(self.pulse.stop)
        forget_frame_section()

    def test_a_three_second_tone_arrives_whole(self):
        r = Receiver(COMMAND, ["--no-vcam", "--no-mdns"],
                     env={"PULSE_SERVER": "unix:" + self.pulse.socket})
        self.addCleanup(r.kill)
        r.wait_for(lambda r: b"-> listening on TCP 45334\n" in r.out, 30)
        recording = Recording(self.pulse)
        sim = subprocess.Popen([SIM, "--host", "127.0.0.1", "--duration", str(SECONDS),
                                "--size", "64x64", "--fps", "5", "--audio", "tone",
                                "--tone-hz", "1000", "--tone-level", "0.5"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.addCleanup(lambda: sim.poll() is None and sim.kill())
        r.wait_for(lambda r: sim.poll() is not None, SECONDS + 30)
        self.assertEqual(sim.returncode, 0, sim.stderr.read())
        sim.stderr.close()
        # The phone has said goodbye; what was still queued plays out.
        r.wait_for(lambda r: b"phone disconnected" in r.err)
        time.sleep(0.5)
        samples = recording.stop()
        self.assertEqual(r.stop(), 0)

        tone = audible(samples)
        longest = max((length for _, length in holes(tone)), default=0)
        discarded = [int(n) for n in DISCARDED.findall(r.err.decode())]
        print(f"\ntone {len(tone) / RATE:.3f} s, longest hole {longest / RATE * 1000:.2f} ms, "
              f"discarded {discarded[-1] if discarded else 0}", file=sys.stderr)
        self.assertAlmostEqual(len(tone) / RATE, SECONDS, delta=0.03)
        self.assertLessEqual(longest, RATE * 2 // 1000, holes(tone))
        self.assertEqual(discarded, [])
        self.assertAlmostEqual(max(tone), 16384, delta=100)


if __name__ == "__main__":
    unittest.main(verbosity=2)
