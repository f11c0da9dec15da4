#!/usr/bin/env bash
# Unpacks the interpreter of Debian's binary python$SERIES packages (from
# the development suite), together with that suite's C library, into a
# per-user cache and prints the interpreter's path. For a release whose
# source package cannot be fetched: the interpreter then runs here through
# its own loader (set with patchelf), while every other program keeps the
# system's. Re-running does nothing once it exists. Usage: unpack-python.sh 3.14
set -euo pipefail

SERIES=${1:?usage: unpack-python.sh SERIES}
CACHE="${XDG_CACHE_HOME:-$HOME/.cache}/kivo"
apt="$(cd "$(dirname "$0")" && pwd)/debian-apt.sh"

for root in "$CACHE"/python-"$SERIES".*-debian; do
  if [ -f "$root/.complete" ]; then
    echo "$root/usr/bin/python$SERIES"
    exit 0
  fi
done

command -v patchelf >/dev/null || { echo "patchelf is needed" >&2; exit 1; }
"$apt" apt-get -qq update >&2
version=$("$apt" apt-cache show "python$SERIES" | awk '/^Version:/ {print $2; exit}')
[ -n "$version" ] || { echo "no binary package python$SERIES in the index" >&2; exit 1; }
ROOT="$CACHE/python-${version%-*}-debian"
DEBS="$CACHE/src/python-${version%-*}-debs"

# The interpreter, its headers and what its standard library loads; the C++
# runtime for compiled extensions, whose other libraries resolve here too.
packages=(
  "python$SERIES" "python$SERIES-minimal" "libpython$SERIES-minimal" "libpython$SERIES-stdlib"
  "libpython$SERIES-dev" libc6 libgcc-s1 libstdc++6 libbz2-1.0 libdb5.3t64 libexpat1 libffi8
  liblzma5 libncursesw6 libtinfo6 libreadline8t64 libsqlite3-0 libssl3t64 libuuid1 libzstd1
  zlib1g media-types
)
rm -rf "$DEBS" "$ROOT" && mkdir -p "$DEBS" "$ROOT"
(cd "$DEBS" && "$apt" apt-get -qq download "${packages[@]}" >&2)
for deb in "$DEBS"/*.deb; do dpkg-deb -x "$deb" "$ROOT"; done
rm -rf "$DEBS"

lib="$ROOT/usr/lib/x86_64-linux-gnu"
exe="$ROOT/usr/bin/python$SERIES"
patchelf --set-interpreter "$lib/ld-linux-x86-64.so.2" --force-rpath --set-rpath "$lib" "$exe"
# Debian's pyconfig.h only includes a multiarch one that compilers here
# would look for under /usr/include.
include="$ROOT/usr/include/python$SERIES"
cp "$ROOT/usr/include/x86_64-linux-gnu/python$SERIES/pyconfig.h" "$include/pyconfig.h"
"$exe" -c 'import ssl, sqlite3, ctypes, decimal, lzma, bz2, zlib' >&2
touch "$ROOT/.complete"
echo "$exe"
