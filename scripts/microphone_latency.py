#!/usr/bin/env python3
"""Prints the phone-to-recorder audio latency through the receiver's PipeWire microphone, against
the sink path measured in the same run. A phone (this script) sends 10 ms messages at their real
pace: silence, with a 20 ms 1 kHz burst every half second. A recorder reads the microphone
(GStreamer's pipewiresrc, linked with pw-link) or the cable sink's monitor (parec, 20 ms), and is
read as it delivers; a burst's latency runs from sending its first message to the recorder
delivering its first loud sample. Both paths use the default prefill (40 ms). Prints p50 and p90
over BURSTS bursts per path (default 40) and the machine's load. Run it in namespaces of its own
so that port 45334 and the frame section are its alone:
  unshare --net --mount sh -c 'ip link set lo up; mount -t tmpfs tmpfs /dev/shm;
    scripts/microphone_latency.py RECEIVER [BURSTS]'"""

import os
import re
import socket
import statistics
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "integration"))
from audio_phone import tone_block  # noqa: E402
from phone_client import Phone, audio, bye, hello  # noqa: E402
from pipewire_daemon import PipeWireDaemon  # noqa: E402
from pulse_server import speakers_and_cable  # noqa: E402
from receiver import Receiver  # noqa: E402

RATE = 48000
EVERY = 50  # messages from one burst to the next: half a second
LOUD = 2000  # the burst is at half scale
SILENCE = [0] * 480
DISCARDED = re.compile(r"audio: .* discarded .*; (\d+) samples so far")


class LiveRecorder:
    """A recorder whose standard output is raw 16-bit mono; remembers when each loud sample
    after at least 100 ms of quiet arrived."""

    def __init__(self, command, env):
        self.proc = subprocess.Popen(command, env=env, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL)
        self.onsets = []
        self.bytes = 0
        self._thread = threading.Thread(target=self._read, daemon=True)
        self._thread.start()

    def _read(self):
        quiet, odd = RATE, b""
        while True:
            chunk = os.read(self.proc.stdout.fileno(), 65536)
            arrived = time.monotonic()
            if not chunk:
                return
            self.bytes += len(chunk)
            data = odd + chunk
            odd = data[len(data) // 2 * 2:]
            for sample in memoryview(data[:len(data) // 2 * 2]).cast("h"):
                if abs(sample) > LOUD:
                    if quiet >= RATE // 10:
                        self.onsets.append(arrived)
                    quiet = 0
                else:
                    quiet += 1

    def wait_for_audio(self):
        deadline = time.monotonic() + 20
        while self.bytes == 0:
            if time.monotonic() > deadline:
                raise SystemExit("the recorder records nothing")
            time.sleep(0.02)

    def stop(self):
        self.proc.terminate()
        self.proc.wait()


def send_bursts(count):
    """Returns when each burst's first message went out."""
    phone = Phone()
    sent = []
    try:
        phone.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        phone.send(hello({"name": "latency", "audio": {"rate": RATE, "channels": 1,
                                                        "format": "s16le"}}))
        start = time.monotonic()
        # A second of silence first: playback has started and settled.
        for index in range(100 + count * EVERY):
            delay = start + index / 100 - time.monotonic()
            if delay > 0:
                time.sleep(delay)
            burst = index >= 100 and (index - 100) % EVERY < 2
            if index >= 100 and (index - 100) % EVERY == 0:
                sent.append(time.monotonic())
            phone.send(audio(tone_block(index) if burst else SILENCE))
        time.sleep(0.5)
        phone.send(bye())
    finally:
        phone.close()
    return sent


def latencies(sent, onsets):
    found = []
    for at in sent:
        later = [o - at for o in onsets if 0 <= o - at < EVERY / 100 * 0.8]
        if later:
            found.append(later[0] * 1000)
    return found


def measure(name, receiver, args, env, recorder_command, recorder_env, link, count):
    recorder = None
    if link is None:  # the sink's recorder first, as for a cable: see the README's traps
        recorder = LiveRecorder(recorder_command, recorder_env)
        recorder.wait_for_audio()
    r = Receiver([receiver], ["--no-vcam", "--no-mdns"] + args, env=env)
    try:
        r.wait_for(lambda r: b"-> listening on TCP 45334\n" in r.out, 30)
        if recorder is None:
            recorder = LiveRecorder(recorder_command, recorder_env)
            link()
            recorder.wait_for_audio()
        sent = send_bursts(count)
        time.sleep(0.5)
    finally:
        if recorder is not None:
            recorder.stop()
        r.stop()
    found = latencies(sent, recorder.onsets)
    discarded = [int(n) for n in DISCARDED.findall(r.err.decode())]
    # On a loaded machine the phone's messages bunch up and the jitter buffer trims a
    # burst now and then; the figure is about the ones that arrive.
    if len(found) < count // 2:
        raise SystemExit(f"{name}: only {len(found)} of {count} bursts found")
    quantiles = statistics.quantiles(found, n=10)
    print(f"{name:<12} p50 {statistics.median(found):6.1f} ms  p90 {quantiles[8]:6.1f} ms  "
          f"({len(found)} of {count} bursts; {discarded[-1] if discarded else 0} samples "
          "discarded)", flush=True)
    return statistics.median(found)


def load():
    return subprocess.run(["uptime"], capture_output=True, text=True).stdout.strip()


def main():
    receiver = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 40
    pipewire = PipeWireDaemon()
    pulse = speakers_and_cable()
    try:
        print(f"load before: {load()}", flush=True)
        env = {"XDG_RUNTIME_DIR": pipewire.runtime, "PIPEWIRE_RUNTIME_DIR": pipewire.runtime,
               "PULSE_SERVER": "unix:" + pulse.socket}
        gst = ["gst-launch-1.0", "-q", "pipewiresrc", "target-object=korvex-microphone",
               "stream-properties=props,node.name=korvex-recorder,"
               "adapter.auto-port-config=(string)\"{mode=dsp}\"", "!",
               f"audio/x-raw,format=S16LE,rate={RATE},channels=1", "!", "fdsink", "fd=1",
               "sync=false"]
        parec = ["parec", "-d", "cable.monitor", "--raw", "--format=s16le", f"--rate={RATE}",
                 "--channels=1", "--latency-msec=20"]
        microphone = measure("microphone", receiver, [], env, gst, pipewire.client_env,
                             lambda: pipewire.link("korvex-microphone", "korvex-recorder"), count)
        sink = measure("sink", receiver, ["--device", "cable"], env, parec, pulse.client_env,
                       None, count)
        print(f"microphone / sink: {microphone / sink:.2f}", flush=True)
        print(f"load after: {load()}", flush=True)
    finally:
        pulse.stop()
        pipewire.stop()


if __name__ == "__main__":
    main()
