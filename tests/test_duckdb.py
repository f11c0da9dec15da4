"""kivo.duckdb's SQL functions give the single calls' scores, bit for bit, NULL for NULL."""

import subprocess
import sys

import pytest

import kivo
import kivo.batch as batch
import kivo.phonetic as phonetic

duckdb = pytest.importorskip("duckdb")
pytest.importorskip("pyarrow")  # DuckDB's Arrow functions hand over pyarrow arrays
import kivo.duckdb  # noqa: E402

LEFT = ["martha", "dwayne", "", None, "héllo wörld", "Smith, John", "日本語", "abc", None, "kitten"]
RIGHT = ["marhta", "duane", "x", "abc", None, "John Smith", "日本", "abd", None, "sitting"]


@pytest.fixture(scope="module")
def con():
    connection = duckdb.connect()
    assert kivo.duckdb.register(connection, workers=2) is connection
    connection.execute("CREATE TABLE t (k INTEGER, a VARCHAR, b VARCHAR)")
    connection.executemany("INSERT INTO t VALUES (?, ?, ?)", list(zip(range(len(LEFT)), LEFT, RIGHT)))
    return connection


def test_the_short_names_are_the_usual_ones():
    found = kivo.duckdb.measures()
    assert found["kivo_levenshtein"] == (kivo.levenshtein_distance, True)
    assert found["kivo_hamming"] == (kivo.hamming_distance, True)
    assert found["kivo_jaro_winkler"] == (kivo.jaro_winkler_similarity, False)
    assert found["kivo_token_sort_ratio"][1] is False
    assert {"kivo_osa_distance", "kivo_weighted_ratio", "kivo_jaccard_word_similarity"} <= set(found)


@pytest.mark.parametrize("name", sorted(kivo.duckdb.measures()))
def test_every_measure_gives_the_batch_scores(con, name):
    function, distance = kivo.duckdb.measures()[name]
    if function in (kivo.hamming_distance, kivo.hamming_similarity):
        left, right = ["abc", None, "", "héllo"], ["abd", "x", "", "hallo"]
        con.execute("CREATE OR REPLACE TEMP TABLE h AS SELECT * FROM (VALUES (0, 'abc', 'abd'), "
                    "(1, NULL, 'x'), (2, '', ''), (3, 'héllo', 'hallo')) v(k, a, b)")  # fmt: skip
        table = "h"
    else:
        left, right, table = LEFT, RIGHT, "t"
    got = [row[0] for row in con.execute(f"SELECT {name}(a, b) FROM {table} ORDER BY k").fetchall()]
    assert got == [None if a is None or b is None else function(a, b) for a, b in zip(left, right)]
    assert all(isinstance(g, int if distance else float) for g in got if g is not None)


def test_a_pair_failing_in_sql_fails_as_in_kivo(con):
    with pytest.raises(duckdb.Error, match="Strings must have equal length"):
        con.execute("SELECT kivo_hamming_similarity('ab', 'abc')").fetchall()


@pytest.mark.parametrize("key", ["soundex", "nysiis", "metaphone", "match_rating_codex", "double_metaphone"])
def test_phonetic_keys(con, key):
    got = [row[0] for row in con.execute(f"SELECT kivo_{key}(a) FROM t ORDER BY k").fetchall()]
    encoder = getattr(phonetic, key)
    want = [None if a is None else encoder(a) for a in LEFT]
    assert got == [list(w) if isinstance(w, tuple) else w for w in want]


def test_a_sql_self_join_finds_the_pairs_of_each_block(con):
    names = ["Jon Smith", "John Smith", "Jonh Smyth", "Mary Jones", None, "Marie Jones", "Jon Smith", "Ann Lee"]
    zips = ["1000", "1000", "1000", "2000", "2000", "2000", "3000", "3000"]
    con.execute("CREATE OR REPLACE TEMP TABLE people (id INTEGER, name VARCHAR, zip VARCHAR)")
    con.executemany("INSERT INTO people VALUES (?, ?, ?)", list(zip(range(len(names)), names, zips)))
    got = con.execute(
        "SELECT p.id, q.id, kivo_jaro_winkler(p.name, q.name) FROM people p JOIN people q "
        "ON p.id < q.id AND p.zip = q.zip WHERE kivo_jaro_winkler(p.name, q.name) >= 0.9 ORDER BY 1, 2"
    ).fetchall()
    want = []
    for block in sorted(set(zips)):
        members = [k for k, z in enumerate(zips) if z == block]
        block_names = [names[k] for k in members]
        i, j, s = batch.pairs(block_names, scorer=kivo.jaro_winkler_similarity, score_cutoff=0.9, nulls="skip")
        want += [(members[a], members[b], score) for a, b, score in zip(i.tolist(), j.tolist(), s.tolist())]
    assert got == sorted(want) and len(got) >= 3


def test_importing_it_imports_no_duckdb():
    code = "import sys, kivo.duckdb; assert 'duckdb' not in sys.modules and 'pyarrow' not in sys.modules"
    subprocess.run([sys.executable, "-c", code], check=True)
