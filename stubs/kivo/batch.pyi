"""Many texts against many: kivo's measures over lists, on a pool of threads.

Each function reads every text once, computes without holding the interpreter lock on
`workers` threads (-1: every core) and returns NumPy arrays. Ctrl-C stops a call within a
fraction of a second with KeyboardInterrupt, even inside one long pair, and memory running out
raises MemoryError; nothing is returned then. NumPy is needed here only, imported at call time.

A scorer is one of kivo's two-text functions (kivo.levenshtein_distance,
kivo.jaro_winkler_similarity, kivo.jaccard_word_similarity, ...), one of kivo.edit's and
kivo.tokens' (kivo.edit.osa_distance, kivo.tokens.weighted_ratio, ...), or a kivo.KivoFlow,
whose compare() score is used. Every score equals the single call's, bit for bit, and a failing pair
raises the single call's error (the first failing pair in row-major order).

A processor (kivo.clean_text, kivo.clean_text_stopwords or a kivo.Preprocessor) runs once per
text, before scoring.

Texts come as any sequence of str (a list, a tuple, a NumPy str array, a pandas Series) or as
an Arrow string column: any object with __arrow_c_array__ or __arrow_c_stream__ (a pyarrow
Array or ChunkedArray, a polars Series, a DuckDB result) of type utf8, large_utf8 or
string_view, whose strings are read in the producer's buffers, without a str per text. Another
Arrow type is a TypeError; invalid UTF-8 or a malformed array a ValueError naming the position.

A null (None, a float NaN or pandas.NA in a sequence, a null in an Arrow column) is a
ValueError naming its argument and position, unless nulls="skip": then cdist and cpdist store
NaN for a pair with a null (their dtype defaults to float64, and an integer dtype is a
ValueError), topk gives -1 indices and scores for a null query and never picks a null choice,
pairs and extract skip them, and extract gives [] (extract_one None) for a null query.

score_cutoff is inclusive: a distance passes when it is at most the cutoff (an int), a
similarity when it is at least the cutoff (a float). Distances are int64 by default,
similarities float64.

Results are sized before anything is computed: results no array could have, or that would
take more than half the machine's physical memory, raise MemoryError naming their shape and
bytes.
"""

import os
from collections.abc import Callable, ItemsView, Mapping, Sequence
from typing import Any, Literal, Protocol, SupportsFloat, SupportsIndex, TypeAlias, final

import numpy
from numpy.typing import DTypeLike, NDArray

from kivo import KivoFlow, Preprocessor

_Scorer: TypeAlias = Callable[[str, str], float] | KivoFlow
_Processor: TypeAlias = Callable[[str], str] | Preprocessor
_Cutoff: TypeAlias = SupportsIndex | SupportsFloat | None
_Nulls: TypeAlias = Literal["error", "skip"]

class _ArrowArray(Protocol):
    """An Arrow array exporter, such as a pyarrow Array."""

    def __arrow_c_array__(self, requested_schema: Any = None, /) -> tuple[Any, Any]: ...

class _ArrowStream(Protocol):
    """An Arrow stream exporter, such as a pyarrow ChunkedArray or a polars Series."""

    def __arrow_c_stream__(self, requested_schema: Any = None, /) -> Any: ...

_Texts: TypeAlias = Sequence[str] | _ArrowArray | _ArrowStream
_NullableTexts: TypeAlias = Sequence[str | None] | _ArrowArray | _ArrowStream

class _Items(Protocol):
    """Anything with items() of (key, choice) pairs, such as a pandas Series."""

    def items(self) -> ItemsView[Any, str] | Any: ...

