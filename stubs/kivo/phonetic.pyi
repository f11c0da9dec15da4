"""Phonetic keys of names: texts that sound alike get equal keys, for blocking and for
comparing names.

Every function reads a text's Latin letters only, in either case: a Latin letter with
diacritics counts as its base letter (é as E, by its canonical decomposition; ß as SS, æ as
AE, œ as OE, ø as O, ł as L, đ as D), and every other character (digits, spaces, punctuation,
other scripts) is skipped. A text with no such letter has the empty key. No valid text raises;
a str holding a lone surrogate raises UnicodeEncodeError, and a non-str TypeError.

kivo.batch.encode computes any of the key functions over a list of texts.
"""

def soundex(text: str) -> str:
    """American Soundex: the first letter and three digits, zeros padding a short name.

    H and W do not separate letters of the same digit; vowels and Y do.

    >>> soundex("Robert"), soundex("Rupert"), soundex("Ashcraft")
    ('R163', 'R163', 'A261')
    """

def nysiis(text: str) -> str:
    """The New York State Identification and Intelligence System code, not truncated.

    >>> nysiis("Mackenzie")
    'MCANSY'
    """

def metaphone(text: str) -> str:
    """Lawrence Philips' original Metaphone, not truncated; '0' stands for "th".

    >>> metaphone("Knight"), metaphone("Thompson")
    ('NT', '0MPSN')
    """

def double_metaphone(text: str) -> tuple[str, str]:
    """Lawrence Philips' Double Metaphone, not truncated: (primary, alternate).

    The alternate key is the primary one again when the name has a single reading.
    >>> double_metaphone("Schmidt"), double_metaphone("Thompson")
    (('XMT', 'SMT'), ('TMPSN', 'TMPSN'))
    """

def match_rating_codex(text: str) -> str:
    """The Western Airlines match rating codex: the letters without vowels after the
    first letter and without doubled letters, at most six (the first three and last three).

    >>> match_rating_codex("Catherine"), match_rating_codex("Bartholomew")
    ('CTHRN', 'BRTLMW')
    """

def match_rating_comparison(a: str, b: str) -> bool | None:
    """Whether two names match by the match rating approach; None when their codices'
    lengths differ by three or more, which the approach does not compare.

    >>> match_rating_comparison("Byrne", "Boern"), match_rating_comparison("Bob", "Bartholomew")
    (True, None)
    """
