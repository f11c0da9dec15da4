#!/usr/bin/env bash
# Installs kivo into a venv per interpreter and runs the whole suite there.
# Arguments: the interpreters; .venv/bin/python is used as it is, the others
# get a .venv-<version>, with a "t" for free-threaded builds. On a free-threaded
# interpreter the GIL must stay off once kivo is imported, and the thread
# tests must pass with it off. Packages without wheels for an interpreter
# (numpy, mypy) are left out and the tests needing them skip; a release
# with a wheel is preferred to building one from source.
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -gt 0 ] || { echo "usage: test-versions.sh PYTHON..." >&2; exit 2; }
unset PYTHON_GIL

host_pip=(.venv/bin/python -m pip)
summary=()
failed=0

version_of() {
  "$1" -c 'import sys, sysconfig
print("%d.%d%s" % (*sys.version_info[:2], "t" if sysconfig.get_config_var("Py_GIL_DISABLED") else ""))'
}

# The venv with pip, the build backend and the test dependencies.
prepare() {
  local python=$1 venv=$2
  local stamp="$venv/.kivo-deps"
  [ -f "$stamp" ] && [ "$stamp" -nt pyproject.toml ] && return 0
  [ -x "$venv/bin/python" ] || "$python" -m venv --without-pip "$venv"
  # Some interpreters come without ensurepip; the first venv's pip installs one.
  "$venv/bin/python" -m pip --version >/dev/null 2>&1 ||
    "${host_pip[@]}" --python "$venv/bin/python" install -q pip
  local pip=("$venv/bin/python" -m pip install -q --prefer-binary)
  "${pip[@]}" --upgrade pip
  "${pip[@]}" "scikit-build-core>=0.10" cmake ninja pytest hypothesis
  for optional in numpy mypy jellyfish doublemetaphone; do
    "${pip[@]}" "$optional" 2>/dev/null || echo "$optional is not installable on $python" >&2
  done
  touch "$stamp"
}

# Runs the thread tests (kivo's and kivo.batch's) in-process and checks the GIL is still off after them.
free_threaded_checks() {
  "$1" - <<'EOF'
import sys

import kivo  # noqa: F401
import kivo.batch  # noqa: F401
import pytest

assert not sys._is_gil_enabled(), "importing kivo enabled the GIL"
code = pytest.main(["-q", "-p", "no:cacheprovider", "tests/test_reliability.py", "tests/test_batch.py",
                    "-k", "thread or race or lock"])
assert not sys._is_gil_enabled(), "the GIL was enabled during the thread tests"
print("GIL stayed off with kivo imported and through the thread tests")
sys.exit(code)
EOF
}

for python in "$@"; do
  version=$(version_of "$python")
  if [ "$python" = .venv/bin/python ]; then venv=.venv; else venv=.venv-$version; fi
  echo "=== Python $version ($python) in $venv"
  start=$SECONDS
  prepare "$python" "$venv"
  "$venv/bin/python" -m pip install -q --no-build-isolation .
  status=ok
  log="build/pytest-$version.log"
  mkdir -p build
  "$venv/bin/python" -m pytest -q -p no:cacheprovider tests 2>&1 | tee "$log" || status=FAILED
  if [ "${version: -1}" = t ]; then free_threaded_checks "$venv/bin/python" || status=FAILED; fi
  [ $status = ok ] || failed=1
  summary+=("Python $version: $(tail -1 "$log") [$status, $((SECONDS - start)) s]")
done

printf '%s\n' "${summary[@]}"
exit $failed
