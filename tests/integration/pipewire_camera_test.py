"""The camera on Linux end to end: the receiver registers its PipeWire camera node on a
private PipeWire server, a GStreamer reader (pipewiresrc, linked to the node with pw-link as
a session manager would) takes its pictures while the phone simulator streams, and the
simulator's stamps are read back from them. Also: the node's properties and formats, the
placeholder once the phone stops, a portrait phone pillarboxed, the node gone after SIGINT,
the receiver running on without a PipeWire server or after losing it, and a second
korvex-receiver listing and probing the camera as any PipeWire camera.

usage: pipewire_camera_test.py -- korvex-receiver
The phone simulator is named by KORVEX_PHONE_SIM.
"""

import os
import re
import subprocess
import sys
import tempfile
import time
import unittest

from grey_png import read_grey_png
from pipewire_daemon import PipeWireDaemon
from pipewire_reader import (BLACK, NODE, CameraReader, chroma, is_placeholder, latency_figures,
                             luma, read_stamp)
from receiver import Receiver, forget_frame_section, isolate_shared_memory, launcher_from_argv

isolate_shared_memory()
COMMAND = launcher_from_argv()
SIM = os.environ.get("KORVEX_PHONE_SIM", "")
LISTENING = b"-> listening on TCP 45334\n"
PROBE_NODE = "korvex-probe"
REGISTERED = b'-> virtual camera "Korvex" registered (source pipewire:korvex-camera)\n'

def status_lines(r):
    return [line for line in r.out.split(b"\n")[:-1] if line.startswith(b"cam ")]


