"""A private PipeWire server for tests: its own runtime directory and socket, so it clashes
with no other server, and a minimal configuration of its own, so it loads no device and
needs no session bus. No session manager runs: a test links the ports it wants with
pw-link. Clients reach it through `client_env`."""

import json
import os
import shutil
import signal
import subprocess
import tempfile
import time

# The modules a client needs to make nodes and a test needs to link them, and one
# driver so that a graph without one still runs.
CONFIG = """
context.properties = {
    core.daemon = true
    core.name = pipewire-0
    link.max-buffers = 16
}
context.spa-libs = {
    support.* = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-spa-node-factory }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-access args = { } }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-link-factory }
]
context.objects = [
    { factory = spa-node-factory
        args = {
            factory.name = support.node.driver
            node.name = Dummy-Driver
            priority.driver = 20000
        }
    }
]
"""


class PipeWireDaemon:
    def __init__(self):
        self.prepare()
        config = os.path.join(self.root, "pipewire.conf")
        with open(config, "w") as f:
            f.write(CONFIG)
        self.spawn("pipewire", ["pipewire", "-c", config])
        self.wait_for_server()

    def prepare(self):
        """The private directories and the environment clients reach the server with."""
        self.root = tempfile.mkdtemp(prefix="korvex-pipewire-")
        self.runtime = os.path.join(self.root, "runtime")
        os.makedirs(self.runtime, mode=0o700)
        # Clients look for the socket in PIPEWIRE_RUNTIME_DIR, then XDG_RUNTIME_DIR; as
        # root nothing else points them anywhere.
        self.client_env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime,
                               PIPEWIRE_RUNTIME_DIR=self.runtime)
        self.client_env.pop("PIPEWIRE_REMOTE", None)
        self.log_path = os.path.join(self.root, "server.log")
        self.daemons = []  # (name, process), in the order they started

    def spawn(self, name, command):
        """Starts a daemon of this server's, its output in the log; stop() ends it."""
        with open(self.log_path, "ab") as log:
            proc = subprocess.Popen(command, env=self.client_env, stdin=subprocess.DEVNULL,
                                    stdout=log, stderr=log, start_new_session=True)
        self.daemons.append((name, proc))
        return proc

    def wait_until(self, what, ready, timeout=10):
        """Until `ready()` holds; fails, with the log and everything ended, when a daemon
        dies first or `timeout` passes."""
        deadline = time.monotonic() + timeout
        while not ready():
            dead = [name for name, proc in self.daemons if proc.poll() is not None]
            if dead or time.monotonic() > deadline:
                log_text = self.log()
                self.stop()
                raise AssertionError(f"{what} (ended: {dead}): {log_text}")
            time.sleep(0.1)

    def wait_for_server(self):
        self.wait_until("the test's PipeWire server did not come up",
                        lambda: self.run("pw-cli", "info", "0", check=False).returncode == 0)

    def log(self):
        with open(self.log_path, errors="replace") as f:
            return f.read()

    def run(self, *args, check=True, timeout=30):
        result = subprocess.run(args, env=self.client_env, capture_output=True, text=True,
                                timeout=timeout, stdin=subprocess.DEVNULL)
        if check and result.returncode != 0:
            raise AssertionError(f"{' '.join(args)}: {result.stderr}")
        return result

    def objects(self):
        """Every object the server holds, as pw-dump shows them. A dump taken while nodes
        come and go may carry a second document, the objects just removed: dump again."""
        for _ in range(20):
            dump = self.run("pw-dump", "--no-colors").stdout
            try:
                return json.loads(dump)
            except json.JSONDecodeError:
                time.sleep(0.1)
        return json.loads(dump)

    def nodes(self):
        """Properties of each node, by node.name."""
        return {o["info"]["props"].get("node.name"): o["info"]["props"]
                for o in self.objects() if o["type"] == "PipeWire:Interface:Node"}

    def node_state(self, name):
        """"running" while a node's graph runs, else "idle", "suspended" and the like."""
        return next(o["info"]["state"] for o in self.objects()
                    if o["type"] == "PipeWire:Interface:Node"
                    and o["info"]["props"].get("node.name") == name)

    def ports(self, node_name, direction):
        """The port names of a node ("output" or "input"), as node:port for pw-link."""
        objects = self.objects()
        ids = [o["id"] for o in objects if o["type"] == "PipeWire:Interface:Node"
               and o["info"]["props"].get("node.name") == node_name]
        return [f'{node_name}:{o["info"]["props"]["port.name"]}' for o in objects
                if o["type"] == "PipeWire:Interface:Port"
                and o["info"]["props"].get("node.id") in ids
                and o["info"]["direction"] == direction]

    def wait_for_node(self, name, present=True, timeout=10.0):
        deadline = time.monotonic() + timeout
        while (name in self.nodes()) != present:
            if time.monotonic() > deadline:
                raise AssertionError(
                    f"node {name} {'never appeared' if present else 'still there'}")
            time.sleep(0.1)

    def link(self, output_node, input_node, timeout=10.0):
        """Links every output port of one node to the input ports of another, in order,
        once both have them."""
        deadline = time.monotonic() + timeout
        while True:
            outputs = self.ports(output_node, "output")
            inputs = self.ports(input_node, "input")
            if outputs and inputs:
                break
            if time.monotonic() > deadline:
                raise AssertionError(f"no ports to link: {outputs} -> {inputs}")
            time.sleep(0.1)
        for output, input_port in zip(outputs, inputs):
            self.run("pw-link", output, input_port)

    def stop(self):
        """Ends every daemon and what it started (its process group), the last started
        first, and removes the directories."""
        for _, proc in reversed(self.daemons):
            for sig in (signal.SIGTERM, signal.SIGKILL):
                try:
                    os.killpg(proc.pid, sig)
                except ProcessLookupError:
                    break
                try:
                    proc.wait(timeout=10)
                    break
                except subprocess.TimeoutExpired:
                    pass
        shutil.rmtree(self.root, ignore_errors=True)
