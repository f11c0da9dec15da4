#!/usr/bin/env bash
# Fuzzes every kivo callable with atheris for FUZZ_SECONDS (default 60).
#
# kivo is built into build/fuzz with clang, AddressSanitizer, UBSan and
# libFuzzer's coverage instrumentation, and loaded into CPython with atheris's
# libFuzzer + ASan runtime preloaded, so mutations are guided by the branches
# taken inside kivo as well as in the Python harness (fuzz/kivo_harness.py).
# (GCC's ASan runtime cannot be used here: it shadows libFuzzer's coverage
# hooks, which leaves the fuzzer blind.) Leaks are not checked while fuzzing;
# `make sanitize` and tests/test_reliability.py cover them.
#
# New interesting inputs go to build/fuzz/corpus; fuzz/corpus is the
# committed seed corpus (only read). A failing input is saved as
# build/fuzz/run/crash-* and the script fails.
#
#   FUZZ_SECONDS=900 scripts/fuzz.sh             # one fuzzing process
#   FUZZ_SECONDS=900 FUZZ_JOBS=2 scripts/fuzz.sh # parallel workers
#   scripts/fuzz.sh --replay build/fuzz/run/crash-…  # re-run saved inputs
#   scripts/fuzz.sh --merge                          # fold the run's finds into fuzz/corpus
#
# Needs `make setup` to have run once; installs clang (apt) and atheris
# (into .venv) when they are missing.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
PY="$ROOT/.venv/bin/python"
BUILD="$ROOT/build/fuzz"
WORK="$BUILD/run"
SECONDS_TO_RUN="${FUZZ_SECONDS:-60}"
JOBS="${FUZZ_JOBS:-1}"
export PATH="$ROOT/.venv/bin:$PATH"  # the venv's cmake and ninja

test -x "$PY" || { echo "fuzz: $PY missing; run 'make setup' first" >&2; exit 1; }

find_clang() {
  for cxx in clang++ clang++-19 clang++-18 clang++-17 clang++-16 clang++-15 clang++-14; do
    if command -v "$cxx" >/dev/null; then command -v "$cxx"; return 0; fi
  done
  return 1
}
CXX_BIN="$(find_clang || true)"
if [ -z "$CXX_BIN" ]; then
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang >/dev/null
  CXX_BIN="$(find_clang)"
fi
if ! "$PY" -c "import atheris" 2>/dev/null; then
  "$PY" -m pip install -q atheris
fi
ATHERIS_DIR="$("$PY" -c "import atheris; print(atheris.path())")"

# vptr and function checks need UBSan's C++ runtime, which atheris does not
# ship; the GCC build of `make sanitize` keeps them.
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_CXX_COMPILER="$CXX_BIN" -DKIVO_SANITIZE=ON \
  "-DKIVO_SANITIZE_EXTRA=-fsanitize=fuzzer-no-link;-fno-sanitize=vptr,function;-Wno-unknown-warning-option" \
  -DPython_EXECUTABLE="$PY" >/dev/null
cmake --build "$BUILD" --target kivo

# libstdc++ comes right after the ASan runtime so that ASan's exception
# interceptor resolves when the runtime starts.
export LD_PRELOAD="$ATHERIS_DIR/asan_with_fuzzer.so $(gcc -print-file-name=libstdc++.so)"
export ASAN_OPTIONS="detect_leaks=0:halt_on_error=1:allocator_may_return_null=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export PYTHONMALLOC=malloc
export PYTHONPATH="$BUILD"  # the build lays the package out there as kivo/
export PYTHONDONTWRITEBYTECODE=1

if [ "${1:-}" = "--replay" ]; then
  shift
  exec "$PY" "$ROOT/fuzz/fuzz.py" --replay "$@"
fi
if [ "${1:-}" = "--merge" ]; then
  # The smallest set of inputs that keeps the coverage of both corpora.
  merged="$(mktemp -d)"
  "$PY" "$ROOT/fuzz/fuzz.py" -merge=1 "$merged" "$ROOT/fuzz/corpus" "$WORK/corpus"
  test -n "$(ls "$merged")" || { echo "fuzz: merge produced nothing" >&2; exit 1; }
  rm -f "$ROOT"/fuzz/corpus/*
  cp "$merged"/* "$ROOT/fuzz/corpus/"
  rm -rf "$merged"
  echo "fuzz/corpus: $(ls "$ROOT/fuzz/corpus" | wc -l) inputs"
  exit 0
fi

mkdir -p "$WORK/corpus"
cd "$WORK"
# The seed corpus first: a regression there fails fast.
"$PY" "$ROOT/fuzz/fuzz.py" --replay "$ROOT/fuzz/corpus"

# Each worker is a process of its own with its own seed, sharing the corpus.
pids=()
for job in $(seq 1 "$JOBS"); do
  "$PY" "$ROOT/fuzz/fuzz.py" \
    -max_total_time="$SECONDS_TO_RUN" -timeout=20 -rss_limit_mb=4096 -max_len=4096 \
    -seed="$job$RANDOM" -print_final_stats=1 -artifact_prefix="$WORK/" \
    "$WORK/corpus" "$ROOT/fuzz/corpus" >"$WORK/fuzz-$job.log" 2>&1 &
  pids+=("$!")
done
status=0
for i in "${!pids[@]}"; do
  if ! wait "${pids[$i]}"; then status=1; fi
  log="$WORK/fuzz-$((i + 1)).log"
  echo "== worker $((i + 1)) ($log)"
  grep -E "^(Done|stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb)|==ERROR|Uncaught|Error:|crash-|Test unit written" "$log" || tail -20 "$log"
done
exit "$status"
