"""Each layer of src/ includes only the layers below it, and only src/py sees Python."""

import pathlib
import re

import pytest

SRC = pathlib.Path(__file__).resolve().parent.parent / "src"
LAYERS = ["base", "text", "algo", "router", "batch", "py"]
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]', re.MULTILINE)


def includes(layer):
    for path in sorted((SRC / layer).rglob("*.[ch]pp")):
        for target in INCLUDE.findall(path.read_text()):
            yield path.relative_to(SRC), target


@pytest.mark.parametrize("layer", LAYERS)
def test_layer_includes_only_layers_below(layer):
    above = LAYERS[LAYERS.index(layer) + 1 :]
    assert list(includes(layer)), f"src/{layer} is empty"
    for path, target in includes(layer):
        assert target.split("/")[0] not in above, f"{path} includes {target}"
        assert layer == "py" or target != "Python.h", f"{path} includes {target}"
