#!/usr/bin/env python3
"""The Linux camera's figures on one 1920x1080 30 fps stream from the phone simulator,
through the release build: the phone-to-camera latency as a GStreamer reader of the
PipeWire camera node sees it (simulator -> receiver -> PipeWire -> reader), and the
receiver's CPU use and peak resident memory while its camera is read, next to the same
stream into a receiver started with --no-vcam. Runs in a network and mount namespace of
its own with a private PipeWire server, so nothing leaves loopback.

Usage: scripts/pipewire_camera_figures.py [SECONDS]   (default 20)
"""

import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "integration"))

from pipewire_daemon import PipeWireDaemon  # noqa: E402
from pipewire_reader import CameraReader, latency_figures  # noqa: E402

BIN = os.path.join(ROOT, "build", "linux-release")
SIZE, FPS = (1920, 1080), 30


def in_namespaces(seconds):
    subprocess.run(["cmake", "--preset", "linux-release"], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", "--preset", "linux-release", "-j2", "--target",
                    "korvex-receiver", "korvex-phone-sim"], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)
    script = 'ip link set lo up && mount -t tmpfs tmpfs /dev/shm && exec "$@"'
    os.execvpe("unshare", ["unshare", "--mount", "--net", "--propagation", "private",
                           "--map-root-user", "sh", "-c", script, "sh", sys.executable,
                           os.path.abspath(__file__), str(seconds)],
               dict(os.environ, KORVEX_FIGURES_NS="1"))


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def peak_memory_mib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return float("nan")


def run(daemon, seconds, camera):
    """One stream into a fresh receiver; returns (CPU %, peak MiB, frames sent, the reader's
    pictures)."""
    args = ["--no-audio", "--no-mdns"] + ([] if camera else ["--no-vcam"])
    receiver = subprocess.Popen([os.path.join(BIN, "korvex-receiver")] + args,
                                env=daemon.client_env, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, text=True)
    try:
        lines = []
        while not any("shm mapped" in line for line in lines):
            line = receiver.stdout.readline()
            if not line:
                raise SystemExit(f"the receiver did not start: {''.join(lines)}")
            lines.append(line)
        if camera and not any("registered (source pipewire:" in line for line in lines):
            raise SystemExit(f"no camera node: {''.join(lines)}")
        reader = CameraReader(daemon, *SIZE) if camera else None
        if reader:
            reader.wait_for_pictures(10)
        before, started = cpu_seconds(receiver.pid), time.monotonic()
        sim = subprocess.run([os.path.join(BIN, "korvex-phone-sim"), "--size",
                              f"{SIZE[0]}x{SIZE[1]}", "--fps", str(FPS), "--gop", str(FPS),
                              "--duration", str(seconds), "--audio", "none", "--name", "Figures"],
                             check=True, capture_output=True, text=True)
        last = sim.stdout.strip().splitlines()[-1]
        sent = int(dict(item.split("=") for item in last.split())["frames"])
        cpu = 100 * (cpu_seconds(receiver.pid) - before) / (time.monotonic() - started)
        peak = peak_memory_mib(receiver.pid)
        pictures = []
        if reader:
            time.sleep(0.5)
            pictures, _ = reader.taken()
            reader.stop()
        return cpu, peak, sent, pictures
    finally:
        receiver.terminate()
        receiver.wait()


def main():
    seconds = int(sys.argv[1]) if len(sys.argv) > 1 else 20
    if not os.environ.get("KORVEX_FIGURES_NS"):
        in_namespaces(seconds)
    daemon = PipeWireDaemon()
    try:
        print(f"Linux camera (linux-release), {SIZE[0]}x{SIZE[1]} at {FPS} fps for {seconds} s, "
              f"{os.cpu_count()} CPUs; load before: {os.getloadavg()[0]:.2f}")
        cpu, peak, sent, pictures = run(daemon, seconds, camera=True)
        shown, p50, p99, worst = latency_figures(pictures)
        print(f"  camera read at 1080p: phone-to-camera latency ms p50 {p50:.1f} p99 {p99:.1f} "
              f"max {worst:.1f} ({shown} frames shown in {len(pictures)} pictures)")
        print(f"  receiver with the camera read: CPU {cpu:.1f}% of one core, peak memory "
              f"{peak:.1f} MiB ({sent} frames sent)")
        cpu_off, peak_off, sent_off, _ = run(daemon, seconds, camera=False)
        print(f"  receiver with --no-vcam:       CPU {cpu_off:.1f}% of one core, peak memory "
              f"{peak_off:.1f} MiB ({sent_off} frames sent)")
        print(f"  camera / --no-vcam: CPU x{cpu / cpu_off:.2f}, peak memory "
              f"x{peak / peak_off:.2f}; load after: {os.getloadavg()[0]:.2f}")
    finally:
        daemon.stop()


if __name__ == "__main__":
    main()
