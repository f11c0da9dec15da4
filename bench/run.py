"""Times kivo against its peers and writes docs/benchmarks.md and docs/benchmarks.png.

    python bench/run.py            # full run (several minutes)
    python bench/run.py --quick    # smoke run: fewer workloads, rounds and lengths
"""

import argparse
import importlib.util
import math
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)

PEERS = {  # import name -> distribution on PyPI
    "rapidfuzz": "rapidfuzz", "jellyfish": "jellyfish", "Levenshtein": "Levenshtein",
    "editdistance": "editdistance", "polyleven": "polyleven", "datasketch": "datasketch",
    "simhash": "simhash", "rank_bm25": "rank_bm25", "sklearn": "scikit-learn",
    "matplotlib": "matplotlib",
}

NOTES = [
    "Jaro-Winkler: RapidFuzz adds the prefix bonus only when the Jaro value exceeds 0.7, "
    "jellyfish works on grapheme clusters and `Levenshtein.jaro_winkler` follows RapidFuzz; "
    "kivo always adds the bonus. The work (matching, transpositions) is the same, so the "
    "times compare, but the values may differ below 0.7.",
    "MinHash: datasketch hashes each shingle with SHA-1 and keeps 32-bit values; kivo uses "
    "FNV-1a and 64-bit values modulo 2^61 − 1. Both build 128 minima over the same set of "
    "character 3-grams, which datasketch receives ready-made (its time excludes shingling, "
    "kivo's includes it) and with its permutations precomputed.",
    "SimHash: the `simhash` package hashes each feature with MD5; it receives the same list of "
    "character 4-grams (repeats kept) ready-made, while kivo's time includes shingling.",
    "BM25: rank_bm25 gets the texts cut by an equivalent regex tokenizer inside the timed call, "
    "builds `BM25Okapi` over the two term lists and scores the query against both, the same "
    "work as kivo's normalised score. rank_bm25's IDF differs (it floors negative IDFs with "
    "epsilon), so values differ slightly.",
    "TF-IDF: scikit-learn's `TfidfVectorizer` with smooth IDF (the same ln(3 / (df + 1)) + 1) "
    "and l2 normalisation, fed the same tokenizer, then the dot product of the two rows.",
    "clean_text is compared with the pure-Python one-liner "
    "`' '.join(unicodedata.normalize('NFC', s).lower().split())`; kivo additionally applies "
    "Final_Sigma lowercasing and ICU's normalisation, so outputs may differ in rare cases.",
    "Long Levenshtein cases come in two kinds: a text against a copy with about one edit in "
    "ten characters (like two revisions of a document) and two unrelated texts. kivo first "
    "tries a narrow diagonal band, which settles alike texts quickly; unrelated texts fall "
    "through to the full bit-parallel columns.",
    "Hamming, Levenshtein and Jaro-Winkler read CPython's fixed-width character arrays "
    "directly (one, two or four bytes per character), as RapidFuzz does, so non-ASCII text "
    "costs no decoding; the other measures read the UTF-8 form.",
    "Crafted input: the same kivo call on a text built to be slow (one letter repeated, "
    "so that every window is equal) and on a random text of the same length, alphabet and "
    "window; the goal bounds how much slower crafting can make a call.",
    "Crafted input for Levenshtein and Jaro-Winkler uses characters that an unkeyed "
    "multiplicative hash would crowd into one corner of their character tables, against as "
    "many random characters; the tables are keyed per process, so both cost the same.",
    "KivoFlow: `compare` returns a new five-entry dict on every call (a copy of a template "
    "per algorithm and tier, with the score filled in); building it and the method call "
    "cost about twice a whole short `levenshtein_similarity` call, whose own call reads the "
    "texts in place.",
]


def ensure_peers():
    missing = [dist for mod, dist in PEERS.items() if importlib.util.find_spec(mod) is None]
    if missing:
        print("installing peers:", " ".join(missing), flush=True)
        subprocess.run([sys.executable, "-m", "pip", "install", "-q", *missing], check=False)


def run_cases(cases, rounds, target):
    from timing import time_case

    results = []
    for case in cases:
        contenders = [case.kivo] + case.peers
        label = f"{case.group}: {case.label}"
        usable = []
        values = {}
        error = None
        for c in contenders:
            try:
                values[c.name] = c.func(*c.args) if c.args is not None else c.func()
                usable.append(c)
            except Exception as e:  # noqa: BLE001 - a failing contender is reported, not fatal
                if c is case.kivo:
                    error = f"{type(e).__name__}: {e}"
                    break
                print(f"  {c.name} failed on {label}: {e}")
        if error:
            print(f"{label}: skipped ({error})")
            results.append({"group": case.group, "label": case.label, "error": error})
            continue
        if case.same_result:
            expected = values["kivo"]
            for name, value in values.items():
                if value != expected and not (isinstance(value, float) and math.isclose(
                        value, expected, rel_tol=1e-12)):
                    raise SystemExit(f"{label}: {name} returned {value!r}, kivo {expected!r}")
        timed = time_case(usable, rounds=rounds, target=target)
        res = {"group": case.group, "label": case.label, "kivo": timed[0], "peers": timed[1:],
               "goals": case.goals}
        ratios = ", ".join(f"{t.name} {timed[0].seconds / t.seconds:.3f}×" for t in timed[1:]
                           if t.seconds > 0)
        print(f"{label}: kivo {timed[0].seconds * 1e6:.3f} µs; {ratios}", flush=True)
        results.append(res)
    return results


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="fast smoke run")
    parser.add_argument("--out", default=os.path.join(ROOT, "docs"), help="output directory")
    parser.add_argument("--only", default="", help="run only cases whose group contains this")
    parser.add_argument("--no-sweep", action="store_true", help="skip the scaling sweep")
    args = parser.parse_args()

    ensure_peers()
    import cases as case_table  # imports the peers
    import report
    import sweep

    print(f"kivo vector path: {report.simd_path()}", flush=True)
    rounds, target = (3, 0.004) if args.quick else (9, 0.02)
    cases = [c for c in case_table.all_cases(args.quick) if args.only.lower() in c.group.lower()]
    results = run_cases(cases, rounds, target)

    os.makedirs(args.out, exist_ok=True)
    image = None
    if not args.no_sweep:
        curves = sweep.run_sweep(args.quick, rounds=3 if args.quick else 5, target=target)
        image = os.path.join(args.out, "benchmarks.png")
        sweep.plot(curves, image)
    path = os.path.join(args.out, "benchmarks.md")
    report.write(path, results, image, rounds, args.quick, NOTES)
    print("wrote", path, image or "")


if __name__ == "__main__":
    main()
