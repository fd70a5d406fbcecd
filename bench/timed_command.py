# Runs a command under /usr/bin/time and keeps its wall time, CPU time and peak
# resident memory; a run that outlives its time limit is killed with all its children.
import os
import signal
import subprocess
import tempfile
from dataclasses import dataclass


@dataclass
class Timing:
    seconds: float      # wall clock, best of the runs
    cpu_seconds: float  # user + system of that best run
    peak_kib: int       # largest maximum resident set size over all runs
    runs: int


class CommandFailed(Exception):
    pass


def run_once(command, cwd, timeout_s, environment=None):
    """Returns (seconds, cpu seconds, peak KiB, what it printed) of one run of `command`."""
    with tempfile.NamedTemporaryFile("r", suffix=".time") as time_file, \
            tempfile.TemporaryFile("w+") as output:
        # Its own process group, so a timeout ends the tool and not only `time`.
        process = subprocess.Popen(
            ["/usr/bin/time", "-f", "%e %U %S %M", "-o", time_file.name] + list(command),
            cwd=cwd, env=environment, stdin=subprocess.DEVNULL, stdout=output, stderr=output,
            start_new_session=True)
        try:
            status = process.wait(timeout=timeout_s)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            raise CommandFailed(f"timed out after {timeout_s:g} s")
        if status != 0:
            output.seek(0)
            tail = " | ".join(output.read().strip().splitlines()[-3:])
            raise CommandFailed(f"exit status {status}: {tail}")
        fields = time_file.read().split()[-4:]
        output.seek(0)
        printed = output.read()
    elapsed, user, system, peak_kib = fields
    return float(elapsed), float(user) + float(system), int(peak_kib), printed


def best_of(command, cwd, runs, timeout_s, after_each=None, environment=None):
    """Runs `command` `runs` times (in `environment` when given, else ours); `after_each` (if
    given) is called after every run, e.g. to check the output. Best wall time, and the worst
    peak memory."""
    best = None
    peak = 0
    for _ in range(runs):
        seconds, cpu, peak_kib, _ = run_once(command, cwd, timeout_s, environment)
        if after_each is not None:
            after_each()
        peak = max(peak, peak_kib)
        if best is None or seconds < best[0]:
            best = (seconds, cpu)
    return Timing(best[0], best[1], peak, runs)
