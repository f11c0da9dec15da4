"""Text similarity: edit distances, set measures, term weighting, cleaning and a tiered router.

Every parameter is required and may be passed by position or by name. Arguments are
converted strictly, and a conversion failure carries the note "while processing '<name>'":

- a str parameter takes str only (TypeError otherwise); a str holding a lone surrogate
  raises UnicodeEncodeError;
- an int parameter takes anything with __index__ in 0 ... 2**64 - 1: a negative or larger
  value raises OverflowError, a float raises TypeError;
- a bool parameter takes True, False or a numpy.bool_, never 0 or 1 (TypeError);
- a float parameter takes anything float() accepts from a number.

Characters are Unicode code points; no measure folds case or normalises on its own.
"""

from typing import Literal, SupportsIndex, TypedDict, final, type_check_only

__all__ = [
    "levenshtein_distance",
    "levenshtein_similarity",
    "jaro_winkler_similarity",
    "hamming_similarity",
    "hamming_distance",
    "jaccard_similarity",
    "jaccard_bigram_similarity",
    "jaccard_trigram_similarity",
    "jaccard_word_similarity",
    "minhash_signature",
    "minhash_similarity",
    "minhash_similarity_default",
    "simhash_fingerprint",
    "simhash_fingerprint_default",
    "simhash_similarity",
    "simhash_similarity_default",
    "bm25_similarity",
    "tfidf_similarity",
    "Preprocessor",
    "clean_text",
    "clean_text_stopwords",
    "KivoFlow",
]

class PanicException(BaseException):
    """An internal fault, such as a shingle size of 0 ("window size must be non-zero").

    Derives from BaseException, so `except Exception` does not catch it.
    """

def levenshtein_distance(a: str, b: str) -> int:
    """Return the fewest character insertions, deletions and substitutions turning a into b.

    >>> levenshtein_distance("saturday", "sunday")
    3

    Args:
        a: First text.
        b: Second text.

    Raises:
        TypeError: a or b is not a str.
    """

def levenshtein_similarity(a: str, b: str) -> float:
    """Return 1 - distance / (longer length in characters); 1.0 for two empty texts.

    >>> levenshtein_similarity("flaw", "lawn")
    0.5

    Args:
        a: First text.
        b: Second text.

    Raises:
        TypeError: a or b is not a str.
    """

def jaro_winkler_similarity(a: str, b: str) -> float:
    """Return the Jaro similarity plus the Winkler bonus for a common prefix of up to 4 characters.

    >>> jaro_winkler_similarity("MARTHA", "MARHTA")
    0.9611111111111111

    Args:
        a: First text; matching runs from its side.
        b: Second text.

    Raises:
        TypeError: a or b is not a str.
    """

def hamming_similarity(a: str, b: str) -> float:
    """Return 1 - (differing positions) / length; 1.0 for two empty texts.

    Args:
        a: First text.
        b: Second text, with as many characters as a.

    Raises:
        ValueError: "Strings must have equal length" when the character counts differ.
        TypeError: a or b is not a str.
    """

def hamming_distance(a: str, b: str) -> int:
    """Return the number of positions holding different characters.

    >>> hamming_distance("karolin", "kathrin")
    3

    Args:
        a: First text.
        b: Second text, with as many characters as a.

    Raises:
        ValueError: "Strings must have equal length" when the character counts differ.
        TypeError: a or b is not a str.
    """

def jaccard_similarity(a: str, b: str, n: SupportsIndex) -> float:
    """Return |A ∩ B| / |A ∪ B| over the sets of n-character shingles; 1.0 for equal texts.

    A text shorter than n characters is its own single shingle.

    >>> jaccard_similarity("night", "nacht", 2)
    0.14285714285714285

    Args:
        a: First text.
        b: Second text.
        n: Shingle size in characters.

    Raises:
        PanicException: n is 0 and the texts differ.
        OverflowError: n is negative or at least 2**64.
        TypeError: a or b is not a str, or n is not an integer.
    """

def jaccard_bigram_similarity(a: str, b: str) -> float:
    """Return jaccard_similarity(a, b, 2).

    Args:
        a: First text.
        b: Second text.

    Raises:
        TypeError: a or b is not a str.
    """

