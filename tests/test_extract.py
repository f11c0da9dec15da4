"""kivo.batch.extract and extract_one against a sort of the single calls:
lists, dicts and pandas Series, limits, cutoffs, ties, processors, errors."""

import math

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kivo
import kivo.edit as edit
import kivo.tokens as tokens
import strategies
from test_batch import FLOW, is_distance, single

batch = pytest.importorskip("kivo.batch")
pytest.importorskip("numpy")

SCORERS = [kivo.levenshtein_distance, kivo.jaro_winkler_similarity, kivo.bm25_similarity,
           edit.osa_distance, edit.indel_distance, edit.lcs_similarity, tokens.weighted_ratio,
           tokens.token_set_ratio, FLOW]  # fmt: skip
NAMES = ["John Smith", "Smith, John", "Jon Smyth", "Mary Jones", "john smith", "J. Smith", ""]


def model(query, choices, keys, scorer, limit=5, cutoff=None, processor=None):
    process = (lambda t: t) if processor is None else processor
    score = single(scorer)
    sign = 1 if is_distance(scorer) else -1
    scored = [(score(process(query), process(c)), j) for j, c in enumerate(choices)]
    kept = sorted((sign * s, j) for s, j in scored
                  if cutoff is None or (s <= cutoff if sign == 1 else s >= cutoff))  # fmt: skip
    found = [(choices[j], sign * s, keys[j]) for s, j in kept]
    return found if limit is None else found[:limit]


@settings(deadline=None, max_examples=150)
@given(
    query=strategies.texts(max_size=12),
    choices=st.lists(st.sampled_from(NAMES) | strategies.texts(max_size=12), max_size=12),
    scorer=st.sampled_from(SCORERS),
    limit=st.sampled_from([None, 0, 1, 2, 5, 20]),
    data=st.data(),
)
def test_extract_is_the_sorted_single_calls(query, choices, scorer, limit, data):
    every = model(query, choices, range(len(choices)), scorer, limit=None)
    cutoff = data.draw(st.sampled_from([None] + [s for _, s, _ in every]))
    want = model(query, choices, range(len(choices)), scorer, limit, cutoff)
    assert batch.extract(query, choices, scorer=scorer, limit=limit, score_cutoff=cutoff) == want
    one = batch.extract_one(query, choices, scorer=scorer, score_cutoff=cutoff)
    assert one == (model(query, choices, range(len(choices)), scorer, 1, cutoff) or [None])[0]
    keys = [f"key {j}" for j in range(len(choices))]
    mapping = dict(zip(keys, choices))
    want = model(query, choices, keys, scorer, limit, cutoff)
    assert batch.extract(query, mapping, scorer=scorer, limit=limit, score_cutoff=cutoff) == want


def test_ties_go_to_the_earlier_choice_and_the_default_limit_is_five():
    choices = ["abc", "abd", "abc", "xbc", "abc", "abc", "abc", "abc"]
    got = batch.extract("abc", choices, scorer=edit.indel_distance)
    assert got == [("abc", 0, j) for j in (0, 2, 4, 5, 6)]
    assert batch.extract_one("abx", choices, scorer=edit.osa_similarity) == ("abc", 1 - 1 / 3, 0)


def test_choices_and_keys_are_the_callers_own_objects():
    key, choice = ("a", 1), "".join(["Jo", "hn"])
    ((got_choice, _, got_key),) = batch.extract("john", {key: choice}, scorer=tokens.ratio)
    assert got_choice is choice and got_key is key


def test_pandas_series_are_keyed_by_their_labels():
    pd = pytest.importorskip("pandas")
    series = pd.Series(["Smith, John", "Mary Jones", "Jon Smyth"], index=[10, 20, 30])
    got = batch.extract("John Smith", series, scorer=tokens.token_sort_ratio, limit=None)
    assert [key for _, _, key in got] == [10, 30, 20]
    assert [score for _, score, _ in got] == [tokens.token_sort_ratio("John Smith", c)
                                              for c in series[[10, 30, 20]]]  # fmt: skip


def test_processor_runs_on_the_query_and_every_choice():
    got = batch.extract_one("JOHN  SMITH", ["john smith", "JOHN  SMITH!"], scorer=edit.osa_distance,
                            processor=kivo.clean_text)  # fmt: skip
    assert got == ("john smith", 0, 0)


def test_nothing_passing_or_nothing_to_choose_from():
    assert batch.extract("a", [], scorer=tokens.ratio) == []
    assert batch.extract_one("a", {}, scorer=tokens.ratio) is None
    assert batch.extract_one("a", ["b"], scorer=tokens.ratio, score_cutoff=0.5) is None
    assert batch.extract("a", ["b"], scorer=edit.osa_distance, score_cutoff=0) == []


