#!/usr/bin/env python3
"""Prints the audio path's figures over a steady stream: the phone simulator sends a 1 kHz tone
through the receiver into a private PulseAudio null sink named like VB-CABLE for SECONDS
(default 300); reports the receiver's underrun count and queued audio from its status line, the
samples it discarded (from its standard error) and the gaps found in a recording of the sink.
Run it inside its own network namespace so port 45334 is its alone:
  unshare --net sh -c 'ip link set lo up; scripts/audio_soak.py RECEIVER SIM [SECONDS]'"""

import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "integration"))
from pulse_server import CABLE, PulseServer  # noqa: E402
from receiver import Receiver  # noqa: E402

STATUS = re.compile(r"\| audio (\d+) ms under (\d+) ")
DISCARDED = re.compile(r"audio: .* discarded .*; (\d+) samples so far")


def main():
    receiver, sim = sys.argv[1], sys.argv[2]
    seconds = int(sys.argv[3]) if len(sys.argv) > 3 else 300
    pulse = PulseServer()
    try:
        pulse.add_sink("cable", CABLE, "rate=48000", "format=float32le", "channels=2")
        rec_path = "/tmp/korvex-soak.raw"
        with open(rec_path, "wb") as out:
            # The recorder first: an idle null sink with no reader renders up to 2 s of
            # silence ahead and would not ask the receiver for audio for that long.
            parec = subprocess.Popen(["parec", "-d", "cable.monitor", "--raw", "--format=s16le",
                                      "--rate=48000", "--channels=1", "--latency-msec=20"],
                                     env=pulse.client_env, stdout=out)
            while os.path.getsize(rec_path) == 0:
                time.sleep(0.02)
            r = Receiver([receiver], ["--no-vcam", "--no-mdns"],
                         env={"PULSE_SERVER": "unix:" + pulse.socket})
            r.wait_for(lambda r: b"-> listening on TCP 45334\n" in r.out, 30)
            phone = subprocess.Popen([sim, "--duration", str(seconds), "--size", "64x64",
                                      "--fps", "5", "--audio", "tone", "--tone-hz", "1000",
                                      "--tone-level", "0.5"], stdout=subprocess.PIPE, text=True)
            r.wait_for(lambda r: phone.poll() is not None, seconds + 60)
            lines = [m.groups() for m in map(STATUS.search, r.out.decode().split("\n")) if m]
            time.sleep(0.5)
            parec.terminate()
            parec.wait()
        r.stop()
        with open(rec_path, "rb") as f:
            data = f.read()
        samples = memoryview(data[:len(data) // 2 * 2]).cast("h")
        loud = [i for i in range(0, len(samples)) if abs(samples[i]) > 200]
        gaps, quiet = 0, 0
        if loud:
            for s in samples[loud[0]:loud[-1]]:
                quiet = quiet + 1 if abs(s) < 100 else 0
                if quiet == 48:  # 1 ms of silence inside a 1 kHz tone
                    gaps += 1
        playing = [int(ms) for ms, _ in lines[2:-2]]
        # The count starts over when the phone leaves: the highest is the run's.
        underruns = max((int(under) for _, under in lines), default=0)
        discarded = [int(n) for n in DISCARDED.findall(r.err.decode())]
        print(phone.stdout.read().strip().splitlines()[-1])
        print(f"seconds={seconds} underruns={underruns} "
              f"queued_ms_min={min(playing, default=0)} queued_ms_max={max(playing, default=0)} "
              f"discarded_samples={discarded[-1] if discarded else 0} recording_gaps={gaps}")
    finally:
        pulse.stop()


if __name__ == "__main__":
    main()
