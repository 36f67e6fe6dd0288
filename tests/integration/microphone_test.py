"""The receiver's own microphone on Linux. With a PipeWire server running and --device left
out, the receiver creates the "Korvex Microphone" source node; a recorder linked to it records
the phone's tone whole, and the node goes with the receiver. Without a server the receiver says
so and plays into the sink --device names, as before; an explicit --device always does. Each
test has a private PipeWire server (no session manager: the test links with pw-link) and a
private PulseAudio server for the sinks."""

import os
import re
import subprocess
import time
import unittest

from audio_phone import recorded_tone, simulated_tone
from audio_recording import (RATE, Recording, SampleFile, audible, frequency, holes,
                             longest_hole)
from pipewire_daemon import PipeWireDaemon
from pulse_server import CABLE, speakers_and_cable
from receiver import Receiver, forget_frame_section, isolate_shared_memory, launcher_from_argv

isolate_shared_memory()
COMMAND = launcher_from_argv()
NODE = "korvex-microphone"
STARTED = '-> audio into "Korvex Microphone" (48000 Hz, 1 ch, gain {:.1f}x)'
MIC_LINE = "  - Korvex Microphone (created by the receiver)"
NO_SERVER = ('audio: no PipeWire server found for the "Korvex Microphone"; '
             'playing into the output device "CABLE Input"\n')
UNDERRUNS = re.compile(r"\| audio \d+ ms under (\d+) ")


class MicrophoneRecorder(SampleFile):
    """A program recording the microphone as a browser would: GStreamer's pipewiresrc as
    16-bit mono at 48 kHz into a file, linked to the node with pw-link."""

    def __init__(self, pipewire):
        super().__init__("korvex-mic-", 1)
        # Without a session manager to configure it, the recorder's stream shows its input
        # port only when it asks for one itself. Like the audio threads of browsers and call
        # programs it runs at a real-time priority, copies what it gets and keeps many
        # buffers: a busy machine does not make it miss cycles.
        self.record(
            ["chrt", "--fifo", "10", "gst-launch-1.0", "-q", "pipewiresrc", f"target-object={NODE}", "always-copy=true",
             "max-buffers=64",
             "stream-properties=props,node.name=korvex-recorder,"
             "adapter.auto-port-config=(string)\"{mode=dsp}\"", "!",
             f"audio/x-raw,format=S16LE,rate={RATE},channels=1", "!",
             "filesink", "buffer-mode=unbuffered", f"location={self.file.name}"],
            pipewire.client_env, stdout=subprocess.DEVNULL)
        pipewire.link(NODE, "korvex-recorder")
        # The node runs for its recorder with or without a phone: silence comes first.
        self.wait_for_samples("the recorder records nothing from the microphone")


