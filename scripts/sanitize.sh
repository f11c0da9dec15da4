#!/usr/bin/env bash
# Builds kivo with AddressSanitizer + UndefinedBehaviorSanitizer into
# build/asan and runs the C++ unit tests and the Python test suite against it.
# Any sanitizer report fails the run.
#
#   scripts/sanitize.sh                      # the whole suite (tests/)
#   scripts/sanitize.sh tests/test_reliability.py  # a subset: arguments go to pytest
#   scripts/sanitize.sh --build-only         # only configure and build
#
# Needs `make setup` (the venv and ICU) to have run once.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
PY="$ROOT/.venv/bin/python"
BUILD="$ROOT/build/asan"
export PATH="$ROOT/.venv/bin:$PATH"  # the venv's cmake and ninja

test -x "$PY" || { echo "sanitize: $PY missing; run 'make setup' first" >&2; exit 1; }

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DKIVO_SANITIZE=ON -DKIVO_BUILD_TESTS=ON \
  -DPython_EXECUTABLE="$PY" >/dev/null
cmake --build "$BUILD"

if [ "${1:-}" = "--build-only" ]; then
  exit 0
fi

# ASan must be the first runtime in the process; CPython itself is not
# instrumented, so the runtime is preloaded. libstdc++ is preloaded with it:
# ASan resolves its __cxa_throw interceptor when it starts, and a libstdc++
# that arrives later with the module leaves that interceptor unresolved (the
# first C++ exception would then abort). UBSan's runtime loads with the module.
ASAN_LIB="$(gcc -print-file-name=libasan.so)"
STDCXX_LIB="$(gcc -print-file-name=libstdc++.so)"
for lib in "$ASAN_LIB" "$STDCXX_LIB"; do
  test -e "$lib" || { echo "sanitize: $lib not found" >&2; exit 1; }
done
PRELOAD="$ASAN_LIB $STDCXX_LIB"

export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:abort_on_error=0:exitcode=86:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1:allocator_may_return_null=1"
export LSAN_OPTIONS="suppressions=$ROOT/scripts/lsan.supp:print_suppressions=0:exitcode=87"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:exitcode=88"
export PYTHONMALLOC=malloc  # let ASan see every Python allocation
export PYTHONPATH="$BUILD"  # the build lays the package out there as kivo/
export PYTHONDONTWRITEBYTECODE=1

echo "sanitize: C++ unit tests"
"$BUILD/kivo_cpp_tests"

echo "sanitize: Python tests"
cd "$ROOT"
if [ "$#" -eq 0 ]; then
  set -- tests
fi
# NumPy (used by some tests) keeps objects from its initialisation alive past
# exit; it is imported with leak detection paused so that only allocations
# made afterwards are checked.
LD_PRELOAD="$PRELOAD" "$PY" - "$@" <<'PYTHON'
import ctypes, sys
lsan = ctypes.CDLL(None)
lsan.__lsan_disable()
try:
    import numpy  # noqa: F401
except ImportError:
    pass
lsan.__lsan_enable()
import pytest
sys.exit(pytest.main(["-q", "-p", "no:cacheprovider", *sys.argv[1:]]))
PYTHON
