"""Interleaved timing: every contender of a case runs in the same rounds, in a
shuffled order, and the median of the rounds is reported. Other processes on a
busy machine then slow all contenders alike instead of whichever ran last."""

import random
import statistics
import time
from dataclasses import dataclass, field
from typing import Callable


@dataclass
class Contender:
    """A call to time: `func(*args)`, or a zero-argument callable when args is None."""

    name: str
    func: Callable
    args: tuple | None = ()
    note: str = ""
    calls: int = 1  # calls made by one run of func (a loop over several pairs)
    baseline: Callable | None = None  # the same loop without the calls, subtracted


@dataclass
class Timed:
    name: str
    seconds: float  # median time of one call
    rounds: list[float] = field(default_factory=list)
    note: str = ""


def _runner(contender: Contender):
    """A function running the call `count` times. The loop is compiled with
    the call written out, so no extra Python frame or argument tuple is timed."""
    if contender.args is None:
        env = {"f": contender.func}
        call = "f()"
    else:
        env = {"f": contender.func}
        names = []
        for i, value in enumerate(contender.args):
            env[f"a{i}"] = value
            names.append(f"a{i}")
        call = f"f({', '.join(names)})"
    source = (
        "def run(count, _clock=_clock):\n"
        + "".join(f"    {n} = _{n}\n" for n in [k for k in env])
        + "    start = _clock()\n"
        + "    for _ in range(count):\n"
        + f"        {call}\n"
        + "    return _clock() - start\n"
    )
    namespace = {"_clock": time.perf_counter}
    namespace.update({f"_{k}": v for k, v in env.items()})
    exec(source, namespace)
    return namespace["run"]


def _empty_loop():
    def run(count, _clock=time.perf_counter):
        start = _clock()
        for _ in range(count):
            pass
        return _clock() - start

    return run


def _calibrate(run, target: float) -> int:
    count = 1
    while True:
        elapsed = run(count)
        if elapsed >= target / 4 or count >= 1 << 24:
            return max(1, int(count * target / max(elapsed, 1e-9)))
        count *= 4


def time_case(contenders: list[Contender], rounds: int, target: float, seed: int = 0) -> list[Timed]:
    """Median seconds per call of each contender, the empty loop's cost removed."""
    rng = random.Random(seed)
    runners = [_runner(c) for c in contenders]
    baselines = [_runner(Contender("", c.baseline, None)) if c.baseline else _empty_loop()
                 for c in contenders]
    for run in runners:
        run(1)  # warm up: imports, caches, first allocations
    counts = [_calibrate(run, target) for run in runners]
    per_call: list[list[float]] = [[] for _ in contenders]
    order = list(range(len(contenders)))
    for _ in range(rounds):
        rng.shuffle(order)
        for i in order:
            elapsed = runners[i](counts[i]) - baselines[i](counts[i])
            per_call[i].append(max(elapsed, 0.0) / (counts[i] * contenders[i].calls))
    return [
        Timed(c.name, statistics.median(times), times, c.note)
        for c, times in zip(contenders, per_call)
    ]


def medians(cases: dict[str, Callable], rounds: int) -> dict[str, float]:
    """Median CPU time of each zero-argument case, the cases run in turn in every round."""
    times: dict[str, list[float]] = {name: [] for name in cases}
    for _ in range(rounds):
        for name, call in cases.items():
            start = time.process_time()
            call()
            times[name].append(time.process_time() - start)
    return {name: statistics.median(t) for name, t in times.items()}
