"""The installed type stubs agree with the module and type-check a typical caller."""

import pathlib
import subprocess
import sys
import sysconfig

import pytest

STUBS = pathlib.Path(sysconfig.get_paths()["purelib"]) / "kivo-stubs" / "__init__.pyi"

pytestmark = pytest.mark.skipif(not STUBS.exists(), reason="kivo is not installed with its stubs")

CALLER = """
import kivo

d: int = kivo.levenshtein_distance("a", "b")
s: float = kivo.jaro_winkler_similarity(a="a", b="b")
sig: list[int] = kivo.minhash_signature("abc", 3, 2)
p: kivo.Preprocessor = kivo.Preprocessor().with_stopwords(("a",)).with_max_length(3)
r = kivo.KivoFlow().preprocess(True).tier_1("levenshtein", "gt", 0.9, "lt", 0.1).compare("a", "b")
score: float = r["score"]
tier: int = r["tier"]
"""

WRONG = """
import kivo
kivo.levenshtein_distance("a", 1)
x: str = kivo.levenshtein_similarity("a", "b")
"""


def run(*args, cwd):
    return subprocess.run(
        [sys.executable, "-m", *args], cwd=cwd, capture_output=True, text=True, timeout=300
    )


def test_stubtest_finds_no_mismatch(tmp_path):
    result = run("mypy.stubtest", "kivo", cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def test_mypy_accepts_typical_calls_and_rejects_wrong_ones(tmp_path):
    (tmp_path / "good.py").write_text(CALLER)
    (tmp_path / "bad.py").write_text(WRONG)
    good = run("mypy", "--strict", "good.py", cwd=tmp_path)
    assert good.returncode == 0, good.stdout
    bad = run("mypy", "bad.py", cwd=tmp_path)
    assert bad.returncode == 1
    assert "levenshtein_distance" in bad.stdout and "incompatible type" in bad.stdout.lower()
