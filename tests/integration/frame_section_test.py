"""The frame section between the receiver (or a stand-in writer) and korvex-frames, a reader
that opens it the way the virtual camera's media source does.

usage: frame_section_test.py -- [launcher...] korvex-receiver korvex-frames frame-feeder
"""

import os
import re
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest

from receiver import (Receiver, forget_frame_section, isolate_shared_memory, launcher_from_argv,
                      under_wine)

isolate_shared_memory()
COMMAND = launcher_from_argv()
LAUNCHER, (RECEIVER, READER, FEEDER) = COMMAND[:-3], COMMAND[-3:]
WINE = under_wine(COMMAND)
SECTION = "Global\\Korvex.Frames" if WINE else "/Korvex.Frames"
HEADER = re.compile(r"magic=0x4658564B version=1 slot_count=3 slot_size=3110400 "
                    r"frame_counter=(\d+) activity_tick=(\d+)\n")
SUMMARY = re.compile(r"frames=(\d+) torn=(\d+) unreadable=(\d+) gaps=(\d+) size=(\S+) "
                     r"latency_ms_p50=(\S+) latency_ms_p99=(\S+) latency_ms_max=(\S+) "
                     r"backwards=(\d+)\n$")
# mDNS would send to the network; Wine cannot do it at all.
RECEIVER_ARGS = ["--no-audio", "--no-vcam", "--no-mdns"]


def reader(*args, timeout=60):
    return subprocess.run(LAUNCHER + [READER, *args], capture_output=True, text=True,
                          timeout=timeout)


class FrameSection(unittest.TestCase):
    def setUp(self):
        forget_frame_section()
        self.addCleanup(forget_frame_section)

    def start(self, program, args):
        process = Receiver(LAUNCHER + [program], args)
        self.addCleanup(process.kill)
        return process

    def test_reader_refuses_a_missing_section(self):
        result = reader("--header")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout, "")
        self.assertIn(f"korvex-frames: cannot open frame section {SECTION}: ", result.stderr)

    def test_receiver_maps_the_section_within_a_second(self):
        r = self.start(RECEIVER, RECEIVER_ARGS)
        frames_line = (f"-> frames go to {SECTION} (3+ slots; camera shows its placeholder "
                       "after 2000 ms without frames)\n").encode()
        r.wait_for(lambda r: frames_line in r.out)
        announced = time.monotonic()
        # The first status line comes a second after startup: mapped by then.
        # (Banner, frames line, listening line, empty line, then the status.)
        r.wait_for(lambda r: r.out.count(b"\n") >= 5)
        first_status = r.out.split(b"\n")[4]
        self.assertIn(b"cam disabled | shm mapped 0 written | ", first_status)

        # A reader started after that finds a valid header (Wine starts
        # programs slowly, hence the allowance).
        while True:
            result = reader("--header")
            if result.returncode == 0:
                break
            self.assertLess(time.monotonic() - announced, 5.0, result.stderr)
            time.sleep(0.05)
        self.assertRegex(result.stdout, HEADER)
        self.assertEqual(HEADER.match(result.stdout).groups(), ("0", "0"))
        self.assertEqual(r.stop(signal.SIGINT), 0)

    def test_reader_follows_a_live_writer(self):
        # Feeds 320x240 at 30 fps for 2 s, then stays alive 4 s with no phone.
        feeder = self.start(FEEDER, ["320", "240", "30", "2", "4"])
        feeder.wait_for(lambda f: b"mapped\n" in f.out)
        watch = subprocess.Popen(LAUNCHER + [READER, "--watch", "5"], stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, text=True)
        self.addCleanup(watch.kill)
        with tempfile.TemporaryDirectory() as directory:
            time.sleep(0.3)
            dump = reader("--dump", directory)
            self.assertEqual(dump.returncode, 0, dump.stderr)
            name = re.split(r"[\\/]", dump.stdout.strip())[-1]
            self.assertRegex(name, r"^frame-\d+\.png$")
            with open(os.path.join(directory, name), "rb") as png:
                head = png.read(26)
            self.assertEqual(head[:8], b"\x89PNG\r\n\x1a\n")
            width, height, depth, colour = struct.unpack(">IIBB", head[16:26])
            self.assertEqual((width, height, depth, colour), (320, 240, 8, 0))  # 8-bit grey

        out, err = watch.communicate(timeout=60)
        self.assertEqual(watch.returncode, 0, err)
        summary = SUMMARY.search(out)
        self.assertIsNotNone(summary, out)
        frames, _, unreadable, gaps, size = summary.groups()[:5]
        self.assertGreaterEqual(int(frames), 20, out)
        self.assertEqual(int(unreadable), 0, out)
        self.assertEqual(size, "320x240")
        self.assertLess(int(gaps), 5, out)
        self.assertEqual(int(summary.group(9)), 0, out)  # no stamp went backwards
        self.assertLess(float(summary.group(6)), 200.0, out)  # p50 latency in ms
        # The writer went quiet with the phone gone: a source shows its placeholder once.
        self.assertRegex(out, r"shown 1 times, \d+ ms in all\n")
        self.assertEqual(feeder.wait_exit(30), 0)
        self.assertIn(b"fed 60\n", feeder.out)
        print(out.strip().splitlines()[-1], file=sys.stderr)

    @unittest.skipIf(WINE, "only POSIX shared memory can be prepared from here")
    def test_unusable_sections_are_refused_and_left_alone(self):
        path = "/dev/shm/Korvex.Frames"
        for content, text in (
                (b"FFFF" + bytes(9331404), "frame section magic 0x46464646, expected 0x4658564b"),
                (bytes(4096), "mmap: section object is 4096 bytes, needs 9331408")):
            with self.subTest(text=text):
                with open(path, "wb") as section:
                    section.write(content)
                os.chmod(path, 0o600)
                result = reader("--header")
                self.assertEqual(result.returncode, 1)
                self.assertIn(f"korvex-frames: ", result.stderr)
                self.assertIn(text, result.stderr)

                r = self.start(RECEIVER, RECEIVER_ARGS)
                r.wait_for(lambda r: r.out.count(b"| shm ") >= 2)
                self.assertEqual(r.stop(signal.SIGINT), 0)
                self.assertNotIn(b"| shm mapped", r.out)
                with open(path, "rb") as section:
                    self.assertEqual(section.read(), content)


if __name__ == "__main__":
    unittest.main(verbosity=2)
