"""The Windows installer under Wine: a silent install puts the receiver and the camera's
media source into Program Files, registers the source in the 64-bit registry and adds the
receiver's firewall rule; a silent uninstall takes all of it away again, autostart included.
An upgrade while the camera service has the source loaded moves the loaded file aside and
asks for a restart.

Usage: installer_test.py [unittest args] -- LAUNCHER... korvex-setup.exe
with KORVEX_MAKENSIS, KORVEX_INSTALLER_SCRIPT and KORVEX_VERSION in the environment
(makensis, the installer's script and the project version), used to check the version
and to make an installer whose source cannot register; KORVEX_RECEIVER and
KORVEX_SOURCE_DLL, the built program and DLL; and KORVEX_NETSH_STANDIN and
KORVEX_HOLD_LOADED, the test's own programs: one stands in for netsh.exe, which Wine has
only as a stub that does nothing, and records how it was called (an installer made with
-DNETSH runs it); the other keeps a DLL loaded.
"""

import os
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

from receiver import launcher_from_argv
from wine_prefix import WinePrefix, windows_path

COMMAND = launcher_from_argv()
LAUNCHER, SETUP = COMMAND[:-1], COMMAND[-1]
MAKENSIS = os.environ.get("KORVEX_MAKENSIS", "")
SCRIPT = os.environ.get("KORVEX_INSTALLER_SCRIPT", "")
VERSION = os.environ.get("KORVEX_VERSION", "")
BUILT_RECEIVER = os.environ.get("KORVEX_RECEIVER", "")
BUILT_DOCTOR = os.environ.get("KORVEX_DOCTOR", "")
BUILT_SOURCE_DLL = os.environ.get("KORVEX_SOURCE_DLL", "")
NETSH_STANDIN = os.environ.get("KORVEX_NETSH_STANDIN", "")
HOLD_LOADED = os.environ.get("KORVEX_HOLD_LOADED", "")

INSTALL_DIR = r"C:\Program Files\Korvex"
RECEIVER = INSTALL_DIR + r"\korvex-receiver.exe"
DOCTOR = INSTALL_DIR + r"\korvex-doctor.exe"
SOURCE_DLL = INSTALL_DIR + r"\KorvexSource.dll"
CLASS_KEY = r"HKLM\Software\Classes\CLSID\{F4467B1E-EB18-459B-87C2-42D42266FDEB}"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvex"
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
SHORTCUT = r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Korvex Receiver.lnk"
CHECK_SHORTCUT = r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Korvex check.lnk"
SESSION_MANAGER = r"HKLM\System\CurrentControlSet\Control\Session Manager"

# What setup and the uninstaller ask of netsh, word for word.
DELETE_RULE = 'advfirewall firewall delete rule name="Korvex Receiver"'
ADD_RULE = ('advfirewall firewall add rule name="Korvex Receiver" dir=in action=allow '
            f'program="{RECEIVER}" protocol=TCP localport=45334 profile=private,domain '
            'remoteip=LocalSubnet enable=yes')
REBOOT_REQUIRED = 3010  # ERROR_SUCCESS_REBOOT_REQUIRED
# Wine ends a program as a Unix process, whose exit status keeps 8 bits.
REBOOT_REQUIRED_UNDER_WINE = REBOOT_REQUIRED & 0xFF


PREFIX = WinePrefix(LAUNCHER)
wine = PREFIX.run
unix_path = PREFIX.unix_path
reg_query = PREFIX.reg_query
reg_value = PREFIX.reg_value


def run_uninstaller(install_dir):
    """Runs the installed uninstaller silently and waits until it has finished.

    An NSIS uninstaller started from its folder copies itself elsewhere, starts the
    copy and exits at once. Doing that copy here and passing `_?=` (which must reach
    the uninstaller unquoted, hence cmd) makes it work in the foreground, and it can
    still delete the original Uninstall.exe and the folder."""
    with tempfile.TemporaryDirectory() as temp:
        copy = Path(temp) / "Uninstall.exe"
        shutil.copy(unix_path(install_dir + r"\Uninstall.exe"), copy)
        # Not winepath: asking it came back empty under load.
        copy_windows = windows_path(copy)
        return wine("cmd", "/c", f"{copy_windows} /S _?={install_dir}")


def windows_path(path):
    """A path of this machine as Wine's programs see it (the Unix root is drive Z:)."""
    return "Z:" + str(path).replace("/", "\\")


