"""Writes a C++ header holding the docstrings of a stub file, so that help()
shows the text the stubs give: one constant per function, and `module`.

    python cmake/stub_docs.py stubs/kivo/batch.pyi OUT.hpp [NAMESPACE]

NAMESPACE (default stub_docs) is the one inside kivo::py that holds them.
"""

import ast
import pathlib
import sys


def literal(text):
    assert ")doc\"" not in text, "a docstring ends the raw string early"
    return f'R"doc({text})doc"'


def main(stub, out, namespace="stub_docs"):
    tree = ast.parse(pathlib.Path(stub).read_text())
    lines = [
        f"// Generated from {pathlib.Path(stub).name} by cmake/stub_docs.py; do not edit.",
        "#pragma once",
        "",
        f"namespace kivo::py::{namespace} {{",
        "",
        f"inline constexpr const char module[] = {literal(ast.get_docstring(tree) or '')};",
    ]
    for node in tree.body:
        if isinstance(node, ast.FunctionDef) and ast.get_docstring(node):
            lines.append(f"inline constexpr const char {node.name}[] = "
                         f"{literal(ast.get_docstring(node))};")
    lines += ["", f"}}  // namespace kivo::py::{namespace}", ""]
    text = "\n".join(lines)
    target = pathlib.Path(out)
    if not target.exists() or target.read_text() != text:
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_text(text)


if __name__ == "__main__":
    main(*sys.argv[1:])
