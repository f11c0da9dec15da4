"""Edit distances beyond Levenshtein's, and where the edits of an alignment are.

Characters are code points: nothing is case-folded or normalised. A str
holding a lone surrogate raises UnicodeEncodeError. Similarities are
1 - distance / the measure's largest distance, 1.0 for two empty texts. Each
two-text measure here is also a scorer of kivo.batch.
"""

def osa_distance(a: str, b: str) -> int:
    """Optimal string alignment distance: insertions, deletions, substitutions
    and swaps of two adjacent characters, each costing 1, no substring being
    edited twice.

    >>> osa_distance("teh", "the"), osa_distance("ca", "abc")
    (1, 3)
    """

def osa_similarity(a: str, b: str) -> float:
    """1 - osa_distance(a, b) / max(len(a), len(b)); 1.0 for two empty texts."""

def damerau_levenshtein_distance(a: str, b: str) -> int:
    """Unrestricted Damerau-Levenshtein distance: like osa_distance, but a
    swapped pair may be edited further.

    >>> damerau_levenshtein_distance("ca", "abc")
    2
    """

def damerau_levenshtein_similarity(a: str, b: str) -> float:
    """1 - damerau_levenshtein_distance(a, b) / max(len(a), len(b)); 1.0 for
    two empty texts."""

def indel_distance(a: str, b: str) -> int:
    """The fewest insertions and deletions that turn a into b:
    len(a) + len(b) - 2 * lcs_length(a, b).

    >>> indel_distance("kitten", "sitting")
    5
    """

def indel_similarity(a: str, b: str) -> float:
    """1 - indel_distance(a, b) / (len(a) + len(b)); 1.0 for two empty texts."""

def lcs_length(a: str, b: str) -> int:
    """The length of the longest common subsequence of a and b.

    Not a scorer of kivo.batch, whose integral scores are distances: use
    indel_distance or lcs_similarity there.
    """

def lcs_similarity(a: str, b: str) -> float:
    """1 - (max(len(a), len(b)) - lcs_length(a, b)) / max(len(a), len(b)),
    that is the LCS over the longer length; 1.0 for two empty texts."""

def weighted_levenshtein_distance(
    a: str, b: str, insert_cost: int, delete_cost: int, substitute_cost: int
) -> int:
    """The cheapest way to turn a into b, inserting a character of b at
    insert_cost, deleting one of a at delete_cost and substituting at
    substitute_cost (non-negative integers; a negative one raises
    OverflowError).

    >>> weighted_levenshtein_distance("kitten", "sitting", 1, 1, 2)
    5
    """

def levenshtein_opcodes(a: str, b: str) -> list[tuple[str, int, int, int, int]]:
    """A minimal Levenshtein alignment of a into b in the shape of
    difflib.SequenceMatcher.get_opcodes(): (tag, a_start, a_end, b_start,
    b_end) with tags "equal", "replace", "delete" and "insert", covering both
    texts end to end; empty for two empty texts.

    Ties between minimal alignments are broken one way: common leading and
    trailing characters are kept equal; between them the alignment is traced
    back from the end, matching equal characters, else substituting, else
    deleting, else inserting, whichever keeps it minimal.

    >>> levenshtein_opcodes("kitten", "sitting")
    [('replace', 0, 1, 0, 1), ('equal', 1, 4, 1, 4), ('replace', 4, 5, 4, 5), ('equal', 5, 6, 5, 6), ('insert', 6, 6, 6, 7)]
    """

def levenshtein_editops(a: str, b: str) -> list[tuple[str, int, int]]:
    """The edits of levenshtein_opcodes(a, b) one by one, as (tag, a_pos,
    b_pos): "replace" a[a_pos] by b[b_pos], "delete" a[a_pos], or "insert"
    b[b_pos] before a[a_pos]. Their number is the Levenshtein distance.

    >>> levenshtein_editops("kitten", "sitting")
    [('replace', 0, 0), ('replace', 4, 4), ('insert', 6, 6)]
    """
