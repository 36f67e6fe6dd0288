"""Reading the receiver's PipeWire camera as an application would: gst-launch-1.0's
pipewiresrc linked to the camera node, each picture timed as it arrives and the phone
simulator's stamp read back from it. Shared by the camera's test and its figures script."""

import statistics
import subprocess
import tempfile
import threading
import time

from frame_stamp import read_stamp

NODE = "korvex-camera"
READER = "korvex-test-reader"

# The placeholder's background (src/picture/placeholder.hpp): luma 52 on the top row,
# chroma Cb 136, Cr 122.
PLACEHOLDER_TOP = (52, 136, 122)
BLACK = (16, 128)


class CameraReader:
    """gst-launch-1.0 reading the camera node at one size into a pipe; each picture is
    timed as it arrives and its stamp read. Keeps the last picture whole. Without a session
    manager (`link`) the reader links itself to the camera, as one would."""

    def __init__(self, daemon, width, height, link=True):
        self.width, self.height = width, height
        self.size = width * height * 3 // 2
        self.pictures = []  # (arrival wall-clock us, stamp or None)
        self.last = None
        self.lock = threading.Lock()
        self.log = tempfile.TemporaryFile()
        self.proc = subprocess.Popen(
            ["gst-launch-1.0", "-q", "pipewiresrc", f"target-object={NODE}",
             f"client-name={READER}", f"stream-properties=props,node.name={READER}", "!",
             f"video/x-raw,format=NV12,width={width},height={height}", "!",
             "fdsink", "fd=1", "sync=false"],
            env=daemon.client_env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=self.log)
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()
        if link:
            daemon.link(NODE, READER)

    def _read(self):
        # Into one buffer, without copying: the reader must keep up with the camera on a
        # busy machine, or the camera finds no free buffer and skips pictures.
        frame = bytearray(self.size)
        view = memoryview(frame)
        while True:
            got = 0
            while got < self.size:
                n = self.proc.stdout.readinto(view[got:])
                if not n:
                    return
                got += n
            arrived = time.time_ns() // 1000
            stamp = read_stamp(frame, self.width, self.height)
            with self.lock:
                self.pictures.append((arrived, stamp))
                self.last = bytes(frame)

    def count(self):
        with self.lock:
            return len(self.pictures)

    def wait_for_pictures(self, count, timeout=20.0):
        deadline = time.monotonic() + timeout
        while self.count() < count:
            if time.monotonic() > deadline or self.proc.poll() is not None:
                self.log.seek(0)
                raise AssertionError(f"the reader got {self.count()} pictures: "
                                     f"{self.log.read().decode(errors='replace')}")
            time.sleep(0.05)

    def taken(self):
        """[(arrival wall-clock us, stamp or None)] of every picture so far, and the last
        picture whole."""
        with self.lock:
            return list(self.pictures), self.last

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.thread.join(timeout=10)
        self.proc.stdout.close()
        self.log.close()


def luma(frame, width, x, y):
    return frame[y * width + x]


def chroma(frame, width, height, x, y):
    at = width * height + (y // 2) * width + (x & ~1)
    return frame[at], frame[at + 1]


def is_placeholder(frame, width, height):
    return all(luma(frame, width, x, 0) == PLACEHOLDER_TOP[0] for x in (0, width // 2, width - 1)) \
        and chroma(frame, width, height, 0, 0) == PLACEHOLDER_TOP[1:]




def latency_figures(pictures):
    """(frames shown, p50, p99, max) of the delay in ms from the phone's send time to each
    frame's first picture on the camera."""
    first_seen = {}
    for arrived, stamp in pictures:
        if stamp is not None:
            first_seen.setdefault(stamp[0], arrived - stamp[1])
    latencies = sorted(us / 1000 for us in first_seen.values())
    if not latencies:
        return 0, None, None, None
    p99 = latencies[min(len(latencies) - 1, len(latencies) * 99 // 100)]
    return len(latencies), statistics.median(latencies), p99, latencies[-1]
