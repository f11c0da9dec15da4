"""Shared helpers for the KivoFlow tests."""

import math

import pytest

import kivo

# Every accepted algorithm name, the module function computing the same
# score, and the name a result reports.
ALGORITHMS = [
    ("levenshtein", kivo.levenshtein_similarity, "levenshtein"),
    ("jaro_winkler", kivo.jaro_winkler_similarity, "jaro_winkler"),
    ("hamming", kivo.hamming_similarity, "hamming"),
    ("jaccard_bigram", kivo.jaccard_bigram_similarity, "jaccard_bigram"),
    ("jaccard_trigram", kivo.jaccard_trigram_similarity, "jaccard_trigram"),
    ("jaccard_word", kivo.jaccard_word_similarity, "jaccard_word"),
    ("minhash_default", kivo.minhash_similarity_default, "minhash"),
    ("simhash_default", kivo.simhash_similarity_default, "simhash"),
    ("bm25", kivo.bm25_similarity, "bm25"),
    ("tfidf", kivo.tfidf_similarity, "tfidf"),
]

HAMMING_ERROR = "Algorithm error: Hamming requires equal-length strings"
NO_TIERS = "Router configuration error: No tiers configured"


def undecided(algo):
    """A router whose tier 1 never decides, so compare returns its raw score."""
    return kivo.KivoFlow().tier_1(algo, "gt", math.inf, "lt", -math.inf)


def result(score, tier, algorithm):
    return {
        "score": score,
        "tier": tier,
        "algorithm": algorithm,
        "fallback_called": False,
        "fallback_data": "",
    }


def error_of(call, exc=ValueError):
    with pytest.raises(exc) as info:
        call()
    return info.value
