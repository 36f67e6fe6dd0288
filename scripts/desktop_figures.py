#!/usr/bin/env python3
"""The Linux desktop's figures, through the release build on a desktop's PipeWire
(tests/integration/desktop_session.py: Debian's pipewire.conf, WirePlumber, pipewire-pulse,
a session bus):
- the microphone through pipewire-pulse: RUNS runs in a row of a 3 s phone tone recorded by
  parec, each 3.00 +- 0.03 s, no hole over 2 ms, nothing discarded;
- the camera to a second reader linked by WirePlumber: GStreamer's pipewiresrc at each
  offered size and the receiver's own probe (from its pictures' times), 30 +- 1.5 pictures a
  second, beside the same readers on the tests' minimal PipeWire server (linked by hand) as
  the reference.
Runs in a network and mount namespace of its own, so nothing leaves loopback. Exits 1 when
a figure misses its mark.

Usage: scripts/desktop_figures.py [RUNS]   (default 20)
"""

import os
import re
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "integration"))

from audio_phone import simulated_tone  # noqa: E402
from audio_recording import tone_figures  # noqa: E402
from desktop_session import DesktopSession  # noqa: E402
from microphone_recorders import PulseRecorder  # noqa: E402
from pipewire_daemon import PipeWireDaemon  # noqa: E402
from pipewire_reader import NODE, CameraReader  # noqa: E402

BIN = os.path.join(ROOT, "build", "linux-release")
SIZES = ((1920, 1080), (1280, 720), (640, 360))
PICTURES = 60


def receiver(server, *args):
    proc = subprocess.Popen([os.path.join(BIN, "korvex-receiver"), "--no-mdns", *args],
                            env=server.client_env, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)
    server.wait_for_node("korvex-camera" if "--no-audio" in args else "korvex-microphone")
    return proc


def microphone_runs(runs):
    session = DesktopSession()
    proc = receiver(session, "--no-vcam")
    failed = 0
    try:
        for run in range(runs):
            recorder = PulseRecorder(session)
            sent = simulated_tone(3.0)
            time.sleep(0.5)
            seconds, hole_ms, hz = tone_figures(recorder.stop())
            ok = abs(seconds - sent) <= 0.03 and hole_ms <= 2.0 and abs(hz - 1000) <= 10
            failed += not ok
            print(f"  run {run + 1:2}: {seconds:.4f} s of {sent:.2f} s, longest hole "
                  f"{hole_ms:.2f} ms, {hz:.1f} Hz{'' if ok else '  MISSED'}", flush=True)
    finally:
        proc.terminate()
        out, err = proc.communicate()
        session.stop()
    discarded = err.count("discarded")
    # The status line counts underruns from each phone's start: a run's last count is its own.
    underruns = [int(n) for n in re.findall(r"\| audio \d+ ms under (\d+) ", out)]
    print(f"  {runs - failed} of {runs} runs whole; receiver's discard reports: {discarded}, "
          f"highest underrun count on its status line: {max(underruns, default=0)}")
    return failed == 0 and discarded == 0


def camera_rates(server, linked_by_hand):
    """{size: pictures a second} of pipewiresrc at each size, and the probe's."""
    proc = receiver(server, "--no-audio")
    rates = {}
    try:
        for width, height in SIZES:
            reader = CameraReader(server, width, height, link=linked_by_hand)
            reader.wait_for_pictures(10)
            first = reader.taken()[0][-1][0]
            reader.wait_for_pictures(10 + PICTURES)
            pictures, _ = reader.taken()
            reader.stop()
            rates[f"{width}x{height}"] = (len(pictures) - 10) / ((pictures[-1][0] - first) / 1e6)
        probe = subprocess.Popen([os.path.join(BIN, "korvex-receiver"), "--probe-camera",
                                  "Korvex", "--frames", str(PICTURES)], env=server.client_env,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if linked_by_hand:
            server.wait_for_node("korvex-probe")
            server.link(NODE, "korvex-probe")
        out, _ = probe.communicate(timeout=60)
        # The probe's own "= R fps" counts from before the first picture (its link and the
        # camera's start): the camera's rate is in the pictures' times.
        frames, span = re.search(rb"-> (\d+) frames in .* sample times span (\S+) s", out).groups()
        rates["probe"] = (int(frames) - 1) / float(span)
    finally:
        proc.terminate()
        proc.communicate()
    return rates


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 20
    if not os.environ.get("KORVEX_FIGURES_NS"):
        subprocess.run(["cmake", "--build", "--preset", "linux-release", "--target",
                        "korvex-receiver", "korvex-phone-sim"], cwd=ROOT, check=True,
                       stdout=subprocess.DEVNULL)
        os.execvpe("unshare", ["unshare", "--net", "--mount", "--propagation", "private", "sh",
                               "-c", 'ip link set lo up && mount -t tmpfs tmpfs /dev/shm && '
                               'exec "$@"', "sh", sys.executable, *sys.argv],
                   dict(os.environ, KORVEX_FIGURES_NS="1",
                        KORVEX_PHONE_SIM=os.path.join(BIN, "korvex-phone-sim")))
    print(f"Linux desktop (linux-release), {time.strftime('%Y-%m-%d')}, {os.cpu_count()} CPUs; "
          f"load before: {os.getloadavg()[0]:.2f}")
    print(f"microphone through pipewire-pulse, {runs} runs of a 3 s tone:")
    whole = microphone_runs(runs)
    session = DesktopSession()
    try:
        desktop = camera_rates(session, linked_by_hand=False)
    finally:
        session.stop()
    daemon = PipeWireDaemon()
    try:
        minimal = camera_rates(daemon, linked_by_hand=True)
    finally:
        daemon.stop()
    print(f"camera, {PICTURES} pictures each: under WirePlumber / minimal server (reference)")
    steady = True
    for name, rate in desktop.items():
        ok = abs(rate - 30) <= 1.5
        steady &= ok
        print(f"  {name:>9}: {rate:5.1f} / {minimal[name]:5.1f} pictures a second, "
              f"x{rate / minimal[name]:.3f}{'' if ok else '  MISSED'}")
    print(f"load after: {os.getloadavg()[0]:.2f}")
    sys.exit(0 if whole and steady else 1)


if __name__ == "__main__":
    main()