class PipeWireCamera(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.path.isfile(SIM):
            raise AssertionError(f"needs the phone simulator: KORVEX_PHONE_SIM={SIM!r}")

    def start_daemon(self):
        daemon = PipeWireDaemon()
        self.addCleanup(daemon.stop)
        return daemon

    def start_receiver(self, env, registered=True):
        forget_frame_section()
        self.addCleanup(forget_frame_section)
        r = Receiver(COMMAND, ["--no-audio", "--no-mdns"], env=env)
        self.addCleanup(r.kill)
        r.wait_for(lambda r: LISTENING in r.out, timeout=30)
        if registered:
            self.assertIn(REGISTERED, r.out)
            r.wait_for(lambda r: status_lines(r), timeout=10)
            self.assertTrue(status_lines(r)[-1].startswith(b"cam registered | "),
                            status_lines(r)[-1])
        return r

    def stream(self, size, seconds, name, fps=30):
        return subprocess.Popen(
            [SIM, "--size", size, "--fps", str(fps), "--gop", str(fps), "--duration", str(seconds),
             "--audio", "none", "--name", name],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def finish_stream(self, sim):
        out, err = sim.communicate(timeout=60)
        self.assertEqual(sim.returncode, 0, err)
        return int(dict(item.split("=") for item in out.strip().splitlines()[-1].split())["frames"])

    def test_the_node_is_a_camera_with_fixed_nv12_formats_and_goes_with_sigint(self):
        daemon = self.start_daemon()
        r = self.start_receiver(daemon.client_env)
        daemon.wait_for_node(NODE)
        props = daemon.nodes()[NODE]
        for key, value in (("node.description", "Korvex"), ("media.class", "Video/Source"),
                           ("media.role", "Camera"), ("media.type", "Video"),
                           ("media.category", "Capture")):
            self.assertEqual(props.get(key), value, props)
        node = next(o for o in daemon.objects() if o["type"] == "PipeWire:Interface:Node"
                    and o["info"]["props"].get("node.name") == NODE)
        formats = [(f["format"], f["size"]["width"], f["size"]["height"],
                    f["framerate"]["num"], f["framerate"]["denom"])
                   for f in node["info"]["params"]["EnumFormat"]]
        self.assertEqual(formats, [("NV12", 1920, 1080, 30, 1), ("NV12", 1280, 720, 30, 1),
                                   ("NV12", 640, 360, 30, 1)])

        self.assertEqual(r.stop(), 0)
        self.assertNotIn(NODE, daemon.nodes())

    def test_phone_to_camera_at_720p30_then_the_placeholder(self):
        # 720p: the sanitizer build decodes 1080p30 too slowly on a busy machine to show
        # every frame; scripts/pipewire_camera_figures.py measures 1080p30 on the release build.
        seconds = 6
        daemon = self.start_daemon()
        r = self.start_receiver(daemon.client_env)
        reader = CameraReader(daemon, 1280, 720)
        self.addCleanup(reader.stop)
        reader.wait_for_pictures(10)
        _, before = reader.taken()
        self.assertTrue(is_placeholder(before, 1280, 720), "no placeholder before the phone")

        started = time.time_ns() // 1000
        sent = self.finish_stream(self.stream("1280x720", seconds, "PipeWire E2E"))
        ended = time.time_ns() // 1000
        r.wait_for(lambda r: b"phone disconnected\n" in r.err, timeout=30)
        time.sleep(3.5)  # the placeholder is back 2 s after the last frame
        r.wait_for(lambda r: b"| waiting for iPhone |" in status_lines(r)[-1], timeout=10)
        pictures, last = reader.taken()
        reader.stop()
        self.assertTrue(is_placeholder(last, 1280, 720), "no placeholder after the phone")

        stamped = [(arrived, stamp) for arrived, stamp in pictures if stamp is not None]
        indices = [stamp[0] for _, stamp in stamped]
        distinct = sorted(set(indices))
        self.assertEqual(indices, sorted(indices), "stamps out of order")
        # The camera keeps its own 30 pictures a second and shows the newest frame, so it
        # misses one now and then; a decoder that fell behind on a busy machine leaves
        # fewer frames to show (and may write several at once).
        written = int(re.findall(rb"shm mapped (\d+) written", r.out)[-1])
        self.assertGreaterEqual(len(distinct), written * 6 // 10, f"{len(distinct)} of {written}")
        during = [arrived for arrived, _ in pictures if started <= arrived <= ended]
        rate = len(during) / ((ended - started) / 1e6)
        # Never faster than its 30 a second, and never stalled. How close to 30 it stays is
        # for the figures script: a machine loaded far beyond its cores (the sanitizer
        # build, the simulator's encoder, the decoder, Python's reader and whatever else
        # runs) makes the camera's thread miss ticks.
        self.assertTrue(5 <= rate <= 32, f"{rate:.1f} pictures a second")
        shown, p50, p99, worst = latency_figures(pictures)
        print(f"720p30: sent {sent}, written {written}, camera pictures {len(pictures)} ({rate:.1f}/s while "
              f"streaming), frames shown {shown}; phone-to-camera latency_ms "
              f"p50={p50:.1f} p99={p99:.1f} max={worst:.1f}", file=sys.stderr)
        r.stop()

    def test_a_portrait_phone_is_pillarboxed_and_the_camera_pauses_without_a_reader(self):
        daemon = self.start_daemon()
        self.start_receiver(daemon.client_env)
        reader = CameraReader(daemon, 1280, 720)
        self.addCleanup(reader.stop)
        reader.wait_for_pictures(5)
        sim = self.stream("720x1280", 4, "Portrait")
        # Pictures of the phone: not the placeholder any more.
        deadline = time.monotonic() + 20
        while True:
            _, last = reader.taken()
            if not is_placeholder(last, 1280, 720):
                break
            self.assertLess(time.monotonic(), deadline, "the phone's pictures never came")
            time.sleep(0.1)
        time.sleep(0.5)
        _, frame = reader.taken()
        self.finish_stream(sim)
        # 720x1280 fitted into 1280x720: 404 columns wide at x = 438, black either side.
        for x in (0, 200, 436, 844, 1000, 1279):
            for y in (0, 360, 719):
                self.assertEqual(luma(frame, 1280, x, y), BLACK[0], (x, y))
                self.assertEqual(chroma(frame, 1280, 720, x, y), (BLACK[1], BLACK[1]), (x, y))
        middle = [luma(frame, 1280, x, y) for x in range(440, 840, 8) for y in range(100, 700, 50)]
        self.assertGreater(max(middle) - min(middle), 100, "the phone's picture is not there")

        # Read, the camera runs; once nobody reads, it pauses.
        self.assertEqual(daemon.node_state(NODE), "running")
        reader.stop()
        deadline = time.monotonic() + 10
        while daemon.node_state(NODE) == "running":
            self.assertLess(time.monotonic(), deadline, "the camera still runs with no reader")
            time.sleep(0.1)

    def probe(self, daemon, *args):
        """Runs korvex-receiver --probe-camera Korvex ARGS, linked to the camera as a session
        manager would; returns its standard output."""
        probe = subprocess.Popen(COMMAND + ["--probe-camera", "Korvex", *args],
                                 env=daemon.client_env, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE)
        self.addCleanup(lambda: probe.poll() is None and probe.kill())
        daemon.wait_for_node(PROBE_NODE)
        daemon.link(NODE, PROBE_NODE)
        out, err = probe.communicate(timeout=60)
        self.assertEqual(probe.returncode, 0, err)
        self.assertIn(b"   type 0: NV12 1920x1080 @ 30 fps\n   type 1: NV12 1280x720 @ 30 fps\n"
                      b"   type 2: NV12 640x360 @ 30 fps\n-> reading ", out)
        daemon.wait_for_node(PROBE_NODE, present=False)
        return out

    def test_a_second_process_lists_the_camera_and_probes_the_phone_through_it(self):
        daemon = self.start_daemon()
        r = self.start_receiver(daemon.client_env)
        # At the probe's size, so that the sanitizer build's camera copies rather than scales,
        # and at 10 fps, which the sanitizer build encodes and decodes on a busy machine.
        sim = self.stream("1920x1080", 20, "Probed", fps=10)
        r.wait_for(lambda r: int((re.findall(rb"shm mapped (\d+) written", r.out) or [0])[-1]) > 0,
                   timeout=30)

        listed = subprocess.run(COMMAND + ["--list-cameras"], env=daemon.client_env,
                                capture_output=True, timeout=30)
        self.assertEqual(listed.returncode, 0, listed.stderr)
        self.assertIn(b'  "Korvex"  pipewire:korvex-camera\n', listed.stdout)

        # The rate without dumps: writing a PNG between two reads costs the rate a second.
        out = self.probe(daemon, "--frames", "30")
        report = re.search(rb"-> 30 frames in \S+ s = (\S+) fps, sample times span (\S+) s\n", out)
        self.assertIsNotNone(report, out)
        fps = float(report.group(1))
        print(f"probe of the camera: 30 frames at {fps:.1f} fps, sample times span "
              f"{report.group(2).decode()} s", file=sys.stderr)
        # A stall shows as nothing at all; the sanitizer build on a machine loaded far beyond
        # its cores (the simulator, the receiver, the probe and whatever else runs) makes 6-9.
        self.assertGreater(fps, 2, "the camera stalls")

        dumps = tempfile.TemporaryDirectory()
        self.addCleanup(dumps.cleanup)
        self.probe(daemon, "--frames", "2", "--dump-frames", dumps.name)
        for number in (1, 2):
            width, height, rows = read_grey_png(os.path.join(dumps.name, f"frame-{number}.png"))
            self.assertEqual((width, height), (1920, 1080))
            self.assertIsNotNone(read_stamp(b"".join(rows), width, height),
                                 f"frame-{number}.png shows no picture of the phone")
        self.finish_stream(sim)
        self.assertEqual(r.stop(), 0)

    def test_without_a_server_the_receiver_runs_on_without_a_camera(self):
        with tempfile.TemporaryDirectory() as empty:
            env = dict(os.environ, XDG_RUNTIME_DIR=empty, PIPEWIRE_RUNTIME_DIR=empty)
            env.pop("PIPEWIRE_REMOTE", None)
            r = self.start_receiver(env, registered=False)
            r.wait_for(lambda r: len(status_lines(r)) >= 2, timeout=10)
        self.assertIn(b"virtual camera: PipeWire: ", r.err)
        self.assertNotIn(b"registered", r.out)
        self.assertTrue(all(line.startswith(b"cam unavailable | ") for line in status_lines(r)))
        self.assertEqual(r.stop(), 0)

    def test_a_server_that_goes_away_is_reported_and_the_receiver_runs_on(self):
        daemon = self.start_daemon()
        r = self.start_receiver(daemon.client_env)
        daemon.stop()
        r.wait_for(lambda r: b"virtual camera: PipeWire: " in r.err, timeout=10)
        lines = len(status_lines(r))
        r.wait_for(lambda r: len(status_lines(r)) >= lines + 2, timeout=10)
        self.assertEqual(r.stop(), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
