"""Find the duplicate people in 5,000 census-style records with kivo.

The records (FEBRL data set 3, bundled in examples/data/) describe 2,000
people; 3,000 of them are copies of another record with typos, swapped
fields, missing values and abbreviations. The file marks which records belong
together, so the matches found here can be scored against the truth.

The pipeline is the usual record-linkage one:

1. Blocking: only records that share a postcode, a birth date, a social
   security number or the sound of their name are compared, which cuts
   12.5 million possible pairs to about 18,000.
2. A tiered `KivoFlow` on the whole record, cleaned first: a cheap word-level
   measure settles the obvious matches and the obvious strangers, a stronger
   character-level measure then accepts the typo-heavy duplicates.
3. What neither tier settles is scored field by field (names with the
   "names" intent, codes with "codes", streets with "typos") and the field
   scores are combined with weights.

For comparison, the cascade's two whole-record measures then run alone over
all 12.5 million pairs, without blocking, with `kivo.batch.pairs` on every
core.

The cascade lives in linkage.py, which examples/dask_dedupe.py shares.
Run it with `make demo`. It prints a summary and writes
demo-output/score_distributions.png.
"""

from __future__ import annotations

import os
import sys
import time
from pathlib import Path

try:
    import matplotlib
    import numpy as np
    from tqdm import tqdm
except ImportError as missing:  # pragma: no cover - depends on the environment
    sys.exit(f"{missing}. `make demo` installs the demo's dependencies (tqdm, matplotlib, numpy).")

import kivo
import kivo.batch

sys.path.insert(0, str(Path(__file__).resolve().parent))
from linkage import (
    FIELD_THRESHOLD,
    OUTCOMES,
    TIER1,
    TIER2,
    FieldScorer,
    Matcher,
    candidate_pairs,
    is_match,
    load_records,
    true_pairs,
)

OUTPUT_DIR = Path(__file__).resolve().parent.parent / "demo-output"


def match_all(records, pairs):
    """Runs the cascade over every candidate pair: the matched pairs, how many
    pairs each stage settled, and how many code comparisons met unequal lengths."""
    matcher = Matcher()
    matched: set[tuple[int, int]] = set()
    stage = dict.fromkeys(OUTCOMES, 0)
    for i, j in tqdm(pairs, desc="matching", unit="pair", mininterval=0.25, leave=False):
        outcome = matcher.decide(records[i], records[j])
        stage[outcome] += 1
        if is_match(outcome):
            matched.add((i, j))
    return matched, stage, matcher.fields.code_length_mismatches


# The cascade's whole-record measures, each alone over every pair at its
# tier's match threshold: what blocking and the cascade add.
ALL_PAIRS_MEASURES = {
    f"{TIER1[0]} >= {TIER1[1]}": (kivo.jaccard_word_similarity, TIER1[1]),
    f"{TIER2[0]} >= {TIER2[1]}": (kivo.levenshtein_similarity, TIER2[1]),
}


def match_all_pairs(records, scorer, cutoff: float) -> set[tuple[int, int]]:
    """The pairs (i < j) whose cleaned record texts score at least `cutoff`, no blocking."""
    i, j, _ = kivo.batch.pairs(
        [r.text for r in records], scorer=scorer, score_cutoff=cutoff, processor=kivo.clean_text, workers=-1
    )
    return set(zip(i.tolist(), j.tolist()))


def quality(found: set[tuple[int, int]], truth: set[tuple[int, int]]) -> tuple[float, float, float]:
    """Precision, recall and F1 of the found pairs against the true ones."""
    correct = len(found & truth)
    precision = correct / len(found) if found else 0.0
    recall = correct / len(truth)
    f1 = 2 * precision * recall / (precision + recall) if correct else 0.0
    return precision, recall, f1


