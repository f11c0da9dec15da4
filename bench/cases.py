"""The benchmark cases: for each workload, the kivo call and the peers' calls
doing the same work on the same inputs."""

import random
import re
import unicodedata
from dataclasses import dataclass, field

import kivo

from timing import Contender
import workloads as w


@dataclass
class Case:
    group: str
    label: str
    kivo: Contender
    peers: list[Contender] = field(default_factory=list)
    goals: dict[str, float] = field(default_factory=dict)  # peer name -> target ratio
    same_result: bool = False  # every contender must return the same value


def _loop(func, pairs):
    """One call per pair; the per-call time divides by len(pairs)."""

    def run():
        for a, b in pairs:
            func(a, b)

    return run


def _empty_pairs_loop(pairs):
    """The loop of `_loop` without the calls: its cost is subtracted."""

    def run():
        for a, b in pairs:
            pass

    return run


def _peer_modules():
    mods = {}
    for name in ("rapidfuzz", "jellyfish", "Levenshtein", "editdistance", "polyleven",
                 "datasketch", "simhash", "rank_bm25", "sklearn"):
        try:
            mods[name] = __import__(name)
        except ImportError:
            mods[name] = None
    return mods


P = _peer_modules()


def _levenshtein_peers():
    out = []
    if P["rapidfuzz"]:
        from rapidfuzz.distance import Levenshtein as rf
        out.append(("RapidFuzz", rf.distance))
    if P["jellyfish"]:
        out.append(("jellyfish", P["jellyfish"].levenshtein_distance))
    if P["Levenshtein"]:
        out.append(("Levenshtein", P["Levenshtein"].distance))
    if P["editdistance"]:
        out.append(("editdistance", P["editdistance"].eval))
    if P["polyleven"]:
        out.append(("polyleven", P["polyleven"].levenshtein))
    return out


def _jaro_winkler_peers():
    out = []
    if P["rapidfuzz"]:
        from rapidfuzz.distance import JaroWinkler as rf
        out.append(("RapidFuzz", rf.similarity))
    if P["jellyfish"]:
        out.append(("jellyfish", P["jellyfish"].jaro_winkler_similarity))
    if P["Levenshtein"]:
        out.append(("Levenshtein", P["Levenshtein"].jaro_winkler))
    return out


def _hamming_peers():
    out = []
    if P["rapidfuzz"]:
        from rapidfuzz.distance import Hamming as rf
        out.append(("RapidFuzz", rf.distance))
    if P["jellyfish"]:
        out.append(("jellyfish", P["jellyfish"].hamming_distance))
    if P["Levenshtein"]:
        out.append(("Levenshtein", P["Levenshtein"].hamming))
    return out


def _pairwise(group, label, kivo_func, peers, pairs, goals):
    """A case over a list of pairs (or one pair) with identical calls for all."""
    if len(pairs) == 1:
        (a, b), = pairs
        make = lambda name, f: Contender(name, f, (a, b))  # noqa: E731
    else:
        make = lambda name, f: Contender(name, _loop(f, pairs), None,  # noqa: E731
                                         calls=len(pairs), baseline=_empty_pairs_loop(pairs))
    same = group != "Jaro-Winkler similarity"  # the peers' Jaro-Winkler definitions differ
    return Case(group, label, make("kivo", kivo_func), [make(n, f) for n, f in peers], goals,
                same_result=same and len(pairs) == 1)


