"""A raw phone for integration tests: speaks the stream format over loopback TCP."""

import json
import os
import socket
import struct
import sys
import threading
import time

PORT = 45334
HEADER = struct.Struct("<4sBBHI")
MAGIC = b"KVX1"
HELLO, VIDEO, CONTROL, AUDIO, PING, BYE = 1, 2, 3, 4, 5, 6
KEYFRAME_REQUEST = (MAGIC + bytes([CONTROL, 0, 0, 0]) + struct.pack("<I", 18)
                    + b'{"cmd":"keyframe"}')


def message(kind, flags=0, payload=b""):
    return HEADER.pack(MAGIC, kind, flags, 0, len(payload)) + payload


def hello(document):
    if not isinstance(document, (bytes, str)):
        document = json.dumps(document, ensure_ascii=False)
    if isinstance(document, str):
        document = document.encode()
    return message(HELLO, 0, document)


def video(pts, data=b"\x00\x00\x00\x01\x65", keyframe=False):
    return message(VIDEO, 1 if keyframe else 0, struct.pack("<Q", pts) + data)


def audio(samples, silent=False):
    return message(AUDIO, 2 if silent else 0,
                   struct.pack("<Q", 0) + struct.pack(f"<{len(samples)}h", *samples))


def ping(value, reply=False, extra=b""):
    return message(PING, 1 if reply else 0, struct.pack("<Q", value) + extra)


def bye():
    return message(BYE)


class Phone:
    """One connection to the receiver. A background thread collects what the
    receiver sends, as (arrival time, raw message bytes), checking that the
    stream stays exactly framed; with answer_pings it echoes the receiver's
    pings after `reply_delay` seconds, as the phone's app does."""

    def __init__(self, answer_pings=False, reply_delay=0.0, host="127.0.0.1"):
        self.sock = socket.create_connection((host, PORT), timeout=30)
        self.connected_at = time.monotonic()
        self.answer_pings = answer_pings
        self.reply_delay = reply_delay
        self.received = []
        self.framing_error = None
        self.closed_by_receiver = threading.Event()
        self._send_lock = threading.Lock()
        self._thread = threading.Thread(target=self._read, daemon=True)
        self._thread.start()

    def send(self, *messages):
        with self._send_lock:
            self.sock.sendall(b"".join(messages))

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass

    def messages(self, kind=None):
        return [(at, raw) for at, raw in list(self.received) if kind is None or raw[4] == kind]

    def wait_for(self, predicate, timeout=10.0):
        deadline = time.monotonic() + timeout
        while not predicate(self):
            if time.monotonic() > deadline:
                raise AssertionError(f"phone timed out; received {self.received!r}")
            time.sleep(0.02)

    def _read(self):
        buffer = b""
        while True:
            try:
                chunk = self.sock.recv(65536)
            except OSError:
                chunk = b""
            if not chunk:
                self.closed_by_receiver.set()
                return
            buffer += chunk
            while len(buffer) >= HEADER.size:
                magic, kind, flags, _, length = HEADER.unpack_from(buffer)
                if magic != MAGIC:
                    self.framing_error = buffer[:64]
                    self.closed_by_receiver.set()
                    return
                if len(buffer) < HEADER.size + length:
                    break
                raw, buffer = buffer[:HEADER.size + length], buffer[HEADER.size + length:]
                self.received.append((time.monotonic(), raw))
                if self.answer_pings and kind == PING and not flags & 1:
                    threading.Timer(self.reply_delay, self._reply, args=(raw,)).start()

    def _reply(self, raw):
        try:
            self.send(raw[:5] + b"\x01" + raw[6:])
        except OSError:
            pass


def occupy_port():
    """A listening socket holding the receiver's port, as another program would."""
    holder = socket.socket(socket.AF_INET6, socket.SOCK_STREAM)
    # Past connections of earlier receivers may linger in TIME_WAIT; a
    # listening socket blocks the port all the same.
    holder.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    holder.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 0)
    holder.bind(("::", PORT))
    holder.listen(1)
    return holder


def holder_line(wine):
    """The line after "could not listen on TCP 45334: ..." that names occupy_port's
    socket: this test's own process, which Wine cannot name."""
    if wine:
        return "   another program holds TCP 45334; the system does not say which\n"
    name = os.path.basename(sys.executable)[:15]  # as the kernel keeps it
    return (f"   TCP 45334 is held by {name} (pid {os.getpid()}): end that program, then start "
            "the receiver again\n")