def compare_row(name: str, found: set[tuple[int, int]], truth: set[tuple[int, int]], seconds: float) -> str:
    """One line of the comparison: how well and how fast a way of matching did."""
    precision, recall, f1 = quality(found, truth)
    scores = f"precision {precision:7.2%}   recall {recall:7.2%}   F1 {f1:7.2%}"
    return f"    {name:<22} {scores}   {seconds:6.2f} s"


# The measures drawn in the picture, each applied to the cleaned record texts.
PICTURE_MEASURES = {
    "jaccard_word (tier 1)": kivo.jaccard_word_similarity,
    "levenshtein (tier 2)": kivo.levenshtein_similarity,
    "jaro_winkler": kivo.jaro_winkler_similarity,
    "jaccard_bigram": kivo.jaccard_bigram_similarity,
    "minhash": kivo.minhash_similarity_default,
    "simhash": kivo.simhash_similarity_default,
    "tfidf": kivo.tfidf_similarity,
}
FIELDS_PANEL = "field by field (combined)"
# Panel order: the three stages of the cascade first, then the other measures.
PANEL_ORDER = [
    "jaccard_word (tier 1)",
    "levenshtein (tier 2)",
    FIELDS_PANEL,
    "jaro_winkler",
    "jaccard_bigram",
    "minhash",
    "simhash",
    "tfidf",
]


def score_for_picture(records, pairs) -> dict[str, np.ndarray]:
    """Every picture measure on every candidate pair."""
    texts = [kivo.clean_text(r.text) for r in records]
    scorer = FieldScorer()
    measures = list(PICTURE_MEASURES.values())
    rows = np.empty((len(pairs), len(measures) + 1))
    for row, (i, j) in enumerate(tqdm(pairs, desc="scoring for the picture", unit="pair", leave=False)):
        a, b = texts[i], texts[j]
        for col, measure in enumerate(measures):
            rows[row, col] = measure(a, b)
        rows[row, -1] = scorer.score(records[i], records[j])
    names = [*PICTURE_MEASURES, FIELDS_PANEL]
    return {name: rows[:, col] for col, name in enumerate(names)}


def fewest_errors(scores: np.ndarray, is_true: np.ndarray) -> int:
    """Misclassified pairs at the best single cut "score >= t means the same person"."""
    order = np.argsort(-scores, kind="stable")
    ranked = scores[order]
    true_above = np.cumsum(is_true[order])
    false_above = np.arange(1, len(scores) + 1) - true_above
    # A cut can only fall between two different scores (or above them all).
    cut_after = np.r_[ranked[1:] != ranked[:-1], True]
    errors = (true_above[-1] - true_above[cut_after]) + false_above[cut_after]
    return int(min(errors.min(), true_above[-1]))


def draw_picture(panels: dict[str, np.ndarray], is_true: np.ndarray, path: Path) -> None:
    """Histograms of every measure's scores, same person against different people."""
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    thresholds = {
        "jaccard_word (tier 1)": [TIER1[2], TIER1[1]],
        "levenshtein (tier 2)": [TIER2[1]],
        FIELDS_PANEL: [FIELD_THRESHOLD],
    }
    fig, axes = plt.subplots(2, 4, figsize=(16, 7.8), sharex=True, constrained_layout=True)
    bins = np.linspace(0.0, 1.0, 51)
    for ax, name in zip(axes.flat, PANEL_ORDER):
        scores = panels[name]
        ax.hist(
            scores[~is_true], bins=bins, density=True, color="#7f8c9a", alpha=0.7, label="different people"
        )
        ax.hist(scores[is_true], bins=bins, density=True, color="#e4572e", alpha=0.7, label="same person")
        for x in thresholds.get(name, []):
            ax.axvline(x, color="black", linestyle="--", linewidth=1.2)
        errors = fewest_errors(scores, is_true)
        ax.set_title(f"{name}\nbest single cut: {errors:,} pairs wrong", fontsize=11)
        ax.set_yticks([])
        ax.spines[["left", "top", "right"]].set_visible(False)
    for ax in axes[1]:
        ax.set_xlabel("similarity score")
    axes[0, 0].legend(loc="upper right", frameon=False)
    fig.suptitle(
        "Which kivo measure tells duplicates from strangers?\n"
        f"{len(is_true):,} candidate pairs from FEBRL data set 3, "
        f"{int(is_true.sum()):,} of them the same person; dashed lines: the thresholds the demo uses",
        fontsize=12,
    )
    path.parent.mkdir(parents=True, exist_ok=True)
    fig.savefig(path, dpi=110)
    plt.close(fig)


