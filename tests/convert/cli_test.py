#!/usr/bin/python3
"""wobzy-cli end to end: real pictures in, GIFs read back by Pillow, exit codes and messages."""
import os
import subprocess
import sys
import tempfile
import unittest

from PIL import Image, ImageSequence

CLI = sys.argv.pop(1)


def run(*args):
    return subprocess.run([CLI, *args], capture_output=True, text=True, timeout=120)


class CommandLine(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.photo = os.path.join(self.dir.name, "a photo.png")
        # A smooth picture with detail: more than 256 colours, so the encoder has to work.
        img = Image.new("RGB", (320, 200))
        img.putdata([(x * 255 // 319, y * 255 // 199, (x * y) % 256) for y in range(200) for x in range(320)])
        img.save(self.photo)

    def tearDown(self):
        self.dir.cleanup()

    def frames(self, path):
        with Image.open(path) as gif:
            self.assertEqual(gif.info.get("loop"), 0)
            return [(f.info.get("duration"), f.convert("RGB").copy()) for f in ImageSequence.Iterator(gif)]

    def test_converts_with_limit_and_writes_exact_frames(self):
        frames_dir = os.path.join(self.dir.name, "frames")
        os.mkdir(frames_dir)
        result = run("--limit", "100", "--frames", frames_dir, self.photo)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(self.photo + "_wob.gif", result.stdout)
        frames = self.frames(self.photo + "_wob.gif")
        self.assertEqual(len(frames), 5)
        for n, (duration, frame) in enumerate(frames, 1):
            self.assertEqual(duration, 60)
            self.assertEqual(frame.size, (100, 63))  # 200 * 100 / 320 = 62.5, rounded
            with Image.open(os.path.join(frames_dir, "a photo.png_frame%d.png" % n)) as exact:
                self.assertEqual(exact.size, (100, 63))

    def test_same_inputs_give_the_same_gif(self):
        other = os.path.join(self.dir.name, "copy.png")
        with open(self.photo, "rb") as src, open(other, "wb") as dst:
            dst.write(src.read())
        self.assertEqual(run(self.photo).returncode, 0)
        self.assertEqual(run(other).returncode, 0)
        with open(self.photo + "_wob.gif", "rb") as a, open(other + "_wob.gif", "rb") as b:
            self.assertEqual(a.read(), b.read())

    def test_failures_are_reported_and_the_next_file_follows(self):
        missing = os.path.join(self.dir.name, "missing.jpg")
        result = run(missing, self.photo)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.count("\n"), 1)
        self.assertIn(missing, result.stderr)
        self.assertIn("code 0", result.stderr)
        self.assertTrue(os.path.exists(self.photo + "_wob.gif"))
        self.assertFalse(os.path.exists(missing + "_wob.gif"))

    def test_usage_errors_exit_2(self):
        for args in ([], ["--shake"], ["--shake", "12x", self.photo], ["--shake", "2147483648", self.photo],
                     ["--limit", "", self.photo], ["--bogus", self.photo]):
            result = run(*args)
            self.assertEqual(result.returncode, 2, args)
            self.assertIn("usage:", result.stderr)
        self.assertEqual(run("--help").returncode, 0)
        self.assertEqual(run("--shake=-2147483648", self.photo).returncode, 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
