"""kivo.batch against RapidFuzz's process module and datasketch on matching
jobs as users run them: two distinct lists (one list against itself is a row
of its own), names and whole records, with and without cutoffs. Interleaved
medians of CPU time, workers=1 unless a row says otherwise.

    python bench/batch.py [--quick] [--simd=portable|avx2|avx512] [--markdown FILE]

Runs on whichever kivo the interpreter imports: the developer build in .venv
or an installed wheel (scripts/bench-wheel.sh). --simd limits kivo.batch's
kernels to that vector path (through the private kivo.batch._limit_simd); the
path that ran and the machine's instruction sets are printed first.
RapidFuzz and datasketch are installed for this comparison only.
"""

import csv
import gzip
import os
import platform
import random
import subprocess
import sys
import time
from pathlib import Path

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")  # idle BLAS threads would count as CPU time

import numpy as np

import kivo
import kivo.batch as batch
from rapidfuzz import distance as rfd
from rapidfuzz import process
from timing import medians

QUICK = "--quick" in sys.argv
ROUNDS = 3 if QUICK else 5
DATA = Path(__file__).resolve().parent.parent / "examples" / "data" / "febrl3.csv.gz"
ROWS: list[tuple[str, float, str]] = []  # (job, kivo / peer, goal)


def febrl_rows():
    with gzip.open(DATA, "rt") as f:
        return [[cell.strip() for cell in row] for row in list(csv.reader(f))[1:]]


def febrl_names(count, seed):
    """Distinct FEBRL names ("given surname") of 5 to 20 characters."""
    pool = sorted({f"{r[1]} {r[2]}".strip() for r in febrl_rows()})
    pool = [n for n in pool if 5 <= len(n) <= 20]
    return random.Random(seed).sample(pool, min(count, len(pool)))


def typos(texts, count, seed):
    """`count` copies of random texts, each with one to three characters replaced."""
    rng = random.Random(seed)
    out = []
    while len(out) < count:
        chars = list(rng.choice(texts))
        for _ in range(rng.randint(1, 3)):
            chars[rng.randrange(len(chars))] = rng.choice("abcdefghijklmnopqrstuvwxyz")
        out.append("".join(chars))
    return out


# Syllables of place names in seven scripts; a name joins two to four of one script.
SYLLABLES = [
    "ber lin mün chen köln düs sel dorf würz burg lü beck gör litz".split(),
    "mos kva san kt pe ter burg no vo si birsk ka zan".split(),
    "Мос ква Санкт Пе тер бург Но во си бирск Ка зань Ом ск".split(),
    "Αθή να Θεσ σα λο νί κη Πά τρα Ηρά κλει ο Λά ρι σα".split(),
    "東 京 大 阪 名 古 屋 札 幌 福 岡 神 戸 京 都 横 浜".split(),
    "मुं बई दि ल्ली को लका ता चे न्नई बें गलु रु".split(),
    "São Pau lo Be lém Goi â nia Flo ri a nó po lis Ma ca pá".split(),
]


def place_names(count, seed):
    rng = random.Random(seed)
    names = []
    for _ in range(count):
        script = rng.choice(SYLLABLES)
        names.append("".join(rng.choices(script, k=rng.randint(2, 4))))
    return names


def records(count, seed):
    """Whole FEBRL records, cleaned, as one line each (35 to 110 characters)."""
    fields = [r[1:10] for r in febrl_rows()]
    texts = [kivo.clean_text(" ".join(f for f in row if f)) for row in fields]
    return random.Random(seed).sample(texts, count)


def timed(cases):
    return medians(cases, ROUNDS)


def report(job, times, base, goal):
    ratio = times["kivo"] / times[base]
    line = ", ".join(f"{k} {v * 1e3:.1f} ms" for k, v in times.items())
    print(f"{job}: {line}; kivo/{base} = {ratio:.2f} (goal {goal})", flush=True)
    ROWS.append((job, ratio, goal))


def compare_cdist(job, queries, choices, ours, theirs, goal, cutoff=None, dtype=None):
    """kivo.batch.cdist against process.cdist on the same lists. Levenshtein
    results agree (RapidFuzz marks a missed cutoff with 0, kivo keeps the
    score); Jaro-Winkler differs where RapidFuzz leaves out the prefix bonus
    (Jaro below 0.7), which costs the same work."""
    kw = {} if cutoff is None else {"score_cutoff": cutoff}
    run_ours = lambda: batch.cdist(queries, choices, scorer=ours, dtype=dtype, **kw)
    run_theirs = lambda: process.cdist(queries, choices, scorer=theirs, workers=1, **kw)
    a, b = run_ours(), run_theirs()
    if ours is kivo.jaro_winkler_similarity:
        pass
    elif cutoff is None:
        assert np.allclose(a, b), job
    else:
        assert np.array_equal(a >= cutoff, b >= cutoff), job
    report(job, timed({"kivo": run_ours, "rapidfuzz": run_theirs}), "rapidfuzz", goal)


