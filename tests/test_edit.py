"""kivo.edit against plain models, known values, its peers and its own
properties: swaps, insertions and deletions only, costs, alignments."""

import _thread
import random
import threading
import time

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kivo
import models
import strategies
from measures import LEVENSHTEIN, Measure, check

edit = pytest.importorskip("kivo.edit")

OSA = Measure("osa", (
    (edit.osa_distance, models.osa_distance), (edit.osa_similarity, models.osa_similarity),
), relation=lambda a, b, v: v[1] == models.similarity_from(v[0], max(len(a), len(b))))
DAMERAU = Measure("damerau_levenshtein", (
    (edit.damerau_levenshtein_distance, models.damerau_levenshtein_distance),
    (edit.damerau_levenshtein_similarity, models.damerau_levenshtein_similarity),
), relation=lambda a, b, v: v[1] == models.similarity_from(v[0], max(len(a), len(b))))
INDEL = Measure("indel", (
    (edit.indel_distance, models.indel_distance), (edit.indel_similarity, models.indel_similarity),
), relation=lambda a, b, v: v[1] == models.similarity_from(v[0], len(a) + len(b)))
LCS = Measure("lcs", (
    (edit.lcs_length, models.lcs_length), (edit.lcs_similarity, models.lcs_similarity),
), relation=lambda a, b, v: v[0] <= min(len(a), len(b)))
MEASURES = [OSA, DAMERAU, INDEL, LCS]

# Texts long enough for the kernels that span several 64-bit words.
LONG = st.text(st.sampled_from("abcé日😀"), max_size=150)
# ASCII only: the masks of every character stay put, and columns run in pairs.
LONG_ASCII = st.text(st.sampled_from("abc "), min_size=50, max_size=200)
FEW = settings(deadline=None, max_examples=60)


@pytest.mark.parametrize("measure", MEASURES, ids=repr)
@given(a=strategies.texts(surrogates=True), b=strategies.texts(surrogates=True))
def test_measures_agree_with_their_models(measure, a, b):
    check(measure, a, b)


@pytest.mark.parametrize("measure", MEASURES, ids=repr)
@FEW
@given(a=LONG | LONG_ASCII, data=st.data())
def test_long_texts_agree_with_the_models(measure, a, data):
    b = data.draw(strategies.alike(a) | LONG | LONG_ASCII)
    check(measure, a, b)


# Texts of one width each around a 64-bit word: one-byte pairs that fit a
# word are compared as bytes (Latin-1 too), the longer of two that fit runs
# down the rows, and Damerau-Levenshtein indexes bytes directly.
WIDTHS = ["abcab ", "ab\x00é\xff\x80ß", "abé日Ж", "ab😀𐐷é"]
AROUND_A_WORD = st.sampled_from(WIDTHS).flatmap(
    lambda alphabet: st.sampled_from([0, 1, 2, 63, 64, 65]).flatmap(
        lambda n: st.text(st.sampled_from(alphabet), min_size=n, max_size=n)))


@pytest.mark.parametrize("measure", [*MEASURES, LEVENSHTEIN], ids=repr)
@given(a=AROUND_A_WORD | strategies.texts(max_size=70), data=st.data())
def test_texts_around_a_word_agree_with_the_models(measure, a, data):
    b = data.draw(strategies.alike(a) | AROUND_A_WORD)
    check(measure, a, b)


@pytest.mark.parametrize("alphabet", ["ab", "aé日"])
def test_damerau_levenshtein_beyond_narrow_cells(alphabet):
    # Distances past 2^16 need cells wider than a short pair's.
    rng = random.Random(len(alphabet))
    a = "".join(rng.choices(alphabet, k=70_000))
    b = "".join(rng.choices(alphabet, k=5))
    want = models.damerau_levenshtein_distance(a, b)
    assert want > 0xFFFF
    assert edit.damerau_levenshtein_distance(a, b) == edit.damerau_levenshtein_distance(b, a) == want


@pytest.mark.parametrize(("a", "b", "osa", "damerau", "indel", "lcs"), [
    ("", "", 0, 0, 0, 0),
    ("", "abc", 3, 3, 3, 0),
    ("teh", "the", 1, 1, 2, 2),
    ("ca", "abc", 3, 2, 3, 1),
    ("kitten", "sitting", 3, 3, 5, 4),
    ("abcdef", "badcfe", 3, 3, 6, 3),
    ("日本語", "本日語", 1, 1, 2, 2),
    ("a😀b", "ab😀", 1, 1, 2, 2),
    ("x" * 70 + "ab", "x" * 70 + "ba", 1, 1, 2, 71),
])  # fmt: skip
def test_known_values(a, b, osa, damerau, indel, lcs):
    assert (edit.osa_distance(a, b), edit.damerau_levenshtein_distance(a, b)) == (osa, damerau)
    assert (edit.indel_distance(a, b), edit.lcs_length(a, b)) == (indel, lcs)


