"""kivo is a package whose __init__ is the native module, so modules can live beside it."""

import importlib.metadata
import os
import pathlib
import shutil
import subprocess
import sys

import pytest

import kivo


def test_the_native_module_is_the_package_init():
    init = pathlib.Path(kivo.__file__)
    assert init.name.startswith("__init__.") and init.suffix == ".so"
    assert kivo.__spec__.name == "kivo" and kivo.__spec__.origin == kivo.__file__
    assert kivo.__path__ == kivo.__spec__.submodule_search_locations == [str(init.parent)]


def test_a_module_beside_the_init_imports_as_a_submodule(tmp_path):
    init = pathlib.Path(kivo.__file__)
    (tmp_path / "kivo").mkdir()
    shutil.copy(init, tmp_path / "kivo" / init.name)
    (tmp_path / "kivo" / "extra.py").write_text("from . import levenshtein_distance as d\n")
    code = "import kivo, kivo.extra as e; print(kivo.__file__, e.__name__, e.d('ab', 'b'))"
    env = {**os.environ, "PYTHONPATH": str(tmp_path)}
    out = subprocess.run([sys.executable, "-c", code], env=env, cwd=tmp_path,
                         capture_output=True, text=True, check=True)
    assert out.stdout.split() == [str(tmp_path / "kivo" / init.name), "kivo.extra", "1"]


def test_version_is_the_distribution_version_and_not_exported():
    assert "__version__" not in kivo.__all__
    try:
        expected = importlib.metadata.version("kivo")
    except importlib.metadata.PackageNotFoundError:
        pytest.skip("kivo is not installed")
    assert kivo.__version__ == expected