def edit_cases(rng: random.Random, quick: bool) -> list[Case]:
    cases = []
    names = w.name_pairs(rng)
    medium = [w.similar_pair(100, None, rng) for _ in range(4)]
    long_lengths = [1000] if quick else [1000, 10000]
    accents_short = [("Müller Straße", "Mueller Strasse"), ("José Núñez", "Jose Nunez"),
                     ("Ελληνικά", "Ελληνικη"), ("東京都港区", "東京都北区")]

    lev = _levenshtein_peers()
    cases.append(_pairwise("Levenshtein distance", "short ASCII names (16 pairs, ≤16 chars)",
                           kivo.levenshtein_distance, lev, names,
                           {"RapidFuzz": 0.5, "jellyfish": 0.3}))
    cases.append(_pairwise("Levenshtein distance", "short non-ASCII (4 pairs)",
                           kivo.levenshtein_distance, lev, accents_short, {}))
    cases.append(_pairwise("Levenshtein distance", "medium ASCII ≈100 chars (4 pairs)",
                           kivo.levenshtein_distance, lev, medium, {}))
    for n in long_lengths:
        for alphabet, tag in ((None, "ASCII prose"), (w.ACCENTED, "Latin accents"),
                              (w.GREEK, "Greek"), (w.CJK, "CJK")):
            if quick and tag in ("Greek",):
                continue
            pair = w.similar_pair(n, alphabet, rng)
            cases.append(_pairwise("Levenshtein distance", f"{n:,} chars {tag}, ~10% edits",
                                   kivo.levenshtein_distance, lev[:1] + lev[2:3], [pair],
                                   {"RapidFuzz": 1.0}))
        for alphabet, tag in ((None, "ASCII prose"), (w.CJK, "CJK")):
            pair = w.unrelated_pair(n, alphabet, rng)
            cases.append(_pairwise("Levenshtein distance", f"{n:,} chars {tag}, unrelated",
                                   kivo.levenshtein_distance, lev[:1] + lev[2:3], [pair],
                                   {"RapidFuzz": 1.0}))

    jw = _jaro_winkler_peers()
    cases.append(_pairwise("Jaro-Winkler similarity", "short ASCII names (16 pairs, ≤16 chars)",
                           kivo.jaro_winkler_similarity, jw, names, {"RapidFuzz": 0.5}))
    cases.append(_pairwise("Jaro-Winkler similarity", "short non-ASCII (4 pairs)",
                           kivo.jaro_winkler_similarity, jw, accents_short, {}))
    cases.append(_pairwise("Jaro-Winkler similarity", "medium ASCII ≈100 chars (4 pairs)",
                           kivo.jaro_winkler_similarity, jw, medium, {}))
    for n in long_lengths:
        for alphabet, tag in ((None, "ASCII prose"), (w.CJK, "CJK")):
            pair = w.similar_pair(n, alphabet, rng)
            cases.append(_pairwise("Jaro-Winkler similarity", f"{n:,} chars {tag}, ~10% edits",
                                   kivo.jaro_winkler_similarity, jw[:1], [pair],
                                   {"RapidFuzz": 1.0}))

    ham = _hamming_peers()
    ham_short = [(a, b) for a, b in (w.equal_length_pair(12, "abcdefgh", rng) for _ in range(8))]
    cases.append(_pairwise("Hamming distance", "short ASCII (8 pairs, 12 chars)",
                           kivo.hamming_distance, ham, ham_short, {"RapidFuzz": 0.5}))
    for n, alphabet, tag in ((1000, "abcdefgh", "ASCII"), (1000, w.ACCENTED, "Latin accents"),
                             (10000, "abcdefgh", "ASCII")):
        pair = w.equal_length_pair(n, alphabet, rng)
        cases.append(_pairwise("Hamming distance", f"{n:,} chars {tag}", kivo.hamming_distance,
                               ham, [pair], {"RapidFuzz": 0.5}))
    return cases


def _char_shingles(text: str, k: int, keep_repeats: bool):
    if len(text) < k:
        grams = [text]
    else:
        grams = [text[i:i + k] for i in range(len(text) - k + 1)]
    return grams if keep_repeats else list(dict.fromkeys(grams))


TERM_SPLIT = re.compile(r"[\s!-/:-@\[-`{-~]+")


def _terms(text: str) -> list[str]:
    return [t for t in TERM_SPLIT.split(text.lower()) if t]


def document_cases(rng: random.Random, quick: bool) -> list[Case]:
    cases = []
    sizes = [1024] if quick else [1024, 10240]
    for size in sizes:
        tag = f"{size // 1024} KB"
        a, b = w.document_pair(size, rng)

        peers = []
        if P["datasketch"]:
            from datasketch import MinHash
            template = MinHash(num_perm=128, seed=1)
            perms = template.permutations
            scheme = {"scheme": template.scheme} if hasattr(template, "scheme") else {}
            shingles = [s.encode() for s in _char_shingles(a, 3, keep_repeats=False)]

            def datasketch_signature(shingles=shingles, perms=perms):
                m = MinHash(num_perm=128, permutations=perms, **scheme)
                m.update_batch(shingles)
                return m.hashvalues

            peers.append(Contender("datasketch", datasketch_signature, None,
                                   "shingles made beforehand; SHA-1 per shingle"))
        cases.append(Case("MinHash signature (3-grams, 128 functions)", f"{tag} document",
                          Contender("kivo", kivo.minhash_signature, (a, 3, 128)), peers,
                          {"datasketch": 0.05}))

        peers = []
        if P["simhash"]:
            from simhash import Simhash
            features = _char_shingles(a, 4, keep_repeats=True)
            peers.append(Contender("simhash", Simhash, (features,),
                                   "4-gram list made beforehand; MD5 per feature"))
        cases.append(Case("SimHash fingerprint (4-grams)", f"{tag} document",
                          Contender("kivo", kivo.simhash_fingerprint_default, (a,)), peers,
                          {"simhash": 0.05}))

        peers = []
        if P["rank_bm25"]:
            from rank_bm25 import BM25Okapi

            def rank_bm25_similarity(a=a, b=b):
                query, doc = _terms(a), _terms(b)
                scores = BM25Okapi([query, doc]).get_scores(query)
                top = max(scores[1], scores[0], 0.0)
                return scores[1] / top if top > 0 else 0.0

            peers.append(Contender("rank_bm25", rank_bm25_similarity, None,
                                   "regex tokenizer + BM25Okapi over the two texts"))
        cases.append(Case("BM25 similarity", f"{tag} pair",
                          Contender("kivo", kivo.bm25_similarity, (a, b)), peers,
                          {"rank_bm25": 0.05} if size == 1024 else {}))

        peers = []
        if P["sklearn"]:
            from sklearn.feature_extraction.text import TfidfVectorizer

            def sklearn_tfidf(a=a, b=b):
                x = TfidfVectorizer(tokenizer=_terms, token_pattern=None,
                                    lowercase=False).fit_transform([a, b])
                return x[0].multiply(x[1]).sum()

            peers.append(Contender("scikit-learn", sklearn_tfidf, None,
                                   "TfidfVectorizer (smooth idf, l2) + dot product"))
        cases.append(Case("TF-IDF cosine similarity", f"{tag} pair",
                          Contender("kivo", kivo.tfidf_similarity, (a, b)), peers,
                          {"scikit-learn": 0.02} if size == 1024 else {}))

        def python_clean(s):
            return " ".join(unicodedata.normalize("NFC", s).lower().split())

        messy_ascii = a.replace(" ", "  \t", 40).replace(".", ".\n", 10)
        messy_wide = a.replace(" ", "  \t", 40).replace(".", ". \u00a0", 10).replace("e", "é", 20)
        for label, messy in (("ASCII", messy_ascii), ("accents, no-break spaces", messy_wide)):
            cases.append(Case("clean_text", f"{tag} document, {label}",
                              Contender("kivo", kivo.clean_text, (messy,)),
                              [Contender("Python str", python_clean, (messy,),
                                         "' '.join(normalize('NFC', s).lower().split())")],
                              {"Python str": 1.0}))
    return cases


