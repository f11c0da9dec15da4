"""Record-linkage helpers shared by the examples.

Loads the bundled FEBRL census-style records, computes blocking keys, and
scores a pair of records field by field with kivo. Nothing here holds a kivo
object at module level: `FieldScorer` builds its `KivoFlow` when it is made,
so a worker process (Dask, multiprocessing) makes its own.
"""

from __future__ import annotations

import csv
import gzip
import itertools
import time
from collections import defaultdict
from collections.abc import Iterable, Sequence
from dataclasses import dataclass
from pathlib import Path

import kivo
from kivo.phonetic import soundex

DATA_FILE = Path(__file__).resolve().parent / "data" / "febrl3.csv.gz"


@dataclass(frozen=True, slots=True)
class Record:
    rec_id: str
    given_name: str
    surname: str
    street_number: str
    address_1: str
    address_2: str
    suburb: str
    postcode: str
    state: str
    date_of_birth: str
    soc_sec_id: str

    @property
    def entity(self) -> str:
        """The person behind the record: 'rec-552-dup-3' and 'rec-552-org' are both '552'."""
        return self.rec_id.split("-")[1]

    @property
    def text(self) -> str:
        """The whole record as one line, for measures that compare free text."""
        parts = (
            self.given_name,
            self.surname,
            self.street_number,
            self.address_1,
            self.address_2,
            self.suburb,
            self.postcode,
            self.state,
            self.date_of_birth,
        )
        return " ".join(p for p in parts if p)


def load_records(path: Path = DATA_FILE) -> list[Record]:
    """Reads a FEBRL CSV (plain or gzip), one `Record` per row, in file order."""
    opener = gzip.open if path.suffix == ".gz" else open
    with opener(path, "rt", encoding="utf-8", newline="") as f:
        rows = csv.reader(f, skipinitialspace=True)
        next(rows)  # header
        return [Record(*(cell.strip() for cell in row)) for row in rows]


def blocking_keys(r: Record) -> list[str]:
    """Keys under which a record is filed; two records become a candidate pair
    when they share at least one. Several independent keys keep a typo in one
    field from hiding a duplicate."""
    keys = []
    if r.postcode:
        keys.append("postcode:" + r.postcode)
    if r.date_of_birth:
        keys.append("born:" + r.date_of_birth)
    if r.soc_sec_id:
        keys.append("ssn:" + r.soc_sec_id)
    if r.given_name and r.surname:
        # Sorted so that a record with given name and surname swapped files alike.
        keys.append("name:" + "+".join(sorted((soundex(r.given_name), soundex(r.surname)))))
    return keys


def candidate_pairs(records: Sequence[Record]) -> list[tuple[int, int]]:
    """Index pairs (i < j) of records that share a blocking key, sorted."""
    blocks: defaultdict[str, list[int]] = defaultdict(list)
    for i, r in enumerate(records):
        for key in blocking_keys(r):
            blocks[key].append(i)
    pairs: set[tuple[int, int]] = set()
    for members in blocks.values():
        pairs.update(itertools.combinations(members, 2))
    return sorted(pairs)


def true_pairs(records: Sequence[Record]) -> set[tuple[int, int]]:
    """Index pairs (i < j) of records that describe the same person."""
    by_entity: defaultdict[str, list[int]] = defaultdict(list)
    for i, r in enumerate(records):
        by_entity[r.entity].append(i)
    return {p for members in by_entity.values() for p in itertools.combinations(members, 2)}


# How much each field counts in the combined score. Names, birth date and
# social security number identify a person best; the address helps.
FIELD_WEIGHTS = {
    "name": 3.0,
    "date_of_birth": 1.5,
    "soc_sec_id": 1.5,
    "street_number": 0.5,
    "address_1": 1.0,
    "address_2": 0.5,
    "suburb": 1.0,
    "postcode": 1.0,
}


class FieldScorer:
    """Scores two records field by field and combines the fields into one number.

    Names go through the "names" intent (Jaro-Winkler), fixed-width codes
    through "codes" (Hamming, which counts a transposed digit as two errors
    rather than a shift) and street names through "typos" (Levenshtein).
    """

    def __init__(self) -> None:
        self._flow = kivo.KivoFlow().preprocess(True)
        # Code comparisons that met values of different lengths (a dropped or
        # inserted digit) and were scored by edit distance instead.
        self.code_length_mismatches = 0

    def _intent(self, intent: str, a: str, b: str) -> float:
        return self._flow.compare_with_intent(intent, a, b)["score"]

    def code(self, a: str, b: str) -> float:
        try:
            return self._intent("codes", a, b)
        except ValueError:  # "Algorithm error: Hamming requires equal-length strings"
            self.code_length_mismatches += 1
            return self._intent("typos", a, b)

    def name(self, a: Record, b: Record) -> float:
        """Given name and surname, also tried crosswise: clerks swap them."""
        straight = self._intent("names", a.given_name, b.given_name) + self._intent(
            "names", a.surname, b.surname
        )
        crossed = self._intent("names", a.given_name, b.surname) + self._intent(
            "names", a.surname, b.given_name
        )
        return max(straight, crossed) / 2.0

    def fields(self, a: Record, b: Record) -> dict[str, float]:
        """One score in [0, 1] per field that both records fill in."""
        scores: dict[str, float] = {}
        if a.given_name and a.surname and b.given_name and b.surname:
            scores["name"] = self.name(a, b)
        elif (a.given_name or a.surname) and (b.given_name or b.surname):
            scores["name"] = self._intent(
                "names", f"{a.given_name} {a.surname}", f"{b.given_name} {b.surname}"
            )
        for field in ("date_of_birth", "soc_sec_id", "street_number", "postcode"):
            x, y = getattr(a, field), getattr(b, field)
            if x and y:
                scores[field] = self.code(x, y)
        for field, intent in (("address_1", "typos"), ("address_2", "typos"), ("suburb", "names")):
            x, y = getattr(a, field), getattr(b, field)
            if x and y:
                scores[field] = self._intent(intent, x, y)
        return scores

    def score(self, a: Record, b: Record) -> float:
        """Weighted mean of the field scores; fields missing on either side do not count."""
        scores = self.fields(a, b)
        total = sum(FIELD_WEIGHTS[f] for f in scores)
        if total == 0.0:
            return 0.0
        return sum(FIELD_WEIGHTS[f] * s for f, s in scores.items()) / total


