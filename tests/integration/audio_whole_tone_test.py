"""None of the phone's audio goes missing unseen: the phone simulator sends a 3.0 s 1 kHz tone at
its real pace right after its hello, through the receiver into a null sink standing in for
VB-CABLE, and the recording of that sink's monitor holds all of it, without a hole, while the
receiver reports nothing discarded; audio the cable cannot take is reported. Runs for the native
build and for the Windows build under Wine."""

import os
import re
import subprocess
import sys
import time
import unittest

from audio_recording import RATE, Recording, audible, holes, longest_hole
from pulse_server import speakers_and_cable
from receiver import Receiver, forget_frame_section, isolate_shared_memory, launcher_from_argv

isolate_shared_memory()
COMMAND = launcher_from_argv()
SIM = os.environ["KORVEX_PHONE_SIM"]
SECONDS = 3.0
DISCARDED = re.compile(r"audio: .* discarded .*; (\d+) samples so far")
UNDERRUNS = re.compile(rb"under (\d+)")


class WholeTone(unittest.TestCase):
    def setUp(self):
        self.pulse = speakers_and_cable()
        self.addCleanup(self.pulse.stop)
        forget_frame_section()

    def start(self):
        r = Receiver(COMMAND, ["--no-vcam", "--no-mdns"],
                     env={"PULSE_SERVER": "unix:" + self.pulse.socket})
        self.addCleanup(r.kill)
        r.wait_for(lambda r: b"-> listening on TCP 45334\n" in r.out, 30)
        return r

    def phone(self):
        sim = subprocess.Popen([SIM, "--host", "127.0.0.1", "--duration", str(SECONDS),
                                "--size", "64x64", "--fps", "5", "--audio", "tone",
                                "--tone-hz", "1000", "--tone-level", "0.5"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.addCleanup(lambda: sim.poll() is None and sim.kill())
        self.addCleanup(sim.stderr.close)
        return sim

    def finish(self, r, sim):
        """Waits for the phone to leave and the status line to have reported what the buffer
        discarded until then; returns the running totals reported."""
        r.wait_for(lambda r: sim.poll() is not None, SECONDS + 30)
        self.assertEqual(sim.returncode, 0, sim.stderr.read())
        r.wait_for(lambda r: b"phone disconnected" in r.err)
        lines = r.out.count(b"\n")
        r.wait_for(lambda r: r.out.count(b"\n") >= lines + 2)
        return [int(n) for n in DISCARDED.findall(r.err.decode())]

    def test_a_three_second_tone_arrives_whole(self):
        # Recording first, as on a desktop where the program using the cable's other side
        # runs already. An idle null sink with no reader renders up to 2 s of silence ahead,
        # which it cannot take back for a newcomer: a receiver started on it is not asked for
        # audio for that long (a phone streaming then is trimmed, and reported).
        recording = Recording(self.pulse)
        r = self.start()
        sim = self.phone()
        discarded = self.finish(r, sim)
        samples = recording.stop()
        self.assertEqual(r.stop(), 0)

        tone = audible(samples)
        longest = longest_hole(tone)
        # A hole with nothing discarded is the buffer running dry (counted as an underrun)
        # or the output not being served in time (not counted).
        underruns = UNDERRUNS.findall(r.out)
        print(f"\ntone {len(tone) / RATE:.3f} s, longest hole {longest / RATE * 1000:.2f} ms, "
              f"discarded {discarded[-1] if discarded else 0}, "
              f"underruns {max(map(int, underruns), default=0)}", file=sys.stderr)
        self.assertAlmostEqual(len(tone) / RATE, SECONDS, delta=0.03)
        self.assertLessEqual(longest, RATE * 2 // 1000, holes(tone))
        self.assertEqual(discarded, [])
        self.assertAlmostEqual(max(tone), 16384, delta=100)

    def test_audio_the_cable_cannot_take_is_reported_as_discarded(self):
        recording = Recording(self.pulse)
        r = self.start()
        sim = self.phone()
        r.wait_for(lambda r: b"phone connected" in r.err)
        time.sleep(0.5)
        # A suspended sink takes nothing, and its stream stays: the buffer reaches its ceiling.
        self.pulse.pactl("suspend-sink", "cable", "1")
        time.sleep(1.5)
        self.pulse.pactl("suspend-sink", "cable", "0")
        discarded = self.finish(r, sim)
        recording.stop()
        self.assertEqual(r.stop(), 0)
        self.assertGreaterEqual(len(discarded), 1, r.err.decode())
        self.assertEqual(discarded, sorted(discarded))
        # Whole 10 ms blocks at least, at most what the phone sent. (Under Wine, its own
        # PulseAudio layer keeps taking audio for a while and drops some of it itself.)
        self.assertGreaterEqual(discarded[-1], 480)
        self.assertLessEqual(discarded[-1], SECONDS * RATE)


if __name__ == "__main__":
    unittest.main(verbosity=2)