def name_jobs():
    n = 500 if QUICK else 2000
    febrl = febrl_names(2 * n, 1)
    lists = {
        "FEBRL names": (febrl[:n], febrl[n:]),
        "typo'd names": (typos(febrl, n, 2), typos(febrl, n, 3)),
        "multilingual place names": (place_names(n, 4), place_names(n, 5)),
    }
    lev, jw = kivo.levenshtein_distance, kivo.jaro_winkler_similarity
    for label, (a, b) in lists.items():
        compare_cdist(f"Levenshtein distance, {n} x {n} {label}", a, b, lev,
                      rfd.Levenshtein.distance, "<= 0.5", dtype="int32")  # fmt: skip
    for label in ("FEBRL names", "multilingual place names"):
        a, b = lists[label]
        compare_cdist(f"Jaro-Winkler, {n} x {n} {label}", a, b, jw, rfd.JaroWinkler.similarity, "<= 0.4")
    a, b = lists["FEBRL names"]
    compare_cdist(f"Levenshtein distance, one list of {n} FEBRL names against itself", a, a, lev,
                  rfd.Levenshtein.distance, "(report)", dtype="int32")  # fmt: skip


def record_jobs():
    n = 300 if QUICK else 1000
    a, b = records(n, 6), records(n, 7)
    lev, rf_lev = kivo.levenshtein_similarity, rfd.Levenshtein.normalized_similarity
    for cutoff in (None, 0.65, 0.9):
        label = "no cutoff" if cutoff is None else f"score_cutoff={cutoff}"
        compare_cdist(f"normalized Levenshtein, {n} x {n} records, {label}", a, b, lev, rf_lev,
                      "<= 0.6", cutoff=cutoff)  # fmt: skip
    compare_cdist(f"Jaro-Winkler, {n} x {n} records", a, b, kivo.jaro_winkler_similarity,
                  rfd.JaroWinkler.similarity, "<= 0.6")  # fmt: skip
    compare_cdist(f"normalized Levenshtein, one list of {n} records against itself, score_cutoff=0.65",
                  a, a, lev, rf_lev, "(report)", cutoff=0.65)  # fmt: skip


def topk_job():
    q, c = (100, 5000) if QUICK else (500, 20000)
    pool = febrl_names(5000, 8)
    queries, choices = typos(pool, q, 9), pool + typos(pool, c - len(pool), 10)

    def ours():
        return batch.topk(queries, choices, scorer=kivo.levenshtein_similarity, k=5, score_cutoff=0.8)

    def theirs():
        scores = process.cdist(queries, choices, scorer=rfd.Levenshtein.normalized_similarity,
                               score_cutoff=0.8, workers=1)  # fmt: skip
        return np.argsort(-scores, axis=1, kind="stable")[:, :5]

    report(f"topk k=5, similarity >= 0.8, {q} x {c} names", timed({"kivo": ours, "cdist+argsort": theirs}),
           "cdist+argsort", "<= 0.5")  # fmt: skip


def self_join_job():
    n = 800 if QUICK else 2500
    texts = records(n, 11)
    scorer, cutoff = kivo.levenshtein_similarity, 0.65

    def ours():
        return batch.pairs(texts, scorer=scorer, score_cutoff=cutoff, workers=1)

    def theirs():
        scores = process.cdist(texts, texts, scorer=rfd.Levenshtein.normalized_similarity,
                               score_cutoff=cutoff, workers=1)  # fmt: skip
        return np.nonzero(np.triu(scores >= cutoff, 1))

    i, j, _ = ours()
    ri, rj = theirs()
    assert set(zip(i.tolist(), j.tolist())) == set(zip(ri.tolist(), rj.tolist()))
    report(f"pairs self-join, Levenshtein >= {cutoff}, {n} records ({len(i)} pairs)",
           timed({"kivo": ours, "cdist+triu": theirs}), "cdist+triu", "<= 0.5")  # fmt: skip