def jaccard_trigram_similarity(a: str, b: str) -> float:
    """Return jaccard_similarity(a, b, 3).

    Args:
        a: First text.
        b: Second text.

    Raises:
        TypeError: a or b is not a str.
    """

def jaccard_word_similarity(a: str, b: str) -> float:
    """Return the Jaccard index of the two sets of whitespace-separated words.

    1.0 when neither text has a word, 0.0 when exactly one has none. Punctuation stays
    attached to its word.

    >>> jaccard_word_similarity("the cat", "cat the the")
    1.0

    Args:
        a: First text.
        b: Second text.

    Raises:
        TypeError: a or b is not a str.
    """

def minhash_signature(
    text: str, shingle_size: SupportsIndex, num_hashes: SupportsIndex
) -> list[int]:
    """Return num_hashes minima, one per hash function, over the text's shingles.

    The same in every process and on every machine; entry i comes from hash function i.

    >>> minhash_signature("abc", 3, 2)
    [107385297314013898, 2242858558886249666]

    Args:
        text: The text to sign.
        shingle_size: Shingle size in characters.
        num_hashes: Length of the signature; 0 gives [].

    Raises:
        PanicException: shingle_size is 0.
        MemoryError: num_hashes is too large to allocate.
        OverflowError: an int argument is negative or at least 2**64.
        TypeError: text is not a str, or an int argument is not an integer.
    """

def minhash_similarity(
    a: str, b: str, shingle_size: SupportsIndex, num_hashes: SupportsIndex
) -> float:
    """Return the share of signature positions at which a and b agree (NaN for 0 hashes).

    An estimate of the shingle Jaccard index; equal texts give 1.0.

    Args:
        a: First text.
        b: Second text.
        shingle_size: Shingle size in characters.
        num_hashes: Number of hash functions.

    Raises:
        PanicException: shingle_size is 0, even for equal texts.
        MemoryError: num_hashes is too large to allocate.
        OverflowError: an int argument is negative or at least 2**64.
        TypeError: a or b is not a str, or an int argument is not an integer.
    """

def minhash_similarity_default(a: str, b: str) -> float:
    """Return minhash_similarity(a, b, 3, 128).

    Args:
        a: First text.
        b: Second text.

    Raises:
        TypeError: a or b is not a str.
    """

def simhash_fingerprint(text: str, shingle_size: SupportsIndex) -> int:
    """Return the 64-bit SimHash fingerprint (0 ... 2**64 - 1) of the text's shingles.

    >>> simhash_fingerprint("abc", 4)
    16654208175385433931

    Args:
        text: The text to fingerprint.
        shingle_size: Shingle size in characters.

    Raises:
        PanicException: shingle_size is 0.
        OverflowError: shingle_size is negative or at least 2**64.
        TypeError: text is not a str, or shingle_size is not an integer.
    """

def simhash_fingerprint_default(text: str) -> int:
    """Return simhash_fingerprint(text, 4).

    Args:
        text: The text to fingerprint.

    Raises:
        TypeError: text is not a str.
    """

def simhash_similarity(a: str, b: str, shingle_size: SupportsIndex) -> float:
    """Return 1 - (differing fingerprint bits) / 64, one of 65 values.

    Args:
        a: First text.
        b: Second text.
        shingle_size: Shingle size in characters.

    Raises:
        PanicException: shingle_size is 0.
        OverflowError: shingle_size is negative or at least 2**64.
        TypeError: a or b is not a str, or shingle_size is not an integer.
    """

def simhash_similarity_default(a: str, b: str) -> float:
    """Return simhash_similarity(a, b, 4).

    >>> simhash_similarity_default("hello world", "hello there")
    0.71875

    Args:
        a: First text.
        b: Second text.

    Raises:
        TypeError: a or b is not a str.
    """

def bm25_similarity(a: str, b: str) -> float:
    """Return how well b answers the query a: Okapi BM25 normalised to 0 ... 1. Not symmetric.

    Terms are split at whitespace and ASCII punctuation and lowercased; the corpus is the
    two texts. 0.0 when either text has no term.

    Args:
        a: The query.
        b: The document scored against it.

    Raises:
        TypeError: a or b is not a str.
    """

