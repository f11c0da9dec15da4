"""Many texts against many: kivo's measures over lists, on a pool of threads.

Each function reads every text once, computes without holding the interpreter lock on
`workers` threads (-1: every core) and returns NumPy arrays. Ctrl-C stops a call within a
fraction of a second with KeyboardInterrupt, even inside one long pair, and memory running out
raises MemoryError; nothing is returned then. NumPy is needed here only, imported at call time.

A scorer is one of kivo's two-text functions (kivo.levenshtein_distance,
kivo.jaro_winkler_similarity, kivo.jaccard_word_similarity, ...) or a kivo.KivoFlow, whose
compare() score is used. Every score equals the single call's, bit for bit, and a failing pair
raises the single call's error (the first failing pair in row-major order).

A processor (kivo.clean_text, kivo.clean_text_stopwords or a kivo.Preprocessor) runs once per
text, before scoring.

score_cutoff is inclusive: a distance passes when it is at most the cutoff (an int), a
similarity when it is at least the cutoff (a float). Distances are int64 by default,
similarities float64.
"""

from collections.abc import Callable, Sequence
from typing import Any, SupportsFloat, SupportsIndex, TypeAlias

import numpy
from numpy.typing import DTypeLike, NDArray

from kivo import KivoFlow, Preprocessor

_Scorer: TypeAlias = Callable[[str, str], float] | KivoFlow
_Processor: TypeAlias = Callable[[str], str] | Preprocessor
_Cutoff: TypeAlias = SupportsIndex | SupportsFloat | None

def cdist(
    queries: Sequence[str],
    choices: Sequence[str],
    *,
    scorer: _Scorer,
    score_cutoff: _Cutoff = None,
    dtype: DTypeLike | None = None,
    workers: SupportsIndex = 1,
    processor: _Processor | None = None,
) -> NDArray[Any]:
    """Return the (len(queries), len(choices)) matrix of scores.

    A pair that misses the cutoff holds score_cutoff + 1 (a distance) or 0.0 (a similarity).
    An integer dtype that cannot hold the distances raises ValueError; similarities need a
    float dtype (TypeError otherwise).

    Raises TypeError for a scorer, processor or text of another kind (with a note naming the
    argument), ValueError for workers other than -1 or a positive count, the first failing
    pair's own error in row-major order, and KeyboardInterrupt on Ctrl-C.

    >>> import kivo
    >>> cdist(["kitten"], ["sitting", "kitten"], scorer=kivo.levenshtein_distance).tolist()
    [[3, 0]]
    """

def cpdist(
    queries: Sequence[str],
    choices: Sequence[str],
    *,
    scorer: _Scorer,
    score_cutoff: _Cutoff = None,
    dtype: DTypeLike | None = None,
    workers: SupportsIndex = 1,
    processor: _Processor | None = None,
) -> NDArray[Any]:
    """Return the score of each query against the choice at the same index.

    The two lists must have equal lengths (ValueError otherwise); cutoffs and dtypes as in
    cdist.

    Raises TypeError for a scorer, processor or text of another kind (with a note naming the
    argument), ValueError for workers other than -1 or a positive count, the first failing
    pair's own error in row-major order, and KeyboardInterrupt on Ctrl-C.

    >>> import kivo
    >>> cpdist(["flaw", "abc"], ["lawn", "abc"], scorer=kivo.levenshtein_similarity).tolist()
    [0.5, 1.0]
    """

def topk(
    queries: Sequence[str],
    choices: Sequence[str],
    *,
    scorer: _Scorer,
    k: SupportsIndex = 1,
    score_cutoff: _Cutoff = None,
    workers: SupportsIndex = 1,
    processor: _Processor | None = None,
) -> tuple[NDArray[numpy.int64], NDArray[Any]]:
    """Return (indices, scores) of each query's k best choices, both (len(queries), k).

    Best first, ties to the lower choice index; -1 in both where fewer than k choices pass
    the cutoff. Memory grows with len(queries) * k, never with a full matrix. With k=0 the
    arguments are checked and nothing is scored. Indices are int64; scores int64 for
    distances, float64 for similarities.

    Raises TypeError for a scorer, processor or text of another kind (with a note naming the
    argument), ValueError for workers other than -1 or a positive count, the first failing
    pair's own error in row-major order, and KeyboardInterrupt on Ctrl-C.

    >>> import kivo
    >>> i, s = topk(["abc"], ["abd", "abc", "abc"], scorer=kivo.levenshtein_distance, k=2)
    >>> i.tolist(), s.tolist()
    ([[1, 2]], [[0, 0]])
    """

def pairs(
    queries: Sequence[str],
    choices: Sequence[str] | None = None,
    *,
    scorer: _Scorer,
    score_cutoff: _Cutoff,
    workers: SupportsIndex = 1,
    processor: _Processor | None = None,
) -> tuple[NDArray[numpy.int64], NDArray[numpy.int64], NDArray[Any]]:
    """Return (i, j, scores) of the pairs that pass the cutoff, ordered by (i, j).

    With one list, every i < j of it (a self-join, as deduplication needs); with two, every
    (i, j) of queries and choices. i and j are int64; scores int64 for distances, float64 for
    similarities.

    Raises TypeError for a scorer, processor or text of another kind (with a note naming the
    argument), ValueError for workers other than -1 or a positive count, the first failing
    pair's own error in row-major order, and KeyboardInterrupt on Ctrl-C.

    >>> import kivo
    >>> i, j, s = pairs(["jon", "john", "joan"], scorer=kivo.levenshtein_distance, score_cutoff=1)
    >>> list(zip(i.tolist(), j.tolist(), s.tolist()))
    [(0, 1, 1), (0, 2, 1), (1, 2, 1)]
    """

def minhash_signatures(
    texts: Sequence[str],
    shingle_size: SupportsIndex,
    num_hashes: SupportsIndex,
    *,
    workers: SupportsIndex = 1,
    processor: _Processor | None = None,
) -> NDArray[numpy.uint64]:
    """Return a uint64 array (len(texts), num_hashes) whose rows are kivo.minhash_signature.

    Raises what kivo.minhash_signature raises (the first failing text's error), MemoryError
    for signatures no machine could hold, and otherwise as cdist.

    >>> import kivo
    >>> minhash_signatures(["abcd"], 3, 4)[0].tolist() == kivo.minhash_signature("abcd", 3, 4)
    True
    """

def lsh_pairs(
    signatures: NDArray[numpy.uint64] | Sequence[Sequence[int]],
    *,
    bands: SupportsIndex,
    rows: SupportsIndex,
    workers: SupportsIndex = 1,
) -> tuple[NDArray[numpy.int64], NDArray[numpy.int64]]:
    """Return (i, j), i < j, of the signatures equal on all rows of at least one band.

    Band b covers entries b * rows ... (b + 1) * rows - 1; bands * rows must not exceed the
    signature length, and signatures must be 2-dimensional (ValueError otherwise). Each pair
    appears once, ordered by (i, j).

    >>> sig = minhash_signatures(["the cat sat", "the cat sat!", "dog"], 2, 8)
    >>> [a.tolist() for a in lsh_pairs(sig, bands=4, rows=2)]
    [[0], [1]]
    """