def cdist(
    queries: _NullableTexts,
    choices: _NullableTexts,
    *,
    scorer: _Scorer,
    score_cutoff: _Cutoff = None,
    dtype: DTypeLike | None = None,
    workers: SupportsIndex = 1,
    processor: _Processor | None = None,
    nulls: _Nulls = "error",
) -> NDArray[Any]:
    """Return the (len(queries), len(choices)) matrix of scores.

    A pair that misses the cutoff holds score_cutoff + 1 (a distance) or 0.0 (a similarity).
    dtype is one numpy.dtype argument of a native float or integer type (TypeError
    otherwise, subarray and structured types included); similarities need a float dtype.
    A dtype that cannot hold every distance exactly (an integer type past its maximum,
    float32 past 2**24) raises ValueError before any pair is scored.

    Raises TypeError for a scorer, processor or text of another kind (with a note naming the
    argument), ValueError for workers other than -1 or a positive count or a NaN cutoff,
    MemoryError for a matrix too large to hold, the first failing pair's own error in
    row-major order, and KeyboardInterrupt on Ctrl-C.

    >>> import kivo
    >>> cdist(["kitten"], ["sitting", "kitten"], scorer=kivo.levenshtein_distance).tolist()
    [[3, 0]]
    """

def cpdist(
    queries: _NullableTexts,
    choices: _NullableTexts,
    *,
    scorer: _Scorer,
    score_cutoff: _Cutoff = None,
    dtype: DTypeLike | None = None,
    workers: SupportsIndex = 1,
    processor: _Processor | None = None,
    nulls: _Nulls = "error",
) -> NDArray[Any]:
    """Return the score of each query against the choice at the same index.

    The two lists must have equal lengths (ValueError otherwise); cutoffs, dtypes and their
    errors as in cdist. The pairs are read, prepared and scored a few thousand at a time, so
    the call holds little besides its result however long the lists are (an Arrow column is
    checked whole first: its errors still come before any pair is scored).

    Raises TypeError for a scorer, processor or text of another kind (with a note naming the
    argument), ValueError for workers other than -1 or a positive count, the first failing
    pair's own error in row-major order, and KeyboardInterrupt on Ctrl-C.

    >>> import kivo
    >>> cpdist(["flaw", "abc"], ["lawn", "abc"], scorer=kivo.levenshtein_similarity).tolist()
    [0.5, 1.0]
    """

def topk(
    queries: _NullableTexts,
    choices: _NullableTexts,
    *,
    scorer: _Scorer,
    k: SupportsIndex = 1,
    score_cutoff: _Cutoff = None,
    workers: SupportsIndex = 1,
    processor: _Processor | None = None,
    nulls: _Nulls = "error",
) -> tuple[NDArray[numpy.int64], NDArray[Any]]:
    """Return (indices, scores) of each query's k best choices, both (len(queries), k).

    Best first, ties to the lower choice index; -1 in both where fewer than k choices pass
    the cutoff. Memory grows with len(queries) * k, never with a full matrix, so a k past
    len(choices) costs its padding all the same. With k=0 the arguments are checked and
    nothing is scored. Indices are int64; scores int64 for distances, float64 for
    similarities.

    Raises TypeError for a scorer, processor or text of another kind (with a note naming the
    argument), ValueError for workers other than -1 or a positive count or a NaN cutoff,
    MemoryError (noted 'k') for results too large to hold, the first failing pair's own
    error in row-major order, and KeyboardInterrupt on Ctrl-C.

    >>> import kivo
    >>> i, s = topk(["abc"], ["abd", "abc", "abc"], scorer=kivo.levenshtein_distance, k=2)
    >>> i.tolist(), s.tolist()
    ([[1, 2]], [[0, 0]])
    """

