"""--list-cameras and --probe-camera on a system without cameras: Wine's Media Foundation
enumerates none, and on Linux the test hides any /dev/video* nodes the machine has."""

import glob
import os
import subprocess
import sys
import tempfile
import unittest

from receiver import launcher_from_argv, under_wine

COMMAND = launcher_from_argv()
WINE = under_wine(COMMAND)


def hide_video_devices():
    """Runs this script again in a mount namespace whose /dev holds no video nodes."""
    if WINE or not glob.glob("/dev/video*") or os.environ.get("KORVEX_NO_VIDEO"):
        return
    hide = "mount -t tmpfs tmpfs /dev && ln -s /proc/self/fd /dev/fd && touch /dev/null"
    argv = ["unshare", "--mount", "--propagation", "private", "sh", "-c",
            hide + ' && exec "$@"', "sh", sys.executable] + sys.argv + ["--"] + COMMAND
    os.execvpe(argv[0], argv, dict(os.environ, KORVEX_NO_VIDEO="1"))


def last_line(text):
    """Wine may print lines of its own first; the program's is the last."""
    return text.splitlines(keepends=True)[-1] if text else ""


class NoCamera(unittest.TestCase):
    def run_mode(self, *args):
        return subprocess.run(COMMAND + list(args), capture_output=True, text=True, timeout=60)

    def test_listing_shows_none(self):
        result = self.run_mode("--list-cameras")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, "0 camera(s):\n")

    def test_probe_finds_none_by_any_name(self):
        with tempfile.TemporaryDirectory() as parent:
            dumps = os.path.join(parent, "dumps")
            for args in (["--probe-camera", "USB Cam"],
                         ["--probe-camera", "", "--frames", "1", "--dump-frames", dumps]):
                with self.subTest(args=args):
                    result = self.run_mode(*args)
                    self.assertEqual(result.returncode, 1)
                    self.assertEqual(result.stdout, "")
                    self.assertEqual(last_line(result.stderr),
                                     f'probe: no camera named "{args[1]}"; found: \n')
            self.assertFalse(os.path.exists(dumps))


if __name__ == "__main__":
    hide_video_devices()
    unittest.main()
