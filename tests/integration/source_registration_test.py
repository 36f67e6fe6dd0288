"""regsvr32 registers the camera's media source class (KorvexSource.dll) in the
64-bit registry under HKLM and removes it again, as the installer will run it.

usage: source_registration_test.py -- launcher... KorvexSource.dll
"""

import re
import subprocess
import tempfile
import unittest

from receiver import launcher_from_argv

COMMAND = launcher_from_argv()
LAUNCHER, DLL = COMMAND[:-1], COMMAND[-1]
# Wine shows the Unix file system as drive Z:.
WINDOWS_DLL = "Z:" + DLL.replace("/", "\\")
CLASS_KEY = r"HKLM\Software\Classes\CLSID\{F4467B1E-EB18-459B-87C2-42D42266FDEB}"
# The view named, so that the answer does not hang on reg.exe's own bitness.


def run(*args):
    """Runs a Windows program to its end. Its output goes through files: a Wine
    process it leaves behind would hold a pipe open and keep us waiting."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        status = subprocess.run(LAUNCHER + list(args), stdout=out, stderr=err,
                                timeout=60).returncode
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(args, status, out.read().decode(errors="replace"),
                                           err.read().decode(errors="replace"))


def values(query_output):
    """The value lines of `reg query` output: {name: (type, data)}."""
    found = {}
    for line in query_output.splitlines():
        match = re.match(r"^\s+(\S.*?)\s+(REG_\w+)\s+(.*)$", line)
        if match:
            found[match.group(1)] = (match.group(2), match.group(3).strip())
    return found


class Registration(unittest.TestCase):
    def setUp(self):
        run("regsvr32", "/u", "/s", WINDOWS_DLL)  # left over from an interrupted run

    def test_registers_the_class_and_removes_it(self):
        registered = run("regsvr32", "/s", WINDOWS_DLL)
        self.assertEqual(registered.returncode, 0, registered.stderr)

        server = run("reg", "query", CLASS_KEY + r"\InprocServer32", "/reg:64")
        self.assertEqual(server.returncode, 0, server.stderr)
        server_values = values(server.stdout)
        self.assertEqual(server_values.get("(Default)", ("", ""))[0], "REG_SZ", server.stdout)
        self.assertEqual(server_values["(Default)"][1].lower(), WINDOWS_DLL.lower())
        self.assertEqual(server_values.get("ThreadingModel"), ("REG_SZ", "Both"), server.stdout)

        named = run("reg", "query", CLASS_KEY, "/ve", "/reg:64")
        self.assertEqual(named.returncode, 0, named.stderr)
        self.assertEqual(values(named.stdout).get("(Default)"), ("REG_SZ", "Korvex Camera Source"),
                         named.stdout)

        unregistered = run("regsvr32", "/u", "/s", WINDOWS_DLL)
        self.assertEqual(unregistered.returncode, 0, unregistered.stderr)
        self.assertNotEqual(run("reg", "query", CLASS_KEY + r"\InprocServer32", "/reg:64").returncode, 0)
        self.assertNotEqual(run("reg", "query", CLASS_KEY, "/reg:64").returncode, 0)

        # Removing what is not there is no failure.
        again = run("regsvr32", "/u", "/s", WINDOWS_DLL)
        self.assertEqual(again.returncode, 0, again.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
