"""kivo's measures as DuckDB SQL functions, computed by kivo.batch over Arrow batches.

DuckDB and pyarrow are imported by register() only.
"""

from collections.abc import Callable
from typing import Any, SupportsIndex, TypeVar

__all__ = ["register", "measures"]

_Connection = TypeVar("_Connection")

def measures() -> dict[str, tuple[Callable[[str, str], Any], bool]]:
    """Return {SQL name: (kivo function, is_distance)} of every two-text function registered.

    >>> import kivo
    >>> measures()["kivo_jaro_winkler"] == (kivo.jaro_winkler_similarity, False)
    True
    """

def register(connection: _Connection, *, workers: SupportsIndex = 1) -> _Connection:
    """Create kivo's SQL functions on a DuckDB connection and return it.

    kivo_<name>(a, b) for every two-text measure of kivo, kivo.edit and kivo.tokens
    (BIGINT distances, DOUBLE similarities), short names for the usual ones (kivo_levenshtein
    and kivo_hamming are distances, kivo_jaro_winkler a similarity), and the phonetic keys
    kivo_soundex(t), kivo_nysiis(t), kivo_metaphone(t), kivo_match_rating_codex(t) (VARCHAR)
    and kivo_double_metaphone(t) (VARCHAR[]: primary, alternate). A NULL argument gives
    NULL; a failing pair fails the query with the single call's error. Each batch DuckDB
    hands over is scored on `workers` threads (-1: every core).
    """
