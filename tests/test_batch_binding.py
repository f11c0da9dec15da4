"""How kivo.batch is bound: one shared object with kivo, Python's own argument
rules, the stubs' signatures and docstrings, and scorers known by identity."""

import ast
import inspect
import os
import pathlib
import subprocess
import sys

import pytest

import kivo

np = pytest.importorskip("numpy")
batch = pytest.importorskip("kivo.batch")

STUB = pathlib.Path(__file__).resolve().parent.parent / "stubs" / "kivo" / "batch.pyi"
STUB_FUNCTIONS = {node.name: node for node in ast.parse(STUB.read_text()).body
                  if isinstance(node, ast.FunctionDef)}  # fmt: skip
LEV = kivo.levenshtein_distance


def test_kivo_batch_is_a_module_of_kivos_own_shared_object():
    assert batch.__file__ == kivo.__file__ and batch.__name__ == "kivo.batch"
    binaries = [name for name in os.listdir(os.path.dirname(kivo.__file__)) if name.endswith(".so")]
    assert binaries == [os.path.basename(kivo.__file__)]


@pytest.mark.parametrize("imports", ["import kivo.batch as b", "import kivo; import kivo.batch as b",
                                     "from kivo import batch as b"])  # fmt: skip
def test_kivo_batch_imports_in_a_fresh_interpreter(imports):
    code = (f"{imports}; import kivo, sys; assert sys.modules['kivo.batch'] is b is kivo.batch; "
            "print(b.cdist(['ab'], ['abc'], scorer=kivo.levenshtein_distance).tolist())")
    env = dict(os.environ)
    if "ASAN_OPTIONS" in env:  # NumPy keeps what its import made until exit
        env["ASAN_OPTIONS"] += ":detect_leaks=0"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True,
                         env=env)  # fmt: skip
    assert out.stdout.split() == ["[[1]]"]


def python_model(name):
    """A Python function with the stub's signature: the errors Python itself raises."""
    args = STUB_FUNCTIONS[name].args
    for arg in args.args + args.kwonlyargs:
        arg.annotation = None
    node = ast.FunctionDef(name, args, [ast.Pass()], [], None, None, [])
    namespace = {}
    exec(compile(ast.fix_missing_locations(ast.Module([node], [])), "<stub>", "exec"), namespace)
    return namespace[name]


@pytest.mark.parametrize("name", sorted(STUB_FUNCTIONS))
def test_signatures_and_docstrings_are_the_stubs(name):
    function = getattr(batch, name)
    assert inspect.signature(function) == inspect.signature(python_model(name))
    assert inspect.getdoc(function) == ast.get_docstring(STUB_FUNCTIONS[name])
    assert function.__doc__.startswith(ast.get_docstring(STUB_FUNCTIONS[name]).split("\n")[0])


@pytest.mark.parametrize(
    "name, args, kwargs",
    [
        ("cdist", (["a"], ["b"], LEV), {}),
        ("cdist", (["a"],), {"scorer": LEV}),
        ("cdist", (["a"], ["b"]), {"scorer": LEV, "queries": ["c"]}),
        ("cdist", (["a"], ["b"]), {"scorer": LEV, "workerz": 2}),
        ("cpdist", (), {"choices": ["b"], "scorer": LEV}),
        ("topk", (["a"], ["b"], LEV, 1), {}),
        ("pairs", (["a"], ["b"], LEV), {"score_cutoff": 1}),
        ("pairs", (), {"scorer": LEV, "score_cutoff": 1}),
        ("minhash_signatures", (["a"], 2), {}),
        ("minhash_signatures", (["a"], 2, 4, 1), {}),
        ("lsh_pairs", ([[1]], 1, 1), {}),
    ],
)  # fmt: skip
def test_argument_binding_errors_are_pythons_own(name, args, kwargs):
    with pytest.raises(TypeError) as want:
        python_model(name)(*args, **kwargs)
    with pytest.raises(TypeError) as got:
        getattr(batch, name)(*args, **kwargs)
    # Python 3.13 and later append a guess at the keyword meant.
    assert str(got.value) == str(want.value).split(". Did you mean")[0]


@pytest.mark.parametrize(
    "call, missing",
    [
        (lambda: batch.cdist(["a"], ["b"]), "scorer"),
        (lambda: batch.cpdist(["a"], ["b"], score_cutoff=1), "scorer"),
        (lambda: batch.topk(["a"], ["b"], k=1), "scorer"),
        (lambda: batch.pairs(["a"], scorer=LEV), "score_cutoff"),
        (lambda: batch.lsh_pairs([[1]], rows=1), "bands"),
        (lambda: batch.lsh_pairs([[1]], bands=1), "rows"),
    ],
)
def test_missing_keyword_only_arguments_are_named(call, missing):
    with pytest.raises(TypeError) as info:
        call()
    name = str(info.value).split("(")[0]
    assert str(info.value) == f"{name}() missing required keyword-only argument: '{missing}'"


