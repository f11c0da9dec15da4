"""extract_one over a list or tuple of strs with a bit-parallel edit measure
or weighted_ratio, searched choice by choice with a bound that tightens as
better choices turn up: always the best single call, the earliest of equals."""

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kivo
import kivo.edit as edit
import kivo.tokens as tokens

batch = pytest.importorskip("kivo.batch")

DISTANCES = [kivo.levenshtein_distance, edit.osa_distance, edit.indel_distance]
SIMILARITIES = [kivo.levenshtein_similarity, edit.osa_similarity, edit.indel_similarity,
                edit.lcs_similarity, tokens.ratio, tokens.weighted_ratio]  # fmt: skip
# Small alphabets, so that texts share characters, in every width a str
# stores: ASCII, Latin-1, the BMP and astral characters.
ALPHABETS = ["abc", "ab ", "aé", "éÿ", "aЖ", "Жж日", "a😀", "é日😀"]
# Around a word of the kernels (64) and past it.
LENGTHS = [0, 1, 2, 5, 13, 63, 64, 65, 128]


def best_single_call(query, choices, scorer, cutoff=None):
    """The best (choice, score, index) by the single calls, the earliest of equals."""
    distance = scorer in DISTANCES
    found = None
    for j, choice in enumerate(choices):
        score = scorer(query, choice)
        if cutoff is not None and (score > cutoff if distance else score < cutoff):
            continue
        if found is None or (score < found[1] if distance else score > found[1]):
            found = (choice, score, j)
    return found


@st.composite
def edited(draw, text, alphabet):
    """`text` after a few random edits, swaps among them."""
    chars = list(text)
    for _ in range(draw(st.integers(0, 3))):
        kind = draw(st.sampled_from(["insert", "delete", "substitute", "swap"]))
        at = draw(st.integers(0, max(len(chars) - 1, 0)))
        c = draw(st.sampled_from(alphabet))
        if kind == "insert":
            chars.insert(at, c)
        elif chars and kind == "delete":
            del chars[at]
        elif chars and kind == "substitute":
            chars[at] = c
        elif at + 1 < len(chars):
            chars[at], chars[at + 1] = chars[at + 1], chars[at]
    return "".join(chars)


@st.composite
def searches(draw):
    alphabet = draw(st.sampled_from(ALPHABETS))
    text = lambda: st.integers(0, len(LENGTHS) - 1).flatmap(  # noqa: E731
        lambda k: st.text(st.sampled_from(alphabet), min_size=LENGTHS[k], max_size=LENGTHS[k]))
    query = draw(text())
    choice = st.one_of(text(), edited(query, alphabet), st.just(query))
    choices = draw(st.lists(choice, max_size=12))
    if not draw(st.booleans()):  # mostly queries not in the list
        choices = [c for c in choices if c != query]
    return query, choices


SCORERS = st.sampled_from(DISTANCES + SIMILARITIES)


@settings(deadline=None, max_examples=400)
@given(search=searches(), scorer=SCORERS, as_tuple=st.booleans(), data=st.data())
def test_the_best_single_call_earliest_first(search, scorer, as_tuple, data):
    query, choices = search
    every = sorted({scorer(query, c) for c in choices})
    cutoff = data.draw(st.sampled_from([None, *every[:2], *every[-2:]]), "cutoff")
    given_choices = tuple(choices) if as_tuple else choices
    got = batch.extract_one(query, given_choices, scorer=scorer, score_cutoff=cutoff)
    assert got == best_single_call(query, choices, scorer, cutoff)
    if got is not None:
        assert type(got[1]) is (int if scorer in DISTANCES else float)
        assert got[0] is given_choices[got[2]]


@pytest.mark.parametrize("scorer", DISTANCES + SIMILARITIES)
@pytest.mark.parametrize("query", ["abcdefgh", "a" * 64 + "é", "Жa" * 40, "日" * 64, ""])
def test_every_length_against_the_single_calls(query, scorer):
    # Choices of every length near the query's, each one edit further off:
    # the length bound and the rising cutoff each rule some out.
    choices = [query[:k] + "x" * j for k in range(len(query) + 1)[::-7] for j in (0, 1, 3)]
    choices += [query[::-1], query + "y", "y" + query[1:], query]
    for cutoff in (None, 0, 1, 2, 3, 0.5, 0.9, 0.95, 0.96, 0.99):
        if (cutoff is None or isinstance(cutoff, int)) != (scorer in DISTANCES):
            continue
        want = best_single_call(query, choices, scorer, cutoff)
        assert batch.extract_one(query, choices, scorer=scorer, score_cutoff=cutoff) == want