def router_cases(rng: random.Random, quick: bool) -> list[Case]:
    cases = []
    names = w.name_pairs(rng, 1)[0]
    flow = kivo.KivoFlow().tier_1("levenshtein", "gt", 0.9, "lt", 0.1)
    cases.append(Case("KivoFlow", "compare, one Levenshtein tier (short names)",
                      Contender("kivo compare", flow.compare, names),
                      [Contender("bare levenshtein_similarity", kivo.levenshtein_similarity,
                                 names)],
                      {"bare levenshtein_similarity": 2.0}))
    plain = kivo.KivoFlow()
    chosen = plain.compare_with_intent("names", *names)["algorithm"]
    bare = getattr(kivo, f"{chosen}_similarity")
    cases.append(Case("KivoFlow", f"compare_with_intent('names') → {chosen} (short names)",
                      Contender("kivo compare_with_intent", plain.compare_with_intent,
                                ("names",) + names),
                      [Contender(f"bare {chosen}_similarity", bare, names)], {}))
    return cases


def crafted_cases(rng: random.Random, quick: bool) -> list[Case]:
    """Inputs built to be slow, each timed against random text of the same
    length, alphabet and window: the ratio bounds what crafting gains."""
    cases = []
    length = 80000
    crafted = w.one_letter_pair(length)
    plain = w.random_pair_like(length, "éx", rng)
    # Windows at either side of where Jaccard stops hashing them, and half the text.
    for n in (15, 16, length // 2):
        cases.append(Case("Crafted input", f"jaccard_similarity, 'é' × {length:,}, n = {n:,}",
                          Contender("kivo", kivo.jaccard_similarity, (*crafted, n)),
                          [Contender("random text", kivo.jaccard_similarity, (*plain, n),
                                     "random 'é'/'x' text of the same length")],
                          {"random text": 2.0}))
    # Characters an unkeyed hash of the character tables would crowd into one
    # corner, against random characters: same length and alphabet size.
    workloads = [  # measure, length, alphabet size, table bits the text is crafted for
        ("jaro_winkler_similarity", kivo.jaro_winkler_similarity, 32768, 16384, 16),
        ("levenshtein_distance", kivo.levenshtein_distance, 8192, 2048, 14),
        ("levenshtein_distance, 64-char a", lambda a, b: kivo.levenshtein_distance(a[:64], b),
         131072, 64, 7),
    ]
    if not quick:
        workloads.append(("levenshtein_distance", kivo.levenshtein_distance, 131072, 16384, 18))
    for name, func, length, size, bits in workloads:
        pairs = [tuple(w.random_text(length, alphabet, rng) for _ in range(2))
                 for alphabet in (w.crowded_code_points(size, bits),
                                  w.random_code_points(size, rng))]
        cases.append(Case("Crafted input", f"{name}, {length:,} chars of {size:,} crowded",
                          Contender("kivo", func, pairs[0]),
                          [Contender("random text", func, pairs[1],
                                     f"{size:,} random characters")],
                          {"random text": 2.0}))
    return cases


def all_cases(quick: bool, seed: int = 20261206) -> list[Case]:
    rng = random.Random(seed)
    out = []
    for make in (edit_cases, document_cases, router_cases, crafted_cases):
        try:
            out.extend(make(rng, quick))
        except Exception as error:  # a measure still being written must not stop the rest
            print(f"skipping {make.__name__}: {type(error).__name__}: {error}")
    return out
