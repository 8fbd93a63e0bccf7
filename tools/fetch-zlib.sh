#!/usr/bin/env bash
# Unpacks the zlib source the Windows modules are compiled from (tools/zlib-source.txt) into
# build/third_party/zlib. The source package is fetched by name and version through the mirror
# this machine's apt already uses: its own sources, read as source entries (deb-src) in an apt
# configuration of this script's own (nothing of the machine's is changed), so no address lives in
# the repo. Downloads are kept in ~/.cache/tarnwick (TARNWICK_CACHE) and checked against the
# pinned SHA-256 sums. Without network, and with nothing cached, it says so and leaves the
# directory absent: the build then links Debian's prebuilt mingw-w64 zlib, which compresses the
# same bytes, 15-20 % more slowly.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
pins="$root/tools/zlib-source.txt"
dest="$root/build/third_party/zlib"
cache="${TARNWICK_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tarnwick}/debian-sources"
stamp="$dest/.unpacked-from"
want="$(sha256sum "$pins" | cut -d' ' -f1)"
[ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ] && exit 0

package="$(awk '$1 == "package" { print $2 }' "$pins")"
version="$(awk '$1 == "version" { print $2 }' "$pins")"
mkdir -p "$cache"

# Whether every pinned file is in the cache with its sum.
cached() {
  local kind name sum
  while read -r kind name sum; do
    [ "$kind" = file ] || continue
    echo "$sum  $cache/$name" | sha256sum -c --quiet - >/dev/null 2>&1 || return 1
  done < "$pins"
}

# The machine's apt sources as source entries, in a configuration of our own: one-line entries
# ("deb [options] URI suite components") and deb822 ones ("Types: deb").
fetch() {
  local conf; conf="$(mktemp -d)"
  trap 'rm -rf "$conf"' RETURN
  mkdir -p "$conf/parts" "$conf/lists/partial" "$conf/cache/archives/partial" "$conf/download"
  : > "$conf/sources.list"
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f" >> "$conf/sources.list"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    sed 's/^Types:.*/Types: deb-src/' "$f" > "$conf/parts/$(basename "$f")"
  done
  local opts=(-o "Dir::Etc::SourceList=$conf/sources.list" -o "Dir::Etc::SourceParts=$conf/parts"
              -o "Dir::State::Lists=$conf/lists" -o "Dir::Cache=$conf/cache" -o "APT::Sandbox::User=root"
              -o "Debug::NoLocking=1" -qq)
  # A source without source packages (a third party's) fails its part of the update; the others
  # still serve.
  apt-get "${opts[@]}" update >/dev/null 2>&1 || true
  (cd "$conf/download" && apt-get "${opts[@]}" --download-only source "$package=$version" >/dev/null 2>&1) || return 1
  local kind name sum
  while read -r kind name sum; do
    [ "$kind" = file ] || continue
    [ -f "$conf/download/$name" ] || { echo "setup: apt gave no $name for $package $version" >&2; return 2; }
    if ! echo "$sum  $conf/download/$name" | sha256sum -c --quiet - >/dev/null 2>&1; then
      echo "setup: $name from apt does not match its pinned SHA-256 in tools/zlib-source.txt" >&2
      return 2
    fi
    cp "$conf/download/$name" "$cache/$name.part" && mv "$cache/$name.part" "$cache/$name"
  done < "$pins"
}

if ! cached; then
  rc=0
  fetch || rc=$?
  if [ $rc -eq 2 ]; then exit 1; fi
  if [ $rc -ne 0 ] || ! cached; then
    echo "setup: warning: apt could not fetch the source of $package $version; the modules will link Debian's prebuilt mingw-w64 zlib (slower deflate)" >&2
    exit 0
  fi
fi

dsc="$(awk '$1 == "file" && $2 ~ /\.dsc$/ { print $2 }' "$pins")"
rm -rf "$dest" "$dest.tmp"
mkdir -p "$(dirname "$dest")"
(cd "$cache" && dpkg-source --no-check -x "$dsc" "$dest.tmp" >/dev/null)  # sums checked above
mv "$dest.tmp" "$dest"
echo "$want" > "$stamp"
echo "setup: zlib source unpacked in build/third_party/zlib"
