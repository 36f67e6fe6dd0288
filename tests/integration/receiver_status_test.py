"""The receiving mode end to end: banner, status lines, console events and exit statuses."""

import re
import signal
import subprocess
import time
import unittest

from phone_client import Phone, audio, bye, hello, holder_line, occupy_port, video
from receiver import (Receiver, forget_frame_section, isolate_shared_memory, launcher_from_argv,
                      run_in_terminal, screen_text, under_wine)

isolate_shared_memory()
COMMAND = launcher_from_argv()
SYSTEM = "Windows" if under_wine(COMMAND) else "Linux"
BANNER = f"Korvex receiver: iPhone -> {SYSTEM} webcam + mic  (Ctrl-C to quit)\n"
SECTION = "Global\\Korvex.Frames" if SYSTEM == "Windows" else "/Korvex.Frames"
FRAMES_LINE = (f"-> frames go to {SECTION} (3+ slots; camera shows its placeholder after 2000 ms "
               "without frames)")
# The frame section is mapped 500 ms after start, before the first status line.
IDLE = ("shm mapped 0 written | waiting for iPhone | 0.0 fps rx 0.0 dec 0 kbps 0x0 | "
        "q 0 drop 0 err 0 | rtt 0.0 ms | audio 0 ms under 0 [............] 0.00")
LISTENING = "-> listening on TCP 45334"
# Wine has no mfsensorgroup.dll, as Windows before 11 has none; on Linux the receiver is
# pointed at a PipeWire runtime directory with no server in it, whatever the machine runs.
NO_CAMERA = ("virtual camera: Windows 11 (build 22000+) is required for the Korvex camera; "
             "audio still works\n" if SYSTEM == "Windows"
             else "virtual camera: PipeWire: no server to connect to: Host is down (os error 112)\n")
NO_PIPEWIRE = {"PIPEWIRE_RUNTIME_DIR": "/nonexistent/korvex-pipewire"}