def tfidf_similarity(a: str, b: str) -> float:
    """Return the cosine of the two TF-IDF vectors over the two-text corpus (not clamped to 1).

    1.0 when neither text has a term, 0.0 when exactly one has none or they share none.

    >>> tfidf_similarity("the cat", "the dog")
    0.33609692727625745

    Args:
        a: First text.
        b: Second text.

    Raises:
        TypeError: a or b is not a str.
    """

@final
class Preprocessor:
    """An immutable cleaning pipeline; every with_... method returns a new Preprocessor.

    The steps run in this order, each when switched on: NFC normalisation, lowercasing,
    whitespace collapsing, trimming, stopword removal, the byte bound.
    """

    def __new__(cls) -> Preprocessor:
        """Return the default pipeline: normalise, lowercase, collapse, trim; keep stopwords."""

    def with_lowercase(self, v: bool) -> Preprocessor:
        """Return a copy with full Unicode lowercasing switched on or off.

        Args:
            v: True or False.

        Raises:
            TypeError: v is not a bool.
        """

    def with_collapse_whitespace(self, v: bool) -> Preprocessor:
        """Return a copy that does or does not turn each whitespace run into one space.

        Args:
            v: True or False.

        Raises:
            TypeError: v is not a bool.
        """

    def with_trim(self, v: bool) -> Preprocessor:
        """Return a copy that does or does not strip whitespace at both ends.

        Args:
            v: True or False.

        Raises:
            TypeError: v is not a bool.
        """

    def with_normalize_unicode(self, v: bool) -> Preprocessor:
        """Return a copy with NFC normalisation switched on or off.

        Args:
            v: True or False.

        Raises:
            TypeError: v is not a bool.
        """

    def with_remove_stopwords(self, v: bool) -> Preprocessor:
        """Return a copy with stopword removal switched on or off.

        The built-in English list applies until with_stopwords sets another.

        Args:
            v: True or False.

        Raises:
            TypeError: v is not a bool.
        """

    def with_stopwords(self, words: list[str] | tuple[str, ...]) -> Preprocessor:
        """Return a copy whose stopword list is words, replacing the built-in list.

        Takes effect only with with_remove_stopwords(True). Entries match cleaned tokens
        as given, so list them in lowercase when lowercasing is on.

        Args:
            words: The stopwords, copied now; an empty sequence restores the built-in list.

        Raises:
            TypeError: words is a single str ("Can't extract `str` to `Vec`"), is not a
                sequence (a set, a dict, a generator), or holds a non-str.
        """

    def with_max_length(self, max: SupportsIndex) -> Preprocessor:
        """Return a copy that cuts the result to at most max UTF-8 bytes, never inside a character.

        Args:
            max: The bound in bytes; 0 removes it.

        Raises:
            OverflowError: max is negative or at least 2**64.
            TypeError: max is not an integer.
        """

    def process(self, text: str) -> str:
        """Return text cleaned by this pipeline.

        Args:
            text: The text to clean.

        Raises:
            TypeError: text is not a str.
        """

def clean_text(text: str) -> str:
    """Return text normalised to NFC, lowercased, whitespace-collapsed and trimmed.

    >>> clean_text("  Hello,\\tWORLD!\\n")
    'hello, world!'

    Args:
        text: The text to clean.

    Raises:
        TypeError: text is not a str.
    """

def clean_text_stopwords(text: str) -> str:
    """Return clean_text(text) without the words of the built-in English stopword list.

    >>> clean_text_stopwords("The cat and THE hat")
    'cat hat'

    Args:
        text: The text to clean.

    Raises:
        TypeError: text is not a str.
    """

_Algorithm = Literal[
    "levenshtein",
    "jaro_winkler",
    "hamming",
    "jaccard_bigram",
    "jaccard_trigram",
    "jaccard_word",
    "minhash_default",
    "simhash_default",
    "bm25",
    "tfidf",
]
_ReportedAlgorithm = Literal[
    "levenshtein",
    "jaro_winkler",
    "hamming",
    "jaccard_bigram",
    "jaccard_trigram",
    "jaccard_word",
    "minhash",
    "simhash",
    "bm25",
    "tfidf",
]
_ThresholdOp = Literal["gt", "greater_than", "lt", "less_than"]
_RangeThresholdOp = _ThresholdOp | Literal["between"]
_Intent = Literal["names", "typos", "codes", "documents", "dedup", "deduplication", "auto"]

