"""The phone link end to end: the real receiver on TCP 45334 and raw phones over loopback."""

import os
import re
import socket
import struct
import subprocess
import threading
import time
import unittest

from phone_client import (AUDIO, CONTROL, KEYFRAME_REQUEST, PING, Phone, audio, bye, hello,
                          holder_line, message, occupy_port, ping, video)
from receiver import Receiver, forget_frame_section, launcher_from_argv, under_wine

COMMAND = launcher_from_argv()
ARGS = ["--no-audio", "--no-vcam", "--no-mdns"]
LISTENING = b"-> listening on TCP 45334\n"


def status_lines(r):
    return [line for line in r.out.decode(errors="replace").split("\n")[:-1]
            if line.startswith("cam ")]


def drain(r):
    """Takes in everything the receiver has printed so far."""
    while True:
        before = len(r.out) + len(r.err)
        r._pump(0.05)
        if len(r.out) + len(r.err) == before:
            return


def field(line, pattern):
    match = re.search(pattern, line)
    assert match, (pattern, line)
    return match.group(1)


class LinkTest(unittest.TestCase):
    def setUp(self):
        forget_frame_section()

    def start(self):
        r = Receiver(COMMAND, ARGS)
        self.addCleanup(r.kill)
        r.wait_for(lambda r: LISTENING in r.out, timeout=30)
        return r

    def phone(self, **kwargs):
        p = Phone(**kwargs)
        self.addCleanup(p.close)
        return p

    def next_status(self, r, predicate=lambda line: True, timeout=10.0):
        """The first status line printed from now on for which predicate holds."""
        drain(r)
        seen = len(status_lines(r))

        def found(r):
            return any(predicate(line) for line in status_lines(r)[seen:])

        r.wait_for(found, timeout)
        return next(line for line in status_lines(r)[seen:] if predicate(line))


class Hello(LinkTest):
    def test_hello_sets_name_and_size_and_invalid_hellos_change_nothing(self):
        r = self.start()
        p = self.phone()
        r.wait_for(lambda r: b"phone connected from" in r.err)
        self.assertRegex(r.err.decode(), r"^phone connected from \[::ffff:127\.0\.0\.1\]:\d+\n$")
        self.assertIn("| iPhone | ", self.next_status(r))

        name = "Zo\u00eb \u5c0f\u660e"
        p.send(hello({"name": name, "width": 1280, "height": 720, "fps": 30,
                      "audio": {"rate": 44100, "channels": 2, "format": "s16le"}}))
        line = self.next_status(r, lambda line: name in line)
        self.assertIn(f"| {name} | ", line)
        self.assertIn(" 1280x720 ", line)
        warning = f"{name} announces audio 44100 Hz x 2 ch; expecting 48000 Hz x 1\n"
        self.assertEqual(r.err.decode().count(warning), 1)

        for invalid in ('{"name":"Bad","width":1280.0}', '{"name":"Bad","width":-1}',
                        '{"name":"Bad","name":"Bad"}', '["Bad","",1,2,3,"",{},8]',
                        '{"name":"Bad","audio":null}', '{"name":"Bad","audio":{"channels":70000}}',
                        '{"name":"Bad"} x', ''):
            p.send(hello(invalid))
        p.send(audio([16384] * 480))
        line = self.next_status(r, lambda line: line.endswith(" 0.50"))
        self.assertIn(f"| {name} | ", line)
        self.assertIn(" 1280x720 ", line)

        # An empty name shows as "iPhone"; 48 kHz mono draws no warning.
        p.send(hello({"name": "", "width": 640, "height": 480,
                      "audio": {"rate": 48000, "channels": 1}}))
        line = self.next_status(r, lambda line: "| iPhone | " in line)
        self.assertIn(" 640x480 ", line)
        self.assertEqual(r.err.decode().count("announces audio"), 1)
        self.assertNotIn("Bad", r.err.decode() + r.out.decode())

        p.close()
        r.wait_for(lambda r: r.err.endswith(b"phone disconnected\n"))
        self.assertIn("| waiting for iPhone | ", self.next_status(r))


