"""The Windows installer under Wine: a silent install puts the receiver and the camera's
media source into Program Files and registers the source in the 64-bit registry; a silent
uninstall takes all of it away again, autostart included.

Usage: installer_test.py [unittest args] -- LAUNCHER... korvex-setup.exe
with KORVEX_MAKENSIS, KORVEX_INSTALLER_SCRIPT and KORVEX_VERSION in the environment
(makensis, the installer's script and the project version), used to check the version
and to make an installer whose source cannot register.
"""

import os
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

from receiver import launcher_from_argv

COMMAND = launcher_from_argv()
LAUNCHER, SETUP = COMMAND[:-1], COMMAND[-1]
MAKENSIS = os.environ.get("KORVEX_MAKENSIS", "")
SCRIPT = os.environ.get("KORVEX_INSTALLER_SCRIPT", "")
VERSION = os.environ.get("KORVEX_VERSION", "")

INSTALL_DIR = r"C:\Program Files\Korvex"
RECEIVER = INSTALL_DIR + r"\korvex-receiver.exe"
SOURCE_DLL = INSTALL_DIR + r"\KorvexSource.dll"
CLASS_KEY = r"HKLM\Software\Classes\CLSID\{F4467B1E-EB18-459B-87C2-42D42266FDEB}"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvex"
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
SHORTCUT = r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Korvex Receiver.lnk"


def wine(*args, timeout=120):
    """Runs a program under Wine; returns once it has ended.

    Output goes to files, not pipes: Wine's own background processes, started by
    whichever program is first after the Wine server starts, inherit its output
    and keep a pipe open until that server exits, seconds later."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        result = subprocess.run(LAUNCHER + list(args), stdin=subprocess.DEVNULL, stdout=out,
                                stderr=err, timeout=timeout)
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(result.args, result.returncode,
                                           out.read().decode(errors="replace"),
                                           err.read().decode(errors="replace"))


def unix_path(windows_path):
    """Where a path of the prefix's drive C lies on this machine."""
    drive_c = wine("winepath", "-u", "C:\\").stdout.strip()
    if not drive_c:
        raise RuntimeError("winepath found no drive C in the Wine prefix")
    relative = windows_path[len("C:\\"):].replace("\\", "/")
    return Path(drive_c) / relative


def reg_query(key, *args, view="/reg:64"):
    """(found, reg's output) for a key or value in one registry view."""
    result = wine("reg", "query", key, *args, view)
    return result.returncode == 0, result.stdout


def reg_value(key, name):
    """The data of a value, or None when the key or the value is missing."""
    args = ["/ve"] if name is None else ["/v", name]
    found, out = reg_query(key, *args)
    if not found:
        return None
    for line in out.splitlines():
        parts = line.strip().split(None, 2)
        if len(parts) == 3 and parts[1].startswith("REG_"):
            return parts[2]
    return None


def run_uninstaller(install_dir):
    """Runs the installed uninstaller silently and waits until it has finished.

    An NSIS uninstaller started from its folder copies itself elsewhere, starts the
    copy and exits at once. Doing that copy here and passing `_?=` (which must reach
    the uninstaller unquoted, hence cmd) makes it work in the foreground, and it can
    still delete the original Uninstall.exe and the folder."""
    with tempfile.TemporaryDirectory() as temp:
        copy = Path(temp) / "Uninstall.exe"
        shutil.copy(unix_path(install_dir + r"\Uninstall.exe"), copy)
        # Wine shows the Unix root as drive Z: (asking winepath came back empty under load).
        copy_windows = "Z:" + str(copy).replace("/", "\\")
        return wine("cmd", "/c", f"{copy_windows} /S _?={install_dir}")


