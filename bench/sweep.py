"""Scaling sweep: time per call against text length, drawn as a PNG."""

import random

import kivo

from timing import Contender, time_case
import workloads as w

LENGTHS = [8, 16, 32, 64, 128, 256, 512, 1000, 2000, 4000, 10000, 20000, 50000, 100000]
QUICK_LENGTHS = [8, 64, 256, 1000, 4000]
BUDGET = 0.5  # seconds: a contender whose call takes longer stops growing


def _series():
    from rapidfuzz.distance import JaroWinkler, Levenshtein

    return [
        ("Levenshtein, ~10% edits", "similar",
         [("kivo", kivo.levenshtein_distance), ("RapidFuzz", Levenshtein.distance)]),
        ("Levenshtein, unrelated texts", "unrelated",
         [("kivo", kivo.levenshtein_distance), ("RapidFuzz", Levenshtein.distance)]),
        ("Jaro-Winkler, ~10% edits", "similar",
         [("kivo", kivo.jaro_winkler_similarity), ("RapidFuzz", JaroWinkler.similarity)]),
    ]


def run_sweep(quick: bool, rounds: int, target: float):
    """{panel: {contender: [(length, seconds), ...]}}"""
    rng = random.Random(7)
    results = {}
    for title, kind, contenders in _series():
        curves = {name: [] for name, _ in contenders}
        live = dict(contenders)
        for n in QUICK_LENGTHS if quick else LENGTHS:
            make = w.similar_pair if kind == "similar" else w.unrelated_pair
            a, b = make(n, None, rng)
            timed = time_case([Contender(name, f, (a, b)) for name, f in live.items()],
                              rounds=rounds, target=target)
            for t in timed:
                curves[t.name].append((n, t.seconds))
                if t.seconds > BUDGET:
                    del live[t.name]
            if not live:
                break
        results[title] = curves
    return results


def plot(results, path):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, axes = plt.subplots(1, len(results), figsize=(5 * len(results), 4), squeeze=False)
    for ax, (title, curves) in zip(axes[0], results.items()):
        for name, points in curves.items():
            if points:
                xs, ys = zip(*points)
                ax.loglog(xs, [y * 1e6 for y in ys], marker="o", label=name)
        ax.set_title(title)
        ax.set_xlabel("characters per text")
        ax.set_ylabel("µs per call (median)")
        ax.grid(True, which="both", alpha=0.3)
        ax.legend()
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)
