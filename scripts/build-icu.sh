#!/usr/bin/env bash
# Builds a static ICU "common" library (NFC, case mapping, character
# properties; no data file needed) into .deps/icu when the system ICU is too
# old for Unicode 16. Safe to re-run: it does nothing once the library exists.
set -euo pipefail

ICU_VERSION=76.1
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
DEPS="$ROOT/.deps"
PREFIX="$DEPS/icu"
SRC="$DEPS/icu-$ICU_VERSION"

if [ -f "$PREFIX/lib/libicuuc.a" ]; then
  exit 0
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

cmake -S "$ROOT/cmake/icu" -B "$DEPS/icu-build" -DICU_SOURCE_DIR="$SRC/source" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$PREFIX" >/dev/null
cmake --build "$DEPS/icu-build" -j"$(nproc)"
cmake --install "$DEPS/icu-build" >/dev/null
echo "static ICU $ICU_VERSION installed in $PREFIX"
