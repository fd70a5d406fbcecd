#!/usr/bin/python3
"""wobzy-cli end to end with file names in any script: every name that exists converts and is
printed as it is named.

usage: cli_names_test.py WOBZY_CLI            native: names are bytes, UTF-8 or not
       cli_names_test.py --wine WOBZY_CLI_EXE  under Wine: names reach the program as UTF-16,
                                               wildcards are expanded by the program itself
The Wine run needs WINEPREFIX (scripts/wine-env) and a UTF-8 locale, in which Wine reads the
Unix names and arguments; under LC_ALL=ja_JP.UTF-8 the ANSI code page is 932.
"""
import os
import subprocess
import sys
import tempfile
import unittest

from PIL import Image

WINE = sys.argv[1] == "--wine"
if WINE:
    sys.argv.pop(1)
CLI = os.path.abspath(sys.argv.pop(1))

JAPANESE = "\u65e5\u672c\u8a9e.png"             # 日本語.png
ACCENTED = "\u00fcber caf\u00e9.png"            # über café.png
EMOJI = "\U0001f600 smile.png"                  # 😀 smile.png
MIXED = "\u5199\u771f \u00e9t\u00e9 \U0001f431.png"  # 写真 été 🐱.png


def make_picture(path, seed=1):
    image = Image.effect_mandelbrot((48, 32), (-2, -1, 1 + seed / 10, 1), 30).convert("RGB")
    image.save(path, "PNG")


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def run(*args, cwd=None):
    command = ["wine", CLI, *args] if WINE else [CLI, *args]
    return subprocess.run(command, capture_output=True, timeout=120, cwd=cwd)


def frames(gif):
    with Image.open(gif) as image:
        return image.n_frames


@unittest.skipUnless(WINE, "the Windows program under Wine")
class WindowsNames(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="wobzy-cli-names-")
        self.folder = self.dir.name

    def tearDown(self):
        self.dir.cleanup()

    def pictures(self, names, folder=None):
        paths = [os.path.join(folder or self.folder, name) for name in names]
        for seed, path in enumerate(paths):
            make_picture(path, seed)
        return paths

    def assert_converted(self, result, paths):
        """Each path converted, in this order, and printed as UTF-8 (the output is a pipe)."""
        self.assertEqual(result.returncode, 0, result.stderr.decode("utf-8", "replace"))
        lines = result.stdout.decode("utf-8").splitlines()
        self.assertEqual(len(lines), len(paths), lines)
        for line, path in zip(lines, paths):
            self.assertIn(windows_path(path) + "_wob.gif", line)
            self.assertEqual(frames(path + "_wob.gif"), 5)
        leftovers = [name for _, _, names in os.walk(self.folder) for name in names if ".tmp-" in name]
        self.assertEqual(leftovers, [])

    def test_names_in_any_script_and_a_path_over_260_characters(self):
        deep = os.path.join(self.folder, "\u9577\u3044" + "d" * 120, "e" * 130)
        os.makedirs(deep)
        paths = self.pictures([JAPANESE, ACCENTED, EMOJI, MIXED]) + self.pictures(["\u9577\u3044.png"], deep)
        self.assertGreater(len(windows_path(paths[-1])), 287)
        self.assert_converted(run(*map(windows_path, paths)), paths)

    def test_wildcards_expand_to_the_matching_files_sorted(self):
        paths = self.pictures(["b.png", "A.png", JAPANESE, EMOJI])
        self.pictures(["c.jpg"])
        os.mkdir(os.path.join(self.folder, "folder.png"))
        expected = [os.path.join(self.folder, name) for name in ("A.png", "b.png", JAPANESE, EMOJI)]
        self.assert_converted(run(windows_path(self.folder) + "\\*.png"), expected)
        self.assertCountEqual(paths, expected)

    def test_a_relative_pattern_names_the_files_as_they_were_given(self):
        self.pictures([JAPANESE, "x.jpg"])
        result = run("*.png", cwd=self.folder)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(JAPANESE + "_wob.gif", result.stdout.decode("utf-8"))
        self.assertNotIn("\\", result.stdout.decode("utf-8").split("_wob.gif")[0])  # no folder added
        self.assertFalse(os.path.exists(os.path.join(self.folder, "x.jpg_wob.gif")))

    def test_a_pattern_without_match_is_reported_as_missing_and_the_rest_goes_on(self):
        [picture] = self.pictures([ACCENTED])
        missing = windows_path(self.folder) + "\\\u306a\u3044*.png"  # ない*.png
        result = run(missing, windows_path(picture))
        self.assertEqual(result.returncode, 1)
        self.assertEqual(len(result.stderr.splitlines()), 1)
        self.assertIn(missing, result.stderr.decode("utf-8"))
        self.assertEqual(frames(picture + "_wob.gif"), 5)


@unittest.skipIf(WINE, "native: names are bytes")
class NativeNames(unittest.TestCase):
    def test_any_bytes_name_converts_and_is_printed_as_it_is(self):
        with tempfile.TemporaryDirectory(prefix="wobzy-cli-names-") as folder:
            names = [b"caf\xe9 latin-1.png", JAPANESE.encode(), b"\xff\xfe.png"]  # two are not UTF-8
            paths = [os.path.join(os.fsencode(folder), name) for name in names]
            for seed, path in enumerate(paths):
                make_picture(os.fsdecode(path), seed)
            result = run(*paths)
            self.assertEqual(result.returncode, 0, result.stderr)
            lines = result.stdout.split(b"\n")
            for line, path in zip(lines, paths):
                self.assertIn(path + b"_wob.gif", line)
                self.assertEqual(frames(os.fsdecode(path + b"_wob.gif")), 5)
            missing = os.path.join(os.fsencode(folder), b"\xe9t\xe9.png")
            result = run(missing)
            self.assertEqual(result.returncode, 1)
            self.assertIn(missing, result.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
