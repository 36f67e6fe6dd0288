"""Audio output end to end: endpoint listing and check, and the receiver opening its endpoint,
against a PulseAudio server of the test's own (Wine's WASAPI endpoints sit on top of it)."""

import re
import subprocess
import unittest

from audio_phone import recorded_tone
from audio_recording import Recording, frequency
from pulse_server import CABLE, PulseServer, speakers_and_cable
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
            ("lowrate", "Low Rate Output", "rate=44100", "format=s16le", "channels=2"),
            ("studio", "Studio Interface", "rate=48000", "format=s32le", "channels=2"),
            ("oldcard", "Old Card", "rate=22050", "format=u8", "channels=1"))

    @classmethod
    def tearDownClass(cls):
        cls.pulse.stop()

    def setUp(self):
        forget_frame_section()

    def run_mode(self, *args, env=None):
        return subprocess.run(COMMAND + list(args), capture_output=True, text=True, timeout=60,
                              env=env or self.pulse.client_env)

    def start(self, args):
        env = {"PULSE_SERVER": "unix:" + self.pulse.socket}
        if not WINE:
            # No PipeWire server either: the receiver then plays into the cable.
            env.update(PIPEWIRE_RUNTIME_DIR=self.pulse.root, XDG_RUNTIME_DIR=self.pulse.root)
        receiver = Receiver(COMMAND, args, env=env)
        self.addCleanup(receiver.kill)
        return receiver

    def test_list_devices_shows_every_endpoint_and_marks_the_default(self):
        result = self.run_mode("--list-devices")
        self.assertEqual(result.returncode, 0)
        lines = result.stdout.splitlines()
        self.assertEqual(lines[0], f"Output devices ({HOST}):")
        expected = {"  - Speakers", f"  - {CABLE}", "  - Low Rate Output",
                    "  - Studio Interface", "  - Old Card"}
        if WINE:
            expected.add("  - PulseAudio")
        expected = {line + "  (default)" if line == "  - " + DEFAULT else line
                    for line in expected}
        self.assertEqual(sorted(lines[1:]), sorted(expected))
        if not WINE:
            self.assertEqual(lines[1:], ["  - Speakers  (default)", f"  - {CABLE}",
                                         "  - Low Rate Output", "  - Studio Interface",
                                         "  - Old Card"])

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
        if WINE:
            self.assertNotIn("audio", r.err.decode())
        else:
            self.assertEqual(r.err.decode(), 'audio: no PipeWire server found for the "Korvex '
                             'Microphone"; playing into the output device "CABLE Input"\n')
        self.assertEqual(r.stop(), 0)

    def test_sinks_of_any_format_and_rate_play_the_tone(self):
        # The sound server converts 48 kHz float into whatever the sink uses, so
        # that sinks of formats the render path does not write get audio too.
        for device, sink, channels in (("low rate", "lowrate", 2), ("studio", "studio", 2),
                                       ("old card", "oldcard", 1)):
            with self.subTest(sink=sink):
                forget_frame_section()
                r = self.start(["--no-vcam", "--no-mdns", "--device", device])
                try:  # a failed sink's receiver would keep the port from the next
                    r.wait_for(lambda r: b"-> listening on TCP 45334\n" in r.out, 30)
                    rate = re.search(r'-> audio into "[^"]+" \((\d+) Hz, (\d+) ch',
                                     r.out.decode()).groups()
                    if WINE:
                        self.assertEqual(len(self.pulse.sink_inputs(sink)), 1)
                    else:
                        self.assertEqual(rate, ("48000", str(channels)))
                        self.assertEqual(self.pulse.sink_inputs(sink),
                                         [f"float32le {channels}ch 48000Hz"])
                    recording = Recording(self.pulse, sink + ".monitor", channels)
                    tone = recorded_tone(r, recording, 1.0)
                    # A hole shows as a short tone or a low frequency; the status line says
                    # whether the receiver ran short (an underrun) or the host did.
                    status = [line for line in r.out.decode().split("\n") if "| audio" in line]
                    self.assertAlmostEqual(len(tone) / 48000, 1.0, delta=0.03, msg=status[-1:])
                    self.assertAlmostEqual(frequency(tone), 1000, delta=10, msg=status[-1:])
                    self.assertAlmostEqual(max(tone), 16384, delta=400)  # 8 bits: steps of 256
                    self.assertEqual(r.stop(), 0)
                finally:
                    r.kill()

    def test_a_missing_endpoint_is_reported_with_what_there_is_and_the_run_goes_on(self):
        r = self.start(["--no-vcam", "--no-mdns", "--device", "Headset 3000"])
        r.wait_for(lambda r: b"cam disabled" in r.out)
        found = re.search(re.escape("audio: " + NO_MATCH.format("Headset 3000")
                                    + "   continuing without the mic\n")
                          + r"   output devices found: (.+)\n", r.err.decode())
        self.assertTrue(found, r.err)
        self.assertIn('"Speakers", ', found.group(1))
        self.assertIn(f'"{CABLE}"', found.group(1))
        self.assertNotIn("VB-CABLE,", r.err.decode(), "the cable was not asked for")
        self.assertNotIn("-> audio", r.out.decode())
        self.assertEqual(r.stop(), 0)

    def test_asking_for_the_cables_recording_side_names_its_playback_side(self):
        r = self.start(["--no-vcam", "--no-mdns", "--device", "CABLE Output"])
        r.wait_for(lambda r: b"cam disabled" in r.out)
        self.assertIn("audio: " + NO_MATCH.format("CABLE Output") + "   continuing without the mic\n"
                      f'   "{CABLE}" is there: the receiver plays into it (leave --device out) and '
                      "programs record the phone from the cable's other side\n"
                      "   output devices found: ", r.err.decode())
        self.assertEqual(r.stop(), 0)

    def test_without_the_cable_the_receiver_says_where_it_comes_from(self):
        pulse = PulseServer()
        self.addCleanup(pulse.stop)
        pulse.add_sink("speakers", "Speakers")
        env = {"PULSE_SERVER": "unix:" + pulse.socket}
        if not WINE:
            env.update(PIPEWIRE_RUNTIME_DIR=pulse.root, XDG_RUNTIME_DIR=pulse.root)
        r = Receiver(COMMAND, ["--no-vcam", "--no-mdns"], env=env)
        self.addCleanup(r.kill)
        r.wait_for(lambda r: b"cam disabled" in r.out)
        cause = ('VB-CABLE, whose playback side is "CABLE Input", is not installed: get it from '
                 "https://vb-audio.com/Cable/, run VBCABLE_Setup_x64.exe as administrator and "
                 "restart Windows" if WINE else
                 'no sink is named "CABLE Input": with a PipeWire server and its session manager '
                 'running (pipewire, wireplumber) the receiver makes its own "Korvex Microphone" '
                 "instead; or name another sink with --device")
        found = '"Speakers", "PulseAudio"' if WINE else '"Speakers"'
        self.assertIn("audio: " + NO_MATCH.format("CABLE Input") + "   continuing without the mic\n"
                      f"   {cause}\n   output devices found: {found}\n", r.err.decode())
        self.assertEqual(r.stop(), 0)

    def test_a_lost_endpoint_is_reported_and_played_into_again_when_it_is_back(self):
        headset = ("unplugged", "USB Headset", "rate=48000", "format=float32le")
        module = self.pulse.add_sink(*headset)
        r = self.start(["--no-vcam", "--no-mdns", "--device", "usb headset"])
        r.wait_for(lambda r: b"cam disabled" in r.out)
        self.assertEqual(len(self.pulse.sink_inputs("unplugged")), 1)
        self.pulse.pactl("unload-module", module)
        r.wait_for(lambda r: b"audio stream error: " in r.err)
        lines_then = r.out.count(b"\n")
        r.wait_for(lambda r: r.out.count(b"\n") >= lines_then + 3)
        self.assertEqual(r.proc.poll(), None)
        # Nothing plays elsewhere meanwhile, and nothing more is said.
        self.assertEqual(self.pulse.sink_inputs("speakers"), [])
        self.assertEqual(r.err.decode().count("audio"), 1, r.err.decode())
        error = re.search(r"audio stream error: (.+)\n", r.err.decode()).group(1)
        if WINE:
            self.assertIn("(0x88890004)", error)

        # Plugged in again: within the 2 s between attempts the receiver plays into it.
        module = self.pulse.add_sink(*headset)
        self.addCleanup(self.pulse.pactl, "unload-module", module)
        r.wait_for(lambda r: b"audio back: " in r.err, 10)
        self.assertRegex(r.err.decode(),
                         r'\naudio back: playing into "USB Headset" \(48000 Hz, 2 ch\)\n$')
        self.assertEqual(len(self.pulse.sink_inputs("unplugged")), 1)
        tone = recorded_tone(r, Recording(self.pulse, "unplugged.monitor"), 0.5)
        self.assertAlmostEqual(len(tone) / 48000, 0.5, delta=0.03)
        self.assertAlmostEqual(max(tone), 16384, delta=100)
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
