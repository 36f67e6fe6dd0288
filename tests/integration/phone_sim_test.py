"""The phone simulator against a fake receiver on the loopback interface."""

import json
import math
import signal
import socket
import struct
import subprocess
import unittest

from receiver import launcher_from_argv

COMMAND = launcher_from_argv()

HELLO, VIDEO, CONTROL, AUDIO, PING, BYE = 1, 2, 3, 4, 5, 6


def frame(kind, flags, payload=b""):
    return b"KVX1" + struct.pack("<BBHI", kind, flags, 0, len(payload)) + payload


def summary(out):
    """The key=value pairs of the last line on standard output."""
    last = out.strip().split("\n")[-1]
    return {key: int(value) for key, value in (pair.split("=") for pair in last.split())}


class FakeReceiver:
    """Listens on a loopback address with a port of the system's choosing and
    takes the simulator's stream apart message by message."""

    def __init__(self, test, family=socket.AF_INET, host="127.0.0.1"):
        self.listener = socket.socket(family, socket.SOCK_STREAM)
        test.addCleanup(self.listener.close)
        self.listener.bind((host, 0))
        self.listener.listen(1)
        self.listener.settimeout(20)
        self.port = self.listener.getsockname()[1]
        self.conn = None
        self.buffer = b""
        self.test = test

    def start(self, args):
        proc = subprocess.Popen(COMMAND + ["--port", str(self.port)] + args,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.test.addCleanup(lambda: proc.poll() is None and proc.kill())
        self.conn, _ = self.listener.accept()
        self.test.addCleanup(self.conn.close)
        self.conn.settimeout(20)
        return proc

    def next(self):
        """(kind, flags, payload), or None at the end of the stream."""
        while True:
            if len(self.buffer) >= 12:
                self.test.assertEqual(self.buffer[:4], b"KVX1")
                kind, flags, reserved, length = struct.unpack("<BBHI", self.buffer[4:12])
                self.test.assertEqual(reserved, 0)
                if len(self.buffer) >= 12 + length:
                    payload = self.buffer[12:12 + length]
                    self.buffer = self.buffer[12 + length:]
                    return kind, flags, payload
            chunk = self.conn.recv(65536)
            if not chunk:
                self.test.assertEqual(self.buffer, b"", "stream ended inside a message")
                return None
            self.buffer += chunk

    def send(self, kind, flags, payload=b""):
        self.conn.sendall(frame(kind, flags, payload))

    def rest(self):
        """Every message up to the end of the stream."""
        messages = []
        while (m := self.next()) is not None:
            messages.append(m)
        return messages


def finish(test, proc):
    out, err = proc.communicate(timeout=30)
    return proc.returncode, out.decode(), err.decode()


class PhoneSimulator(unittest.TestCase):
    def test_hello_ping_reply_keyframe_request_and_summary(self):
        r = FakeReceiver(self)
        proc = r.start(["--duration", "3", "--size", "320x240", "--fps", "30", "--gop", "1000",
                        "--name", "Zo\u00eb's phone", "--tone-hz", "1000", "--tone-level", "0.5"])
        kind, flags, payload = r.next()
        self.assertEqual((kind, flags), (HELLO, 0))
        self.assertEqual(json.loads(payload), {
            "name": "Zo\u00eb's phone", "app": "korvex-phone-sim", "width": 320, "height": 240,
            "fps": 30, "codec": "h264",
            "audio": {"rate": 48000, "channels": 1, "format": "s16le"}})

        value = bytes([1, 2, 3, 4, 5, 6, 7, 0xFF])
        videos, audio, replies = [], [], []
        state, frames_since_request = "streaming", 0
        while (m := r.next()) is not None:
            kind, flags, payload = m
            if kind == VIDEO:
                videos.append((flags, payload))
                if len(videos) == 10:
                    # Answers to its own pings, unknown commands and bad JSON
                    # are ignored; the plain ping is answered.
                    r.send(PING, 0x01, bytes(8))
                    r.send(CONTROL, 0, b'{"cmd":"mute"}')
                    r.send(CONTROL, 0, b'{"cmd":')
                    r.send(PING, 0, value)
                if state == "asked":
                    frames_since_request += 1
                    if flags & 0x01:
                        state = "got keyframe"
                if len(videos) == 30:
                    r.send(CONTROL, 0, b'{"cmd":"keyframe"}')
                    state = "asked"
            elif kind == AUDIO:
                audio.append((flags, payload))
            elif kind == PING:
                replies.append((flags, payload))
            else:
                self.assertEqual(kind, BYE)
                self.assertIsNone(r.next())
                break
        status, out, err = finish(self, proc)
        self.assertEqual((status, err), (0, ""))

        self.assertEqual(replies, [(0x01, value)])
        self.assertEqual(state, "got keyframe")
        self.assertLessEqual(frames_since_request, 4)
        self.assertEqual(len(videos), 90)
        keyframes = [i for i, (flags, _) in enumerate(videos) if flags & 0x01]
        self.assertEqual(len(keyframes), 2)
        self.assertEqual(keyframes[0], 0)
        pts = [struct.unpack("<Q", payload[:8])[0] for _, payload in videos]
        self.assertEqual(pts, [i * 1_000_000 // 30 for i in range(90)])
        counts = summary(out)
        self.assertIn("late", counts)  # depends on the machine's load
        del counts["late"]
        self.assertEqual(counts, {"frames": 90, "keyframes": 2, "audio": 300,
                                  "pings_answered": 1, "keyframe_requests": 1})

        # 300 blocks of 480 samples, 10 ms apart: a 1 kHz tone at half scale.
        self.assertEqual(len(audio), 300)
        samples = []
        for k, (flags, payload) in enumerate(audio):
            self.assertEqual(flags, 0)
            self.assertEqual(len(payload), 8 + 960)
            self.assertEqual(struct.unpack("<Q", payload[:8])[0], k * 10_000)
            samples += struct.unpack("<480h", payload[8:])
        self.assertLessEqual(abs(max(samples) - 16384), 2)
        self.assertLessEqual(abs(min(samples) + 16384), 2)
        rising = sum(1 for a, b in zip(samples, samples[1:]) if a < 0 <= b)
        self.assertAlmostEqual(rising / 3.0, 1000, delta=2)
        expected = [round(16383.5 * math.sin(2 * math.pi * 1000 * n / 48000)) for n in range(48)]
        for got, want in zip(samples, expected):
            self.assertLessEqual(abs(got - want), 1)

    def test_silent_audio_and_no_audio(self):
        r = FakeReceiver(self)
        proc = r.start(["--duration", "0.5", "--size", "160x120", "--audio", "silent"])
        messages = r.rest()
        self.assertEqual(json.loads(messages[0][2])["audio"]["rate"], 48000)
        audio = [(flags, payload) for kind, flags, payload in messages if kind == AUDIO]
        self.assertEqual(len(audio), 50)
        for flags, payload in audio:
            self.assertEqual(flags, 0x02)
            self.assertEqual(payload[8:], bytes(960))
        self.assertEqual(finish(self, proc)[0], 0)

        r = FakeReceiver(self)
        proc = r.start(["--duration", "0.5", "--size", "160x120", "--audio", "none"])
        messages = r.rest()
        self.assertNotIn("audio", json.loads(messages[0][2]))
        self.assertEqual([kind for kind, _, _ in messages if kind == AUDIO], [])
        self.assertEqual(messages[-1][0], BYE)
        status, out, _ = finish(self, proc)
        self.assertEqual(status, 0)
        self.assertEqual(summary(out)["audio"], 0)
        self.assertEqual(summary(out)["frames"], 15)

    def test_interrupt_ends_with_bye_and_summary(self):
        r = FakeReceiver(self)
        proc = r.start(["--size", "160x120"])
        videos = 0
        while videos < 5:
            videos += r.next()[0] == VIDEO
        proc.send_signal(signal.SIGINT)
        messages = r.rest()
        self.assertEqual(messages[-1][0], BYE)
        videos += sum(1 for kind, _, _ in messages if kind == VIDEO)
        status, out, _ = finish(self, proc)
        self.assertEqual(status, 0)
        self.assertEqual(summary(out)["frames"], videos)

    def test_receiver_that_closes_ends_the_run_with_status_one(self):
        r = FakeReceiver(self)
        proc = r.start(["--size", "160x120"])
        r.next()
        r.conn.close()
        status, out, err = finish(self, proc)
        self.assertEqual(status, 1)
        self.assertIn("frames=", out)
        self.assertTrue(err.startswith(("connection closed by the receiver", "send: ",
                                        "receive: ")), err)

    def test_ipv6_loopback(self):
        r = FakeReceiver(self, socket.AF_INET6, "::1")  # a machine without ::1 fails here
        proc = r.start(["--host", "::1", "--duration", "0.2", "--size", "160x120"])
        self.assertEqual(r.next()[0], HELLO)
        r.rest()
        self.assertEqual(finish(self, proc)[0], 0)

    def test_cannot_connect_and_bad_command_line(self):
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        result = subprocess.run(COMMAND + ["--port", str(port)], capture_output=True, timeout=30)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.decode(),
                         f"cannot connect to 127.0.0.1:{port}: Connection refused (os error 111)\n")
        self.assertEqual(result.stdout, b"")

        for args, message in ((["--size", "641x480"], "--size: invalid value 641x480"),
                              (["--audio", "loud"], "--audio: invalid value loud"),
                              (["--tone-level", "1.5"], "--tone-level: invalid value 1.5"),
                              (["--port"], "--port needs a value"),
                              (["--flat-out", "--duration", "1"], "--flat-out needs --pre-encode"),
                              (["--pace", "100", "--duration", "1"], "--pace needs --flat-out"),
                              (["--frobnicate", "1"], "unknown argument: --frobnicate")):
            with self.subTest(args=args):
                result = subprocess.run(COMMAND + args, capture_output=True, timeout=30)
                self.assertEqual(result.returncode, 2)
                self.assertTrue(result.stderr.decode().startswith(message), result.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