def documents(count, seed):
    """Clusters of near-duplicate prose over a large vocabulary."""
    rng = random.Random(seed)
    words = ["".join(rng.choices("abcdefghijklmnopqrstuvwxyz", k=rng.randint(2, 8))) for _ in range(5000)]
    docs = []
    while len(docs) < count:
        base = rng.choices(words, k=60)
        for _ in range(rng.choice([1, 1, 2, 3])):
            copy = list(base)
            for _ in range(rng.randrange(8)):
                copy[rng.randrange(len(copy))] = rng.choice(words)
            docs.append(" ".join(copy))
    return docs[:count]


def dedup_job():
    from datasketch import MinHash, MinHashLSH

    count, threshold = (2000 if QUICK else 20000), 0.5
    docs = documents(count, 4)

    def ours():
        sig = batch.minhash_signatures(docs, 3, 128, workers=1)
        i, j = batch.lsh_pairs(sig, bands=32, rows=4)
        score = batch.cpdist([docs[x] for x in i], [docs[y] for y in j], scorer=kivo.jaccard_trigram_similarity)
        return int((score >= threshold).sum())

    def theirs():
        shingles = [{d[k : k + 3].encode() for k in range(len(d) - 2)} for d in docs]
        lsh = MinHashLSH(threshold=threshold, num_perm=128)
        hashes = MinHash.bulk(shingles, num_perm=128)
        for n, h in enumerate(hashes):
            lsh.insert(n, h)
        return sum(1 for n, h in enumerate(hashes) for m in lsh.query(h) if m > n)

    report(f"MinHash + LSH + exact check, {count} documents", timed({"kivo": ours, "datasketch": theirs}),
           "datasketch", "<= 0.03")  # fmt: skip


def workers_job():
    ns = febrl_names(1000 if QUICK else 3000, 12)
    wall = {}
    for workers in (1, 2):
        start = time.perf_counter()
        batch.cdist(ns, ns, scorer=kivo.jaro_winkler_similarity, workers=workers)
        wall[workers] = time.perf_counter() - start
    print(f"workers=2 speed-up over workers=1 (wall): {wall[1] / wall[2]:.2f} (goal >= 1.7)")


def instruction_sets():
    text = Path("/proc/cpuinfo").read_text()
    flags = next((set(l.split(":", 1)[1].split()) for l in text.splitlines() if l.startswith("flags")), set())
    model = next((l.split(":", 1)[1].strip() for l in text.splitlines() if l.startswith("model name")),
                 platform.processor())  # fmt: skip
    wanted = ("sse4_2", "avx2", "avx512f", "avx512bw", "avx512vpopcntdq")
    return model, " ".join(f for f in wanted if f in flags)


def build():
    """"the wheel" or "the developer build" (installed into the repository's .venv)."""
    return "the developer build" if ".venv" in kivo.__file__ else "the wheel"


def machine():
    import rapidfuzz

    model, isa = instruction_sets()
    return (f"{model}; instruction sets: {isa}\nkivo: {build()} ({kivo.__file__}); kivo.batch vector path: "
            f"{batch._simd_path()}; RapidFuzz {rapidfuzz.__version__}; Python {platform.python_version()}")


def write_markdown(path, header):
    """Replaces this build's section of the report at `path`, keeping the other's."""
    title = f"## {build().capitalize()}"
    lines = [title, "", f"```\n{header}\n```", "", "| job | kivo ÷ peer | goal |", "|---|---|---|"]
    lines += [f"| {job} | {ratio:.2f} | {goal} |" for job, ratio, goal in ROWS]
    file = Path(path)
    intro = ("# kivo.batch benchmarks\n\nWritten by `bench/batch.py --markdown` (`make bench`) and "
             "`make bench-wheel`: kivo ÷ peer, CPU time, interleaved medians, workers=1.\n")
    sections = file.read_text().split("\n## ")[1:] if file.exists() else []
    kept = ["## " + s.rstrip() for s in sections if not ("## " + s).startswith(title)]
    file.write_text("\n\n".join([intro.rstrip()] + sorted(kept + ["\n".join(lines)])) + "\n")


if __name__ == "__main__":
    for arg in sys.argv[1:]:
        if arg.startswith("--simd="):
            batch._limit_simd(arg.split("=", 1)[1])
    header = machine()
    print(header, flush=True)
    name_jobs()
    record_jobs()
    topk_job()
    self_join_job()
    dedup_job()
    workers_job()
    if "--markdown" in sys.argv:
        write_markdown(sys.argv[sys.argv.index("--markdown") + 1], header)
