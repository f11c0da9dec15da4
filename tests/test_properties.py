"""Property tests: the measures, the cleaning pipeline and the router against
their plain models on generated text, lone surrogates included."""

import unicodedata

import pytest
from hypothesis import assume, given, settings
from hypothesis import strategies as st

import kivo
import models
from measures import (BM25, HAMMING, JACCARD_WORD, JARO_WINKLER, LEVENSHTEIN, ROUTED, TFIDF, check,
                      has_surrogate, jaccard, minhash, result, simhash, undecided)
from strategies import SAFE_TEXT, alike, term_texts, texts

ASCII_TERMS = st.text(st.sampled_from(list("abcABC xyz019\t\n\r\x0b\x0c\x00\x1f\x7f!,.-_'\"~[`@")))
TERM_TEXTS = (term_texts() | ASCII_TERMS).map(lambda t: t if len(t) % 7 else t + "\ud800")
MEASURES = {
    "levenshtein": (st.just(LEVENSHTEIN), texts(100, surrogates=True)),
    "hamming": (st.just(HAMMING), texts(70, surrogates=True)),
    "jaro_winkler": (st.just(JARO_WINKLER), texts(90, 0, True) | texts(70, 60)),
    "jaccard": (st.integers(0, 6).map(jaccard), texts(surrogates=True)),
    "jaccard_long": (st.integers(14, 90).map(jaccard), texts(400, 200, True)),
    "jaccard_word": (st.just(JACCARD_WORD), texts(surrogates=True)),
    "minhash": (st.builds(minhash, st.integers(1, 5), st.integers(0, 40)), texts(surrogates=True)),
    "simhash": (st.integers(1, 6).map(simhash), texts(surrogates=True)),
    "bm25": (st.just(BM25), TERM_TEXTS),
    "tfidf": (st.just(TFIDF), TERM_TEXTS),
}


@pytest.mark.parametrize("measures, strings", MEASURES.values(), ids=MEASURES.keys())
@settings(max_examples=250)
@given(data=st.data())
def test_measures_agree_with_models(measures, strings, data):
    measure, a = data.draw(measures), data.draw(strings)
    check(measure, a, data.draw(strings | alike(a) | alike(a, substitute_only=True)))


SWITCHES = st.fixed_dictionaries(
    {k: st.booleans() for k in ("nfc", "lower", "collapse", "trim")}
    | {"stopwords": st.none() | st.just(models.DEFAULT_STOPWORDS)
       | st.sets(st.sampled_from(["cat", "the", "σ", "naïve", "don't", "a"]), min_size=1)},
    optional={"limit": st.integers(0, 40)},
)
WORDS = st.lists(st.sampled_from([*sorted(models.DEFAULT_STOPWORDS)[:40], "The", "cat", "the,", "Σ"]),
                 max_size=8).map(" \t".join)


@settings(max_examples=300)
@given(text=SAFE_TEXT | WORDS | st.tuples(WORDS, SAFE_TEXT).map("\u3000".join), switches=SWITCHES)
def test_cleaning_agrees_with_model(text, switches):
    p = (kivo.Preprocessor().with_normalize_unicode(switches["nfc"])
         .with_lowercase(switches["lower"]).with_collapse_whitespace(switches["collapse"])
         .with_trim(switches["trim"]).with_max_length(switches.get("limit", 0)))
    if switches["stopwords"] is not None:
        custom = switches["stopwords"] is not models.DEFAULT_STOPWORDS
        p = p.with_remove_stopwords(True).with_stopwords(sorted(switches["stopwords"]) * custom)
    assert p.process(text) == models.preprocess(text, **switches)
    assert kivo.clean_text(text) == models.preprocess(text)
    stopwords = models.DEFAULT_STOPWORDS
    assert kivo.clean_text_stopwords(text) == models.preprocess(text, stopwords=stopwords)


@settings(max_examples=200)
@given(texts(surrogates=True))
def test_cleaners_on_any_text(text):
    if has_surrogate(text):
        for call in (kivo.clean_text, kivo.Preprocessor().process):
            with pytest.raises(UnicodeEncodeError):
                call(text)
        return
    everything_off = (kivo.Preprocessor().with_lowercase(False).with_collapse_whitespace(False)
                      .with_trim(False).with_normalize_unicode(False))
    assert everything_off.process(text) == text
    assert kivo.Preprocessor().process(text) == kivo.clean_text(text)
    removing = kivo.Preprocessor().with_remove_stopwords(True)
    assert removing.process(text) == kivo.clean_text_stopwords(text)
    for cleaned in (kivo.clean_text(text), kivo.clean_text_stopwords(text)):
        assert cleaned == cleaned.strip(models.WS_CHARS) and "  " not in cleaned
        assert not any(c in models.WHITESPACE and c != " " for c in cleaned)
    # Lowercasing can leave text that NFC would change (U+0130 becomes i and
    # U+0307), so cleaning is idempotent for results that came out normalised.
    once = kivo.clean_text(text)
    assume(unicodedata.is_normalized("NFC", once))
    assert kivo.clean_text(once) == once


def routed(algo, a, b, tier):
    """The result of running `algo` on (a, b) by name, or the router's error."""
    if algo == "hamming" and len(a) != len(b):
        return "Algorithm error: Hamming requires equal-length strings"
    return result(ROUTED[algo](a, b), tier, algo.removesuffix("_default"))


def outcome(call):
    try:
        return call()
    except ValueError as error:
        return str(error)


INTENTS = {"names": "jaro_winkler", "typos": "levenshtein", "codes": "hamming", "documents": "bm25",
           "dedup": "simhash_default", "deduplication": "simhash_default"}


@settings(max_examples=60)
@given(a=texts(), b=texts(), cleaning=st.booleans())
def test_router_runs_the_module_functions(a, b, cleaning):
    A, B = (kivo.clean_text(a), kivo.clean_text(b)) if cleaning else (a, b)
    for algo in ROUTED:
        got = outcome(lambda: undecided(algo).preprocess(cleaning).compare(a, b))
        assert got == routed(algo, A, B, 1)
    for intent, algo in INTENTS.items() | {("auto", models.auto_choice(A, B))}:
        flow = kivo.KivoFlow().preprocess(cleaning)
        got = outcome(lambda: flow.compare_with_intent(intent, a, b))
        assert got == routed(algo, A, B, 0)
