#!/usr/bin/env bash
# Builds a static ICU "common" library (NFC, case mapping, character
# properties; no data file needed) when the system ICU is too old for
# Unicode 16. The result lives in a per-user cache shared by every checkout
# (KIVO_ICU_ROOT overrides it); re-running does nothing once it exists.
set -euo pipefail

ICU_VERSION=76.1
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
CACHE="${XDG_CACHE_HOME:-$HOME/.cache}/kivo"
PREFIX="${KIVO_ICU_ROOT:-$CACHE/icu-$ICU_VERSION}"
DEPS="$CACHE/src"
SRC="$DEPS/icu-$ICU_VERSION"

if [ -f "$PREFIX/lib/libicuuc.a" ]; then
  exit 0
fi
if pkg-config --atleast-version=76 icu-uc 2>/dev/null; then
  exit 0  # the system ICU is new enough
fi

mkdir -p "$DEPS"
if [ ! -d "$SRC/source/common" ]; then
  tarball=$(ls "$DEPS"/icu_${ICU_VERSION}.orig.tar.gz 2>/dev/null || true)
  if [ -z "$tarball" ]; then
    # Debian's source package of ICU 76; only its sources are used.
    list=/etc/apt/sources.list.d/kivo-trixie-src.sources
    if [ ! -f "$list" ]; then
      cat > "$list" <<'SRCS'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: trixie
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRCS
    fi
    apt-get update -qq
    (cd "$DEPS" && apt-get source --download-only "icu=${ICU_VERSION}-4" 2>/dev/null \
      || apt-get source --download-only icu)
    tarball=$(ls "$DEPS"/icu_${ICU_VERSION}*.orig.tar.gz | head -1)
  fi
  rm -rf "$SRC" && mkdir -p "$SRC"
  tar -xzf "$tarball" -C "$SRC" --strip-components=1
fi

rm -rf "$DEPS/icu-build"
cmake -S "$ROOT/cmake/icu" -B "$DEPS/icu-build" -DICU_SOURCE_DIR="$SRC/source" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$PREFIX" >/dev/null
cmake --build "$DEPS/icu-build" -j"$(nproc)"
cmake --install "$DEPS/icu-build" >/dev/null
echo "static ICU $ICU_VERSION installed in $PREFIX"
