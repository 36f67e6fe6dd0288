"""A phone for the audio tests that sends nothing but a hello and a 1 kHz tone at half scale, in
10 ms messages at their real pace, as the sender app does."""

import math
import os
import re
import socket
import subprocess
import time

from audio_recording import audible
from phone_client import Phone, audio, bye, hello

RATE = 48000
BLOCK = 480  # 10 ms


def tone_block(index, hz=1000, level=0.5):
    first = index * BLOCK
    return [round(level * 32767 * math.sin(2 * math.pi * hz * ((first + j) % RATE) / RATE))
            for j in range(BLOCK)]


def send_tone(seconds):
    """Connects, sends the hello and `seconds` of tone, says goodbye and closes."""
    phone = Phone()
    try:
        # Without it, the receiver's delayed acknowledgements hold small messages back by 40 ms.
        phone.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        phone.send(hello({"name": "tone", "audio": {"rate": RATE, "channels": 1,
                                                     "format": "s16le"}}))
        start = time.monotonic()
        for index in range(round(seconds * 100)):
            delay = start + index / 100 - time.monotonic()
            if delay > 0:
                time.sleep(delay)
            phone.send(audio(tone_block(index)))
        phone.send(bye())
    finally:
        phone.close()


def recorded_tone(receiver, recording, seconds):
    """Sends `seconds` of tone through `receiver` while `recording` runs; the tone recorded."""
    send_tone(seconds)
    receiver.wait_for(lambda r: b"phone disconnected" in r.err)
    time.sleep(0.3)
    return audible(recording.stop())


def simulated_tone(seconds, level=0.5):
    """The phone simulator (KORVEX_PHONE_SIM) streams a 1 kHz tone at `level` of full scale
    beside a small picture; returns how many seconds of it were sent (on a busy machine the
    simulator's time may run out before its last messages). A phone is a device of its own:
    the simulator runs at the lowest real-time priority, so that this machine's load does
    not hold its messages back."""
    sim = subprocess.run(["chrt", "--rr", "1", os.environ["KORVEX_PHONE_SIM"], "--host",
                          "127.0.0.1", "--duration",
                          str(seconds), "--size", "64x64", "--fps", "5", "--audio", "tone",
                          "--tone-hz", "1000", "--tone-level", str(level)],
                         capture_output=True, text=True, timeout=seconds + 60)
    if sim.returncode != 0:
        raise AssertionError(f"the phone simulator failed: {sim.stderr}")
    return int(re.search(r"\baudio=(\d+)", sim.stdout).group(1)) / 100