def shown(path: Path) -> str:
    """The path relative to the working directory when it lies below it."""
    return str(path.relative_to(Path.cwd())) if path.is_relative_to(Path.cwd()) else str(path)


def main() -> None:
    started = time.perf_counter()
    records = load_records()
    truth = true_pairs(records)
    t0 = time.perf_counter()
    pairs = candidate_pairs(records)
    block_seconds = time.perf_counter() - t0
    blocked_true = sum(1 for p in pairs if p in truth)
    possible = len(records) * (len(records) - 1) // 2

    t0 = time.perf_counter()
    matched, stage, code_fallbacks = match_all(records, pairs)
    match_seconds = time.perf_counter() - t0

    found_true = len(matched & truth)
    precision, recall, f1 = quality(matched, truth)
    algo1, match1, mismatch1 = TIER1
    algo2, match2 = TIER2
    people = len({r.entity for r in records})

    print(f"kivo demo: duplicate people in FEBRL data set 3 ({len(records):,} records of {people:,} people)")
    print(f"  known duplicate pairs   {len(truth):,}")
    print(
        f"  blocking                {possible:,} possible pairs -> {len(pairs):,} compared "
        f"({len(pairs) / possible:.2%}); {blocked_true / len(truth):.1%} of the true pairs kept"
    )
    print("  decisions")
    print(f"    tier 1 {algo1:<15} {stage['tier 1 match']:>6,} matches (> {match1})")
    print(f"    tier 1 {algo1:<15} {stage['tier 1 reject']:>6,} rejected (< {mismatch1})")
    print(f"    tier 2 {algo2:<15} {stage['tier 2 match']:>6,} matches (> {match2})")
    undecided = stage["fields match"] + stage["fields reject"]
    print(
        f"    field by field         {stage['fields match']:>6,} matches of the {undecided:,} "
        f"pairs the tiers left open (score >= {FIELD_THRESHOLD})"
    )
    print(f"    'codes' comparisons of unequal length, rescored with 'typos': {code_fallbacks:,}")
    false = len(matched) - found_true
    print(f"  matches found           {len(matched):,} ({found_true:,} true, {false:,} false)")
    print(f"  precision {precision:.2%}   recall {recall:.2%}   F1 {f1:.2%}")
    print(
        f"  throughput              {len(pairs) / match_seconds:,.0f} pairs/s "
        f"({len(pairs):,} pairs in {match_seconds:.2f} s)"
    )
    print(f"  all {possible:,} pairs, no blocking, kivo.batch.pairs on {os.cpu_count()} threads")
    print(compare_row("blocked cascade", matched, truth, block_seconds + match_seconds))
    for name, (scorer, cutoff) in ALL_PAIRS_MEASURES.items():
        t0 = time.perf_counter()
        found = match_all_pairs(records, scorer, cutoff)
        print(compare_row(name, found, truth, time.perf_counter() - t0), flush=True)
    sys.stdout.flush()  # the summary so far, before the picture's progress bar

    t0 = time.perf_counter()
    panels = score_for_picture(records, pairs)
    is_true = np.fromiter((p in truth for p in pairs), dtype=bool, count=len(pairs))
    picture = OUTPUT_DIR / "score_distributions.png"
    draw_picture(panels, is_true, picture)
    picture_seconds = time.perf_counter() - t0

    print(f"  picture                 {shown(picture)} ({len(panels)} measures, {picture_seconds:.1f} s)")
    print(f"  total time              {time.perf_counter() - started:.1f} s")


if __name__ == "__main__":
    main()
