"""--autostart on|off with the real program: the per-user Run value through the real reg.exe
under Wine, the XDG autostart entry on Linux. The program runs from a copy in a long path
with spaces.

Usage: autostart_test.py [unittest args] -- [LAUNCHER...] korvex-receiver
"""

import os
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

from receiver import launcher_from_argv, under_wine

COMMAND = launcher_from_argv()
LAUNCHER, PROGRAM = COMMAND[:-1], COMMAND[-1]
WINDOWS = under_wine(COMMAND)
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
# Device names that quoting gets wrong: double quotes, spaces, trailing backslashes, and the
# characters a desktop entry reserves.
HARD_DEVICES = ['My "Cable" Input', 'Speakers \\', 'a\\"b', ' $HOME `id` 100% ~;|&<>*?#()\'']


def run(args, env=None, timeout=120):
    """(status, stdout, stderr). Output goes to files, not pipes: under Wine, background
    processes that the first program after the server starts inherit its output and keep
    a pipe open until that server exits, seconds later."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        status = subprocess.run(args, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                env=env, timeout=timeout).returncode
        out.seek(0)
        err.seek(0)
        return status, out.read().decode(), err.read().decode()


def unquote_exec(value):
    """The arguments of a desktop entry's Exec value as the Desktop Entry rules give them: the
    string escapes first, then the quoting, then %% as a literal %. Fails on anything our entry
    must not contain: an unquoted reserved character or a field code."""
    unescaped, i = "", 0
    while i < len(value):
        if value[i] == "\\":
            unescaped += {"s": " ", "n": "\n", "t": "\t", "r": "\r", "\\": "\\"}[value[i + 1]]
            i += 2
        else:
            unescaped += value[i]
            i += 1
    args, current, quoted, in_word, i = [], "", False, False, 0
    while i < len(unescaped):
        c = unescaped[i]
        if quoted:
            if c == "\\":
                assert unescaped[i + 1] in '"`$\\', f"bad escape in {value!r}"
                current += unescaped[i + 1]
                i += 1
            elif c == '"':
                quoted = False
            else:
                current += c
        elif c == " ":
            if in_word:
                args.append(current)
            current, in_word = "", False
        elif c == '"':
            quoted, in_word = True, True
        else:
            assert c not in "\t\n'\\><~|&;$*?#()`", f"unquoted {c!r} in {value!r}"
            current += c
            in_word = True
        i += 1
    assert not quoted, f"unterminated quote in {value!r}"
    if in_word:
        args.append(current)
    for arg in args:
        assert "%" not in arg.replace("%%", ""), f"field code in {value!r}"
    return [arg.replace("%%", "%") for arg in args]


class AutostartCase(unittest.TestCase):
    """A copy of the program to register, and what it registered."""

    def setUp(self):
        self.temp = Path(tempfile.mkdtemp(prefix="korvex autostart "))
        self.addCleanup(shutil.rmtree, self.temp)
        # Longer than Windows' MAX_PATH, so the program's own path is whole only when the
        # buffer it is read into grows.
        bin_dir = self.temp.joinpath(*[f"bin dir {i} " + "x" * 40 for i in range(7)])
        bin_dir.mkdir(parents=True)
        self.program = bin_dir / Path(PROGRAM).name
        shutil.copy(PROGRAM, self.program)
        self.env = dict(os.environ)
        self.config = self.temp / "config home"
        self.env["XDG_CONFIG_HOME"] = str(self.config)
        if WINDOWS:
            self.forget()
            self.addCleanup(self.forget)

    # What the running program calls itself: Wine shows the Unix root as drive Z:.
    def own_path(self):
        return "Z:" + str(self.program).replace("/", "\\") if WINDOWS else str(self.program)

    def autostart(self, *args):
        return run(LAUNCHER + [str(self.program), "--autostart", *args], env=self.env)

    def forget(self):
        run(LAUNCHER + ["reg", "delete", RUN_KEY, "/v", "Korvex", "/f"])

    def entry_path(self):
        return self.config / "autostart" / "korvex-receiver.desktop"

    def registered(self):
        """The command line as stored (Run value, or Exec value), None when there is none."""
        if WINDOWS:
            status, out, _ = run(LAUNCHER + ["reg", "query", RUN_KEY, "/v", "Korvex"])
            if status != 0:
                return None
            for line in out.splitlines():
                parts = line.strip().split(None, 2)
                if len(parts) == 3 and parts[0] == "Korvex":
                    self.assertEqual(parts[1], "REG_SZ")
                    return parts[2]
            self.fail(f"no Korvex value in {out!r}")
        if not self.entry_path().exists():
            return None
        text = self.entry_path().read_text()
        lines = text.split("\n")
        self.assertEqual(lines[0], "[Desktop Entry]")
        self.assertEqual(lines[-1], "")
        keys = dict(line.split("=", 1) for line in lines[1:-1])
        self.assertEqual(set(keys), {"Type", "Name", "Comment", "Exec", "Terminal"})
        self.assertEqual(keys["Type"], "Application")
        self.assertEqual(keys["Terminal"], "false")
        return keys["Exec"]

    def turn_on(self, *options):
        """Registers with `options`; returns the arguments after the program's path that the
        stored command line gives back."""
        status, out, err = self.autostart("on", *options)
        self.assertEqual((status, err), (0, ""), out)
        stored = self.registered()
        self.assertEqual(out, f"autostart on: {stored}\n")
        if WINDOWS:
            # Only the device is ever quoted; its quoting is checked against the system's
            # splitting by the platform tests.
            prefix = f'"{self.own_path()}" '
            self.assertTrue(stored.startswith(prefix), stored)
            return stored[len(prefix):]
        args = unquote_exec(stored)
        self.assertEqual(args[0], self.own_path())
        return " ".join(args[1:])


class Autostart(AutostartCase):
    def test_defaults_register_the_quoted_path_and_background(self):
        self.assertEqual(self.turn_on(), "--background")

    def test_options_that_differ_from_defaults_follow_in_order(self):
        self.assertEqual(self.turn_on("--no-vcam", "--gain", "2"), "--background --gain 2 --no-vcam")
        self.assertEqual(
            self.turn_on("--no-audio", "--prefill-ms", "0.25", "--no-mdns", "-g", "1.5",
                         "--no-vcam", "--background"),
            "--background --gain 1.5 --prefill-ms 0.25 --no-mdns --no-vcam --no-audio")
        self.assertEqual(self.turn_on("--gain", "1.0", "--prefill-ms", "40"), "--background")
        self.assertEqual(self.turn_on("--prefill-ms", "40.5", "--frames", "10", "--dump-frames",
                                      "D"), "--background --prefill-ms 40.5")
        self.assertEqual(self.turn_on("-d", "default"),
                         '--background --device "default"' if WINDOWS
                         else "--background --device default")

    def test_device_names_reach_the_registration_intact(self):
        for device in HARD_DEVICES:
            with self.subTest(device=device):
                stored = self.turn_on("--device", device)
                if WINDOWS:
                    # Double quotes escaped, and the backslashes before them and at the end
                    # doubled, as CommandLineToArgvW and the C runtime read them.
                    quoted = {'My "Cable" Input': r'"My \"Cable\" Input"',
                              'Speakers \\': '"Speakers \\\\"',
                              'a\\"b': r'"a\\\"b"'}.get(device, f'"{device}"')
                    self.assertEqual(stored, "--background --device " + quoted)
                else:
                    self.assertEqual(stored, "--background --device " + device)

    def test_on_twice_overwrites(self):
        self.turn_on("--gain", "2")
        self.assertEqual(self.turn_on("--no-mdns"), "--background --no-mdns")
        if not WINDOWS:
            # The entry is replaced whole; no temporary file stays beside it.
            self.assertEqual(os.listdir(self.config / "autostart"), ["korvex-receiver.desktop"])

    def test_off_removes_and_succeeds_when_nothing_is_registered(self):
        self.turn_on()
        for _ in range(2):
            self.assertEqual(self.autostart("off"), (0, "autostart off\n", ""))
            self.assertIsNone(self.registered())


class XdgLocations(AutostartCase):
    def test_config_home_unset_or_empty_means_dot_config(self):
        for value in (None, ""):
            with self.subTest(XDG_CONFIG_HOME=value):
                home = self.temp / "home dir"
                self.env["HOME"] = str(home)
                self.env.pop("XDG_CONFIG_HOME", None)
                if value is not None:
                    self.env["XDG_CONFIG_HOME"] = value
                status, out, err = self.autostart("on")
                self.assertEqual((status, err), (0, ""))
                entry = home / ".config" / "autostart" / "korvex-receiver.desktop"
                self.assertIn(f"\nExec={out[len('autostart on: '):]}", entry.read_text())
                self.assertEqual(self.autostart("off"), (0, "autostart off\n", ""))
                self.assertFalse(entry.exists())

    def test_failures_name_the_path_and_the_system_error(self):
        self.config.write_text("a file where the configuration directory should be")
        status, out, err = self.autostart("on")
        self.assertEqual((status, out), (1, ""))
        self.assertEqual(err, f"autostart: {self.config}/autostart: Not a directory (os error 20)\n")

        self.config.unlink()
        self.entry_path().mkdir(parents=True)
        (self.entry_path() / "keep").write_text("")
        status, out, err = self.autostart("off")
        self.assertEqual((status, out), (1, ""))
        self.assertEqual(err, f"autostart: {self.entry_path()}: Is a directory (os error 21)\n")

        for key in ("HOME", "XDG_CONFIG_HOME"):
            self.env.pop(key, None)
        self.assertEqual(self.autostart("on"), (1, "", "autostart: ~/.config/autostart/"
                                                       "korvex-receiver.desktop: HOME is not set\n"))


if WINDOWS:
    del XdgLocations  # Linux's alone


if __name__ == "__main__":
    unittest.main()
