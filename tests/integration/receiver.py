"""Starting the real receiver program (natively or under Wine) for integration tests."""

import fcntl
import os
import pty
import re
import struct
import termios
import select
import signal
import subprocess
import sys
import threading
import time


def launcher_from_argv():
    """The command that starts the receiver: everything after '--' on our command line."""
    if "--" not in sys.argv:
        sys.exit("usage: test.py [unittest args] -- [launcher...] korvex-receiver")
    at = sys.argv.index("--")
    command = sys.argv[at + 1:]
    del sys.argv[at:]
    return command


def open_terminal(columns=300):
    """A pseudo-terminal, by default wide enough that a status line never wraps (Wine's
    console wraps at the terminal's width)."""
    master, slave = pty.openpty()
    set_terminal_columns(slave, columns)
    return master, slave


def set_terminal_columns(fd, columns):
    fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", 50, columns, 0, 0))


def screen_text(raw):
    """What a terminal shows, minus the control sequences Wine's console adds."""
    text = re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", raw).decode()
    return text.replace("\r\r\n", "\n").replace("\r\n", "\n")


def run_in_terminal(command, timeout=60.0):
    """Runs a short command with standard output and error on one terminal; returns
    (status, what the terminal received)."""
    master, slave = open_terminal()
    proc = subprocess.Popen(command, stdin=slave, stdout=slave, stderr=slave,
                            start_new_session=True)
    os.close(slave)
    received = b""
    deadline = time.monotonic() + timeout
    while True:
        ready, _, _ = select.select([master], [], [], 0.1)
        if ready:
            try:
                chunk = os.read(master, 65536)
            except OSError:
                chunk = b""
            if not chunk:
                break
            received += chunk
        elif proc.poll() is not None:
            break
        if time.monotonic() > deadline:
            proc.kill()
            raise AssertionError(f"command did not end; terminal so far: {received!r}")
    os.close(master)
    return proc.wait(), received


def isolate_shared_memory():
    """On Linux, runs this test script again in a mount namespace of its own with an
    empty /dev/shm: the frame section is then the test's alone, whatever else runs on
    the machine, and nothing outlives the test. Call before anything else reads
    sys.argv. Where namespaces are not allowed the test runs as it is."""
    if any(arg.endswith(".exe") for arg in sys.argv) or os.environ.get("KORVEX_PRIVATE_SHM"):
        return
    unshare = ["unshare", "--mount", "--propagation", "private"]
    if os.geteuid() != 0:
        unshare.append("--map-root-user")
    mount = "mount -t tmpfs -o mode=1777 tmpfs /dev/shm"
    probe = subprocess.run(unshare + ["sh", "-c", mount], capture_output=True)
    if probe.returncode != 0:
        return
    argv = unshare + ["sh", "-c", mount + ' && exec "$@"', "sh", sys.executable] + sys.argv
    os.execvpe(argv[0], argv, dict(os.environ, KORVEX_PRIVATE_SHM="1"))


def forget_frame_section():
    """Removes a frame section left by an earlier run. POSIX shared memory outlives
    its processes; under Wine the section goes with the last process holding it."""
    try:
        os.unlink("/dev/shm/Korvex.Frames")
    except FileNotFoundError:
        pass


def under_wine(command):
    return any(part.endswith(".exe") for part in command)


# Threads that ask Windows for a time-critical priority: the receiver's render
# thread, and Wine's PulseAudio timer and main loop, which stand in for the
# Windows audio engine (itself a real-time process there) and must hand the
# sound server each 10 ms period within 30 ms. Wine turns thread priorities into
# niceness only when RLIMIT_NICE allows, which needs a capability these VMs do
# not give even to root, so under Wine they would stay ordinary threads that the
# hypervisor or a starting decoder can hold off past that window; the run then
# judges the VM's scheduler, not the receiver. What Windows would grant them,
# the lowest real-time priority, is given here by hand.
TIME_CRITICAL_UNDER_WINE = {b"audio-render", b"winepulse_timer", b"winepulse_mainl"}


