r"""Ratios on the Indel similarity that forgive token order, extra tokens and
surrounding text, each in [0, 1].

Characters are code points: nothing is case-folded or normalised (pass texts
through kivo.clean_text first for that). Tokens are the maximal runs of
characters without the White_Space property. A str holding a lone surrogate
raises UnicodeEncodeError. Each function is also a scorer of kivo.batch.

The values are those of RapidFuzz's fuzz functions of the same names
(WRatio for weighted_ratio) divided by 100, called with processor=None,
except where tokens split: here only at White_Space, as kivo's word
measures split, so U+0085 and U+00A0 separate tokens and U+001C to U+001F
do not. token_sort_ratio("b\xa0a", "a b") is 1.0 here, 1/3 in RapidFuzz;
token_sort_ratio("b\x1fa", "a b") is 1/3 here, 1.0 there.
"""

def ratio(a: str, b: str) -> float:
    """The Indel similarity: 1 - (len(a) + len(b) - 2 * LCS) / (len(a) + len(b)),
    1.0 for two empty texts.

    >>> ratio("this is a test", "this is a test!")
    0.9655172413793104
    """

def partial_ratio(a: str, b: str) -> float:
    """The best ratio of the shorter text against any window of the longer one:
    every window of the shorter one's length, and those cut short at either
    end. For texts of equal length, the better of both ways round. 1.0 for two
    empty texts, 0.0 when only one is empty.

    >>> partial_ratio("this is a test", "this is a test!")
    1.0
    """

def token_sort_ratio(a: str, b: str) -> float:
    """ratio of the two texts' tokens, each sorted and joined by single spaces.

    >>> token_sort_ratio("fuzzy wuzzy was a bear", "wuzzy fuzzy was a bear")
    1.0
    """

def token_set_ratio(a: str, b: str) -> float:
    """Compares the distinct tokens: 1.0 when the texts share a token and one
    holds all of the other's; otherwise the best ratio among the shared tokens
    (sorted, joined), the shared ones followed by a's own, and the shared ones
    followed by b's own. 0.0 when either text has no token.

    >>> token_set_ratio("fuzzy was a bear", "fuzzy fuzzy was a bear")
    1.0
    """

def partial_token_sort_ratio(a: str, b: str) -> float:
    """partial_ratio of the two texts' tokens, each sorted and joined by single
    spaces."""

def partial_token_set_ratio(a: str, b: str) -> float:
    """1.0 when the texts share a token; otherwise partial_ratio of the tokens
    each holds alone (sorted, joined). 0.0 when either text has no token."""

def weighted_ratio(a: str, b: str) -> float:
    """The usual blend by length: 0.0 when either text is empty; for lengths
    within 1.5 times of each other, the best of ratio and 0.95 times the token
    sort and set ratios; otherwise the best of ratio, partial_ratio times 0.9
    and the partial token ratios times 0.95 * 0.9, where 0.9 becomes 0.6 once
    one text is more than 8 times as long as the other.

    >>> weighted_ratio("Smith, John", "John Smith")
    0.9047619047619047
    """
