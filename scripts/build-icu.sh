#!/usr/bin/env bash
# Builds ICU 76's common library (NFC, case mapping, character properties; no
# data file needed) as a static library, for systems whose ICU is older than
# Unicode 16. Needs no root and writes nothing outside the per-user cache
# (${XDG_CACHE_HOME:-~/.cache}/kivo) and PREFIX. The source is an ICU source
# tarball already in the cache's src/ folder (ICU's own icu4c-76_1-src.tgz or
# Debian's icu_76.1.orig.tar.gz), or else Debian's source package, which apt
# fetches and verifies with a source list and state of its own in the cache.
#
#   scripts/build-icu.sh          # into $KIVO_ICU_ROOT or the cache's icu-76.1
#   scripts/build-icu.sh PREFIX   # into PREFIX
#
# ICU must be built by the compiler that builds kivo: CXX picks it, as it does
# for CMake. CMAKE, CMAKE_GENERATOR and CMAKE_MAKE_PROGRAM pick the build tools
# (kivo's own build passes its own). Does nothing once PREFIX holds the library.
set -euo pipefail

ICU_VERSION=76.1
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
CACHE="${XDG_CACHE_HOME:-$HOME/.cache}/kivo"
SRCDIR="$CACHE/src"
SRC="$SRCDIR/icu-$ICU_VERSION"
CMAKE="${CMAKE:-cmake}"

if [ "$#" -gt 0 ]; then
  PREFIX="$1"
else
  PREFIX="${KIVO_ICU_ROOT:-$CACHE/icu-$ICU_VERSION}"
  if [ -z "${KIVO_ICU_ROOT:-}" ] && pkg-config --atleast-version=76 icu-uc 2>/dev/null; then
    exit 0  # the system ICU is new enough
  fi
fi
if [ -f "$PREFIX/lib/libicuuc.a" ]; then
  exit 0
fi

mkdir -p "$SRCDIR"
# One fetch and build at a time per user (pip may build for several Pythons).
exec 9>"$CACHE/.icu.lock"
flock 9
if [ -f "$PREFIX/lib/libicuuc.a" ]; then
  exit 0
fi

find_tarball() {
  ls "$SRCDIR/icu4c-${ICU_VERSION/./_}-src.tgz" "$SRCDIR"/icu_"$ICU_VERSION"*.orig.tar.gz \
    2>/dev/null | head -1 || true
}

# Debian's source package, by apt running as this user on its own files.
fetch_debian_source() {
  local keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  command -v apt-get >/dev/null || { echo "build-icu: apt-get not found" >&2; return 1; }
  test -r "$keyring" || { echo "build-icu: $keyring not found" >&2; return 1; }
  local apt="$SRCDIR/apt"
  mkdir -p "$apt/lists/partial" "$apt/archives/partial" "$apt/sources.list.d"
  echo "deb-src [signed-by=$keyring] http://deb.debian.org/debian trixie main" >"$apt/sources.list"
  local opts=(-o "Dir::Etc::SourceList=$apt/sources.list"
              -o "Dir::Etc::SourceParts=$apt/sources.list.d"
              -o "Dir::State=$apt" -o "Dir::Cache=$apt")
  apt-get "${opts[@]}" -qq update
  (cd "$SRCDIR" && { apt-get "${opts[@]}" -qq source --download-only "icu=$ICU_VERSION-4" ||
                     apt-get "${opts[@]}" -qq source --download-only icu; })
}

if [ ! -d "$SRC/source/common" ]; then
  tarball="$(find_tarball)"
  if [ -z "$tarball" ]; then
    echo "build-icu: fetching ICU $ICU_VERSION's source into $SRCDIR"
    fetch_debian_source
    tarball="$(find_tarball)"
    test -n "$tarball" || { echo "build-icu: no ICU $ICU_VERSION source in $SRCDIR" >&2; exit 1; }
  fi
  rm -rf "$SRC" && mkdir -p "$SRC"
  tar -xzf "$tarball" -C "$SRC" --strip-components=1
fi

build="$(mktemp -d "$CACHE/icu-build.XXXXXX")"
trap 'rm -rf "$build"' EXIT
echo "build-icu: building static ICU $ICU_VERSION into $PREFIX"
"$CMAKE" -S "$ROOT/cmake/icu" -B "$build" -DICU_SOURCE_DIR="$SRC/source" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$PREFIX" \
  ${CMAKE_MAKE_PROGRAM:+"-DCMAKE_MAKE_PROGRAM=$CMAKE_MAKE_PROGRAM"} >/dev/null
"$CMAKE" --build "$build" -j"${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"
"$CMAKE" --install "$build" >/dev/null
echo "build-icu: static ICU $ICU_VERSION installed in $PREFIX"
