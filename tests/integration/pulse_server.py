"""A private PulseAudio server for audio tests: its own runtime directory and socket, so it
clashes with no other server, and null sinks that stand in for speakers and VB-CABLE."""

import os
import shutil
import signal
import subprocess
import tempfile
import time

CABLE = "CABLE Input (VB-Audio Virtual Cable)"


class PulseServer:
    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="korvex-pulse-")
        self.socket = os.path.join(self.root, "native")
        # What a client needs to find this server and nothing else.
        self.client_env = dict(os.environ, PULSE_SERVER="unix:" + self.socket)
        self.pid = None
        runtime = os.path.join(self.root, "runtime")
        os.makedirs(runtime, mode=0o700)
        server_env = dict(os.environ, HOME=self.root, XDG_RUNTIME_DIR=runtime,
                          PULSE_RUNTIME_PATH=runtime,
                          PULSE_STATE_PATH=os.path.join(self.root, "state"))
        # As root, pulseaudio warns and runs; -n skips the system's default.pa.
        subprocess.run(
            ["pulseaudio", "--daemonize=yes", "--exit-idle-time=-1", "-n", "--use-pid-file=yes",
             "--load=module-native-protocol-unix socket={} auth-anonymous=1".format(self.socket),
             "--log-target=file:" + os.path.join(self.root, "server.log")],
            env=server_env, check=True, timeout=30, stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(os.path.join(runtime, "pid")) as f:
            self.pid = int(f.read().strip())
        deadline = time.monotonic() + 10
        while self.pactl_result("info").returncode != 0:
            if time.monotonic() > deadline:
                self.stop()
                raise AssertionError("the test's PulseAudio server did not come up")
            time.sleep(0.1)

    def pactl_result(self, *args):
        return subprocess.run(["pactl", *args], env=self.client_env, capture_output=True,
                              text=True, timeout=30)

    def pactl(self, *args):
        result = self.pactl_result(*args)
        if result.returncode != 0:
            raise AssertionError(f"pactl {args}: {result.stderr}")
        return result.stdout

    def add_sink(self, name, description, *options):
        escaped = description.replace(" ", "\\ ")
        return self.pactl("load-module", "module-null-sink", f"sink_name={name}", *options,
                          f'sink_properties=device.description="{escaped}"').strip()

    def sink_inputs(self, sink_name):
        """Sample specifications of the streams playing into the named sink."""
        index = None
        for line in self.pactl("list", "short", "sinks").splitlines():
            fields = line.split("\t")
            if fields[1] == sink_name:
                index = fields[0]
        return [line.split("\t")[4] for line in self.pactl("list", "short", "sink-inputs")
                .splitlines() if line.split("\t")[1] == index]

    def stop(self):
        if self.pid is not None:
            try:
                os.kill(self.pid, signal.SIGTERM)
                deadline = time.monotonic() + 10
                while time.monotonic() < deadline:
                    os.kill(self.pid, 0)
                    time.sleep(0.05)
                os.kill(self.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.pid = None
        shutil.rmtree(self.root, ignore_errors=True)


def speakers_and_cable(*extra_sinks):
    """A started server with a default "Speakers" sink and the virtual cable (48 kHz float
    stereo), plus `extra_sinks` as add_sink arguments; stopped again if any of it fails."""
    pulse = PulseServer()
    try:
        pulse.add_sink("speakers", "Speakers")
        pulse.add_sink("cable", CABLE, "rate=48000", "format=float32le", "channels=2")
        for sink in extra_sinks:
            pulse.add_sink(*sink)
        pulse.pactl("set-default-sink", "speakers")
    except BaseException:
        pulse.stop()
        raise
    return pulse
