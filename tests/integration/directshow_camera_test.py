"""The DirectShow camera (KorvexFilter.dll) on the Windows build under Wine, as a
Windows 10 user meets it: regsvr32 puts it among the video capture devices under
its friendly name and takes it away again; the receiver says it offers it; the
receiver's own --list-cameras and --probe-camera reach it; and end to end, the
phone simulator's pictures go through the receiver and the section into the
filter in a DirectShow graph, at every offered format, byte for byte what the
picture module draws, 30 a second, through Run/Stop cycles, with the placeholder
soon after the phone stops.

usage: directshow_camera_test.py -- launcher... korvex-receiver korvex-directshow-watch
       KorvexFilter.dll
The phone simulator is the native build's, named by KORVEX_PHONE_SIM. With
KORVEX_FILTER_BITS=32 the DLL and the watcher are the 32-bit builds: the filter is
registered in the 32-bit registry view, where only 32-bit programs find it, and
reads the section the 64-bit receiver writes.
"""

import os
import re
import subprocess
import tempfile
import time
import unittest

from receiver import Receiver, forget_frame_section, launcher_from_argv

COMMAND = launcher_from_argv()
LAUNCHER, (RECEIVER, WATCH, DLL) = COMMAND[:-3], COMMAND[-3:]
SIM = os.environ.get("KORVEX_PHONE_SIM", "")
X86 = os.environ.get("KORVEX_FILTER_BITS") == "32"
VIEW, OTHER_VIEW = ("/reg:32", "/reg:64") if X86 else ("/reg:64", "/reg:32")
WINDOWS_DLL = "Z:" + DLL.replace("/", "\\")
CATEGORY = r"HKLM\Software\Classes\CLSID\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\Instance"
INSTANCE = CATEGORY + r"\{DF38157C-C0F1-4D8F-9A5A-A171D4E6AA5C}"
CLASS_KEY = r"HKLM\Software\Classes\CLSID\{DF38157C-C0F1-4D8F-9A5A-A171D4E6AA5C}"
DEVICE_LINE = ('  "Korvex"  @device:sw:{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\'
               '{DF38157C-C0F1-4D8F-9A5A-A171D4E6AA5C}\n')
LISTENING = b"-> listening on TCP 45334\n"
OFFERED = b'-> camera "Korvex" offered to DirectShow programs\n'
FORMAT = re.compile(r"format (\d+) (\S+) (\d+)x(\d+): connected (as set|otherwise) samples (\d+) "
                    r"exact (\d+) stamps (rising|out of order)")
CYCLE = re.compile(r"cycle (\d+): samples (\d+) fps (\S+) phone_frames (\d+) stamps (\S+ ?\S*) "
                   r"placeholder_after_ms (\S+)")


