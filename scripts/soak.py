#!/usr/bin/env python3
"""Long-run figures: the phone simulator connects, streams video with audio for 30 s,
disconnects, and again, for MINUTES (default 10), while the receiver's resident memory,
threads and open file descriptors are sampled every 10 s. Prints each sample and the growth
per hour of each figure, a least-squares slope over the samples after a warm-up (the first
quarter of the run, at most 2 minutes), of all samples and of those taken between sessions
(no connection open); the targets are under 1 MiB/h of memory and none of the rest. Over a
few minutes the memory slope is noise (allocator and buffer high-water marks still
settling); judge it on a run of an hour.

  scripts/soak.py [--minutes M] [--windows] [--check]

Natively it runs the linux-release build at 1920x1080 30 fps. --windows runs the Windows
build under Wine at 1280x720 30 fps and samples the receiver's Wine process (its memory,
threads and descriptors) and the wineserver's descriptors, where the handles of every Wine
process live. --check fails the run when the thread or descriptor count measured between two
sessions, once the receiver has let go of the phone's connection, is ever above the count
after the first session: the short version CI runs.

Runs in a network and mount namespace of its own, with a private PulseAudio server, so the
port, the frame section and the audio are the run's alone and nothing leaves loopback."""

import argparse
import os
import signal
import subprocess
import sys
import threading
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "integration"))
from pulse_server import speakers_and_cable  # noqa: E402

SESSION_SECONDS = 30
SAMPLE_SECONDS = 10
SETTLE_SECONDS = 3  # for the receiver to notice the phone has gone


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--minutes", type=float, default=10)
    p.add_argument("--windows", action="store_true")
    p.add_argument("--check", action="store_true")
    return p.parse_args()


def enter_namespace():
    if os.environ.get("KORVEX_SOAK_NS"):
        return
    setup = "ip link set lo up && mount -t tmpfs -o mode=1777 tmpfs /dev/shm && exec \"$@\""
    argv = ["unshare", "--net", "--mount", "--propagation", "private", "sh", "-c", setup, "sh",
            sys.executable] + sys.argv
    os.execvpe(argv[0], argv, dict(os.environ, KORVEX_SOAK_NS="1"))


def status(pid):
    fields = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            key, _, value = line.partition(":")
            fields[key] = value.split()
    return fields


def fd_count(pid):
    return len(os.listdir(f"/proc/{pid}/fd"))


def find_process(name, prefix, timeout=60):
    """The pid of the process of this Wine prefix whose command line mentions name (Wine
    starts the program through its loader; other prefixes may run the same program)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open(f"/proc/{entry}/cmdline", "rb") as f:
                    cmdline = f.read().split(b"\0")
                with open(f"/proc/{entry}/environ", "rb") as f:
                    environ = f.read().split(b"\0")
            except OSError:
                continue
            if (b"WINEPREFIX=" + prefix.encode() in environ and
                    any(os.path.basename(arg.replace(b"\\", b"/")).startswith(name.encode())
                        for arg in cmdline[:2])):
                return int(entry)
        time.sleep(0.2)
    raise SystemExit(f"soak: no process {name}")


class Probe:
    """Samples one receiver: memory, threads and descriptors, and under Wine the
    wineserver's descriptors."""

    def __init__(self, pid, wineserver_pid=None):
        self.pid = pid
        self.wineserver_pid = wineserver_pid
        self.names = ["rss_kib", "threads", "fds"] + (["server_fds"] if wineserver_pid else [])

    def sample(self):
        s = status(self.pid)
        values = [int(s["VmRSS"][0]), int(s["Threads"][0]), fd_count(self.pid)]
        if self.wineserver_pid:
            values.append(fd_count(self.wineserver_pid))
        return values


def slope_per_hour(points):
    """Least-squares slope of (seconds, value) points, in units per hour."""
    n = len(points)
    if n < 2:
        return 0.0
    mean_t = sum(t for t, _ in points) / n
    mean_v = sum(v for _, v in points) / n
    var = sum((t - mean_t) ** 2 for t, _ in points)
    if var == 0:
        return 0.0
    return 3600 * sum((t - mean_t) * (v - mean_v) for t, v in points) / var


