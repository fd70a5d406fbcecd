# The benchmark's pictures: varied kinds taken from Debian packages (apt-get download +
# dpkg-deb -x into a cache folder, nothing installed, nothing committed), each prepared once
# (cropped or scaled) into the benchmark's work folder.
import os
import subprocess
from dataclasses import dataclass

IMAGEMAGICK = "convert-im6.q16"


@dataclass
class Picture:
    key: str         # the name --pictures takes
    title: str       # the kind of picture, in the tables
    package: str
    path: str        # inside the package
    prepare: list    # ImageMagick operations on the way to the benchmark copy ([] = as it is)
    suffix: str      # the copy's file type: .jpg (kept as shipped, or re-encoded at quality 92) or .png
    sticker: bool = False  # has transparency: the encoder is measured on keyed frames


def all_pictures():
    return [
        Picture("detailed", "detailed photo", "mate-backgrounds",
                "usr/share/backgrounds/mate/nature/Dune.jpg", [], ".jpg"),
        Picture("noisy", "noisy night-sky photo", "lomiri-wallpapers-20.04",
                "usr/share/backgrounds/Infinite-Sea_by_Aury88.jpg",
                ["-gravity", "center", "-crop", "1600x1200+0+0", "+repage"], ".jpg"),
        Picture("smooth", "smooth gradient", "mate-backgrounds",
                "usr/share/backgrounds/mate/desktop/Ubuntu-Mate-Cold-no-logo.png", [], ".png"),
        Picture("large", "large phone photo", "lomiri-wallpapers-16.04",
                "usr/share/backgrounds/Dragonfly_by_Bolly.jpg", [], ".jpg"),
        Picture("flat", "flat-colour graphic", "ukui-wallpapers",
                "usr/share/backgrounds/city.png", ["-filter", "box", "-resize", "50%"], ".png"),
        Picture("sticker", "transparent sticker", "adwaita-icon-theme",
                "usr/share/icons/Adwaita/512x512/devices/input-gaming.png", [], ".png",
                sticker=True),
    ]


def source_of(picture, cache_dir):
    """The packaged file: from the installed package when it is there, else from the package
    downloaded and unpacked into cache_dir. Raises RuntimeError when it cannot be had."""
    installed = os.path.join("/", picture.path)
    if os.path.exists(installed):
        return installed
    tree = os.path.join(cache_dir, "tree")
    unpacked = os.path.join(tree, picture.path)
    if os.path.exists(unpacked):
        return unpacked
    debs = os.path.join(cache_dir, "debs")
    os.makedirs(debs, exist_ok=True)
    result = subprocess.run(["apt-get", "download", "-q", picture.package], cwd=debs,
                            capture_output=True, text=True)
    found = [name for name in os.listdir(debs) if name.startswith(picture.package + "_")]
    if not found:
        raise RuntimeError(f"apt-get download {picture.package} failed: "
                           f"{result.stderr.strip()[-300:]}")
    subprocess.run(["dpkg-deb", "-x", os.path.join(debs, found[0]), tree], check=True)
    if not os.path.exists(unpacked):
        raise RuntimeError(f"{picture.package} holds no {picture.path}")
    return unpacked


def prepare_copy(picture, source, folder):
    """Lays the benchmark's copy of the picture in `folder` and returns its path."""
    stem = os.path.splitext(os.path.basename(source))[0]
    copy = os.path.join(folder, f"{stem}{picture.suffix}")
    if not picture.prepare and source.endswith(picture.suffix):
        with open(source, "rb") as src, open(copy, "wb") as dst:
            dst.write(src.read())
        return copy
    quality = ["-quality", "92"] if picture.suffix == ".jpg" else []
    subprocess.run([IMAGEMAGICK, source] + picture.prepare + quality + [copy], check=True)
    return copy


# Five small shakes (pixels right, pixels down, degrees) for a sticker's frames, made here while
# the command line's frames cannot carry transparency.
STICKER_SHAKES = [(0, 0, 0.0), (3, -2, 1.5), (-2, 3, -1.0), (2, 2, 2.0), (-3, -1, -1.5)]


def sticker_frames(source, folder):
    """Writes frame1.png .. frame5.png: the sticker shaken, each pixel either opaque or fully
    transparent (alpha cut at one half, transparent pixels black). Returns their paths."""
    from PIL import Image
    with Image.open(source) as image:
        rgba = image.convert("RGBA")
    paths = []
    for k, (dx, dy, degrees) in enumerate(STICKER_SHAKES, start=1):
        moved = rgba.rotate(degrees, resample=Image.Resampling.BICUBIC, translate=(dx, dy))
        alpha = moved.getchannel("A").point(lambda a: 255 if a >= 128 else 0)
        black = Image.new("RGBA", moved.size, (0, 0, 0, 0))
        frame = Image.composite(moved, black, alpha)
        frame.putalpha(alpha)
        path = os.path.join(folder, f"frame{k}.png")
        frame.save(path)
        paths.append(path)
    return paths