def run(*args, timeout=90):
    """Runs a Windows program to its end, its output through files: a Wine process
    it leaves behind would hold a pipe open and keep us waiting."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        status = subprocess.run(LAUNCHER + list(args), stdout=out, stderr=err,
                                timeout=timeout).returncode
        out.seek(0)
        err.seek(0)
        text = [f.read().decode(errors="replace").replace("\r\n", "\n") for f in (out, err)]
        return subprocess.CompletedProcess(args, status, *text)


def query(key, *args, view=VIEW):
    # The view named, so that the answer does not hang on reg.exe's own bitness.
    return run("reg", "query", key, *args, view)


def stream(seconds, fps=30):
    return subprocess.Popen(
        [SIM, "--size", "1280x720", "--fps", str(fps), "--gop", "30", "--duration", str(seconds),
         "--audio", "none", "--name", "DirectShow E2E"],
        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)


class DirectShowCamera(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.path.isfile(SIM):
            raise AssertionError(f"needs the native phone simulator: KORVEX_PHONE_SIM={SIM!r}")
        run("regsvr32", "/u", "/s", WINDOWS_DLL)  # left over from an interrupted run
        registered = run("regsvr32", "/s", WINDOWS_DLL)
        if registered.returncode != 0:
            raise AssertionError(f"regsvr32 failed: {registered.returncode} {registered.stderr}")

    @classmethod
    def tearDownClass(cls):
        run("regsvr32", "/u", "/s", WINDOWS_DLL)

    def setUp(self):
        forget_frame_section()
        self.addCleanup(forget_frame_section)

    def receiver(self):
        r = Receiver(LAUNCHER + [RECEIVER], ["--no-audio", "--no-mdns"])
        self.addCleanup(r.kill)
        r.wait_for(lambda r: LISTENING in r.out, timeout=30)
        r.wait_for(lambda r: b"shm mapped" in r.out, timeout=10)
        return r

    def test_1_registered_as_a_video_capture_device(self):
        instance = query(INSTANCE)
        self.assertEqual(instance.returncode, 0, instance.stderr)
        self.assertRegex(instance.stdout, r"FriendlyName\s+REG_SZ\s+Korvex\n")
        self.assertRegex(instance.stdout, r"CLSID\s+REG_SZ\s+\{DF38157C-C0F1-4D8F-9A5A-A171D4E6AA5C\}")
        server = query(CLASS_KEY + r"\InprocServer32")
        self.assertIn(WINDOWS_DLL.lower(), server.stdout.lower())
        self.assertRegex(server.stdout, r"ThreadingModel\s+REG_SZ\s+Both")

        # Only programs of the filter's own bitness see it: the receiver is 64-bit.
        self.assertNotEqual(query(INSTANCE, view=OTHER_VIEW).returncode, 0)
        listed = run(RECEIVER, "--list-cameras")
        self.assertEqual(listed.returncode, 0, listed.stderr)
        self.assertEqual(listed.stdout, "0 camera(s):\n" if X86 else "1 camera(s):\n" + DEVICE_LINE)

    def test_2_receiver_offers_it_and_probes_it(self):
        r = self.receiver()
        if X86:
            self.assertNotIn(OFFERED, r.out, "a 64-bit receiver cannot offer a 32-bit filter")
            return
        self.assertIn(OFFERED, r.out)
        self.assertNotIn(b"virtual camera:", r.err)
        r.wait_for(lambda r: b"cam directshow | " in r.out, timeout=10)

        with tempfile.TemporaryDirectory() as dump:
            probed = run(RECEIVER, "--probe-camera", "korvex", "--frames", "30", "--dump-frames",
                         dump)
            self.assertEqual(probed.returncode, 0, probed.stderr)
            self.assertIn("   type 0: YUY2 1920x1080 @ 30 fps\n", probed.stdout)
            self.assertIn("   type 14: I420 320x240 @ 30 fps\n", probed.stdout)
            self.assertIn("-> reading 30 frames at 1920x1080 NV12\n", probed.stdout)
            report = re.search(r"-> 30 frames in (\S+) s = (\S+) fps, sample times span (\S+) s",
                               probed.stdout)
            self.assertIsNotNone(report, probed.stdout)
            self.assertAlmostEqual(float(report.group(3)), 29 / 30, delta=0.05)
            self.assertEqual(sorted(os.listdir(dump)), ["frame-1.png", "frame-30.png"])

    def test_3_every_format_carries_the_phones_pictures(self):
        self.receiver()
        # A slow phone: the section's frame rarely changes while a sample is compared.
        sim = stream(40, fps=10)
        self.addCleanup(sim.kill)
        time.sleep(3)
        watched = run(WATCH, "formats", "1", timeout=120)
        self.assertEqual(watched.returncode, 0, watched.stderr)
        lines = FORMAT.findall(watched.stdout)
        self.assertEqual(len(lines), 15, watched.stdout)
        for index, pixels, width, height, connected, samples, exact, stamps in lines:
            with self.subTest(format=f"{pixels} {width}x{height}"):
                self.assertEqual(connected, "as set")  # SetFormat before connecting decides
                self.assertGreaterEqual(int(samples), 5)  # the rate is test 4's
                # Byte for byte one of the section's recent pictures as the picture module
                # draws it. The watcher draws each new frame within a few ms, but a
                # frame the receiver replaces at once (two decoded back to back on a
                # loaded machine) can reach the filter and not the watcher: a few
                # samples may go unmatched. A wrong conversion matches none; the exact
                # check on a still frame is capture_filter_tests'.
                self.assertGreaterEqual(int(exact), int(samples) * 9 // 10,
                                        "not the picture module's bytes")
                self.assertEqual(stamps, "rising")

    def test_4_thirty_a_second_through_run_stop_cycles_then_the_placeholder(self):
        self.receiver()
        sim = stream(18)
        self.addCleanup(sim.kill)
        time.sleep(2)
        # NV12 1280x720, three cycles of 6 s: the phone stops during the third.
        watched = run(WATCH, "cycles", "6", "6", "3", timeout=120)
        self.assertEqual(watched.returncode, 0, watched.stderr)
        cycles = CYCLE.findall(watched.stdout)
        self.assertEqual(len(cycles), 3, watched.stdout)
        for number, samples, fps, phone_frames, stamps, placeholder in cycles:
            with self.subTest(cycle=number):
                self.assertEqual(stamps, "rising")
                self.assertGreater(int(phone_frames), 30 if number != "2" else 0,
                                   "the phone's stamps read back")
                # Over a whole cycle while the phone streams: 30 a second within 10 %.
                if number != "2":
                    self.assertAlmostEqual(float(fps), 30, delta=3, msg=watched.stdout)
        placeholder = cycles[2][5]
        self.assertNotEqual(placeholder, "none", watched.stdout)
        self.assertLess(float(placeholder), 2500, watched.stdout)


class Unregistered(unittest.TestCase):
    def test_gone_from_the_devices_and_the_receiver_says_so(self):
        run("regsvr32", "/s", WINDOWS_DLL)
        unregistered = run("regsvr32", "/u", "/s", WINDOWS_DLL)
        self.assertEqual(unregistered.returncode, 0, unregistered.stderr)
        self.assertNotEqual(query(INSTANCE).returncode, 0)
        self.assertNotEqual(query(CLASS_KEY).returncode, 0)
        # The category is empty now: the enumerator is S_FALSE with nothing in it.
        listed = run(RECEIVER, "--list-cameras")
        self.assertEqual((listed.returncode, listed.stdout), (0, "0 camera(s):\n"), listed.stderr)
        again = run("regsvr32", "/u", "/s", WINDOWS_DLL)
        self.assertEqual(again.returncode, 0, "removing what is not there is no failure")


if __name__ == "__main__":
    unittest.main(verbosity=2)
