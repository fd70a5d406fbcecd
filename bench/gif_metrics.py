# Quality of an animated GIF against the exact frames it was made from: one decoder
# (Pillow, frames composited as a viewer shows them, on a white page where they are
# transparent) for every tool, so all GIFs are judged alike; PSNR here, and the perceptual
# measures of Debian's libjxl-devtools (butteraugli's 3-norm, ssimulacra) beside it.
import concurrent.futures
import math
import os
import re
import shutil
import subprocess
import tempfile

import numpy
from PIL import Image

BUTTERAUGLI = "butteraugli_main"
SSIMULACRA = "ssimulacra_main"


def on_white_page(image):
    """RGB pixels of the image as shown on a white page."""
    rgba = image.convert("RGBA")
    page = Image.new("RGBA", rgba.size, (255, 255, 255, 255))
    return numpy.asarray(Image.alpha_composite(page, rgba).convert("RGB"))


def load_exact_frame(path):
    with Image.open(path) as image:
        return on_white_page(image)


def decode_gif_frames(path):
    """Returns (frames as HxWx3 uint8 arrays, per-frame delays in ms, loop count or None)."""
    frames, delays = [], []
    with Image.open(path) as gif:
        if gif.format != "GIF":
            raise ValueError(f"{path}: not a GIF but {gif.format}")
        loop = gif.info.get("loop")
        for index in range(getattr(gif, "n_frames", 1)):
            gif.seek(index)
            # After seek() Pillow holds the whole composited canvas, not just the
            # frame's own rectangle, so partial and "unchanged" frames come out as
            # a viewer shows them.
            frames.append(on_white_page(gif))
            delays.append(gif.info.get("duration"))
    return frames, delays, loop


def psnr_from_mse(mse):
    return math.inf if mse == 0 else 10.0 * math.log10(255.0 * 255.0 / mse)


def mean_squared_error(reference, candidate):
    difference = reference.astype(numpy.int32) - candidate
    return _sum_of_squares(difference) / difference.size


def _sum_of_squares(integers):
    # Doubles hold these sums exactly (below 2**53 for any picture we handle), and
    # the dot product of doubles is the fastest reduction numpy has.
    values = integers.astype(numpy.float64).ravel()
    return float(numpy.dot(values, values))


def measure_gif(gif_path, exact_frames):
    """Decodes the GIF and compares it frame by frame with the exact frames.

    Returns a dict: frames, size (width, height), delays_ms, loop, psnr, butteraugli and
    ssimulacra (means over the frames; the last two None without libjxl-devtools), and
    problems (a list of strings, empty when the GIF has the right number and size of frames)."""
    frames, delays, loop = decode_gif_frames(gif_path)
    expected_shape = exact_frames[0].shape
    problems = []
    if len(frames) != len(exact_frames):
        problems.append(f"{len(frames)} frames instead of {len(exact_frames)}")
    if any(frame.shape != expected_shape for frame in frames):
        sizes = sorted({f"{f.shape[1]}x{f.shape[0]}" for f in frames})
        problems.append(f"frame size {','.join(sizes)} instead of "
                        f"{expected_shape[1]}x{expected_shape[0]}")
    result = {"frames": len(frames),
              "size": (frames[0].shape[1], frames[0].shape[0]) if frames else None,
              "delays_ms": delays, "loop": loop, "problems": problems,
              "psnr": None, "butteraugli": None, "ssimulacra": None}
    if problems:
        return result
    pairs = list(zip(exact_frames, frames))
    result["psnr"] = sum(psnr_from_mse(mean_squared_error(r, c)) for r, c in pairs) / len(pairs)
    if perceptual_available():
        result["butteraugli"], result["ssimulacra"] = perceptual_means(exact_frames, frames)
    return result


def perceptual_available():
    return shutil.which(BUTTERAUGLI) is not None and shutil.which(SSIMULACRA) is not None


def perceptual_means(exact_frames, frames):
    """Means over the frames of butteraugli's 3-norm and of ssimulacra (lower is better for
    both), the frames measured side by side on every core."""
    with tempfile.TemporaryDirectory(prefix="wobzy-metrics-") as folder:
        jobs = []
        for k, (exact, shown) in enumerate(zip(exact_frames, frames)):
            reference, distorted = (os.path.join(folder, f"{name}{k}.png") for name in ("exact", "shown"))
            Image.fromarray(exact).save(reference, compress_level=1)
            Image.fromarray(shown).save(distorted, compress_level=1)
            jobs += [(_butteraugli_3norm, reference, distorted), (_ssimulacra, reference, distorted)]
        with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 1) as pool:
            scores = list(pool.map(lambda job: job[0](job[1], job[2]), jobs))
    return (sum(scores[0::2]) / len(frames), sum(scores[1::2]) / len(frames))


def _measure(command):
    result = subprocess.run(command, capture_output=True, text=True, check=True)
    return result.stdout


def _butteraugli_3norm(reference, distorted):
    printed = _measure([BUTTERAUGLI, reference, distorted])
    return float(re.search(r"3-norm:\s*([0-9.eE+-]+)", printed).group(1))


def _ssimulacra(reference, distorted):
    return float(_measure([SSIMULACRA, reference, distorted]).split()[0])
