#!/usr/bin/env bash
# Builds a CPython SERIES (e.g. 3.14) from Debian's source package into a
# per-user cache and prints the interpreter's path; a second argument "t"
# builds the free-threaded variant (--disable-gil). Only the upstream tarball
# is used; apt runs with a state of its own (debian-apt.sh), so nothing in
# /etc or /var is touched. No PGO or LTO: the interpreter only runs tests.
# Re-running does nothing once the interpreter exists.
# Usage: build-python.sh 3.14 [t]
set -euo pipefail

SERIES=${1:?usage: build-python.sh SERIES [t]}
T=${2:-}
[ -z "$T" ] || [ "$T" = t ] || { echo "second argument must be 't'" >&2; exit 2; }
CACHE="${XDG_CACHE_HOME:-$HOME/.cache}/kivo"
EXE=bin/python$SERIES$T

for built in "$CACHE"/python-"$SERIES".*; do
  [ "${built: -1}" = t ] && [ -z "$T" ] && continue
  if [ -x "$built/$EXE" ] && [ -f "$built/.complete" ]; then
    echo "$built/$EXE"
    exit 0
  fi
done

apt="$(cd "$(dirname "$0")" && pwd)/debian-apt.sh"
mkdir -p "$CACHE/src"
"$apt" apt-get -qq update >&2

# Newest first; an index may list versions whose files a mirror no longer has.
versions=$("$apt" apt-cache showsrc "python$SERIES" | awk '/^Version:/ {print $2}' | sort -rVu)
[ -n "$versions" ] || { echo "no source package python$SERIES in the index" >&2; exit 1; }
tarball=
for v in $versions; do
  upstream=${v%-*}
  tarball="$CACHE/src/python${SERIES}_$upstream.orig.tar.xz"
  [ -f "$tarball" ] && break
  if (cd "$CACHE/src" && "$apt" apt-get -qq source --download-only "python$SERIES=$v" >&2 2>/dev/null); then
    break
  fi
  echo "python$SERIES $v: source not downloadable, trying an older one" >&2
  tarball=
done
[ -n "$tarball" ] || { echo "no downloadable source package for python$SERIES" >&2; exit 1; }

SRC="$CACHE/src/python-$upstream"
if [ ! -f "$SRC/configure" ]; then
  rm -rf "$SRC" && mkdir -p "$SRC"
  tar -xJf "$tarball" -C "$SRC" --strip-components=1
fi

PREFIX="$CACHE/python-$upstream$T"
BUILD="$CACHE/src/python-build-$upstream$T"
rm -rf "$BUILD" "$PREFIX" && mkdir -p "$BUILD"
gil=()
[ -z "$T" ] || gil=(--disable-gil)
start=$SECONDS
(
  cd "$BUILD"
  "$SRC/configure" --prefix="$PREFIX" "${gil[@]}" --with-ensurepip=install >configure.log 2>&1
  make -j2 >make.log 2>&1
  make install >install.log 2>&1
) || { echo "building Python $upstream$T failed; logs in $BUILD" >&2; exit 1; }
touch "$PREFIX/.complete"
rm -rf "$BUILD"
echo "Python $upstream$T built in $((SECONDS - start)) s" >&2
echo "$PREFIX/$EXE"
