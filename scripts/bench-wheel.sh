#!/usr/bin/env bash
# Runs the batch benchmark on what `pip install` gives: the portable cp312
# wheel of this tree (built here into dist/; KIVO_WHEEL names another),
# installed into a venv of its own with the peers. Arguments go to
# bench/batch.py (e.g. --simd=avx2 --markdown FILE).
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
PY312="${PYTHON312:?PYTHON312 must name a CPython 3.12}"
VENV="$ROOT/build/bench-wheel"

if [ -z "${KIVO_WHEEL:-}" ]; then
  make -C "$ROOT" wheel WHEEL_PYTHONS="$PY312"
  KIVO_WHEEL="$(ls -t "$ROOT"/dist/kivo-*-cp312-*manylinux*.whl | head -n 1)"
fi
test -x "$VENV/bin/python" || "$PY312" -m venv "$VENV"
"$VENV/bin/pip" install -q numpy rapidfuzz datasketch
"$VENV/bin/pip" install -q --force-reinstall --no-deps "$KIVO_WHEEL"
# From outside the tree, so that nothing but the wheel can be imported as kivo.
cd "$(mktemp -d)"
"$VENV/bin/python" "$ROOT/bench/batch.py" "$@"