def extract(
    query: str | None,
    choices: _NullableTexts | Mapping[Any, str | None] | _Items,
    *,
    scorer: _Scorer,
    limit: SupportsIndex | None = 5,
    score_cutoff: _Cutoff = None,
    processor: _Processor | None = None,
    workers: SupportsIndex = 1,
    nulls: _Nulls = "error",
) -> list[tuple[str, Any, Any]]:
    """Return the best choices for one query as (choice, score, key), best first.

    choices is a sequence of str, whose keys are the indices, or a mapping (a dict, or
    anything else with items(), such as a pandas Series) whose values are the choices and
    whose keys (index labels) are the keys. Ties go to the earlier choice. At most `limit`
    choices are returned, every one that passes the cutoff when limit is None; only that many
    scores are kept while the choices are scored. The scorer and processor are those of topk,
    and so are the scores: int for distances, float for similarities.

    Raises TypeError for a scorer, processor, query or choice of another kind (with a note
    naming the argument), ValueError for workers other than -1 or a positive count or a NaN
    cutoff, the first failing pair's own error, and KeyboardInterrupt on Ctrl-C.

    >>> import kivo.tokens
    >>> extract("john smith", {"a": "Smith, John", "b": "Jon Smyth", "c": "Mary Jones"},
    ...         scorer=kivo.tokens.token_sort_ratio, limit=2)
    [('Smith, John', 0.7619047619047619, 'a'), ('Jon Smyth', 0.631578947368421, 'b')]
    """

def extract_one(
    query: str | None,
    choices: _NullableTexts | Mapping[Any, str | None] | _Items,
    *,
    scorer: _Scorer,
    score_cutoff: _Cutoff = None,
    processor: _Processor | None = None,
    workers: SupportsIndex = 1,
    nulls: _Nulls = "error",
) -> tuple[str, Any, Any] | None:
    """Return extract()'s best (choice, score, key), or None when no choice passes the cutoff.

    The search stops at the first choice with the best score there is (a distance of 0, a
    similarity of 1): ties go to the earlier choice, so none after it can win. A list or tuple
    of choices is read as the search goes, so the choices after that one are never read (nor
    refused). hamming_distance (whose pairs may fail), bm25_similarity, tfidf_similarity and
    KivoFlow scorers read every choice first.

    >>> import kivo.edit
    >>> extract_one("teh", ["the", "ten", "tea"], scorer=kivo.edit.osa_distance)
    ('the', 1, 0)
    """

def pairs(
    queries: _NullableTexts,
    choices: _NullableTexts | None = None,
    *,
    scorer: _Scorer,
    score_cutoff: _Cutoff,
    workers: SupportsIndex = 1,
    processor: _Processor | None = None,
    nulls: _Nulls = "error",
) -> tuple[NDArray[numpy.int64], NDArray[numpy.int64], NDArray[Any]]:
    """Return (i, j, scores) of the pairs that pass the cutoff, ordered by (i, j).

    With one list, every i < j of it (a self-join, as deduplication needs); with two, every
    (i, j) of queries and choices. i and j are int64; scores int64 for distances, float64 for
    similarities.

    Raises TypeError for a scorer, processor or text of another kind (with a note naming the
    argument), ValueError for workers other than -1 or a positive count or a NaN cutoff, the
    first failing pair's own error in row-major order, and KeyboardInterrupt on Ctrl-C.

    >>> import kivo
    >>> i, j, s = pairs(["jon", "john", "joan"], scorer=kivo.levenshtein_distance, score_cutoff=1)
    >>> list(zip(i.tolist(), j.tolist(), s.tolist()))
    [(0, 1, 1), (0, 2, 1), (1, 2, 1)]
    """

def minhash_signatures(
    texts: _Texts,
    shingle_size: SupportsIndex,
    num_hashes: SupportsIndex,
    *,
    workers: SupportsIndex = 1,
    processor: _Processor | None = None,
) -> NDArray[numpy.uint64]:
    """Return a uint64 array (len(texts), num_hashes) whose rows are kivo.minhash_signature.

    Raises what kivo.minhash_signature raises (the first failing text's error; a shingle size
    of 0 before any sizing), MemoryError (noted 'num_hashes') for signatures too large to
    hold, and otherwise as cdist.

    >>> import kivo
    >>> minhash_signatures(["abcd"], 3, 4)[0].tolist() == kivo.minhash_signature("abcd", 3, 4)
    True
    """