@type_check_only
class CompareResult(TypedDict):
    """What KivoFlow.compare and compare_with_intent return: a plain dict with these keys.

    A name for type checkers only: import it under `if typing.TYPE_CHECKING:`.
    """

    score: float
    """The deciding algorithm's score; larger means more alike."""
    tier: int
    """1 or 2 for the tier that decided (or tier 1 after a fallback); 0 from compare_with_intent."""
    algorithm: _ReportedAlgorithm
    """The algorithm that scored: as named, but "minhash" and "simhash" for the two defaults."""
    fallback_called: bool
    """Always False."""
    fallback_data: str
    """Always the empty string."""

@final
class KivoFlow:
    """An immutable two-tier comparison router; tier_1, tier_2 and preprocess return new objects."""

    def __new__(cls) -> KivoFlow:
        """Return a router with no tiers and cleaning off."""

    def preprocess(self, enable: bool) -> KivoFlow:
        """Return a copy that cleans both texts with clean_text before scoring, or not.

        Args:
            enable: True to clean, False to score the texts as given.

        Raises:
            TypeError: enable is not a bool.
        """

    def tier_1(
        self,
        algo: _Algorithm,
        match_op: _ThresholdOp,
        match_val: float,
        mismatch_op: _ThresholdOp,
        mismatch_val: float,
    ) -> KivoFlow:
        """Return a copy whose first tier runs algo and decides on a high or a low score.

        Tier 1 decides a match when match_op is "gt"/"greater_than" and the score exceeds
        match_val, a mismatch when mismatch_op is "lt"/"less_than" and the score is below
        mismatch_val. Replaces any earlier tier 1.

        Args:
            algo: The algorithm name, matched exactly.
            match_op: The operator of the match rule.
            match_val: The match threshold.
            mismatch_op: The operator of the mismatch rule.
            mismatch_val: The mismatch threshold.

        Raises:
            ValueError: "unknown algorithm: {algo}" or "unknown threshold op: {op}",
                checked in the order algo, match_op, mismatch_op.
            TypeError: a name is not a str or a value is not a number.
        """

    def tier_2(
        self, algo: _Algorithm, op: _RangeThresholdOp, val1: float, val2: float
    ) -> KivoFlow:
        """Return a copy whose second tier runs algo and decides when its one rule holds.

        Tier 2 runs only when tier 1 is absent or undecided. Replaces any earlier tier 2.

        Args:
            algo: The algorithm name, matched exactly.
            op: "gt"/"greater_than" (score > val1), "lt"/"less_than" (score < val1) or
                "between" (val1 <= score <= val2).
            val1: The threshold, or the lower bound of "between".
            val2: The upper bound of "between"; required but ignored by the other operators.

        Raises:
            ValueError: "unknown algorithm: {algo}" or "unknown threshold op: {op}".
            TypeError: a name is not a str or a value is not a number.
        """

    def compare_with_intent(self, intent: _Intent, a: str, b: str) -> CompareResult:
        """Return the score of one algorithm chosen by intent, with "tier" 0; ignores the tiers.

        "names": jaro_winkler, "typos": levenshtein, "codes": hamming, "documents": bm25,
        "dedup"/"deduplication": simhash_default. "auto" picks by the UTF-8 lengths: hamming
        for equal short texts, then jaro_winkler, bm25 and simhash_default as they grow.

        Args:
            intent: What the texts are, matched exactly.
            a: First text.
            b: Second text.

        Raises:
            ValueError: "unknown intent: {intent}"; "Algorithm error: Hamming requires
                equal-length strings" when "codes" meets different character counts.
            TypeError: an argument is not a str.
        """

    def compare(self, a: str, b: str) -> CompareResult:
        """Return the score of the first tier that decides, else tier 1's score as a fallback.

        Args:
            a: First text.
            b: Second text.

        Raises:
            ValueError: "Router configuration error: No tiers configured" when no tier
                decides and there is no tier 1; "Algorithm error: Hamming requires
                equal-length strings" when a "hamming" tier meets different character counts.
            TypeError: a or b is not a str.
        """