class ReceivingMode(unittest.TestCase):
    def setUp(self):
        forget_frame_section()

    def start(self, args, env=None, **kwargs):
        receiver = Receiver(COMMAND, args, env=dict(NO_PIPEWIRE, **(env or {})), **kwargs)
        self.addCleanup(receiver.kill)
        return receiver

    def test_redirected_output_prints_banner_then_a_line_per_second(self):
        r = self.start(["--no-audio", "--no-vcam", "--no-mdns"])
        r.wait_for(lambda r: r.out.count(b"\n") >= 6)
        self.assertEqual(r.stop(signal.SIGINT), 0)
        text = r.out.decode()
        self.assertNotIn("\r", text)
        lines = text.split("\n")
        self.assertEqual(lines[0] + "\n", BANNER)
        self.assertEqual(lines[1], FRAMES_LINE)
        self.assertEqual(lines[2], LISTENING)
        self.assertEqual(lines[3], "")
        status = [line for line in lines[4:] if line]
        self.assertGreaterEqual(len(status), 2)
        for line in status:
            self.assertEqual(line, "cam disabled | " + IDLE)
        self.assertEqual(r.err.decode(), "")

    def test_optional_parts_that_fail_are_reported_and_the_run_goes_on(self):
        r = self.start([])
        r.wait_for(lambda r: r.out.count(b"\n") >= 5)
        self.assertEqual(r.stop(signal.SIGINT), 0)
        err = r.err.decode()
        self.assertIn("audio: ", err)
        self.assertIn("\n   continuing without the mic\n", err)
        self.assertEqual(err.count(NO_CAMERA), 1)
        self.assertNotIn("-> virtual camera", r.out.decode())
        self.assertIn("mDNS: ", err)
        self.assertIn("; the phone needs the IP typed in\n", err)
        self.assertIn("cam unavailable | " + IDLE + "\n", r.out.decode())

    def test_without_a_responder_discovery_fails_in_one_line_and_the_run_goes_on(self):
        # Linux: a system bus that is not there, so no Avahi daemon whatever the
        # machine runs; Wine: dnsapi.dll has no DNS-SD functions.
        r = self.start(["--no-audio", "--no-vcam"],
                       env={"DBUS_SYSTEM_BUS_ADDRESS": "unix:path=/nonexistent/korvex-bus"})
        r.wait_for(lambda r: r.out.count(b"\n") >= 6)
        self.assertEqual(r.stop(signal.SIGINT), 0)
        mdns = [line for line in r.err.decode().splitlines() if "mDNS" in line]
        self.assertEqual(len(mdns), 1, r.err)
        self.assertRegex(mdns[0], r"^mDNS: mDNS daemon: .+; the phone needs the IP typed in$")
        cause = ("this Windows has no DNS-SD responder" if under_wine(COMMAND)
                 else "avahi-daemon does not answer on the system bus")
        self.assertIn(mdns[0] + "\n   " + cause, r.err.decode())
        self.assertNotIn("-> advertised", r.out.decode())
        self.assertIn("cam disabled | " + IDLE + "\n", r.out.decode())

    def test_without_a_virtual_camera_the_run_goes_on(self):
        r = self.start(["--no-audio", "--no-mdns"])
        r.wait_for(lambda r: r.out.count(b"\n") >= 6)
        phone = Phone()
        self.addCleanup(phone.close)
        phone.send(hello({"name": "Camless", "width": 640, "height": 360}))
        started = time.monotonic()
        pts = 0
        while time.monotonic() - started < 2.5:
            phone.send(video(pts, keyframe=pts % 30 == 0))
            pts += 1
            time.sleep(1 / 30)
        r.wait_for(lambda r: b"| Camless | " in r.out)
        self.assertEqual(r.stop(signal.SIGINT), 0)

        lines = r.out.decode().split("\n")
        self.assertEqual(lines[:4], [BANNER[:-1], FRAMES_LINE, LISTENING, ""])
        status = [line for line in lines[4:] if line]
        self.assertEqual(status[0], "cam unavailable | " + IDLE)
        streaming = [line for line in status if "| Camless | " in line]
        self.assertTrue(streaming, status)
        for line in status:
            self.assertTrue(line.startswith("cam unavailable | shm mapped 0 written | "), line)
        self.assertTrue(any(" 0.0 fps rx " not in line for line in streaming), streaming)
        for line in streaming:
            self.assertIn(" 640x360 ", line)
        self.assertTrue(r.err.decode().startswith(NO_CAMERA), r.err)
        self.assertEqual(r.err.decode().count(NO_CAMERA), 1)

    def test_without_audio_output_a_departed_phone_leaves_no_audio_queued(self):
        r = self.start(["--no-audio", "--no-vcam", "--no-mdns"])
        r.wait_for(lambda r: r.out.count(b"\n") >= 5)
        phone = Phone()
        self.addCleanup(phone.close)
        phone.send(hello({"name": "Mute"}), *[audio([1000] * 480) for _ in range(8)])
        r.wait_for(lambda r: re.search(rb"\| Mute \| .* audio [1-9]\d* ms ", r.out))
        phone.send(bye())
        phone.close()
        r.wait_for(lambda r: b"phone disconnected" in r.err)
        lines = r.out.count(b"\n")
        r.wait_for(lambda r: r.out.count(b"\n") >= lines + 2)
        self.assertEqual(r.stop(signal.SIGINT), 0)
        self.assertIn(" | waiting for iPhone | ", r.out.decode().split("\n")[-2])
        self.assertIn(" audio 0 ms under 0 ", r.out.decode().split("\n")[-2])

    def test_a_listener_failure_after_a_failed_camera_ends_with_status_one(self):
        holder = occupy_port()
        self.addCleanup(holder.close)
        r = self.start(["--no-audio", "--no-mdns"])
        self.assertEqual(r.wait_exit(30), 1)
        self.assertNotIn(LISTENING, r.out.decode())
        self.assertRegex(r.err.decode(), "^" + re.escape(NO_CAMERA)
                         + r"could not listen on TCP 45334: .+\n"
                         + re.escape(holder_line(under_wine(COMMAND))) + "$")

    @unittest.skipIf(under_wine(COMMAND), "Wine delivers SIGINT alone as a console event")
    def test_every_console_signal_ends_with_status_zero(self):
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            with self.subTest(signal=sig.name):
                r = self.start(["--no-audio", "--no-vcam", "--no-mdns"])
                r.wait_for(lambda r: b"cam disabled" in r.out)
                self.assertEqual(r.stop(sig), 0)

    def test_ctrl_c_during_startup_ends_with_status_zero(self):
        r = self.start(["--no-audio", "--no-vcam", "--no-mdns"])
        r.wait_for(lambda r: r.out.startswith(BANNER.encode()))
        self.assertEqual(r.stop(signal.SIGINT), 0)

    def test_terminal_output_redraws_one_line(self):
        r = self.start(["--no-audio", "--no-vcam", "--no-mdns"], terminal=True)
        r.wait_for(lambda r: r.out.count(b"\rcam disabled") >= 3)
        self.assertEqual(r.stop(signal.SIGINT), 0)
        banner, rest = screen_text(r.out).split("\n\n", 1)
        self.assertEqual(banner + "\n", BANNER + FRAMES_LINE + "\n" + LISTENING + "\n")
        self.assertNotIn("\n", rest)
        # Each line is drawn over the previous one. (Wine's console drops the
        # very first carriage return, the cursor being at the start already.)
        frames = [frame for frame in rest.split("\r") if frame]
        self.assertGreaterEqual(len(frames), 3)
        for frame in frames:
            self.assertEqual(frame, "cam disabled | " + IDLE)

    def drawn_lines(self, r):
        """The status lines drawn over each other, after checking that none wrapped."""
        rest = screen_text(r.out).split("\n\n", 1)[1]
        self.assertNotIn("\n", rest)
        return [frame for frame in rest.split("\r") if frame]

    def test_terminal_lines_are_cut_to_one_column_less_than_the_console(self):
        r = self.start(["--no-audio", "--no-vcam", "--no-mdns"], terminal=True, columns=60)
        r.wait_for(lambda r: r.out.count(b"\rcam disabled") >= 3)
        self.assertEqual(r.stop(signal.SIGINT), 0)
        frames = self.drawn_lines(r)
        self.assertGreaterEqual(len(frames), 3)
        for frame in frames:
            self.assertEqual(frame, ("cam disabled | " + IDLE)[:59])

    @unittest.skipIf(under_wine(COMMAND),
                     "Wine's console takes the terminal's width at its start and keeps it")
    def test_terminal_lines_follow_a_resized_console(self):
        r = self.start(["--no-audio", "--no-vcam", "--no-mdns"], terminal=True, columns=60)
        r.wait_for(lambda r: r.out.count(b"\rcam disabled") >= 2)
        drawn_wide = len(r.out)
        r.resize_terminal(40)
        r.wait_for(lambda r: r.out[drawn_wide:].count(b"\rcam disabled") >= 3)
        self.assertEqual(r.stop(signal.SIGINT), 0)
        line = "cam disabled | " + IDLE
        frames = self.drawn_lines(r)
        # One line may have been drawn before the new width was read; the narrower
        # ones pad only up to the new width.
        self.assertEqual(frames[:2], [line[:59]] * 2)
        self.assertEqual(frames[-2:], [line[:39]] * 2)
        for frame in frames:
            self.assertIn(frame.rstrip(" "), (line[:59].rstrip(" "), line[:39].rstrip(" ")))
            self.assertLessEqual(len(frame), 59 if frame.rstrip(" ") == line[:59].rstrip(" ")
                                 else 39, frame)

    def test_non_ascii_text_reaches_a_terminal_and_a_pipe_intact(self):
        # Wine's console shows characters outside the Basic Multilingual Plane
        # as replacement characters, so the terminal gets letters from it only.
        name = "--Zo\u00eb-\u5c0f\u660e-\u0416"
        expected = f"unknown argument: {name}\n\n"
        status, raw = run_in_terminal(COMMAND + [name])
        self.assertEqual(status, 2)
        self.assertTrue(screen_text(raw).startswith(expected), raw)

        name += "-\U0001f4f1"
        expected = f"unknown argument: {name}\n\n"
        result = subprocess.run(COMMAND + [name], capture_output=True, timeout=60)
        self.assertEqual(result.returncode, 2)
        self.assertEqual(result.stderr.decode(), expected)

    def test_command_line_error_prints_message_and_help_with_status_two(self):
        result = subprocess.run(COMMAND + ["--frames", "-5", "--no-audio"], capture_output=True,
                                timeout=60)
        self.assertEqual(result.returncode, 2)
        self.assertEqual(result.stderr.decode(), "--frames needs a number\n\n")
        self.assertTrue(result.stdout.decode().startswith(
            f"Korvex receiver: iPhone -> {SYSTEM} wireless webcam + mic\n\nUSAGE:\n"))

    def test_help_exits_zero(self):
        result = subprocess.run(COMMAND + ["--help", "--bogus"], capture_output=True, timeout=60)
        self.assertEqual(result.returncode, 0)
        self.assertTrue(result.stdout.decode().endswith("  -h, --help             Show this help.\n"))
        self.assertEqual(result.stderr, b"")


if __name__ == "__main__":
    unittest.main(verbosity=2)
