#!/usr/bin/env bash
# Installs a kivo wheel into a fresh venv of PYTHON and runs it there with
# nothing but the venv on PATH (no compiler), as a user of the wheel would.
#
#   scripts/smoke-wheel.sh PYTHON dist/kivo-*.whl
#
# The wheel is installed by the pip of TOOLS_PYTHON (default: PYTHON), so
# PYTHON itself needs no pip. On a processor whose /proc/cpuinfo lists avx2,
# the wheel must run an AVX2 or AVX-512 path, not the portable one.
set -euo pipefail

py="$1"
wheel="$2"
venv="$(mktemp -d)"
trap 'rm -rf "$venv"' EXIT
"$py" -m venv --without-pip "$venv"
"${TOOLS_PYTHON:-$py}" -m pip --python "$venv/bin/python" install -q --no-deps "$wheel"
cd "$venv"
env -i PATH="$venv/bin" "$venv/bin/python" -I - <<'PYTHON'
import os, shutil, sys, sysconfig
import kivo
import kivo.batch

assert not any(shutil.which(cc) for cc in ("c++", "g++", "cc", "gcc", "clang")), "compiler on PATH"
assert kivo.__file__.startswith(sysconfig.get_paths()["platlib"]), kivo.__file__
assert kivo.__path__ == [os.path.dirname(kivo.__file__)]
files = os.listdir(kivo.__path__[0])
assert ("__init__.pyi" in files) == ("py.typed" in files), files
assert kivo.levenshtein_distance("saturday", "sunday") == 3
assert kivo.jaro_winkler_similarity("MARTHA", "MARHTA") == 0.9611111111111111
assert kivo.minhash_signature("abc", 2, 4) == kivo.minhash_signature("abc", 2, 4)
assert kivo.clean_text("  Hello,\tWORLD!\n") == "hello, world!"
# Unicode 16 data: NFC composes Todhri U+105D2 and a dot above into U+105C9.
assert kivo.clean_text("\U000105D2\u0307") == "\U000105C9"
flow = kivo.KivoFlow().preprocess(True).tier_1("jaccard_word", "gt", 0.8, "lt", 0.2)
assert flow.compare("Hello  World", "hello world")["score"] == 1.0
path = kivo.batch._simd_path()
try:
    with open("/proc/cpuinfo") as f:
        flags = {w for line in f if line.startswith("flags") for w in line.split(":", 1)[1].split()}
except OSError:
    flags = set()
print(f"vector path: {path} ({'avx2' if 'avx2' in flags else 'no avx2'} in /proc/cpuinfo)")
assert path != "portable" or "avx2" not in flags, "the portable path on a processor with AVX2"
free_threaded = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
assert not (free_threaded and sys._is_gil_enabled()), "importing kivo enabled the GIL"
print(f"ok: kivo {kivo.__version__} on Python {sys.version.split()[0]}"
      f"{' (free-threaded, GIL off)' if free_threaded else ''}")
PYTHON