def grant_time_critical(pid, stop):
    granted = set()
    while not stop.wait(0.05):
        try:
            tids = os.listdir(f"/proc/{pid}/task")
        except FileNotFoundError:
            return
        for tid in tids:
            try:
                with open(f"/proc/{pid}/task/{tid}/comm", "rb") as comm:
                    name = comm.read().strip()
                if name in TIME_CRITICAL_UNDER_WINE and tid not in granted:
                    os.sched_setscheduler(int(tid), os.SCHED_RR, os.sched_param(1))
                    granted.add(tid)
            except (FileNotFoundError, ProcessLookupError):
                pass  # the thread ended meanwhile
            except PermissionError:
                return  # not root: the threads keep Wine's ordinary scheduling


class Receiver:
    """A running receiver with its output collected as it arrives."""

    def __init__(self, command, args, terminal=False, env=None, columns=300):
        self.out = b""
        self.err = b""
        full_env = dict(os.environ)
        full_env.setdefault("LANG", "C.UTF-8")
        if env:
            full_env.update(env)
        if terminal:
            master, slave = open_terminal(columns)
            self.proc = subprocess.Popen(command + args, stdin=slave, stdout=slave,
                                         stderr=subprocess.PIPE, env=full_env,
                                         start_new_session=True)
            os.close(slave)
            self._out_fd = master
        else:
            self.proc = subprocess.Popen(command + args, stdin=subprocess.DEVNULL,
                                         stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                         env=full_env)
            self._out_fd = self.proc.stdout.fileno()
        self._err_fd = self.proc.stderr.fileno()
        os.set_blocking(self._out_fd, False)
        os.set_blocking(self._err_fd, False)
        self._stop_granting = threading.Event()
        if under_wine(command):
            threading.Thread(target=grant_time_critical, args=(self.proc.pid, self._stop_granting),
                             daemon=True).start()

    def resize_terminal(self, columns):
        """Makes the terminal that terminal=True gave the program this many columns wide."""
        set_terminal_columns(self._out_fd, columns)

    def _pump(self, timeout):
        fds = [fd for fd in (self._out_fd, self._err_fd) if fd is not None]
        if not fds:
            time.sleep(timeout)
            return
        ready, _, _ = select.select(fds, [], [], timeout)
        for fd in ready:
            try:
                chunk = os.read(fd, 65536)
            except OSError:  # a pty reports EIO once the program has gone
                chunk = b""
            if not chunk:
                if fd == self._out_fd:
                    self._out_fd = None
                else:
                    self._err_fd = None
            elif fd == self._out_fd:
                self.out += chunk
            else:
                self.err += chunk

    def wait_for(self, predicate, timeout=20.0):
        """Collects output until predicate(self) holds; fails after timeout seconds."""
        deadline = time.monotonic() + timeout
        while not predicate(self):
            if time.monotonic() > deadline:
                raise AssertionError(
                    f"timed out; stdout so far: {self.out!r}; stderr so far: {self.err!r}")
            self._pump(0.1)

    def stop(self, sig=signal.SIGINT, timeout=20.0):
        """Sends sig and returns the exit status, collecting the rest of the output."""
        self.proc.send_signal(sig)
        return self.wait_exit(timeout)

    def wait_exit(self, timeout=20.0):
        deadline = time.monotonic() + timeout
        while self.proc.poll() is None or self._out_fd is not None or self._err_fd is not None:
            if time.monotonic() > deadline:
                self.proc.kill()
                raise AssertionError(f"receiver did not end; stdout: {self.out!r}")
            self._pump(0.1)
            if self.proc.poll() is not None and self._out_fd is not None:
                # Output may stay open in a grandchild (wineserver); stop waiting shortly.
                self._pump(0.2)
                break
        self._stop_granting.set()
        return self.proc.wait()

    def kill(self):
        self._stop_granting.set()
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