class Microphone(unittest.TestCase):
    def setUp(self):
        self.pipewire = PipeWireDaemon()
        self.addCleanup(self.pipewire.stop)
        self.pulse = speakers_and_cable()
        self.addCleanup(self.pulse.stop)
        forget_frame_section()

    def env(self, pipewire=True):
        """What the receiver needs to find the sound servers; without `pipewire` its
        runtime directory holds no PipeWire socket."""
        runtime = self.pipewire.runtime if pipewire else self.pulse.root
        return {"XDG_RUNTIME_DIR": runtime, "PIPEWIRE_RUNTIME_DIR": runtime,
                "PULSE_SERVER": "unix:" + self.pulse.socket}

    def start(self, args, pipewire=True):
        r = Receiver(COMMAND, ["--no-vcam", "--no-mdns"] + args, env=self.env(pipewire))
        self.addCleanup(r.kill)
        r.wait_for(lambda r: b"-> listening on TCP 45334\n" in r.out, 30)
        return r

    def node_state(self):
        return next(o["info"]["state"] for o in self.pipewire.objects()
                    if o["type"] == "PipeWire:Interface:Node"
                    and o["info"]["props"].get("node.name") == NODE)

    def wait_for_state(self, predicate):
        deadline = time.monotonic() + 10
        while not predicate(self.node_state()):
            self.assertLess(time.monotonic(), deadline, self.node_state())
            time.sleep(0.1)

    def list_devices(self, pipewire=True):
        result = subprocess.run(COMMAND + ["--list-devices"], capture_output=True, text=True,
                                timeout=60, env=dict(os.environ, **self.env(pipewire)))
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout.splitlines()

    def test_the_node_is_there_for_the_run_and_listed_first(self):
        r = self.start([])
        self.assertIn(STARTED.format(1.0), r.out.decode().split("\n"))
        self.assertNotIn("audio", r.err.decode())
        self.pipewire.wait_for_node(NODE)
        props = self.pipewire.nodes()[NODE]
        self.assertEqual(props["media.class"], "Audio/Source")
        self.assertIs(props["node.virtual"], True)
        self.assertEqual(props["node.description"], "Korvex Microphone")
        self.assertEqual(len(self.pipewire.ports(NODE, "output")), 1)  # mono
        # Nothing plays into the cable meanwhile.
        self.assertEqual(self.pulse.sink_inputs("cable"), [])
        # The node rests while nobody records, runs for a recorder, and rests again after.
        self.assertNotEqual(self.node_state(), "running")
        recorder = MicrophoneRecorder(self.pipewire)
        self.assertEqual(self.node_state(), "running")
        recorder.stop()
        self.wait_for_state(lambda state: state != "running")

        self.assertEqual(self.list_devices(), ["Output devices (PulseAudio):", MIC_LINE,
                                               "  - Speakers  (default)", f"  - {CABLE}"])

        self.assertEqual(r.stop(), 0)
        self.pipewire.wait_for_node(NODE, present=False, timeout=5)

    def test_a_recorder_gets_the_phones_tone_whole(self):
        r = self.start(["--gain", "2"])
        self.assertIn(STARTED.format(2.0), r.out.decode().split("\n"))
        self.pipewire.wait_for_node(NODE)
        recorder = MicrophoneRecorder(self.pipewire)
        # A 3 s tone at a quarter of full scale, doubled; then one whose doubling clips.
        sent = simulated_tone(3.0, 0.25)
        r.wait_for(lambda r: b"phone disconnected" in r.err)
        time.sleep(0.5)
        sent_clipped = simulated_tone(1.0, 0.75)
        r.wait_for(lambda r: r.err.count(b"phone disconnected") == 2)
        lines = r.out.count(b"\n")
        r.wait_for(lambda r: r.out.count(b"\n") >= lines + 2)
        time.sleep(0.3)
        samples = recorder.stop()
        self.assertEqual(r.stop(), 0)

        both = audible(samples)
        gap_at, gap = max(holes(both), key=lambda hole: hole[1])
        self.assertGreater(gap, RATE // 10, "the two phones' tones run together")
        whole, clipped = audible(both[:gap_at]), audible(both[gap_at + gap:])
        longest = longest_hole(whole)
        print(f"\ntone {len(whole) / RATE:.3f} s of {sent:.2f} s sent, at {frequency(whole):.1f} Hz, "
              f"peak {max(whole)}, longest hole {longest / RATE * 1000:.2f} ms", flush=True)
        self.assertAlmostEqual(len(whole) / RATE, sent, delta=0.03)
        self.assertLessEqual(longest, RATE * 2 // 1000, holes(whole))
        self.assertAlmostEqual(frequency(whole), 1000, delta=10)
        self.assertAlmostEqual(max(whole), 16384, delta=100)
        self.assertAlmostEqual(-min(whole), 16384, delta=100)
        # 0.75 doubled is clamped to full scale: the crests are flat.
        self.assertGreaterEqual(max(clipped), 32767 - 1)
        flat = sum(1 for s in clipped if abs(s) >= 32766) / len(clipped)
        self.assertGreater(flat, 0.3)
        self.assertAlmostEqual(len(clipped) / RATE, sent_clipped, delta=0.03)

        underruns = [int(n) for n in UNDERRUNS.findall(r.out.decode())]
        self.assertGreater(len(underruns), 3)
        self.assertEqual(set(underruns), {0})
        self.assertNotIn("discarded", r.err.decode())

    def test_without_a_server_the_receiver_says_so_and_plays_into_the_cable(self):
        self.assertEqual(self.list_devices(pipewire=False)[:2],
                         ["Output devices (PulseAudio):", "  - Speakers  (default)"])
        r = self.start([], pipewire=False)
        self.assertEqual(r.err.decode(), NO_SERVER)
        self.assertIn(f'-> audio into "{CABLE}" (48000 Hz, 2 ch, gain 1.0x)',
                      r.out.decode().split("\n"))
        self.assertEqual(len(self.pulse.sink_inputs("cable")), 1)
        tone = recorded_tone(r, Recording(self.pulse), 0.5)
        self.assertAlmostEqual(len(tone) / RATE, 0.5, delta=0.03)
        self.assertEqual(r.stop(), 0)
        self.assertEqual(r.err.decode().count("PipeWire"), 1)

    def test_a_named_device_is_a_sink_and_no_audio_makes_nothing(self):
        for args, sink, name in ((["--device", "cable"], "cable", CABLE),
                                 (["--device", "CABLE Input"], "cable", CABLE),
                                 (["--device", "default"], "speakers", "Speakers")):
            with self.subTest(args=args):
                forget_frame_section()
                r = self.start(args)
                self.assertIn(f'-> audio into "{name}" (48000 Hz, 2 ch, gain 1.0x)',
                              r.out.decode().split("\n"))
                self.assertEqual(len(self.pulse.sink_inputs(sink)), 1)
                self.assertNotIn(NODE, self.pipewire.nodes())
                self.assertNotIn("audio", r.err.decode())
                self.assertEqual(r.stop(), 0)

        forget_frame_section()
        r = self.start(["--no-audio"])
        self.assertNotIn("-> audio", r.out.decode())
        self.assertNotIn(NODE, self.pipewire.nodes())
        self.assertEqual(self.pulse.sink_inputs("cable") + self.pulse.sink_inputs("speakers"), [])
        self.assertEqual(r.stop(), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