@pytest.mark.parametrize("scorer", [kivo.levenshtein_distance, edit.lcs_similarity])
def test_a_perfect_choice_ends_the_walk(scorer):
    best = 0 if scorer in DISTANCES else 1.0
    # What follows the first equal choice is never read: no error for it.
    choices = ["smyth", "smith", 1, None, "smith"]
    assert batch.extract_one("smith", choices, scorer=scorer) == ("smith", best, 1)
    assert batch.extract_one("smith", tuple(choices), scorer=scorer) == ("smith", best, 1)
    # What comes before it is, with the error reading it always gave.
    with pytest.raises(TypeError, match="^'int' object is not an instance of 'str'") as info:
        batch.extract_one("smith", ["smyth", 1, "smith"], scorer=scorer)
    assert info.value.__notes__ == ["while processing 'choices'"]
    with pytest.raises(ValueError, match=r"^null at position 2 \(nulls='skip' skips nulls\)"):
        batch.extract_one("smith", ["smyth", "x", None, "smith"], scorer=scorer)
    with pytest.raises(UnicodeEncodeError) as info:
        batch.extract_one("smith", ["smyth", "\udc80", "smith"], scorer=scorer)
    assert info.value.__notes__ == ["while processing 'choices'"]
    got = batch.extract_one("smith", [None, "smyth", float("nan"), "smith"], scorer=scorer,
                            nulls="skip")  # fmt: skip
    assert got == ("smith", best, 3)


def test_str_subclasses_are_choices_and_come_back_as_given():
    class Name(str):
        pass

    choices = ["Jon", Name("John"), Name("Jonh")]
    got = batch.extract_one("John", choices, scorer=edit.osa_distance)
    assert got == ("John", 0, 1) and got[0] is choices[1]


def test_long_choices_and_queries_in_many_words():
    query = "abcdefghij" * 30
    choices = [query[::-1], query[:150] + "x" * 150, query[1:] + "a", "a" * 200, query[:-2]]
    for scorer in DISTANCES + SIMILARITIES:
        want = best_single_call(query, choices, scorer)
        assert batch.extract_one(query, choices, scorer=scorer) == want
        many = [c * 40 for c in choices]  # scored without the interpreter lock
        want = best_single_call(query, many, scorer)
        assert batch.extract_one(query, many, scorer=scorer) == want


@settings(deadline=None, max_examples=200)
@given(query=st.lists(st.sampled_from(["jon", "john", "smith", "smyth", "j.", "Žo", "日本"]),
                      max_size=4).map(" ".join),
       words=st.lists(st.lists(st.sampled_from(["jon", "john", "smith", "smyth", "j.", "Žo",
                                                "日本", "x" * 9, "mary jones"]),
                               max_size=5).map(" ".join), max_size=10),
       cutoff=st.sampled_from([None, 0.0, 0.5, 0.855, 0.9, 0.95, 0.96]))  # fmt: skip
def test_weighted_ratio_over_names_of_many_lengths(query, words, cutoff):
    # Reordered, repeated and partial names, shorter and up to many times
    # longer: each branch of weighted_ratio and its bounds.
    want = best_single_call(query, words, tokens.weighted_ratio, cutoff)
    assert batch.extract_one(query, words, scorer=tokens.weighted_ratio, score_cutoff=cutoff) == want


@pytest.mark.parametrize("longer", [4, 5, 7, 8, 9, 30])
def test_weighted_ratio_finds_a_choice_that_only_its_partial_ratios_score(longer):
    # "jon" within choices 4 to 30 times as long: 0.9 up to eight times, 0.6 past it.
    choices = ["mary", "bo", "jon".ljust(3 * longer, "x"), "x" * 20]
    want = best_single_call("jon", choices, tokens.weighted_ratio)
    assert want[2] == 2
    assert batch.extract_one("jon", choices, scorer=tokens.weighted_ratio) == want