def test_every_keyword_reaches_its_parameter():
    got = batch.pairs(queries=["ab", "abc"], choices=None, scorer=LEV, score_cutoff=1, workers=2,
                      processor=kivo.clean_text)  # fmt: skip
    assert [a.tolist() for a in got] == [[0], [1], [1]]
    indices, scores = batch.topk(choices=["ab", "x"], queries=["AB"], k=2, score_cutoff=0.5,
                                 scorer=kivo.levenshtein_similarity, processor=kivo.clean_text)  # fmt: skip
    assert indices.tolist() == [[0, -1]] and scores.tolist()[0][0] == 1.0


def levenshtein_distance(a, b):
    return kivo.levenshtein_distance(a, b)


@pytest.mark.parametrize(
    "scorer",
    [levenshtein_distance, kivo.levenshtein_distance.__call__, kivo.jaccard_similarity,
     kivo.clean_text, kivo.KivoFlow, kivo.Preprocessor()],
)  # fmt: skip
def test_scorers_are_known_by_identity_not_by_name(scorer):
    with pytest.raises(TypeError, match="scorer must be one of kivo's two-text functions"):
        batch.cdist(["a"], ["b"], scorer=scorer)


@pytest.mark.parametrize("processor", [kivo.levenshtein_distance, kivo.KivoFlow(), str.strip])
def test_processors_are_known_by_identity(processor):
    with pytest.raises(TypeError, match="processor must be kivo.clean_text"):
        batch.cdist(["a"], ["b"], scorer=LEV, processor=processor)


def test_a_preprocessor_with_its_own_stopwords_runs_on_the_workers():
    pre = (kivo.Preprocessor().with_lowercase(True).with_remove_stopwords(True)
           .with_stopwords(["the", "of", "ünd"]))  # fmt: skip
    texts = [f"The {w} OF ünd {i}" for i in range(300) for w in ("cat", "house")]
    want = [[kivo.levenshtein_distance(pre.process(a), pre.process(b)) for b in texts[:50]]
            for a in texts]  # fmt: skip
    got = batch.cdist(texts, texts[:50], scorer=LEV, processor=pre, workers=-1)
    assert got.tolist() == want


@pytest.mark.parametrize(
    "call",
    [
        lambda t: batch.cdist(t, t[::-1], scorer=kivo.jaccard_word_similarity),
        lambda t: batch.cpdist(t, t, scorer=kivo.levenshtein_distance, processor=kivo.clean_text),
        lambda t: batch.pairs(t, scorer=FLOW_DOCS, score_cutoff=0.0),
        lambda t: batch.topk(t, t, scorer=kivo.bm25_similarity, processor=PRE_STOPWORDS),
        lambda t: batch.minhash_signatures(t, 3, 8),
    ],
)
def test_a_batch_call_leaves_the_callers_strs_as_it_found_them(call):
    # A str asked for its UTF-8 keeps a copy of it for life (sys.getsizeof counts it).
    # Made here: a constant str is shared with every other use of it.
    texts = ["".join(words) for words in (["日本語", "のテキスト"] * 20, ["Ünïcödé", " wörds ünd"],
                                          ["plain", " ascii"], [])]  # fmt: skip
    sizes = [sys.getsizeof(t) for t in texts]
    call(texts)
    assert [sys.getsizeof(t) for t in texts] == sizes


FLOW_DOCS = kivo.KivoFlow().preprocess(True).tier_1("jaccard_word", "gt", 0.8, "lt", 0.2)
PRE_STOPWORDS = kivo.Preprocessor().with_remove_stopwords(True).with_stopwords(["ünd", "the"])


@pytest.mark.parametrize("scorer", [kivo.jaccard_bigram_similarity, kivo.tfidf_similarity, FLOW_DOCS])
def test_texts_encoded_by_the_call_score_as_the_single_calls(scorer):
    texts = ["ÿ Latin-1 ß", "Ελληνικά λόγια", "😀 astral 𐐷", "ascii", "", "日本語 テキスト"]
    single = (lambda a, b: scorer.compare(a, b)["score"]) if scorer is FLOW_DOCS else scorer
    want = [[single(a, b) for b in texts] for a in texts]
    assert batch.cdist(texts, texts, scorer=scorer, workers=2).tolist() == want