@given(a=strategies.texts(), b=strategies.texts(), c=strategies.texts())
def test_distances_relate_as_their_definitions_say(a, b, c):
    osa, damerau = edit.osa_distance(a, b), edit.damerau_levenshtein_distance(a, b)
    assert damerau <= osa <= kivo.levenshtein_distance(a, b)
    assert edit.indel_distance(a, b) == len(a) + len(b) - 2 * edit.lcs_length(a, b)
    for f in (edit.damerau_levenshtein_distance, edit.indel_distance):
        assert f(a, c) <= f(a, b) + f(b, c)


COSTS = st.integers(0, 4)


@given(a=strategies.texts(max_size=20), b=strategies.texts(max_size=20), costs=st.tuples(COSTS, COSTS, COSTS))
def test_weighted_levenshtein_agrees_with_its_model(a, b, costs):
    got = edit.weighted_levenshtein_distance(a, b, *costs)
    assert got == models.weighted_levenshtein_distance(a, b, *costs)
    if len(set(costs)) == 1:
        assert got == costs[0] * kivo.levenshtein_distance(a, b)


@pytest.mark.parametrize(("costs", "want"), [
    ((1, 1, 1), 3), ((1, 1, 2), 5), ((2, 3, 10), 12), ((0, 0, 0), 0), ((5, 0, 9), 15),
    ((2**63, 2**63, 2**64 - 1), 2 * (2**64 - 1) + 2**63),
    ((2**64 - 1,) * 3, 3 * (2**64 - 1)),
])  # fmt: skip
def test_weighted_levenshtein_known_values_beyond_64_bits(costs, want):
    assert edit.weighted_levenshtein_distance("kitten", "sitting", *costs) == want


def opcodes_cover(a, b, opcodes):
    i = j = 0
    for tag, a0, a1, b0, b1 in opcodes:
        assert (a0, b0) == (i, j) and a1 >= a0 and b1 >= b0
        assert tag in ("equal", "replace", "delete", "insert")
        assert (tag == "equal") == (a[a0:a1] == b[b0:b1])
        assert tag != "delete" or b1 == b0
        assert tag != "insert" or a1 == a0
        assert tag not in ("equal", "replace") or a1 - a0 == b1 - b0
        i, j = a1, b1
    assert (i, j) == (len(a), len(b))
    assert all(x[0] != y[0] for x, y in zip(opcodes, opcodes[1:]))  # merged


@given(a=strategies.texts(surrogates=False), data=st.data())
def test_alignments_turn_a_into_b_with_the_fewest_edits(a, data):
    b = data.draw(strategies.alike(a) | strategies.texts())
    ops = edit.levenshtein_editops(a, b)
    assert models.apply_editops(a, b, ops) == b
    assert len(ops) == kivo.levenshtein_distance(a, b)
    opcodes = edit.levenshtein_opcodes(a, b)
    opcodes_cover(a, b, opcodes)
    edits = [(t, a0 + k if t != "insert" else a0, b0 + k if t != "delete" else b0)
             for t, a0, a1, b0, b1 in opcodes if t != "equal" for k in range(max(a1 - a0, b1 - b0))]
    assert edits == ops


@FEW
@given(a=LONG, data=st.data())
def test_long_alignments_turn_a_into_b(a, data):
    b = data.draw(strategies.alike(a) | LONG)
    ops = edit.levenshtein_editops(a, b)
    assert models.apply_editops(a, b, ops) == b and len(ops) == kivo.levenshtein_distance(a, b)


@pytest.mark.parametrize(("a", "b", "opcodes"), [
    ("", "", []),
    ("abc", "abc", [("equal", 0, 3, 0, 3)]),
    ("", "ab", [("insert", 0, 0, 0, 2)]),
    ("ab", "", [("delete", 0, 2, 0, 0)]),
    # Common ends stay equal; in between, a match beats the other choices.
    ("ab", "aab", [("equal", 0, 1, 0, 1), ("insert", 1, 1, 1, 2), ("equal", 1, 2, 2, 3)]),
    ("xay", "xy", [("equal", 0, 1, 0, 1), ("delete", 1, 2, 1, 1), ("equal", 2, 3, 1, 2)]),
    # Traced from the end: a substitution beats a deletion, a deletion an insertion.
    ("ab", "c", [("delete", 0, 1, 0, 0), ("replace", 1, 2, 0, 1)]),
    ("a", "bc", [("insert", 0, 0, 0, 1), ("replace", 0, 1, 1, 2)]),
    ("kitten", "sitting", [("replace", 0, 1, 0, 1), ("equal", 1, 4, 1, 4), ("replace", 4, 5, 4, 5),
                           ("equal", 5, 6, 5, 6), ("insert", 6, 6, 6, 7)]),
])  # fmt: skip
def test_opcode_ties_are_broken_as_documented(a, b, opcodes):
    assert edit.levenshtein_opcodes(a, b) == opcodes