class Installer(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        missing = [name for name, value in (("KORVEX_MAKENSIS", MAKENSIS),
                                            ("KORVEX_INSTALLER_SCRIPT", SCRIPT),
                                            ("KORVEX_VERSION", VERSION)) if not value]
        if missing:
            raise RuntimeError("not set: " + ", ".join(missing))
        if not Path(SETUP).is_file():
            raise RuntimeError(f"{SETUP} is missing: build the korvex-setup target")

    def setUp(self):
        # All tests share one prefix: clear what an interrupted earlier run may have left.
        shutil.rmtree(unix_path(INSTALL_DIR), ignore_errors=True)
        unix_path(SHORTCUT).unlink(missing_ok=True)
        for key in (CLASS_KEY, UNINSTALL_KEY):
            wine("reg", "delete", key, "/f", "/reg:64")
        wine("reg", "delete", RUN_KEY, "/v", "Korvex", "/f")
        self.assertFalse(unix_path(INSTALL_DIR).exists())
        self.assertFalse(reg_query(CLASS_KEY)[0])

    def assert_nothing_installed(self):
        self.assertFalse(unix_path(INSTALL_DIR).exists(), "install folder left behind")
        self.assertFalse(unix_path(SHORTCUT).exists(), "Start-menu shortcut left behind")
        self.assertFalse(reg_query(CLASS_KEY)[0], "class key left behind")
        self.assertFalse(reg_query(UNINSTALL_KEY)[0], "Add/Remove Programs entry left behind")

    def test_silent_install_then_silent_uninstall(self):
        # The second run installs over the first, as an update does.
        for _ in range(2):
            result = wine(SETUP, "/S")
            self.assertEqual(result.returncode, 0, result.stderr)

        for name in ("korvex-receiver.exe", "KorvexSource.dll", "Uninstall.exe"):
            self.assertTrue(unix_path(INSTALL_DIR + "\\" + name).is_file(), name)
        self.assertTrue(unix_path(SOURCE_DLL).read_bytes().startswith(b"MZ"))

        # The camera service is 64-bit and reads the 64-bit view only.
        self.assertEqual((reg_value(CLASS_KEY + r"\InprocServer32", None) or "").lower(),
                         SOURCE_DLL.lower())
        self.assertFalse(reg_query(CLASS_KEY, view="/reg:32")[0],
                         "the source was registered in the 32-bit view")

        link = unix_path(SHORTCUT).read_bytes()
        self.assertIn(RECEIVER.encode(), link, "shortcut does not start the receiver")

        self.assertEqual(reg_value(UNINSTALL_KEY, "DisplayName"), "Korvex Receiver")
        self.assertEqual(reg_value(UNINSTALL_KEY, "DisplayVersion"), VERSION)
        self.assertEqual(reg_value(UNINSTALL_KEY, "UninstallString"),
                         f'"{INSTALL_DIR}\\Uninstall.exe"')
        self.assertEqual(reg_value(UNINSTALL_KEY, "QuietUninstallString"),
                         f'"{INSTALL_DIR}\\Uninstall.exe" /S')

        # What `korvex-receiver --autostart on` leaves, beside another program's value.
        for name, data in (("Korvex", f'"{RECEIVER}" --background'), ("Other", "other.exe")):
            added = wine("reg", "add", RUN_KEY, "/v", name, "/d", data, "/f")
            self.assertEqual(added.returncode, 0, added.stderr)
        self.addCleanup(wine, "reg", "delete", RUN_KEY, "/v", "Other", "/f")

        result = run_uninstaller(INSTALL_DIR)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assert_nothing_installed()
        self.assertIsNone(reg_value(RUN_KEY, "Korvex"), "autostart value left behind")
        self.assertEqual(reg_value(RUN_KEY, "Other"), "other.exe")

    def test_source_that_does_not_register_fails_the_install_and_leaves_nothing(self):
        with tempfile.TemporaryDirectory() as temp:
            not_a_dll = Path(temp) / "KorvexSource.dll"
            not_a_dll.write_text("not a DLL\n")
            setup = Path(temp) / "korvex-setup.exe"
            made = subprocess.run(
                [MAKENSIS, "-V2", "-WX", f"-DVERSION={VERSION}", f"-DRECEIVER={SETUP}",
                 f"-DSOURCE_DLL={not_a_dll}", f"-DFILTER_DLL={not_a_dll}",
                 f"-DFILTER_DLL_X86={not_a_dll}", f"-DOUTFILE={setup}", SCRIPT],
                capture_output=True, text=True, timeout=120)
            self.assertEqual(made.returncode, 0, made.stdout + made.stderr)

            result = wine(str(setup), "/S")
        # 2: NSIS's status for an install the script aborted.
        self.assertEqual(result.returncode, 2, result.stderr)
        self.assert_nothing_installed()


if __name__ == "__main__":
    unittest.main(verbosity=2)
