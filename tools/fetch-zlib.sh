#!/usr/bin/env bash
# Unpacks the zlib source the Windows modules are compiled from (tools/zlib-source.txt) into
# build/third_party/zlib. Downloads are kept in ~/.cache/tarnwick (TARNWICK_CACHE) and checked
# against the pinned SHA-256 sums. Without network, and with nothing cached, it says so and leaves
# the directory absent: the build then links Debian's prebuilt mingw-w64 zlib, which compresses
# the same bytes, 15-20 % more slowly.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
pins="$root/tools/zlib-source.txt"
dest="$root/build/third_party/zlib"
cache="${TARNWICK_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tarnwick}/debian-sources"
stamp="$dest/.unpacked-from"
want="$(sha256sum "$pins" | cut -d' ' -f1)"
[ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ] && exit 0

pool="$(awk '$1 == "pool" { print $2 }' "$pins")"
mkdir -p "$cache"
dsc=""
while read -r kind name sum; do
  [ "$kind" = file ] || continue
  [[ "$name" == *.dsc ]] && dsc="$name"
  if [ ! -f "$cache/$name" ] || ! echo "$sum  $cache/$name" | sha256sum -c --quiet - 2>/dev/null; then
    rm -f "$cache/$name.part"
    if ! curl -fsSL --retry 2 --max-time 120 -o "$cache/$name.part" "$pool$name"; then
      rm -f "$cache/$name.part"
      echo "setup: warning: could not fetch $pool$name; the modules will link Debian's prebuilt mingw-w64 zlib (slower deflate)" >&2
      exit 0
    fi
    if ! echo "$sum  $cache/$name.part" | sha256sum -c --quiet - 2>/dev/null; then
      rm -f "$cache/$name.part"
      echo "setup: $pool$name does not match its pinned SHA-256 in tools/zlib-source.txt" >&2
      exit 1
    fi
    mv "$cache/$name.part" "$cache/$name"
  fi
done < "$pins"

rm -rf "$dest" "$dest.tmp"
mkdir -p "$(dirname "$dest")"
(cd "$cache" && dpkg-source --no-check -x "$dsc" "$dest.tmp" >/dev/null)  # sums checked above
mv "$dest.tmp" "$dest"
echo "$want" > "$stamp"
echo "setup: zlib source unpacked in build/third_party/zlib"