class KeyframeGate(LinkTest):
    def test_frames_wait_for_a_keyframe_and_requests_come_once_a_second(self):
        r = self.start()
        p = self.phone()
        p.send(hello({"name": "Gate", "width": 1280, "height": 720}))
        held_back = 0
        started = time.monotonic()
        while time.monotonic() - started < 2.5:
            p.send(video(held_back))
            held_back += 1
            time.sleep(0.02)
        time.sleep(0.3)
        requests = p.messages(CONTROL)
        # One at the first held-back frame, then one a second.
        self.assertIn(len(requests), (3, 4), requests)
        for _, raw in requests:
            self.assertEqual(raw, KEYFRAME_REQUEST)
        gaps = [b[0] - a[0] for a, b in zip(requests, requests[1:])]
        self.assertTrue(all(0.9 <= gap <= 1.3 for gap in gaps), gaps)
        self.assertLess(requests[0][0] - started, 0.5)
        self.assertIn(f" drop {held_back} ", self.next_status(r))

        # A keyframe opens the gate for the frames behind it.
        p.send(video(1000, keyframe=True), video(1001), video(1002))
        time.sleep(1.2)
        self.assertIn(f" drop {held_back} ", self.next_status(r))

        # A new hello closes it again.
        p.send(hello({"name": "Gate", "width": 1280, "height": 720}), video(1003))
        self.assertIn(f" drop {held_back + 1} ", self.next_status(
            r, lambda line: f" drop {held_back} " not in line))


class Pings(LinkTest):
    def test_phone_pings_are_echoed_and_receiver_pings_measure_rtt(self):
        r = self.start()
        p = self.phone(answer_pings=True, reply_delay=0.15)
        r.wait_for(lambda r: b"phone connected from" in r.err)

        p.send(ping(0x0123456789ABCDEF), ping(7, extra=b"ignored!"))
        p.wait_for(lambda p: len(p.messages(PING)) >= 2)
        self.assertEqual([raw for _, raw in p.messages(PING)], [
            message(PING, 1, struct.pack("<Q", 0x0123456789ABCDEF)),
            message(PING, 1, struct.pack("<Q", 7))])

        # The receiver's own pings: the first 2 s after accept, then every 2 s.
        p.wait_for(lambda p: len(p.messages(PING)) >= 4, timeout=8)
        own = [at for at, raw in p.messages(PING)[2:] if raw[5] == 0]
        self.assertGreater(own[0] - p.connected_at, 1.7)
        self.assertLess(own[0] - p.connected_at, 2.6)
        self.assertAlmostEqual(own[1] - own[0], 2.0, delta=0.3)
        rtt = float(field(self.next_status(r, lambda line: " rtt 0.0 ms" not in line),
                          r" rtt ([0-9.]+) ms"))
        self.assertGreaterEqual(rtt, 150.0)
        self.assertLess(rtt, 400.0)

        # Replies carrying a value from the future are not ours: ignored.
        p.answer_pings = False
        time.sleep(0.5)
        rtt = float(field(self.next_status(r), r" rtt ([0-9.]+) ms"))
        p.send(ping(2 ** 63, reply=True), ping(2 ** 64 - 1, reply=True))
        time.sleep(1.2)
        self.assertEqual(float(field(self.next_status(r), r" rtt ([0-9.]+) ms")), rtt)


