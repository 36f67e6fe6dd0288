"""Audio output end to end: endpoint listing and check, and the receiver opening its endpoint,
against a PulseAudio server of the test's own (Wine's WASAPI endpoints sit on top of it)."""

import re
import subprocess
import unittest

from pulse_server import CABLE, speakers_and_cable
from receiver import (Receiver, forget_frame_section, isolate_shared_memory, launcher_from_argv,
                      under_wine)

isolate_shared_memory()
COMMAND = launcher_from_argv()
WINE = under_wine(COMMAND)
HOST = "WASAPI" if WINE else "PulseAudio"
# Wine adds an endpoint of its own, "PulseAudio", and makes it the default.
DEFAULT = "PulseAudio" if WINE else "Speakers"
NO_MATCH = ('no output device matching "{}"; run --list-devices, install VB-CABLE '
            "(https://vb-audio.com/Cable/) for the mic\n")


def last_line(text):
    """Wine may print its own lines first; the program's message is the last."""
    return text.splitlines(keepends=True)[-1] if text else ""


class AudioOutput(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pulse = speakers_and_cable(
            ("lowrate", "Low Rate Output", "rate=44100", "format=s16le", "channels=2"))

    @classmethod
    def tearDownClass(cls):
        cls.pulse.stop()

    def setUp(self):
        forget_frame_section()

    def run_mode(self, *args, env=None):
        return subprocess.run(COMMAND + list(args), capture_output=True, text=True, timeout=60,
                              env=env or self.pulse.client_env)

    def start(self, args):
        receiver = Receiver(COMMAND, args, env={"PULSE_SERVER": "unix:" + self.pulse.socket})
        self.addCleanup(receiver.kill)
        return receiver

    def test_list_devices_shows_every_endpoint_and_marks_the_default(self):
        result = self.run_mode("--list-devices")
        self.assertEqual(result.returncode, 0)
        lines = result.stdout.splitlines()
        self.assertEqual(lines[0], f"Output devices ({HOST}):")
        expected = {"  - Speakers", f"  - {CABLE}", "  - Low Rate Output"}
        if WINE:
            expected.add("  - PulseAudio")
        expected = {line + "  (default)" if line == "  - " + DEFAULT else line
                    for line in expected}
        self.assertEqual(sorted(lines[1:]), sorted(expected))
        if not WINE:
            self.assertEqual(lines[1:], ["  - Speakers  (default)", f"  - {CABLE}",
                                         "  - Low Rate Output"])

    def test_check_device_finds_what_the_receiver_would_use(self):
        for request, found in (("cable", CABLE), ("CABLE INPUT", CABLE), ("default", DEFAULT),
                               ("DeFaUlT", DEFAULT), ("low RATE", "Low Rate Output")):
            with self.subTest(request=request):
                result = self.run_mode("--check-device", request)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stdout, f'found "{found}"\n')

        result = self.run_mode("--check-device", "Headset 3000")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout, "")
        self.assertEqual(last_line(result.stderr), NO_MATCH.format("Headset 3000"))

    def test_receiver_plays_into_the_cable_by_default_and_keeps_running(self):
        r = self.start(["--no-vcam", "--no-mdns"])
        r.wait_for(lambda r: r.out.count(b"\ncam disabled") >= 2)
        lines = r.out.decode().split("\n")
        self.assertEqual(lines[1],
                         f'-> audio into "{CABLE}" (48000 Hz, 2 ch, gain 1.0x)')
        status = [line for line in lines if line.startswith("cam disabled")]
        self.assertTrue(status[-1].endswith("| audio 0 ms under 0 [............] 0.00"))
        self.assertEqual(len(self.pulse.sink_inputs("cable")), 1)
        if not WINE:
            self.assertEqual(self.pulse.sink_inputs("cable"), ["float32le 2ch 48000Hz"])
        self.assertNotIn("audio", r.err.decode())
        self.assertEqual(r.stop(), 0)

    def test_endpoint_without_48khz_plays_at_its_own_rate(self):
        # PulseAudio offers only the sink's own rate, so the receiver takes the
        # default configuration and resamples; Wine's endpoint mixes at 48 kHz.
        r = self.start(["--no-vcam", "--no-mdns", "--device", "low rate", "--gain", "2"])
        r.wait_for(lambda r: b"audio 0 ms under 0" in r.out)
        rate = 48000 if WINE else 44100
        self.assertIn(f'\n-> audio into "Low Rate Output" ({rate} Hz, 2 ch, gain 2.0x)\n',
                      r.out.decode())
        if not WINE:
            self.assertEqual(self.pulse.sink_inputs("lowrate"), ["s16le 2ch 44100Hz"])
        self.assertEqual(r.stop(), 0)

    def test_a_missing_endpoint_is_reported_and_the_run_goes_on(self):
        r = self.start(["--no-vcam", "--no-mdns", "--device", "Headset 3000"])
        r.wait_for(lambda r: b"cam disabled" in r.out)
        self.assertIn("audio: " + NO_MATCH.format("Headset 3000") + "   continuing without the mic\n",
                      r.err.decode())
        self.assertNotIn("-> audio", r.out.decode())
        self.assertEqual(r.stop(), 0)

    def test_losing_the_endpoint_is_reported_and_the_run_goes_on(self):
        module = self.pulse.add_sink("unplugged", "USB Headset", "rate=48000", "format=float32le")
        r = self.start(["--no-vcam", "--no-mdns", "--device", "usb headset"])
        r.wait_for(lambda r: b"cam disabled" in r.out)
        self.assertEqual(len(self.pulse.sink_inputs("unplugged")), 1)
        self.pulse.pactl("unload-module", module)
        r.wait_for(lambda r: b"audio stream error: " in r.err)
        lines_then = r.out.count(b"\n")
        r.wait_for(lambda r: r.out.count(b"\n") >= lines_then + 2)
        self.assertEqual(r.proc.poll(), None)
        # The stream is not moved to another endpoint behind the user's back.
        self.assertEqual(self.pulse.sink_inputs("speakers"), [])
        error = re.search(r"audio stream error: (.+)\n", r.err.decode()).group(1)
        if WINE:
            self.assertIn("(0x88890004)", error)
        self.assertEqual(r.stop(), 0)

    def test_without_a_sound_server(self):
        env = dict(self.pulse.client_env, PULSE_SERVER="unix:" + self.pulse.root + "/none")
        listing = self.run_mode("--list-devices", env=env)
        self.assertEqual(listing.returncode, 0)
        check = self.run_mode("--check-device", "default", env=env)
        self.assertEqual(check.returncode, 1)
        self.assertEqual(check.stdout, "")
        if WINE:
            # Wine then shows no endpoints at all.
            self.assertEqual(listing.stdout, "Output devices (WASAPI):\n")
            self.assertEqual(last_line(check.stderr), "no default output device\n")
        else:
            self.assertTrue(re.fullmatch(
                r"Output devices \(PulseAudio\):\n  \(could not enumerate: connect to "
                r"PulseAudio: .+\)\n", listing.stdout), listing.stdout)
            self.assertEqual(check.stderr, "no default output device\n")


if __name__ == "__main__":
    unittest.main(verbosity=2)
