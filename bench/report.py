# The benchmark's printed tables: per tool, our ratios to each peer, and the targets.
import os
import platform
from dataclasses import dataclass, field

# Targets for the end-to-end conversion on this kind of machine; "large" is the 12 MP photo.
LARGE_PIXELS = 4_000_000
LARGE_SECONDS = 1.5
LARGE_PEAK_MB = 300
SMALL_SECONDS = 0.2
SIZE_PEER, PSNR_PEER, BLURRED_PEER = "gifski", "gifski", "ffmpeg"


@dataclass
class Row:
    label: str
    how: str
    peer_key: str = None
    timing: object = None   # timed_command.Timing, None when it did not run
    gif: str = None
    bytes: int = None
    quality: dict = None    # from gif_metrics.measure_gif
    notes: list = field(default_factory=list)
    failed: bool = False    # the tool broke (not merely missed a target)

    @property
    def peak_mb(self):
        return self.timing.peak_kib * 1024 / 1e6 if self.timing else None

    @property
    def psnr(self):
        return self.quality["psnr"] if self.quality else None

    @property
    def blurred_psnr(self):
        return self.quality["blurred_psnr"] if self.quality else None


@dataclass
class Case:
    title: str
    photo_name: str
    width: int
    height: int
    rows: list
    our_runs: int
    peer_runs: int

    @property
    def ours(self):
        return self.rows[0]

    def peer(self, key):
        return next((row for row in self.rows if row.peer_key == key), None)


def print_header(cli, photo, versions):
    print(f"Wobzy benchmark on {platform.node()}: {os.cpu_count()} CPUs, "
          f"load average {_load()} at start")
    print(f"  ours:  {cli}")
    print(f"  photo: {photo}")
    print("  peers: " + (", ".join(f"{label} {version}" for label, version in versions) or "none"))


def print_case(case):
    megapixels = case.width * case.height / 1e6
    print(f"\n== {case.title}: {case.photo_name}, frames {case.width}x{case.height} "
          f"({megapixels:.1f} MP); wobzy-cli best of {case.our_runs}, "
          f"others best of {case.peer_runs} ==")
    print(f"{'tool':<15} {'seconds':>8} {'cpu s':>7} {'peak MB':>8} {'bytes':>12} "
          f"{'PSNR dB':>8} {'blurred dB':>11}")
    for row in case.rows:
        timing = row.timing
        print(f"{row.label:<15} {_number(timing and timing.seconds, 8, 2)} "
              f"{_number(timing and timing.cpu_seconds, 7, 2)} {_number(row.peak_mb, 8, 1)} "
              f"{_number(row.bytes, 12, 0, grouped=True)} {_number(row.psnr, 8, 2)} "
              f"{_number(row.blurred_psnr, 11, 2)}")
    for row in case.rows:
        notes = "; ".join([row.how] + row.notes)
        print(f"  {row.label}: {notes}")
    _print_ratios(case)


def _print_ratios(case):
    ours = case.ours
    others = [row for row in case.rows if row.peer_key and row.timing and row.psnr is not None]
    if not others or ours.timing is None or ours.psnr is None:
        return
    print(f"\n{ours.label + ' vs':<15} {'time x':>8} {'memory x':>9} {'bytes x':>8} "
          f"{'PSNR dB':>8} {'blurred dB':>11}")
    for row in others:
        print(f"{row.label:<15} {_ratio(ours.timing.seconds, row.timing.seconds, 8)} "
              f"{_ratio(ours.timing.peak_kib, row.timing.peak_kib, 9)} "
              f"{_ratio(ours.bytes, row.bytes, 8)} {_difference(ours.psnr, row.psnr, 8)} "
              f"{_difference(ours.blurred_psnr, row.blurred_psnr, 11)}")


def print_targets(cases):
    print("\n== targets (ours end to end) ==")
    for case in cases:
        ours = case.ours
        large = case.width * case.height > LARGE_PIXELS
        if ours.timing is None:
            _target(case.title, "time", "-", "ours did not run", None)
        elif large:
            _target(case.title, "time", f"{ours.timing.seconds:.2f} s", f"<= {LARGE_SECONDS} s",
                    ours.timing.seconds <= LARGE_SECONDS)
            _target(case.title, "peak memory", f"{ours.peak_mb:.0f} MB", f"<= {LARGE_PEAK_MB} MB",
                    ours.peak_mb <= LARGE_PEAK_MB)
        else:
            _target(case.title, "time", f"{ours.timing.seconds:.3f} s", f"<= {SMALL_SECONDS} s",
                    ours.timing.seconds <= SMALL_SECONDS)
        _peer_target(case, "bytes", lambda r: r.bytes, SIZE_PEER, "<=",
                     lambda v: f"{v / 1e6:.2f} MB")
        _peer_target(case, "PSNR", lambda r: r.psnr, PSNR_PEER, ">=", lambda v: f"{v:.2f} dB")
        _peer_target(case, "blurred PSNR", lambda r: r.blurred_psnr, BLURRED_PEER, ">=",
                     lambda v: f"{v:.2f} dB")


def _peer_target(case, what, value_of, peer_key, relation, shown):
    ours, peer = case.ours, case.peer(peer_key)
    mine = value_of(ours) if ours.quality else None
    theirs = value_of(peer) if peer and peer.quality else None
    if mine is None or theirs is None:
        _target(case.title, what, shown(mine) if mine is not None else "-",
                f"{relation} {peer_key}", None)
        return
    met = mine <= theirs if relation == "<=" else mine >= theirs
    _target(case.title, what, shown(mine), f"{relation} {peer_key} {shown(theirs)}", met)


def _target(title, what, measured, target, met):
    verdict = "n/a" if met is None else ("met" if met else "MISSED")
    print(f"{title:<6} {what:<13} {measured:>10}   {target:<22} {verdict}")


def print_footer():
    print("\nseconds: wall clock, best run; cpu s: user + system of that run; peak MB: the "
          "largest maximum resident set over the runs (10^6 bytes), all from /usr/bin/time.")
    print("wobzy-cli is timed end to end from the JPEG; the other tools from the five PNG "
          "frames wobzy-cli --frames wrote (their PNG decoding is in their time).")
    print("PSNR: mean over the 5 frames against those exact frames, every GIF decoded by "
          "Pillow (frames composited to RGB); blurred: the same after a 3x3 box blur of both "
          "images (pixels with a full 3x3 neighbourhood).")
    print(f"load average {_load()} at end.")
    if _busy():
        print("warning: more runnable processes than CPUs during the run; the wall times are "
              "inflated and noisy, the cpu s column less so.")


def _busy():
    try:
        return os.getloadavg()[1] > (os.cpu_count() or 1)
    except OSError:
        return False


def _load():
    try:
        return " ".join(f"{value:.2f}" for value in os.getloadavg())
    except OSError:
        return "?"


def _number(value, width, decimals, grouped=False):
    if value is None:
        return f"{'-':>{width}}"
    return f"{value:>{width},.{decimals}f}" if grouped else f"{value:>{width}.{decimals}f}"


def _ratio(mine, theirs, width):
    if not mine or not theirs:
        return f"{'-':>{width}}"
    return f"{mine / theirs:>{width}.2f}"


def _difference(mine, theirs, width):
    if mine is None or theirs is None:
        return f"{'-':>{width}}"
    return f"{mine - theirs:>+{width}.2f}"