class Takeover(LinkTest):
    def test_newer_phone_takes_over_quietly_and_keeps_the_totals(self):
        r = self.start()
        first = self.phone(answer_pings=True)
        first.send(hello({"name": "First"}), video(1), video(2))
        self.next_status(r, lambda line: " rtt 0.0 ms" not in line and "| First |" in line)

        second = self.phone()
        second.send(hello({"name": "Second"}), video(3))
        self.assertTrue(first.closed_by_receiver.wait(5))
        line = self.next_status(r, lambda line: "| Second |" in line)
        self.assertIn(" drop 3 ", line)
        self.assertIn(" rtt 0.0 ms", line)

        # The first connection's ping thread, due 4 s after its accept, must
        # not reach the second phone: it gets its own pings only, 2 s apart.
        time.sleep(max(0.0, second.connected_at + 4.6 - time.monotonic()))
        own = [at - second.connected_at for at, raw in second.messages(PING) if raw[5] == 0]
        self.assertEqual(len(own), 2, own)
        self.assertGreater(own[0], 1.7)
        self.assertEqual(r.err.decode().count("phone connected from"), 2)
        self.assertNotIn("phone disconnected", r.err.decode())
        self.assertIn("| Second |", self.next_status(r))

        second.close()
        r.wait_for(lambda r: b"phone disconnected\n" in r.err)
        time.sleep(0.5)
        self.assertEqual(r.err.decode().count("phone disconnected"), 1)


class Stream(LinkTest):
    def test_bye_ends_the_connection_before_what_follows_it(self):
        r = self.start()
        p = self.phone()
        # One send, so that the receiver gets all of it in one receive.
        p.send(hello({"name": "Before", "audio": {"rate": 44100}}), bye(),
               hello({"name": "After", "audio": {"rate": 44100}}))
        self.assertTrue(p.closed_by_receiver.wait(5))
        r.wait_for(lambda r: b"phone disconnected\n" in r.err)
        err = r.err.decode()
        self.assertIn("Before announces audio 44100 Hz x 0 ch; expecting 48000 Hz x 1\n", err)
        self.assertNotIn("After", err)

    def test_phone_vanishing_while_answered_does_not_end_the_receiver(self):
        r = self.start()
        for _ in range(3):
            p = self.phone()
            # Many pings to answer, then a reset: replies run into a dead socket.
            p.send(*[ping(i) for i in range(20000)])
            p.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            p.close()
            r.wait_for(lambda r: r.err.count(b"phone disconnected\n") >= 1)
            r.err = b""
        self.assertIn("| waiting for iPhone | ", self.next_status(r))
        self.assertIsNone(r.proc.poll())

    def test_garbage_and_oversize_lengths_are_survived_and_silence_ends_it(self):
        r = self.start()
        p = self.phone()
        # Apart, so that each arrives in a receive of its own: an oversize
        # length throws away everything received with it.
        p.send(b"garbage\x00KVX" * 100)
        time.sleep(0.3)
        p.send(b"KVX1\x02\x00\x00\x00" + struct.pack("<I", 4 * 1024 * 1024 + 1) + b"\x01" * 100)
        time.sleep(0.3)
        p.send(b"noise", hello({"name": "Survivor"}), b"KVX1\x07\x00\x00\x00\x00\x00\x00\x00")
        self.next_status(r, lambda line: "| Survivor |" in line)
        last_sent = time.monotonic()

        # Silence: the receiver's pings go unanswered, and after 10 s it gives up.
        r.wait_for(lambda r: b"phone disconnected\n" in r.err, timeout=20)
        silent_for = time.monotonic() - last_sent
        self.assertGreater(silent_for, 9.5)
        self.assertLess(silent_for, 12.5)
        self.assertTrue(p.closed_by_receiver.wait(5))
        self.assertGreaterEqual(len(p.messages(PING)), 4)  # pinged all along

    def test_replies_and_pings_written_at_once_arrive_whole(self):
        r = self.start()
        p = self.phone()
        stop = threading.Event()
        sent = []

        def flood():
            value = 0
            while not stop.is_set():
                batch = [ping(value + i, extra=b"x" * 100) for i in range(50)]
                sent.extend(range(value, value + 50))
                value += 50
                p.send(*batch)
                time.sleep(0.005)

        flooder = threading.Thread(target=flood)
        flooder.start()
        time.sleep(4.5)
        stop.set()
        flooder.join()
        # Counted by replies: the receiver's own pings go on meanwhile, and
        # counted together they could make up for the last replies in flight.
        p.wait_for(lambda p: sum(raw[5] == 1 for _, raw in p.messages(PING)) >= len(sent),
                   timeout=20)
        self.assertIsNone(p.framing_error)
        kinds = [raw[5] for _, raw in p.messages(PING)]
        replies = [struct.unpack("<Q", raw[12:])[0] for _, raw in p.messages(PING)
                   if raw[5] == 1]
        self.assertEqual(replies, sent)
        for _, raw in p.messages(PING):
            self.assertEqual(len(raw), 20)
        # The receiver's own pings went out while replies were streaming.
        first_own = kinds.index(0)
        self.assertIn(1, kinds[:first_own])
        self.assertIn(1, kinds[first_own + 1:])


