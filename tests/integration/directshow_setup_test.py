"""The setup's choice for the DirectShow camera under Wine: below Windows build 22000
it registers KorvexFilter.dll, the 64-bit one in the 64-bit registry view and the
32-bit one in the 32-bit view (WOW6432Node); from 22000 on it does not, because the
Media Foundation camera already reaches DirectShow programs there; /DIRECTSHOW=yes
and /DIRECTSHOW=no force either choice; the uninstaller removes both.

The build number is the one the setup reads, set in the prefix for the test and put
back afterwards.

Usage: directshow_setup_test.py [unittest args] -- LAUNCHER... korvex-setup.exe
"""

import shutil
import unittest

from installer_test import INSTALL_DIR, LAUNCHER, SETUP, reg_query, reg_value, run_uninstaller, \
    unix_path, wine

VERSION_KEY = r"HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion"
CATEGORY = r"HKLM\Software\Classes\CLSID\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\Instance"
INSTANCE = CATEGORY + r"\{DF38157C-C0F1-4D8F-9A5A-A171D4E6AA5C}"
SERVER = r"HKLM\Software\Classes\CLSID\{DF38157C-C0F1-4D8F-9A5A-A171D4E6AA5C}\InprocServer32"
FILTERS = {"/reg:64": INSTALL_DIR + r"\KorvexFilter.dll",
           "/reg:32": INSTALL_DIR + r"\x86\KorvexFilter.dll"}


class DirectShowSetup(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.build = reg_value(VERSION_KEY, "CurrentBuildNumber")
        if cls.build is None:
            raise AssertionError("the prefix has no CurrentBuildNumber")

    @classmethod
    def tearDownClass(cls):
        cls.set_build(cls.build)

    @staticmethod
    def set_build(number):
        added = wine("reg", "add", VERSION_KEY, "/v", "CurrentBuildNumber", "/d", str(number),
                     "/f", "/reg:64")
        if added.returncode != 0:
            raise AssertionError(f"setting the build number: {added.stderr}")

    def setUp(self):
        shutil.rmtree(unix_path(INSTALL_DIR), ignore_errors=True)
        self.addCleanup(self.uninstall)

    def uninstall(self):
        if unix_path(INSTALL_DIR + r"\Uninstall.exe").exists():
            run_uninstaller(INSTALL_DIR)

    def install(self, build, *switches):
        self.set_build(build)
        result = wine(SETUP, "/S", *switches)
        self.assertEqual(result.returncode, 0, result.stderr)
        for path in FILTERS.values():
            self.assertTrue(unix_path(path).read_bytes().startswith(b"MZ"), path)

    def assert_registered(self, registered):
        for view, path in FILTERS.items():
            with self.subTest(view=view):
                self.assertEqual(reg_query(INSTANCE, view=view)[0], registered)
                found, out = reg_query(SERVER, "/ve", view=view)
                self.assertEqual(found, registered, out)
                if registered:
                    self.assertIn(path.lower(), out.lower(), "the other bitness's DLL")

    def test_windows_10_gets_it_in_both_views_and_the_uninstaller_removes_it(self):
        self.install(19045)
        self.assert_registered(True)
        result = run_uninstaller(INSTALL_DIR)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assert_registered(False)
        self.assertFalse(unix_path(INSTALL_DIR).exists(), "install folder left behind")

    def test_windows_11_does_not_unless_told(self):
        self.install(22000)
        self.assert_registered(False)
        self.install(22631, "/DIRECTSHOW=yes")
        self.assert_registered(True)

    def test_told_not_to_it_also_undoes_an_earlier_registration(self):
        self.install(19045)
        self.assert_registered(True)
        self.install(19045, "/DIRECTSHOW=no")
        self.assert_registered(False)


if __name__ == "__main__":
    unittest.main(verbosity=2)