@pytest.mark.parametrize(("call", "error", "message", "note"), [
    (lambda: batch.extract(1, ["a"], scorer=tokens.ratio), TypeError,
     "'int' object is not an instance of 'str'", "query"),
    (lambda: batch.extract("\udc80", ["a"], scorer=tokens.ratio), UnicodeEncodeError, None, "query"),
    (lambda: batch.extract("a", ["a", None], scorer=tokens.ratio), ValueError,
     "null at position 1 (nulls='skip' skips nulls)", "choices"),
    (lambda: batch.extract("a", {"k": 1}, scorer=tokens.ratio), TypeError,
     "'int' object is not an instance of 'str'", "choices"),
    (lambda: batch.extract("a", "abc", scorer=tokens.ratio), TypeError,
     "Can't extract `str` to `Vec`", "choices"),
    (lambda: batch.extract("a", ["a"], scorer=tokens.ratio, limit=-1), OverflowError, None, "limit"),
    (lambda: batch.extract("a", ["a"], scorer=edit.lcs_length), TypeError, None, "scorer"),
    (lambda: batch.extract("a", ["a"], scorer=tokens.ratio, score_cutoff=math.nan), ValueError,
     "score_cutoff must be a number, not NaN", "score_cutoff"),
    (lambda: batch.extract_one("a", ["a"], scorer=tokens.ratio, workers=0), ValueError,
     "workers must be -1 (every core) or a positive count, not 0", "workers"),
])  # fmt: skip
def test_arguments_fail_with_notes(call, error, message, note):
    with pytest.raises(error) as info:
        call()
    assert message is None or str(info.value) == message
    assert info.value.__notes__ == [f"while processing '{note}'"]


def test_parameters_after_choices_are_keyword_only_and_pairs_fail_as_single_calls():
    with pytest.raises(TypeError):
        batch.extract("a", ["a"], tokens.ratio)
    with pytest.raises(ValueError, match="Strings must have equal length"):
        batch.extract_one("ab", ["ab", "abc"], scorer=kivo.hamming_distance)

    class Pairs:
        def items(self):
            return [("k", "v", "extra")]

    with pytest.raises(TypeError, match=r"items\(\) must yield \(key, choice\) pairs") as info:
        batch.extract("a", Pairs(), scorer=tokens.ratio)
    assert info.value.__notes__ == ["while processing 'choices'"]


# extract_one reads a list or tuple in chunks of 1024, 2048, 4096, ... choices
# and stops at the first perfect score: places around their edges.
EDGES = [0, 1, 1023, 1024, 1025, 3071, 3072, 7167, 7168, 8000]


@settings(deadline=None, max_examples=40)
@given(
    query=st.sampled_from(NAMES) | strategies.texts(max_size=8),
    pool=st.lists(st.sampled_from(NAMES) | strategies.texts(max_size=8), min_size=1, max_size=5),
    size=st.sampled_from(EDGES[1:]),
    places=st.lists(st.sampled_from(EDGES), max_size=3),
    scorer=st.sampled_from(SCORERS),
    tuple_of=st.booleans(),
    data=st.data(),
)
def test_extract_one_over_many_chunks_is_the_first_best(query, pool, size, places, scorer,
                                                        tuple_of, data):
    choices = [pool[j % len(pool)] for j in range(size)]
    for place in places:  # equal copies of the query: ties
        if place < size:
            choices[place] = query
    every = sorted({s for _, s, _ in model(query, choices, range(size), scorer, limit=None)})
    cutoff = data.draw(st.sampled_from([None, *every[:2], *every[-2:]]))
    want = (model(query, choices, range(size), scorer, 1, cutoff) or [None])[0]
    given_choices = tuple(choices) if tuple_of else choices
    assert batch.extract_one(query, given_choices, scorer=scorer, score_cutoff=cutoff) == want


@pytest.mark.parametrize("scorer", [kivo.levenshtein_distance, edit.indel_similarity,
                                    tokens.weighted_ratio])  # fmt: skip
def test_extract_one_stops_reading_at_a_perfect_score(scorer):
    # As a search that stops there would: what follows is never read.
    choices = ["john", "smith", "jon"] * 400 + [1, None, "smith"]
    best = 0 if is_distance(scorer) else 1.0
    assert batch.extract_one("smith", choices, scorer=scorer) == ("smith", best, 1)
    # Without a perfect score every choice is read, in every chunk.
    with pytest.raises(TypeError, match="'int' object is not an instance of 'str'") as info:
        batch.extract_one("smyth", choices, scorer=scorer)
    assert info.value.__notes__ == ["while processing 'choices'"]
    with pytest.raises(ValueError, match=r"^null at position 1200 \(nulls='skip' skips nulls\)"):
        batch.extract_one("smyth", choices[:1200] + [None], scorer=scorer)
    found = batch.extract_one("smyth", choices[:1200] + [None] * 700 + ["smyth"], scorer=scorer,
                              nulls="skip")  # fmt: skip
    assert found == ("smyth", best, 1900)


def test_extract_one_reads_every_choice_where_a_later_pair_may_fail():
    with pytest.raises(ValueError, match="Strings must have equal length"):
        batch.extract_one("ab", ["ab"] * 5000 + ["abc"], scorer=kivo.hamming_distance)
