"""How kivo.phonetic is bound: a module of kivo's own shared object, whose
signatures and docstrings are the stubs', and whose examples hold."""

import ast
import doctest
import inspect
import pathlib
import subprocess
import sys

import pytest

import kivo
import kivo.batch
import kivo.phonetic as ph
from test_reliability import assert_steady

STUB = pathlib.Path(__file__).resolve().parent.parent / "stubs" / "kivo" / "phonetic.pyi"
TREE = ast.parse(STUB.read_text())
STUB_FUNCTIONS = {node.name: node for node in TREE.body if isinstance(node, ast.FunctionDef)}


def test_kivo_phonetic_is_a_module_of_kivos_own_shared_object():
    assert ph.__file__ == kivo.__file__ and ph.__name__ == "kivo.phonetic"
    assert sorted(name for name in vars(ph) if not name.startswith("_")) == sorted(STUB_FUNCTIONS)


@pytest.mark.parametrize("imports", ["import kivo.phonetic as p", "from kivo import phonetic as p"])
def test_kivo_phonetic_imports_in_a_fresh_interpreter(imports):
    code = f"{imports}; import sys; assert sys.modules['kivo.phonetic'] is p; print(p.soundex('Lee'))"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.split() == ["L000"]


@pytest.mark.parametrize("name", sorted(STUB_FUNCTIONS))
def test_signatures_and_docstrings_are_the_stubs(name):
    function = getattr(ph, name)
    params = [arg.arg for arg in STUB_FUNCTIONS[name].args.args]
    assert list(inspect.signature(function).parameters) == params
    assert inspect.getdoc(function) == ast.get_docstring(STUB_FUNCTIONS[name])
    assert ph.__doc__ == ast.get_docstring(TREE)


def test_stub_examples_hold():
    runner, parser = doctest.DocTestRunner(), doctest.DocTestParser()
    for name, node in STUB_FUNCTIONS.items():
        runner.run(parser.get_doctest(ast.get_docstring(node), dict(vars(ph)), name, str(STUB), 0))
    assert runner.summarize(verbose=False).attempted >= len(STUB_FUNCTIONS)
    assert runner.summarize(verbose=False).failed == 0


# Made at run time: ordinary objects whose reference counts mean something.
NAME = "".join(["Ærø Schmidt-", "Łukasz 😀 O'Brien"])
CALLS = [
    *[(f, NAME) for f in (ph.soundex, ph.nysiis, ph.metaphone, ph.double_metaphone,
                          ph.match_rating_codex)],
    (ph.match_rating_comparison, NAME, NAME[::-1]),
    (ph.soundex, "x\ud800"),
    (ph.nysiis, 1.5),
]  # fmt: skip


@pytest.mark.parametrize("call", CALLS, ids=lambda c: getattr(c, "__name__", repr(c)))
def test_calls_leak_nothing(call):
    function, *args = call

    def once():
        try:
            function(*args)
        except (TypeError, UnicodeEncodeError):
            pass

    assert_steady(once, args)


@pytest.mark.parametrize("encoder", [ph.soundex, ph.double_metaphone])
def test_encode_leaks_nothing(encoder):
    texts = [NAME, NAME + "x", ""]
    assert_steady(lambda: kivo.batch.encode(texts, encoder=encoder), texts)
    bad = [NAME, 1]
    assert_steady(lambda: pytest.raises(TypeError, kivo.batch.encode, bad, encoder=encoder), bad)
    # Failing in a later chunk, once the first chunk's keys are made.
    late = [NAME] * 9000 + [1]
    assert_steady(lambda: pytest.raises(TypeError, kivo.batch.encode, late, encoder=encoder), late)