class Streaming(LinkTest):
    @classmethod
    def setUpClass(cls):
        if not os.path.isfile(os.environ.get("KORVEX_PHONE_SIM", "")):
            raise AssertionError("needs the native phone simulator (KORVEX_PHONE_SIM)")

    def test_simulated_phone_streams_end_to_end(self):
        r = self.start()
        name = "Sim \u00e9t\u00e9"
        sim = subprocess.run(
            [os.environ["KORVEX_PHONE_SIM"], "--size", "640x360", "--fps", "30", "--gop", "30",
             "--duration", "5", "--name", name, "--audio", "tone", "--tone-level", "0.5"],
            capture_output=True, timeout=60)
        self.assertEqual(sim.returncode, 0, sim.stderr)
        summary = dict(item.split("=") for item in sim.stdout.decode().split("\n")[-2].split())
        self.assertEqual(summary["frames"], "150")
        self.assertEqual(summary["keyframe_requests"], "0")
        self.assertGreaterEqual(int(summary["pings_answered"]), 2)

        r.wait_for(lambda r: b"phone disconnected\n" in r.err)
        drain(r)
        streaming = [line for line in status_lines(r) if f"| {name} |" in line]
        self.assertGreaterEqual(len(streaming), 3)
        rates = [float(field(line, r"\| ([0-9.]+) fps rx")) for line in streaming]
        self.assertTrue(any(25 <= rate <= 35 for rate in rates), rates)
        for line in streaming:
            self.assertIn(" 640x360 ", line)
        self.assertTrue(any(float(field(line, r" kbps .* rtt ([0-9.]+) ms")) > 0
                            for line in streaming), streaming)
        self.assertTrue(streaming[-1].endswith(" [######......] 0.50"), streaming[-1])
        self.assertEqual(r.err.decode().count("phone connected from"), 1)
        self.assertEqual(r.err.decode().count("phone disconnected"), 1)
        after = self.next_status(r)
        self.assertIn("| waiting for iPhone | ", after)
        # The frames went on through the decoder into the frame section.
        self.assertGreaterEqual(int(field(after, r"shm mapped (\d+) written")), 100)


class Startup(LinkTest):
    def test_port_in_use_ends_the_program_with_status_one(self):
        holder = occupy_port()
        self.addCleanup(holder.close)
        r = Receiver(COMMAND, ARGS)
        self.addCleanup(r.kill)
        self.assertEqual(r.wait_exit(30), 1)
        self.assertTrue(r.out.decode().startswith("Korvex receiver: "), r.out)
        self.assertNotIn(LISTENING, r.out)
        self.assertRegex(r.err.decode(), r"could not listen on TCP 45334: .+ \(os error "
                         + ("10048" if under_wine(COMMAND) else "98") + r"\)\n"
                         + re.escape(holder_line(under_wine(COMMAND))) + "$")


if __name__ == "__main__":
    unittest.main(verbosity=2)