def lsh_pairs(
    signatures: NDArray[numpy.integer[Any]] | Sequence[Sequence[SupportsIndex]],
    *,
    bands: SupportsIndex,
    rows: SupportsIndex,
    workers: SupportsIndex = 1,
) -> tuple[NDArray[numpy.int64], NDArray[numpy.int64]]:
    """Return (i, j), i < j, of the signatures equal on all rows of at least one band.

    Band b covers entries b * rows ... (b + 1) * rows - 1; bands * rows must not exceed the
    signature length (ValueError otherwise). Each pair appears once, ordered by (i, j).

    signatures is one signature per row, each value an integer from 0 to 2**64 - 1, read
    exactly: a 2-dimensional NumPy array (or anything numpy.asarray makes one) of any integer
    dtype, signed or unsigned, of any width and byte order; or a list or tuple of equally long
    sequences of ints (or of 1-dimensional integer arrays). An empty list has no pairs. Any
    other dtype (bool, float, complex, datetime, str, object, ...) or a value that is no int
    raises TypeError; a negative value, one of 2**64 or more, another number of dimensions or
    unequal lengths ValueError, naming the position (signatures[i, k]) where there is one.

    Memory beyond the signatures and the result grows with the signatures times the bands,
    not with the pairs, however many texts share a bucket; Ctrl-C stops a call inside a
    bucket too.

    >>> sig = minhash_signatures(["the cat sat", "the cat sat!", "dog"], 2, 8)
    >>> [a.tolist() for a in lsh_pairs(sig, bands=4, rows=2)]
    [[0], [1]]
    >>> [a.tolist() for a in lsh_pairs([[1, 5, 7], [2, 5, 7], [1, 6, 8]], bands=3, rows=1)]
    [[0, 0], [1, 2]]
    """

def encode(
    texts: _Texts,
    *,
    encoder: Callable[[str], str] | Callable[[str], tuple[str, str]],
    workers: SupportsIndex = 1,
) -> list[Any]:
    """Return encoder(text) for every text: a list of str, or of (primary, alternate) pairs
    for kivo.phonetic.double_metaphone.

    encoder is one of kivo.phonetic's key functions: soundex, nysiis, metaphone,
    double_metaphone or match_rating_codex (TypeError otherwise). Every key equals the single
    call's; texts are read as by cdist, and a str holding a lone surrogate raises what the
    single call raises.

    >>> import kivo.phonetic
    >>> encode(["Robert", "Rupert", "Rubin"], encoder=kivo.phonetic.soundex)
    ['R163', 'R163', 'R150']
    """

