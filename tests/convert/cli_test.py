#!/usr/bin/python3
"""wobzy-cli end to end: real pictures in, GIFs read back by Pillow, and a table of cases for the
options and messages: each gives the exit status, the key words of the message and the files
written."""
import os
import pty
import resource
import signal
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

from PIL import Image, ImageSequence

CLI = sys.argv.pop(1)
READ_GIF = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support", "read_gif.py")


def run(*args, cwd=None, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, preexec_fn=None):
    return subprocess.run([CLI, *args], cwd=cwd, stdin=stdin, stdout=stdout, stderr=subprocess.PIPE,
                          timeout=120, preexec_fn=preexec_fn)


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png_claiming(width, height):
    """A PNG whose header claims width x height over a few bytes of pixel data."""
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) + png_chunk(b"IDAT", zlib.compress(b"\0" * 64))
            + png_chunk(b"IEND", b""))


class CommandLine(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.root = self.dir.name
        self.photo = self.path("a photo.png")
        # A smooth picture with detail: more than 256 colours, so the encoder has to work.
        img = Image.new("RGB", (320, 200))
        img.putdata([(x * 255 // 319, y * 255 // 199, (x * y) % 256) for y in range(200) for x in range(320)])
        img.save(self.photo)
        self.other = self.path("other.png")
        img.resize((64, 40)).save(self.other)

    def tearDown(self):
        self.dir.cleanup()

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def frames(self, path):
        with Image.open(path) as gif:
            self.assertEqual(gif.info.get("loop"), 0)
            return [(f.info.get("duration"), f.convert("RGB").copy()) for f in ImageSequence.Iterator(gif)]

    def test_converts_with_limit_and_writes_exact_frames(self):
        frames_dir = self.path("frames", "made", "here")  # made by the command line
        result = run("--limit", "100", "--frames", frames_dir, self.photo)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn((self.photo + "_wob.gif").encode(), result.stdout)
        frames = self.frames(self.photo + "_wob.gif")
        self.assertEqual(len(frames), 5)
        for n, (duration, frame) in enumerate(frames, 1):
            self.assertEqual(duration, 60)
            self.assertEqual(frame.size, (100, 63))  # 200 * 100 / 320 = 62.5, rounded
            with Image.open(os.path.join(frames_dir, "a photo.png_frame%d.png" % n)) as exact:
                self.assertEqual(exact.size, (100, 63))

    def test_same_inputs_give_the_same_gif(self):
        copy = self.write("copy.png", open(self.photo, "rb").read())
        self.assertEqual(run(self.photo).returncode, 0)
        self.assertEqual(run(copy).returncode, 0)
        with open(self.photo + "_wob.gif", "rb") as a, open(copy + "_wob.gif", "rb") as b:
            self.assertEqual(a.read(), b.read())

    def test_options_and_messages(self):
        os.mkdir(self.path("folder"))
        self.write("note.png", b"just some text, not a picture\n")
        self.write("cut.png", open(self.photo, "rb").read()[:2000])
        self.write("huge.png", png_claiming(30000, 30000))
        self.write("mid.png", png_claiming(3000, 3000))  # within the default budget: its data is what fails
        self.write("old.png_wob.gif", b"GIF89a")
        self.write("plain file", b"x")
        photo, other = self.photo, self.other
        # args, exit status, words on stdout, words on stderr, files that must exist, files that must not
        cases = [
            (["--version"], 0, ["wobzy-cli 1.0.0.1"], [], [], []),
            (["-V"], 0, ["wobzy-cli"], [], [], []),
            (["--help"], 0, ["--output-dir", "0 to 1000", "1 to 65535", "-q"], [], [], []),
            (["--bogus", photo], 2, [], ["unknown option '--bogus'"], [], [photo + "_wob.gif"]),
            (["-x", photo], 2, [], ["unknown option '-x'"], [], []),
            (["--limit", "0", photo], 2, [], ["--limit", "'0'", "1 to 65535"], [], [photo + "_wob.gif"]),
            (["--limit", "-5", photo], 2, [], ["--limit", "'-5'"], [], [photo + "_wob.gif"]),
            (["--limit=70000", photo], 2, [], ["'70000'"], [], []),
            (["--shake", "12x", photo], 2, [], ["--shake", "'12x'", "0 to 1000"], [], []),
            (["--shake", "-1", photo], 2, [], ["--shake", "'-1'"], [], []),
            (["--shake"], 2, [], ["'--shake' needs a value"], [], []),
            (["--max-memory", "8", photo], 2, [], ["--max-memory", "'8'", "16 to 1048576"], [], []),
            (["--time-limit", "0", photo], 2, [], ["--time-limit", "'0'", "1 to 3600"], [], []),
            (["--max-memory", "16", self.path("mid.png")], 1, [], ["code 0: too large: 3000 \u00d7 3000 needs", " MB"],
             [], [self.path("mid.png_wob.gif")]),
            (["--max-memory=4096", self.path("mid.png")], 1, [], ["code 0: damaged or cut short"], [], []),
            (["-o"], 2, [], ["'-o' needs a value"], [], []),
            ([], 2, [], ["no file given"], [], []),
            (["-o", "x.gif", photo, other], 2, [], ["-o", "--output-dir"], [], [self.path("x.gif")]),
            (["-o", "x.gif", "--output-dir", "d", photo], 2, [], ["exclude"], [], []),
            (["--shake=0", "--limit=50", photo], 0, ["a photo.png -> "], [], [photo + "_wob.gif"], []),
            (["-o", self.path("out", "..", "named.gif"), photo], 1, [], ["code 7: no such folder"], [],
             [photo + "_wob.gif"]),
            (["-o", self.path("named.gif"), photo], 0, ["named.gif"], [], [self.path("named.gif")],
             [photo + "_wob.gif"]),
            (["--output-dir", self.path("new", "dir"), photo, other], 0, ["new/dir/other.png_wob.gif"], [],
             [self.path("new", "dir", "a photo.png_wob.gif"), self.path("new", "dir", "other.png_wob.gif")],
             [photo + "_wob.gif"]),
            (["--output-dir", self.path("plain file", "sub"), photo], 1, [], ["cannot make the folder"], [], []),
            (["--frames", self.path("f", "g"), other], 0, [], [], [self.path("f", "g", "other.png_frame5.png")], []),
            ([self.path("missing.jpg"), other], 1, ["other.png -> "], ["missing.jpg", "code 0: no such file"],
             [other + "_wob.gif"], [self.path("missing.jpg_wob.gif")]),
            ([self.path("folder")], 1, [], ["code 0: is a folder"], [], [self.path("folder_wob.gif")]),
            ([self.path("note.png")], 1, [], ["code 0: not a picture the loader recognises"], [], []),
            ([self.path("cut.png")], 1, [], ["code 0: damaged or cut short"], [], [self.path("cut.png_wob.gif")]),
            ([self.path("huge.png")], 1, [], ["code 0: too large: 30000 \u00d7 30000 needs", " MB"], [],
             [self.path("huge.png_wob.gif")]),
            ([self.path("old.png_wob.gif"), other], 0, ["old.png_wob.gif: skipped", "other.png -> "], [], [],
             [self.path("old.png_wob.gif_wob.gif")]),
            (["-q", self.path("old.png_wob.gif"), self.path("missing.jpg"), other], 1, [], ["code 0: no such file"],
             [other + "_wob.gif"], []),
        ]
        for args, status, out_words, err_words, written, absent in cases:
            with self.subTest(args=args):
                for f in written + [photo + "_wob.gif", other + "_wob.gif"]:
                    if os.path.exists(f):
                        os.remove(f)
                result = run(*args, cwd=self.root)
                out, err = result.stdout.decode(), result.stderr.decode()
                self.assertEqual(result.returncode, status, err)
                for word in out_words:
                    self.assertIn(word, out)
                for word in err_words:
                    self.assertIn(word, err)
                if "-q" in args:
                    self.assertEqual(out, "")
                if status == 2:
                    self.assertIn("see --help", err)
                for f in written:
                    self.assertTrue(os.path.exists(f), f)
                for f in absent:
                    self.assertFalse(os.path.exists(f), f)
                # One line per failed file, naming it and its code.
                failures = [line for line in err.splitlines() if "not converted" in line]
                self.assertEqual(len(failures), sum(1 for word in err_words if word.startswith("code ")))

    def read_back(self, decoder, gif):
        """Every frame as a viewer shows it, RGBA (alpha 0 where the page shows), by `decoder`."""
        raw = gif + "." + decoder + ".rgba"
        report = subprocess.run(["/usr/bin/python3", READ_GIF, decoder, gif, raw, "rgba"], check=True,
                                capture_output=True, text=True).stdout.split()
        frames, width, height = int(report[0]), int(report[1]), int(report[2])
        data = open(raw, "rb").read()
        size = width * height * 4
        return [Image.frombytes("RGBA", (width, height), data[n * size:(n + 1) * size]) for n in range(frames)]

    def test_transparent_sticker_stays_transparent_in_every_frame(self):
        # A disc with an anti-aliased edge on a transparent background, whose hidden colour is white.
        size, radius = 160, 60
        sticker = Image.new("RGBA", (size, size), (255, 255, 255, 0))
        sticker.putdata([(200, 40 + x // 4, 60, max(0, min(255, int((radius - ((x - 80) ** 2 + (y - 80) ** 2) ** 0.5) * 128 + 128))))
                         for y in range(size) for x in range(size)])
        path = self.path("sticker.png")
        sticker.save(path)
        frames_dir = self.path("sticker frames")
        result = run("--shake", "60", "--frames", frames_dir, path)
        self.assertEqual(result.returncode, 0, result.stderr)
        exact = [Image.open(os.path.join(frames_dir, "sticker.png_frame%d.png" % n)) for n in range(1, 6)]
        self.assertTrue(all(frame.mode == "RGBA" for frame in exact))
        masks = [list(frame.getchannel("A").getdata()) for frame in exact]
        self.assertNotEqual(masks[0], masks[1], "the transparency moves with the picture")
        for decoder in ("pillow", "imagemagick"):
            with self.subTest(decoder=decoder):
                shown = self.read_back(decoder, path + "_wob.gif")
                self.assertEqual(len(shown), 5)
                for n, (frame, mask) in enumerate(zip(shown, masks)):
                    alpha = [0 if a == 0 else 255 for a in frame.getchannel("A").getdata()]
                    self.assertEqual(alpha, mask, "frame %d shows the page exactly where it is transparent" % (n + 1))
                    colours = [p for p, a in zip(frame.getdata(), mask) if a]
                    self.assertTrue(all(abs(p[0] - 200) < 24 and abs(p[2] - 60) < 24 for p in colours),
                                    "no white from the hidden background reaches the edge")

    def test_opaque_picture_gives_a_gif_without_transparency(self):
        self.assertEqual(run(self.photo).returncode, 0)
        for decoder in ("pillow", "imagemagick"):
            for frame in self.read_back(decoder, self.photo + "_wob.gif"):
                self.assertEqual(frame.getchannel("A").getextrema(), (255, 255), decoder)
        with Image.open(self.photo + "_wob.gif") as gif:
            self.assertNotIn("transparency", gif.info, "no colour is spent on transparency in the first frame")

    def test_full_disk_is_named(self):
        def small_files():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))
        result = run(self.photo, preexec_fn=small_files)
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"code 7: disk full", result.stderr)
        self.assertEqual(sorted(os.listdir(self.root)), ["a photo.png", "other.png"])  # no GIF, no temporary file

    def test_special_files_are_refused_without_waiting(self):
        fifo = self.path("pipe.png")
        os.mkfifo(fifo)
        result = run(fifo, "/dev/zero")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.count(b"code 0: not a regular file"), 2)

    def test_standard_input_to_standard_output(self):
        with open(self.other, "rb") as picture:
            result = run("-", stdin=picture)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(b"standard input -> standard output", result.stderr)
        frames = self.frames(self.write("piped.gif", result.stdout))
        self.assertEqual([frame.size for _, frame in frames], [(64, 40)] * 5)
        run(self.other)
        with open(self.other + "_wob.gif", "rb") as beside:
            self.assertEqual(beside.read(), result.stdout)  # the same picture gives the same GIF
        with open(self.path("note"), "wb") as note:
            note.write(b"not a picture")
        with open(self.path("note"), "rb") as note:
            result = run("-", "-o", self.path("x.gif"), stdin=note)
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"standard input: not converted (code 0: not a picture the loader recognises)", result.stderr)
        self.assertFalse(os.path.exists(self.path("x.gif")))
        self.assertEqual(run("-", "-", stdin=subprocess.DEVNULL).returncode, 2)

    def test_standard_output_gets_the_gif_and_a_terminal_does_not(self):
        result = run("-o", "-", self.other)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(b"other.png -> standard output", result.stderr)  # progress stays off the GIF
        gif = self.write("from-stdout.gif", result.stdout)
        frames = self.frames(gif)
        self.assertEqual(len(frames), 5)
        self.assertEqual(frames[0][1].size, (64, 40))
        with open(self.other + "_wob.gif", "wb"):
            pass
        run(self.other)
        with open(self.other + "_wob.gif", "rb") as beside:
            self.assertEqual(beside.read(), result.stdout)

        parent, child = pty.openpty()
        try:
            result = run("-o", "-", self.other, stdout=child)
        finally:
            os.close(child)
            os.close(parent)
        self.assertEqual(result.returncode, 2)
        self.assertIn(b"terminal", result.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