def main():
    args = parse_args()
    enter_namespace()
    os.chdir(ROOT)
    duration = args.minutes * 60
    warmup = min(120.0, duration / 4)
    out = os.path.join(ROOT, "build", "soak",
                       f"{'windows' if args.windows else 'linux'}-{args.minutes:g}min")
    os.makedirs(out, exist_ok=True)

    if args.windows:
        prefix = os.path.join(ROOT, "build", "windows", "wineprefix")
        command = ["cmake/wine-run.sh", prefix, "build/windows/korvex-receiver.exe"]
        size = "1280x720"
    else:
        command = ["build/linux-release/korvex-receiver"]
        size = "1920x1080"
    sim = "build/linux-release/korvex-phone-sim"
    for path in (command[-1], sim):
        if not os.path.exists(path):
            raise SystemExit(f"soak: {path} is missing; build it first")

    pulse = speakers_and_cable()
    env = dict(os.environ, PULSE_SERVER="unix:" + pulse.socket, LANG="C.UTF-8")
    receiver_log = open(os.path.join(out, "receiver.txt"), "wb")
    receiver = subprocess.Popen(command + ["--no-vcam", "--no-mdns"], stdin=subprocess.DEVNULL,
                                stdout=receiver_log, stderr=subprocess.STDOUT, env=env,
                                start_new_session=True)
    stop = threading.Event()
    samples, idle = [], []
    failed = []
    try:
        deadline = time.monotonic() + 60
        while b"-> listening on TCP 45334" not in open(receiver_log.name, "rb").read():
            if receiver.poll() is not None or time.monotonic() > deadline:
                raise SystemExit("soak: the receiver did not start; see " + receiver_log.name)
            time.sleep(0.2)
        if args.windows:
            probe = Probe(find_process("korvex-receiver.exe", prefix),
                          find_process("wineserver", prefix))
        else:
            probe = Probe(receiver.pid)
        start = time.monotonic()
        print(f"soak: {'Windows build under Wine' if args.windows else 'linux-release'}, "
              f"{size} 30 fps with audio, {SESSION_SECONDS} s sessions for {args.minutes:g} min; "
              f"sampling {', '.join(probe.names)} every {SAMPLE_SECONDS} s; "
              f"load: {os.getloadavg()[0]:.2f}", flush=True)

        def sampler():
            while not stop.wait(SAMPLE_SECONDS):
                values = probe.sample()
                t = time.monotonic() - start
                samples.append((t, values))
                print(f"  {t:7.0f} s  " + "  ".join(
                    f"{n} {v}" for n, v in zip(probe.names, values)), flush=True)

        thread = threading.Thread(target=sampler, daemon=True)
        thread.start()
        sessions = 0
        sim_log = open(os.path.join(out, "sim.txt"), "wb")
        while time.monotonic() - start + SESSION_SECONDS <= duration:
            sim_run = subprocess.run(
                [sim, "--size", size, "--fps", "30", "--duration", str(SESSION_SECONDS),
                 "--audio", "tone", "--name", "Soak"], stdout=sim_log, stderr=subprocess.STDOUT,
                timeout=SESSION_SECONDS * 20)  # a loaded machine encodes slowly
            if sim_run.returncode != 0:
                failed.append(f"session {sessions + 1}: the simulator exited with "
                              f"{sim_run.returncode}; see {sim_log.name}")
                break
            if receiver.poll() is not None:
                failed.append(f"the receiver exited with {receiver.returncode}")
                break
            sessions += 1
            time.sleep(SETTLE_SECONDS)
            idle.append((time.monotonic() - start, probe.sample()))
        stop.set()
        thread.join()
        if receiver.poll() is not None:
            failed.append(f"the receiver exited with {receiver.returncode}")
    finally:
        stop.set()
        if receiver.poll() is None:
            os.killpg(receiver.pid, signal.SIGINT)
            try:
                receiver.wait(20)
            except subprocess.TimeoutExpired:
                os.killpg(receiver.pid, signal.SIGKILL)
                receiver.wait()
        if args.windows:
            subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=prefix))
        pulse.stop()

    print(f"soak: {sessions} sessions; growth per hour after {warmup:.0f} s of warm-up "
          f"(least squares over {sum(1 for t, _ in samples if t >= warmup)} samples):")
    for i, name in enumerate(probe.names):
        points = [(t, v[i]) for t, v in samples if t >= warmup]
        rate = slope_per_hour(points)
        if name == "rss_kib":
            print(f"  rss {rate / 1024:+.2f} MiB/h (target under 1 MiB/h); "
                  f"{points[0][1] / 1024:.1f} -> {points[-1][1] / 1024:.1f} MiB" if points else
                  "  rss: no samples")
        else:
            print(f"  {name} {rate:+.2f}/h" + (f"; {points[0][1]} -> {points[-1][1]}"
                                                if points else ""))
    between = [(t, v) for t, v in idle if t >= warmup] or idle[-1:]
    if between:
        # Samples taken at the same point of every session: no connection open.
        parts = []
        for i, name in enumerate(probe.names):
            first, last = between[0][1][i], between[-1][1][i]
            rate = slope_per_hour([(t, v[i]) for t, v in between])
            if name == "rss_kib":
                parts.append(f"rss {first / 1024:.1f} -> {last / 1024:.1f} MiB, "
                             f"{rate / 1024:+.2f} MiB/h")
            else:
                parts.append(f"{name} {first} -> {last} (highest "
                             f"{max(v[i] for _, v in between)}), {rate:+.2f}/h")
        print(f"  between sessions ({len(between)} samples): " + "; ".join(parts))
    if args.check:
        # Counts, unlike memory, need no warm-up: the first session has set up
        # everything a session keeps.
        if len(idle) < 2:
            failed.append(f"{len(idle)} sessions ended; at least 2 are needed to compare")
        for i, name in enumerate(probe.names):
            if name != "rss_kib" and idle and max(v[i] for _, v in idle) > idle[0][1][i]:
                failed.append(f"{name} grew between sessions: "
                              f"{' '.join(str(v[i]) for _, v in idle)}")
    for line in failed:
        print("soak: FAILED: " + line, file=sys.stderr)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
