#!/usr/bin/env bash
# Cross-builds OpenSSL 3 for Windows x86-64 with mingw-w64 from Debian's source package and prints
# the folder that holds libssl-3-x64.dll and libcrypto-3-x64.dll. The result is cached outside the
# checkout (RAVLINK_CACHE, default ~/.cache/ravlink) and reused while this script and the compiler
# stand; a build takes about 12 minutes on two cores.
#
# The source comes through a private apt configuration (its own source list and state folder) made
# from the machine's own Debian entries, so the machine's apt set-up is left as it is.
set -euo pipefail

cache=${RAVLINK_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/ravlink}
cc=x86_64-w64-mingw32-gcc
command -v "$cc" >/dev/null || { echo "openssl-mingw: $cc not found" >&2; exit 1; }
key=$( { cat "$0"; "$cc" --version | head -1; } | sha256sum | cut -c1-16)
out=$cache/openssl-mingw64-$key
if [ -f "$out/done" ]; then echo "$out/bin"; exit 0; fi

work=$cache/openssl-mingw64-work
rm -rf "$work" && mkdir -p "$work/apt/sources.list.d" "$work/apt/state/lists/partial" \
  "$work/apt/cache/archives/partial" "$work/src"

# deb-src entries for the suites the machine installs from, with the same keyrings.
for f in /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] || continue
  sed -n '/^Types:.*\bdeb\b/,/^$/p' "$f" | sed 's/^Types:.*/Types: deb-src/' \
    >"$work/apt/sources.list.d/$(basename "$f")"
done
touch "$work/apt/sources.list"
if [ -f /etc/apt/sources.list ]; then
  sed -n 's/^deb \(.*\)/deb-src \1/p' /etc/apt/sources.list >"$work/apt/sources.list"
fi
apt_opts=(-o "Dir::Etc::SourceList=$work/apt/sources.list"
          -o "Dir::Etc::SourceParts=$work/apt/sources.list.d"
          -o "Dir::State=$work/apt/state" -o "Dir::Cache=$work/apt/cache"
          -o "Debug::NoLocking=1" -o "APT::Sandbox::User=root")
echo "openssl-mingw: fetching Debian's openssl source" >&2
apt-get "${apt_opts[@]}" update -qq >&2
# Only the upstream tarball is used; a mirror that lacks a version's Debian files still serves it
# (apt checks its hash against the signed index), and older versions are tried after the newest.
fetch() { (cd "$work/src" && apt-get "${apt_opts[@]}" source --download-only -qq "$1" >&2) || true; }
orig_tarball() { ls "$work"/src/openssl_*.orig.tar.?z 2>/dev/null | head -1; }
fetch openssl
for v in $(apt-cache "${apt_opts[@]}" showsrc openssl 2>/dev/null | sed -n 's/^Version: //p'); do
  [ -n "$(orig_tarball)" ] && break
  fetch "openssl=$v"
done
orig=$(orig_tarball)
[ -n "$orig" ] || { echo "openssl-mingw: no openssl source could be fetched" >&2; exit 1; }
mkdir -p "$work/build"
tar -xf "$orig" -C "$work/build" --strip-components=1

echo "openssl-mingw: building $(basename "$orig") (about 12 minutes)" >&2
start=$SECONDS
(cd "$work/build" &&
 ./Configure mingw64 --cross-compile-prefix=x86_64-w64-mingw32- no-tests shared >&2 &&
 make -j "$(nproc)" build_libs >"$work/make.log" 2>&1) ||
  { tail -40 "$work/make.log" >&2; echo "openssl-mingw: build failed" >&2; exit 1; }

rm -rf "$out" && mkdir -p "$out/bin"
cp "$work/build/libssl-3-x64.dll" "$work/build/libcrypto-3-x64.dll" "$out/bin/"
basename "$orig" >"$out/source"
touch "$out/done"
rm -rf "$work"
echo "openssl-mingw: built in $((SECONDS - start)) s" >&2
echo "$out/bin"
