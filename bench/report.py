# The benchmark's printed tables: per picture and tool, our ratios to each peer, and the targets.
import os
import platform
from dataclasses import dataclass, field

# Targets for the end-to-end conversion on this kind of machine; "large" is the phone photo.
LARGE_PIXELS = 4_000_000
LARGE_SECONDS = 1.5
LARGE_PEAK_MB = 260
SECONDS_PER_MEGAPIXEL = 0.2  # the other pictures, and 0.2 s at least
QUALITY_PEER = "gifski"      # bytes, PSNR, butteraugli and ssimulacra are all held against it


@dataclass
class Row:
    label: str
    how: str
    peer_key: str = None
    timing: object = None   # timed_command.Timing, None when it did not run
    gif: str = None
    reference: list = None  # the exact frames its GIF is judged against (None: the case's)
    bytes: int = None
    quality: dict = None    # from gif_metrics.measure_gif
    notes: list = field(default_factory=list)
    failed: bool = False    # the tool broke (not merely missed a target)

    @property
    def peak_mb(self):
        return self.timing.peak_kib * 1024 / 1e6 if self.timing else None

    def measure(self, name):
        return self.quality.get(name) if self.quality else None


@dataclass
class Case:
    title: str
    photo_name: str
    width: int
    height: int
    rows: list
    our_runs: int
    peer_runs: int
    ours_key: str = "ours"  # which row the targets judge: ours end to end, or the encoder alone

    @property
    def ours(self):
        return self.rows[0]

    @property
    def judged(self):
        return next((row for row in self.rows if row.peer_key == self.ours_key), self.ours)

    def peer(self, key):
        return next((row for row in self.rows if row.peer_key == key), None)


def print_header(cli, pictures, versions):
    print(f"Wobzy benchmark on {platform.node()}: {os.cpu_count()} CPUs, "
          f"load average {_load()} at start")
    print(f"  ours:     {cli}")
    print("  pictures: " + ", ".join(f"{p.key} ({p.package})" for p in pictures))
    print("  peers:    " + (", ".join(f"{label} {version}" for label, version in versions) or "none"))


COLUMNS = [("seconds", 8), ("cpu s", 7), ("peak MB", 8), ("bytes", 12), ("PSNR dB", 8),
           ("butteraugli", 12), ("ssimulacra", 11)]


def print_case(case):
    megapixels = case.width * case.height / 1e6
    print(f"\n== {case.title}: {case.photo_name}, frames {case.width}x{case.height} "
          f"({megapixels:.1f} MP); wobzy-cli best of {case.our_runs}, "
          f"others best of {case.peer_runs} ==")
    print(f"{'tool':<16} " + " ".join(f"{name:>{width}}" for name, width in COLUMNS))
    for row in case.rows:
        timing = row.timing
        print(f"{row.label:<16} {_number(timing and timing.seconds, 8, 2)} "
              f"{_number(timing and timing.cpu_seconds, 7, 2)} {_number(row.peak_mb, 8, 1)} "
              f"{_number(row.bytes, 12, 0, grouped=True)} {_number(row.measure('psnr'), 8, 2)} "
              f"{_number(row.measure('butteraugli'), 12, 3)} {_number(row.measure('ssimulacra'), 11, 4)}")
    for row in case.rows:
        notes = "; ".join([row.how] + row.notes)
        print(f"  {row.label}: {notes}")
    _print_ratios(case)


def _print_ratios(case):
    ours = case.judged
    others = [row for row in case.rows if row.peer_key not in (None, "ours", "encoder")
              and row.timing and row.measure("psnr") is not None]
    if not others or ours.timing is None or ours.measure("psnr") is None:
        return
    print(f"\n{ours.label + ' vs':<16} {'time x':>8} {'memory x':>9} {'bytes x':>8} "
          f"{'PSNR dB':>8} {'butteraugli':>12} {'ssimulacra':>11}")
    for row in others:
        print(f"{row.label:<16} {_ratio(ours.timing.seconds, row.timing.seconds, 8)} "
              f"{_ratio(ours.timing.peak_kib, row.timing.peak_kib, 9)} "
              f"{_ratio(ours.bytes, row.bytes, 8)} "
              f"{_difference(ours.measure('psnr'), row.measure('psnr'), 8, 2)} "
              f"{_difference(ours.measure('butteraugli'), row.measure('butteraugli'), 12, 3)} "
              f"{_difference(ours.measure('ssimulacra'), row.measure('ssimulacra'), 11, 4)}")


def print_targets(cases):
    print(f"\n== targets (ours end to end, or the encoder alone where marked; quality against "
          f"{QUALITY_PEER}) ==")
    for case in cases:
        ours = case.ours
        large = case.width * case.height > LARGE_PIXELS
        title = case.title + (" (encoder)" if case.judged is not ours else "")
        if ours.timing is None:
            _target(title, "time", "-", "ours did not run", None)
        elif large:
            _target(title, "time", f"{ours.timing.seconds:.2f} s", f"<= {LARGE_SECONDS} s",
                    ours.timing.seconds <= LARGE_SECONDS)
            _target(title, "peak memory", f"{ours.peak_mb:.0f} MB", f"<= {LARGE_PEAK_MB} MB",
                    ours.peak_mb <= LARGE_PEAK_MB)
        else:
            limit = SECONDS_PER_MEGAPIXEL * max(1.0, case.width * case.height / 1e6)
            _target(title, "time", f"{ours.timing.seconds:.3f} s", f"<= {limit:.3f} s",
                    ours.timing.seconds <= limit)
        _peer_target(case, title, "bytes", "<=", lambda v: f"{v / 1e6:.3f} MB")
        _peer_target(case, title, "psnr", ">=", lambda v: f"{v:.2f} dB")
        _peer_target(case, title, "butteraugli", "<=", lambda v: f"{v:.3f}")
        _peer_target(case, title, "ssimulacra", "<=", lambda v: f"{v:.4f}")


def _peer_target(case, title, what, relation, shown):
    def value_of(row):
        if row is None:
            return None
        return row.bytes if what == "bytes" else row.measure(what)

    mine, theirs = value_of(case.judged), value_of(case.peer(QUALITY_PEER))
    if mine is None or theirs is None:
        _target(title, what, shown(mine) if mine is not None else "-",
                f"{relation} {QUALITY_PEER}", None)
        return
    met = mine <= theirs if relation == "<=" else mine >= theirs
    _target(title, what, shown(mine), f"{relation} {QUALITY_PEER} {shown(theirs)}", met)


def _target(title, what, measured, target, met):
    verdict = "n/a" if met is None else ("met" if met else "MISSED")
    print(f"{title:<20} {what:<12} {measured:>10}   {target:<26} {verdict}")


def print_footer():
    print("\nseconds: wall clock, best run; cpu s: user + system of that run; peak MB: the "
          "largest maximum resident set over the runs (10^6 bytes), all from /usr/bin/time.")
    print("wobzy-cli is timed end to end from the picture; djpeg decoding the same JPEG is the "
          "floor; the other tools from the five PNG frames wobzy-cli --frames wrote (their PNG "
          "decoding is in their time).")
    print("Quality: means over the 5 frames against those exact frames, every GIF decoded by "
          "Pillow (frames composited as shown, on a white page where transparent): PSNR, "
          "butteraugli's 3-norm and ssimulacra (lower is better for both).")
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


def _difference(mine, theirs, width, decimals):
    if mine is None or theirs is None:
        return f"{'-':>{width}}"
    return f"{mine - theirs:>+{width}.{decimals}f}"