def make_installer(outfile, *defines):
    """An installer made from the script with the given -D defines (and the built
    DirectShow camera, which these tests leave as it is)."""
    filters = [f"-DFILTER_DLL={os.environ.get('KORVEX_FILTER_DLL', '')}",
               f"-DFILTER_DLL_X86={os.environ.get('KORVEX_FILTER_DLL_X86', '')}"]
    made = subprocess.run([MAKENSIS, "-V2", "-WX", f"-DVERSION={VERSION}", *filters,
                           f"-DDOCTOR={BUILT_DOCTOR}", *defines, f"-DOUTFILE={outfile}", SCRIPT],
                          capture_output=True, text=True, timeout=120)
    if made.returncode != 0:
        raise RuntimeError("makensis failed: " + made.stdout + made.stderr)
    return outfile


class Installer(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        missing = [name for name, value in (("KORVEX_MAKENSIS", MAKENSIS),
                                            ("KORVEX_INSTALLER_SCRIPT", SCRIPT),
                                            ("KORVEX_VERSION", VERSION),
                                            ("KORVEX_RECEIVER", BUILT_RECEIVER),
                                            ("KORVEX_DOCTOR", BUILT_DOCTOR),
                                            ("KORVEX_SOURCE_DLL", BUILT_SOURCE_DLL),
                                            ("KORVEX_NETSH_STANDIN", NETSH_STANDIN),
                                            ("KORVEX_HOLD_LOADED", HOLD_LOADED)) if not value]
        if missing:
            raise RuntimeError("not set: " + ", ".join(missing))
        for program in (SETUP, BUILT_RECEIVER, BUILT_DOCTOR, BUILT_SOURCE_DLL, NETSH_STANDIN,
                        HOLD_LOADED):
            if not Path(program).is_file():
                raise RuntimeError(f"{program} is missing: build it first")
        cls.temp = tempfile.mkdtemp()
        # The product's installer, but with the stand-in for netsh.
        cls.setup_with_standin = make_installer(
            str(Path(cls.temp) / "korvex-setup.exe"), f"-DRECEIVER={BUILT_RECEIVER}",
            f"-DSOURCE_DLL={BUILT_SOURCE_DLL}", f"-DNETSH={windows_path(NETSH_STANDIN)}")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.temp, ignore_errors=True)

    def setUp(self):
        # All tests share one prefix: clear what an interrupted earlier run may have left.
        shutil.rmtree(unix_path(INSTALL_DIR), ignore_errors=True)
        unix_path(SHORTCUT).unlink(missing_ok=True)
        unix_path(CHECK_SHORTCUT).unlink(missing_ok=True)
        for key in (CLASS_KEY, UNINSTALL_KEY):
            wine("reg", "delete", key, "/f", "/reg:64")
        wine("reg", "delete", RUN_KEY, "/v", "Korvex", "/f")
        wine("reg", "delete", SESSION_MANAGER, "/v", "PendingFileRenameOperations", "/f")
        self.assertFalse(unix_path(INSTALL_DIR).exists())
        self.assertFalse(reg_query(CLASS_KEY)[0])

        self.netsh_log = Path(tempfile.mkdtemp()) / "netsh.log"
        self.addCleanup(shutil.rmtree, self.netsh_log.parent, ignore_errors=True)
        os.environ["KORVEX_NETSH_LOG"] = windows_path(self.netsh_log)
        os.environ.pop("KORVEX_NETSH_STATUS", None)
        self.addCleanup(os.environ.pop, "KORVEX_NETSH_STATUS", None)

    def netsh_calls(self):
        if not self.netsh_log.exists():
            return []
        return self.netsh_log.read_text(encoding="utf-8").splitlines()

    def assert_nothing_installed(self):
        self.assertFalse(unix_path(INSTALL_DIR).exists(), "install folder left behind")
        self.assertFalse(unix_path(SHORTCUT).exists(), "Start-menu shortcut left behind")
        self.assertFalse(unix_path(CHECK_SHORTCUT).exists(), "Korvex check shortcut left behind")
        self.assertFalse(reg_query(CLASS_KEY)[0], "class key left behind")
        self.assertFalse(reg_query(UNINSTALL_KEY)[0], "Add/Remove Programs entry left behind")

    def test_silent_install_then_silent_uninstall(self):
        # The second run installs over the first, as an update does.
        for _ in range(2):
            result = wine(self.setup_with_standin, "/S")
            self.assertEqual(result.returncode, 0, result.stderr)

        for name in ("korvex-receiver.exe", "korvex-doctor.exe", "KorvexSource.dll",
                     "Uninstall.exe"):
            self.assertTrue(unix_path(INSTALL_DIR + "\\" + name).is_file(), name)
        self.assertTrue(unix_path(SOURCE_DLL).read_bytes().startswith(b"MZ"))

        # The camera service is 64-bit and reads the 64-bit view only.
        self.assertEqual((reg_value(CLASS_KEY + r"\InprocServer32", None) or "").lower(),
                         SOURCE_DLL.lower())
        self.assertFalse(reg_query(CLASS_KEY, view="/reg:32")[0],
                         "the source was registered in the 32-bit view")

        # An upgrade replaces the rule rather than adding a second one.
        self.assertEqual(self.netsh_calls(), [DELETE_RULE, ADD_RULE] * 2)

        link = unix_path(SHORTCUT).read_bytes()
        self.assertIn(RECEIVER.encode(), link, "shortcut does not start the receiver")
        check = unix_path(CHECK_SHORTCUT).read_bytes()
        self.assertIn(DOCTOR.encode(), check, "\"Korvex check\" does not start korvex-doctor")

        # The installed check runs beside the installed receiver and finds the camera's
        # source where the installer registered it.
        checked = wine(DOCTOR)
        source_line = next((line for line in checked.stdout.splitlines()
                            if " camera source: " in line), checked.stdout + checked.stderr)
        self.assertTrue(source_line.lower().startswith(
            ("ok       camera source: " + SOURCE_DLL + " loads and offers ").lower()), source_line)

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
        self.assertEqual(self.netsh_calls()[4:], [DELETE_RULE], "the rule stays after uninstall")

    def test_a_firewall_rule_that_cannot_be_added_does_not_fail_the_install(self):
        os.environ["KORVEX_NETSH_STATUS"] = "1"
        result = wine(self.setup_with_standin, "/S")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.netsh_calls(), [DELETE_RULE, ADD_RULE])
        self.assertEqual((reg_value(CLASS_KEY + r"\InprocServer32", None) or "").lower(),
                         SOURCE_DLL.lower(), "the camera is installed all the same")
        result = run_uninstaller(INSTALL_DIR)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assert_nothing_installed()

    def test_upgrade_while_the_camera_service_has_the_source_loaded(self):
        result = wine(SETUP, "/S")
        self.assertEqual(result.returncode, 0, result.stderr)
        installed = unix_path(INSTALL_DIR)
        before = sorted(p.name for p in installed.iterdir())

        holder = subprocess.Popen(LAUNCHER + [HOLD_LOADED, SOURCE_DLL], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        try:
            self.assertEqual(holder.stdout.readline().strip(), b"loaded")
            # What the camera service's hold means: the file cannot simply be replaced.
            deleted = wine("cmd", "/c", "del", SOURCE_DLL)
            self.assertTrue(unix_path(SOURCE_DLL).exists(),
                            "Wine let a loaded DLL be deleted: " + deleted.stdout + deleted.stderr)

            result = wine(SETUP, "/S")
            self.assertEqual(result.returncode, REBOOT_REQUIRED_UNDER_WINE, result.stderr)
        finally:
            holder.stdin.close()
            holder.wait(timeout=60)

        # The loaded copy was moved aside under a free name and goes at the next restart.
        after = sorted(p.name for p in installed.iterdir())
        moved = [name for name in after if name not in before]
        self.assertEqual(len(moved), 1, after)
        self.assertEqual((installed / moved[0]).read_bytes(),
                         (installed / "KorvexSource.dll").read_bytes())
        found, pending = reg_query(SESSION_MANAGER, "/v", "PendingFileRenameOperations")
        self.assertTrue(found, "no deletion scheduled for the restart")
        self.assertIn(moved[0].lower(), pending.lower())
        # The new source is the registered one.
        self.assertEqual((reg_value(CLASS_KEY + r"\InprocServer32", None) or "").lower(),
                         SOURCE_DLL.lower())

        result = run_uninstaller(INSTALL_DIR)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertFalse(reg_query(CLASS_KEY)[0], "class key left behind")
        self.assertFalse(unix_path(SOURCE_DLL).exists())

    def test_source_that_does_not_register_fails_the_install_and_leaves_nothing(self):
        with tempfile.TemporaryDirectory() as temp:
            not_a_dll = Path(temp) / "KorvexSource.dll"
            not_a_dll.write_text("not a DLL\n")
            setup = make_installer(str(Path(temp) / "korvex-setup.exe"),
                                   f"-DRECEIVER={BUILT_RECEIVER}", f"-DSOURCE_DLL={not_a_dll}",
                                   f"-DNETSH={windows_path(NETSH_STANDIN)}")
            result = wine(setup, "/S")
        # 2: NSIS's status for an install the script aborted.
        self.assertEqual(result.returncode, 2, result.stderr)
        self.assert_nothing_installed()
        self.assertEqual(self.netsh_calls(), [], "no rule for an install that failed")


if __name__ == "__main__":
    unittest.main(verbosity=2)
