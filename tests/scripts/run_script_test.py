#!/usr/bin/python3
"""scripts/run as a newcomer meets it: without a display it explains itself and ends, with a
DISPLAY that has no server behind it it fails with a message, and with files it is the
command line. Every case runs under a time limit, so a run that blocks fails."""
import os
import subprocess
import sys
import unittest

RUN = sys.argv.pop(1)


def run_script(*args, display):
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    if display is not None:
        env["DISPLAY"] = display
    return subprocess.run([RUN, *args], env=env, capture_output=True, text=True, timeout=60)


def unused_display():
    n = 977
    while os.path.exists("/tmp/.X11-unix/X%d" % n) or os.path.exists("/tmp/.X%d-lock" % n):
        n += 1
    return ":%d" % n


class RunScript(unittest.TestCase):
    def test_without_a_display_it_points_to_the_command_line_and_ends(self):
        result = run_script(display=None)
        self.assertEqual(result.returncode, 2)
        self.assertIn("no X display", result.stderr)
        self.assertIn("scripts/run [--shake N] [--limit N] FILE...", result.stderr)
        self.assertIn("--virtual", result.stderr)

    def test_a_display_without_a_server_is_an_error(self):
        display = unused_display()
        result = run_script(display=display)
        self.assertEqual(result.returncode, 1)
        self.assertIn("DISPLAY=%s names no running X server" % display, result.stderr)

    def test_with_arguments_it_is_the_command_line(self):
        result = run_script("--version", display=None)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(result.stdout.startswith("wobzy-cli "))


if __name__ == "__main__":
    unittest.main(verbosity=2)