# The decision cascade. Tier 1: Jaccard over the words of the two records.
# Cheap, and on this data no pair of different people shares more than about
# 30% of its words, while a duplicate with a typo or two shares over half.
TIER1 = ("jaccard_word", 0.35, 0.12)  # algorithm, match above, mismatch below
# Tier 2: Levenshtein over the characters, which forgives typos inside words.
TIER2 = ("levenshtein", 0.65)  # algorithm, match above
# The field-by-field score a pair the tiers left open needs to be a match.
FIELD_THRESHOLD = 0.65

OUTCOMES = ("tier 1 match", "tier 1 reject", "tier 2 match", "fields match", "fields reject")


def is_match(outcome: str) -> bool:
    return outcome.endswith("match")


class Matcher:
    """Decides whether two records describe the same person.

    A tiered `KivoFlow` on the whole record (cleaned first) settles the easy
    pairs cheaply; the pairs it leaves open are scored field by field.
    """

    def __init__(self) -> None:
        algo1, match1, mismatch1 = TIER1
        algo2, match2 = TIER2
        self.flow = (
            kivo.KivoFlow()
            .preprocess(True)
            .tier_1(algo1, "gt", match1, "lt", mismatch1)
            .tier_2(algo2, "gt", match2, 0.0)  # "gt" reads only the first value
        )
        self.fields = FieldScorer()

    def decide(self, a: Record, b: Record) -> str:
        """One of `OUTCOMES`: which stage settled the pair, and how."""
        _, match1, mismatch1 = TIER1
        result = self.flow.compare(a.text, b.text)
        # compare() reports tier 1 and its score both when tier 1 decided and
        # when neither tier did (the fallback), so the score tells them apart.
        if result["tier"] == 1 and result["score"] > match1:
            return "tier 1 match"
        if result["tier"] == 1 and result["score"] < mismatch1:
            return "tier 1 reject"
        if result["tier"] == 2:
            return "tier 2 match"
        return "fields match" if self.fields.score(a, b) >= FIELD_THRESHOLD else "fields reject"


def matching_pairs(records: Sequence[Record], pairs: Iterable[tuple[int, int]]) -> list[tuple[int, int]]:
    """The pairs `Matcher` accepts, in the order given, on one process."""
    matcher = Matcher()
    return [(i, j) for i, j in pairs if is_match(matcher.decide(records[i], records[j]))]


# The distributed examples score each block with kivo.batch.pairs and the
# flow, cut at tier 1's mismatch threshold. The flow's score then tells the
# decisions apart: above tier 1's match threshold a match of either tier (tier
# 2 matches only above its higher threshold), in between the tier 1 score of
# a pair neither tier settled.
_, FLOW_MATCH, FLOW_MISMATCH = TIER1
assert TIER2[1] > FLOW_MATCH


def block_match(matcher: Matcher, key: str, a: Record, b: Record, flow_score: float) -> bool:
    """Whether a pair that `pairs` found in block `key` is a match reported from that block:
    a pair sharing several keys is reported only from the block of the smallest."""
    if min(set(blocking_keys(a)) & set(blocking_keys(b))) != key:
        return False
    return flow_score > FLOW_MATCH or matcher.fields.score(a, b) >= FIELD_THRESHOLD


def dedupe_single_process(records: Sequence[Record]) -> list[tuple[int, int]]:
    """The distributed examples' answer, on one process, for comparison."""
    return matching_pairs(records, candidate_pairs(records))


def report(setup: str, records: Sequence[Record], found: list[tuple[int, int]], seconds: float) -> None:
    """Prints a distributed run's pairs, their quality, and whether one process finds the same."""
    truth = true_pairs(records)
    correct = sum(1 for p in found if p in truth)
    print(f"{setup}: {len(found):,} duplicate pairs in {seconds:.1f} s")
    print(f"  precision {correct / max(len(found), 1):.2%}   recall {correct / len(truth):.2%}")
    started = time.perf_counter()
    single = dedupe_single_process(records)
    verdict = "same pairs" if single == found else "DIFFERENT pairs"
    print(f"  single process: {len(single):,} pairs in {time.perf_counter() - started:.1f} s, {verdict}")