@pytest.mark.parametrize("function", [
    edit.osa_distance, edit.damerau_levenshtein_similarity, edit.indel_distance, edit.lcs_length,
    edit.levenshtein_opcodes, edit.levenshtein_editops,
    lambda a, b: edit.weighted_levenshtein_distance(a, b, 1, 1, 1),
])  # fmt: skip
def test_arguments_fail_like_kivo(function):
    with pytest.raises(TypeError, match="'int' object is not an instance of 'str'") as info:
        function("a", 3)
    assert info.value.__notes__ == ["while processing 'b'"]
    with pytest.raises(UnicodeEncodeError) as info:
        function("\ud800", "a")
    assert info.value.__notes__ == ["while processing 'a'"]


def test_costs_are_non_negative_integers_and_parameters_take_keywords():
    assert edit.weighted_levenshtein_distance(b="ab", a="b", insert_cost=2, delete_cost=3,
                                              substitute_cost=9) == 2
    for bad, error in ((-1, OverflowError), (2**64, OverflowError), (1.0, TypeError)):
        with pytest.raises(error) as info:
            edit.weighted_levenshtein_distance("a", "b", 1, bad, 1)
        assert info.value.__notes__ == ["while processing 'delete_cost'"]
    assert edit.osa_distance(a="ab", b="ba") == 1


def test_lcs_length_is_no_scorer():
    batch = pytest.importorskip("kivo.batch")
    pytest.importorskip("numpy")
    with pytest.raises(TypeError, match="scorer must be"):
        batch.cdist(["a"], ["b"], scorer=edit.lcs_length)


def long_text(seed, size):
    return "".join(random.Random(seed).choices("abcdef", k=size))


def test_long_pairs_release_the_lock():
    stamps, stop = [], threading.Event()

    def tick():
        while not stop.is_set():
            stamps.append(time.perf_counter())
            time.sleep(0.001)

    a, b = long_text(1, 6000), long_text(2, 6000)
    ticker = threading.Thread(target=tick)
    ticker.start()
    start = time.perf_counter()
    distance = edit.damerau_levenshtein_distance(a, b)
    end = time.perf_counter()
    stop.set()
    ticker.join()
    assert distance == edit.damerau_levenshtein_distance(b, a)
    # Held throughout, the lock would let the other thread run only at the edges.
    quarter = (end - start) / 4
    assert any(start + quarter < s < end - quarter for s in stamps)


@pytest.mark.parametrize("call", [
    lambda a, b: edit.damerau_levenshtein_distance(a, b),
    lambda a, b: edit.weighted_levenshtein_distance(a, b, 1, 2, 1),
])  # fmt: skip
def test_ctrl_c_interrupts_a_long_pair(call):
    timer = threading.Timer(0.2, _thread.interrupt_main)
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        call(long_text(3, 60000), long_text(4, 60000))
    timer.join()
    assert edit.damerau_levenshtein_distance("ab", "ba") == 1


# RapidFuzz, where installed: every value, on the same code points.


def peers():
    try:
        from rapidfuzz.distance import OSA, DamerauLevenshtein, Indel, LCSseq, Levenshtein
    except ImportError:
        return None
    return [
        (edit.osa_distance, OSA.distance), (edit.osa_similarity, OSA.normalized_similarity),
        (edit.damerau_levenshtein_distance, DamerauLevenshtein.distance),
        (edit.damerau_levenshtein_similarity, DamerauLevenshtein.normalized_similarity),
        (edit.indel_distance, Indel.distance), (edit.indel_similarity, Indel.normalized_similarity),
        (edit.lcs_length, LCSseq.similarity), (edit.lcs_similarity, LCSseq.normalized_similarity),
        (lambda a, b: edit.weighted_levenshtein_distance(a, b, 1, 2, 3),
         lambda a, b: Levenshtein.distance(a, b, weights=(1, 2, 3))),
        (lambda a, b: edit.weighted_levenshtein_distance(a, b, 3, 1, 2),
         lambda a, b: Levenshtein.distance(a, b, weights=(3, 1, 2))),
    ]  # fmt: skip


@given(a=strategies.texts() | LONG, b=strategies.texts() | LONG)
def test_values_agree_with_rapidfuzz(a, b):
    pairs = peers()
    if pairs is None:
        pytest.skip("rapidfuzz is not installed")
    for ours, theirs in pairs:
        assert ours(a, b) == theirs(a, b)


# jellyfish compares grapheme clusters, kivo code points: the same on text
# whose every character stands alone.
SINGLE_CHARACTER_GRAPHEMES = st.text(st.sampled_from(list("abcab xyz\t") + ["é", "ß", "日", "😀", "𐐷"]))


@given(a=SINGLE_CHARACTER_GRAPHEMES, b=SINGLE_CHARACTER_GRAPHEMES)
def test_damerau_levenshtein_agrees_with_jellyfish(a, b):
    jellyfish = pytest.importorskip("jellyfish")
    assert edit.damerau_levenshtein_distance(a, b) == jellyfish.damerau_levenshtein_distance(a, b)