@final
class LSHIndex:
    """An index of near-duplicates that grows, shrinks and lasts: add, query, remove, save, load.

    Documents are MinHash signatures (as minhash_signatures makes them) filed under int64 keys;
    band b covers entries b * rows ... (b + 1) * rows - 1, as in lsh_pairs. Signatures are read
    as lsh_pairs reads them. The index holds each signature (signature(key) returns it) and, per
    band, a table of about 20 to 30 bytes a document.

    Threads may query one index at once; add and remove wait for the queries under way and hold
    the index alone. Every method releases the interpreter lock while it works and stops on
    Ctrl-C with KeyboardInterrupt, changing nothing (a removal stops only while its keys are
    checked). Exact verification is a separate step: cpdist over the candidates.

    >>> index = LSHIndex(bands=4, rows=2)
    >>> sig = minhash_signatures(["the cat sat", "the cat sat!", "dog"], 2, 8)
    >>> index.add(sig[:2], keys=[10, 20])
    >>> [a.tolist() for a in index.query(sig)]
    [[0, 0, 1, 1], [10, 20, 10, 20]]
    >>> len(index), 20 in index, 30 in index
    (2, True, False)
    """

    def __new__(cls, *, bands: SupportsIndex, rows: SupportsIndex) -> LSHIndex:
        """An empty index for signatures of at least bands * rows values.

        Raises ValueError unless bands and rows are positive with bands * rows at most 2**32.
        """

    @property
    def bands(self) -> int:
        """The number of bands."""

    @property
    def rows(self) -> int:
        """The number of values in each band."""

    def __len__(self) -> int:
        """The number of documents held."""

    def __contains__(self, key: object, /) -> bool:
        """Whether a document is held under key (an int; anything else is not held)."""

    def add(
        self,
        signatures: NDArray[numpy.integer[Any]] | Sequence[Sequence[SupportsIndex]],
        keys: NDArray[numpy.integer[Any]] | Sequence[SupportsIndex] | None = None,
        *,
        workers: SupportsIndex = 1,
    ) -> None:
        """File each signature under its key: all of them, or none.

        keys are ints from -2**63 to 2**63 - 1, one per signature (a sequence of ints or a
        1-dimensional integer array); by default len(self), len(self) + 1, ... The first
        signature fixes how many values every signature added holds (at least bands * rows).

        Raises ValueError for a key already held or listed twice (naming it, and adding
        nothing), for signatures of another length or keys of another count; TypeError or
        ValueError (noted 'signatures' or 'keys') for values that are not such ints, as
        lsh_pairs does; KeyboardInterrupt on Ctrl-C, with nothing added.
        """

    def query(
        self,
        signatures: NDArray[numpy.integer[Any]] | Sequence[Sequence[SupportsIndex]],
        *,
        limit: SupportsIndex | None = None,
        workers: SupportsIndex = 1,
    ) -> tuple[NDArray[numpy.int64], NDArray[numpy.int64]]:
        """Return (rows, keys): each held document sharing a band with signatures[row].

        Ordered by row, then key; each key once per row. With a limit, at most that many keys
        per row: those sharing the most bands with it (ties to the smaller key), still in key
        order. Signatures need at least bands * rows values (ValueError otherwise).

        >>> index = LSHIndex(bands=2, rows=1)
        >>> index.add([[1, 2], [1, 3], [4, 2]], keys=[7, 5, 6])
        >>> [a.tolist() for a in index.query([[1, 2], [9, 9]])]
        [[0, 0, 0], [5, 6, 7]]
        >>> [a.tolist() for a in index.query([[1, 2]], limit=1)]
        [[0], [7]]
        """

    def query_pairs(
        self, *, workers: SupportsIndex = 1
    ) -> tuple[NDArray[numpy.int64], NDArray[numpy.int64]]:
        """Return (a, b), a < b: the keys of every two documents held that share a band.

        Each pair once, ordered by (a, b): lsh_pairs over the signatures in key order, its
        positions replaced by the keys.

        >>> index = LSHIndex(bands=2, rows=1)
        >>> index.add([[1, 2], [1, 3], [4, 2]], keys=[7, 5, 6])
        >>> [a.tolist() for a in index.query_pairs()]
        [[5, 6], [7, 7]]
        """

    def remove(self, keys: NDArray[numpy.integer[Any]] | Sequence[SupportsIndex]) -> None:
        """Remove the documents of keys: all of them, or none.

        Raises KeyError for a key not held (the first in keys), ValueError for a key listed
        twice; nothing is removed then.
        """

    def signature(self, key: SupportsIndex) -> NDArray[numpy.uint64]:
        """Return a copy of the signature held under key; KeyError if there is none."""

    def save(self, path: str | bytes | os.PathLike[str] | os.PathLike[bytes]) -> None:
        """Write the index to path, replacing the file there only once the new one is on disk.

        A temporary file beside path (path + ".tmp-" and 16 hex digits) is written, flushed
        to disk and renamed over path: a crash or a full disk at any moment leaves the old file
        or the new one, and at worst the temporary file. Queries go on meanwhile. The format
        (docs/lsh_index_format.md) holds a magic number, a version, the parameters, the keys,
        the signatures and a checksum. Raises OSError, with the file name, when the file
        cannot be written.
        """

    @classmethod
    def load(
        cls,
        path: str | bytes | os.PathLike[str] | os.PathLike[bytes],
        *,
        workers: SupportsIndex = 1,
    ) -> LSHIndex:
        """Read an index that save wrote, checking all of it before any of it is believed.

        Raises ValueError for a file that is truncated, corrupted, not an index, or of a newer
        format version, naming the file and what is wrong; OSError when it cannot be read.
        """
