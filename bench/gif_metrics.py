# Quality of an animated GIF against the exact frames it was made from: one decoder
# (Pillow, frames composited to RGB) for every tool, so all GIFs are judged alike.
import math

import numpy
from PIL import Image


def load_exact_frame(path):
    with Image.open(path) as image:
        return numpy.asarray(image.convert("RGB"))


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
            frames.append(numpy.asarray(gif.convert("RGB")))
            delays.append(gif.info.get("duration"))
    return frames, delays, loop


def psnr_from_mse(mse):
    return math.inf if mse == 0 else 10.0 * math.log10(255.0 * 255.0 / mse)


def mean_squared_error(reference, candidate):
    difference = reference.astype(numpy.int32) - candidate
    return _sum_of_squares(difference) / difference.size


def blurred_mean_squared_error(reference, candidate):
    """MSE after a 3x3 box blur of both images, over the pixels whose whole 3x3
    neighbourhood lies inside the picture (no edge rule to argue about).

    The blur is linear, so blur(a) - blur(b) = blur(a - b): the signed difference is
    summed over the nine neighbours in integers and only then squared and divided,
    which keeps out the rounding an 8-bit blurred image would add."""
    height, width = reference.shape[:2]
    if width < 3 or height < 3:
        raise ValueError("pictures under 3x3 have no blurred interior")
    difference = reference.astype(numpy.int32) - candidate
    rows = difference[:, :-2] + difference[:, 1:-1] + difference[:, 2:]
    box = rows[:-2] + rows[1:-1] + rows[2:]
    return _sum_of_squares(box) / 81.0 / box.size


def _sum_of_squares(integers):
    # Doubles hold these sums exactly (below 2**53 for any picture we handle), and
    # the dot product of doubles is the fastest reduction numpy has.
    values = integers.astype(numpy.float64).ravel()
    return float(numpy.dot(values, values))


def measure_gif(gif_path, exact_frames):
    """Decodes the GIF and compares it frame by frame with the exact frames.

    Returns a dict: frames, size (width, height), delays_ms, loop, psnr and
    blurred_psnr (means over the frames of the per-frame PSNR), and problems (a list
    of strings, empty when the GIF has the right number and size of frames)."""
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
              "psnr": None, "blurred_psnr": None}
    if problems:
        return result
    pairs = list(zip(exact_frames, frames))
    result["psnr"] = sum(psnr_from_mse(mean_squared_error(r, c)) for r, c in pairs) / len(pairs)
    result["blurred_psnr"] = sum(
        psnr_from_mse(blurred_mean_squared_error(r, c)) for r, c in pairs) / len(pairs)
    return result
