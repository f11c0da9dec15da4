#!/usr/bin/env bash
# Runs apt-get or apt-cache (the first argument) against Debian's
# development suites with a sources list, state and cache of its own under
# the per-user cache, so that source and binary packages can be fetched into
# user-owned directories without touching /etc or /var. `update` refreshes
# the lists. Usage: debian-apt.sh apt-get|apt-cache ARGS...
set -euo pipefail

tool=${1:?usage: debian-apt.sh apt-get|apt-cache ARGS...}
shift
case "$tool" in apt-get | apt-cache) ;; *) echo "not an apt tool: $tool" >&2; exit 2 ;; esac

APT="${XDG_CACHE_HOME:-$HOME/.cache}/kivo/apt"
mkdir -p "$APT"/{lists/partial,archives/partial}
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
{
  for suite in sid forky trixie; do
    echo "deb-src [signed-by=$keyring] http://deb.debian.org/debian $suite main"
  done
  echo "deb [arch=amd64 signed-by=$keyring] http://deb.debian.org/debian sid main"
} > "$APT/sources.list"

exec "$tool" -o Dir::Etc::SourceList="$APT/sources.list" -o Dir::Etc::SourceParts=/dev/null \
  -o Dir::State="$APT" -o Dir::State::Lists="$APT/lists" -o Dir::State::status=/dev/null \
  -o Dir::Cache="$APT" -o Dir::Cache::Archives="$APT/archives" -o APT::Architecture=amd64 \
  -o APT::Sandbox::User="$(id -un)" "$@"
