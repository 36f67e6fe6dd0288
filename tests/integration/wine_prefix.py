"""Programs and the registry of the tests' Wine prefix, for the tests that set up a
Windows system there (the installer, the Korvex check)."""

import os
import subprocess
import tempfile
from pathlib import Path


class WinePrefix:
    def __init__(self, launcher):
        self.launcher = list(launcher)  # what runs a Windows program in the prefix

    def run(self, *args, timeout=120, env=None):
        """Runs a program under Wine; returns once it has ended.

        Output goes to files, not pipes: Wine's own background processes, started by
        whichever program is first after the Wine server starts, inherit its output
        and keep a pipe open until that server exits, seconds later."""
        full_env = dict(os.environ, **(env or {}))
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            result = subprocess.run(self.launcher + list(args), stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=err, timeout=timeout, env=full_env)
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(result.args, result.returncode,
                                               out.read().decode(errors="replace"),
                                               err.read().decode(errors="replace"))

    def unix_path(self, windows_path):
        """Where a path of the prefix's drive C lies on this machine."""
        drive_c = self.run("winepath", "-u", "C:\\").stdout.strip()
        if not drive_c:
            raise RuntimeError("winepath found no drive C in the Wine prefix")
        relative = windows_path[len("C:\\"):].replace("\\", "/")
        return Path(drive_c) / relative

    def reg_query(self, key, *args, view="/reg:64"):
        """(found, reg's output) for a key or value in one registry view."""
        result = self.run("reg", "query", key, *args, view)
        return result.returncode == 0, result.stdout

    def reg_value(self, key, name):
        """The data of a value, or None when the key or the value is missing."""
        args = ["/ve"] if name is None else ["/v", name]
        found, out = self.reg_query(key, *args)
        if not found:
            return None
        for line in out.splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) == 3 and parts[1].startswith("REG_"):
                return parts[2]
        return None

    def reg_add(self, key, name, data, view="/reg:64"):
        args = ["/ve"] if name is None else ["/v", name]
        added = self.run("reg", "add", key, *args, "/d", data, "/f", view)
        if added.returncode != 0:
            raise AssertionError(f"reg add {key} {name}: {added.stdout}{added.stderr}")

    def reg_delete(self, key, *args, view="/reg:64"):
        """Deletes a key (or with /v NAME a value); a missing one is no failure."""
        self.run("reg", "delete", key, *args, "/f", view)


def windows_path(unix_path):
    """A path of this machine as Wine shows it: the Unix root is drive Z:."""
    return "Z:" + str(unix_path).replace("/", "\\")
