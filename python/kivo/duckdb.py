"""kivo's measures as DuckDB SQL functions, computed by kivo.batch over Arrow batches.

    import duckdb, kivo.duckdb
    con = duckdb.connect()
    kivo.duckdb.register(con)
    con.sql("SELECT kivo_jaro_winkler('martha', 'marhta')")

register() adds kivo_<name>(a, b) for every two-text measure of kivo, kivo.edit and
kivo.tokens (kivo_levenshtein_distance, kivo_jaro_winkler_similarity, kivo_token_sort_ratio,
...), the short names kivo_levenshtein, kivo_hamming, kivo_osa, ... (the distance where a
measure has both forms, as DuckDB's own levenshtein and hamming are) and kivo_jaro_winkler,
and the phonetic keys kivo_soundex(t), kivo_nysiis(t), kivo_metaphone(t),
kivo_match_rating_codex(t) and kivo_double_metaphone(t) (a list [primary, alternate]).
Distances are BIGINT, similarities DOUBLE, keys VARCHAR. A NULL argument gives NULL. DuckDB
and pyarrow are imported by register() only.
"""

import kivo
import kivo.batch
import kivo.edit
import kivo.phonetic
import kivo.tokens

__all__ = ["register", "measures"]

_SUFFIXES = ("_distance", "_similarity")
_KEYS = ("soundex", "nysiis", "metaphone", "double_metaphone", "match_rating_codex")


def _is_measure(function):
    """Whether kivo.batch takes this as a scorer, and whether it is a distance."""
    try:
        scores = kivo.batch.cpdist(["ab"], ["ab"], scorer=function)
    except TypeError:
        return None
    return scores.dtype.kind == "i"


def measures():
    """Return {SQL name: (kivo function, is_distance)} of every two-text function registered."""
    found = {}
    for module in (kivo, kivo.edit, kivo.tokens):
        for name in sorted(dir(module)):
            function = getattr(module, name)
            if name.startswith("_") or isinstance(function, type) or not callable(function):
                continue
            distance = _is_measure(function)
            if distance is not None:
                found["kivo_" + name] = (function, distance)
    # Short names: the distance where both forms exist, the similarity otherwise.
    for name, (function, distance) in list(found.items()):
        for suffix in _SUFFIXES:
            short = name.removesuffix(suffix)
            if short == name or short in found:
                continue
            if distance or short + "_distance" not in found:
                found[short] = (function, distance)
    return dict(sorted(found.items()))


def register(connection, *, workers=1):
    """Create kivo's SQL functions on a DuckDB connection; each scores its batch on `workers`
    threads (-1: every core). Returns the connection."""
    import duckdb
    import numpy
    import pyarrow

    def scores_of(function, distance):
        def score(a, b):
            got = kivo.batch.cpdist(a, b, scorer=function, nulls="skip", workers=workers)
            # NaN marks a pair with a NULL; most vectors have none, and need no mask.
            missing = numpy.isnan(got)
            if not missing.any():
                missing = None
            elif distance:
                got = numpy.where(missing, 0, got)
            return pyarrow.array(got.astype(numpy.int64) if distance else got, mask=missing)

        return score

    def keys_of(encoder, as_list):
        def encode(texts):
            texts = pyarrow.array(texts) if not isinstance(texts, pyarrow.Array) else texts
            valid = texts.is_valid().to_numpy(zero_copy_only=False)
            keys = iter(kivo.batch.encode(texts.filter(valid), encoder=encoder, workers=workers))
            out = [(list(next(keys)) if as_list else next(keys)) if v else None for v in valid]
            return pyarrow.array(out, type=pyarrow.list_(pyarrow.string()) if as_list else None)

        return encode

    sql_type = getattr(duckdb, "sqltype", None) or duckdb.type  # renamed in DuckDB 1.4
    text = sql_type("VARCHAR")
    for name, (function, distance) in measures().items():
        connection.create_function(
            name,
            scores_of(function, distance),
            [text, text],
            sql_type("BIGINT" if distance else "DOUBLE"),
            type="arrow",
        )
    for key in _KEYS:
        encoder = getattr(kivo.phonetic, key, None)
        if encoder is None:
            continue
        as_list = key == "double_metaphone"
        connection.create_function(
            "kivo_" + key,
            keys_of(encoder, as_list),
            [text],
            sql_type("VARCHAR[]") if as_list else text,
            type="arrow",
        )
    return connection
