#!/usr/bin/env bash
# The installed tree as a user gets it from `cmake --install`: the library with its version and
# SONAME links and no RUNPATH, the header, the tool, the CMake package and ravlink.pc, all with
# one version. C and C++ programs built against it through find_package, and the README's own
# example and compile lines (pkg-config among them), run against the installed tool's echo server.
set -uo pipefail
build=$1 src=$2
. "$src/tests/fixtures/checks.sh"
unset LD_LIBRARY_PATH PKG_CONFIG_PATH

p=$work/prefix
cmake --install "$build" --prefix "$p" >"$work/install.log" 2>&1 || { cat "$work/install.log"; exit 1; }
lib=$(find "$p" -name libravlink64.so | head -1)
libdir=$(dirname "$lib")

# One version: the tool's (from RavlinkGetVersion, "01.00.00.00.01"), without the build number
# and the padding, is the package's, the .pc file's and the SONAME's.
text=$("$p/bin/ravlink" version | awk '{print $2}')
version=$(awk -F. '{printf "%d.%d.%d.%d", $1, $2, $3, $4}' <<<"$text")
major=${version%%.*}
check "$([[ $text =~ ^[0-9]{2}(\.[0-9]{2}){4}$ ]] && echo ok)" "installed tool's version: '$text'"
check "$([ -f "$p/include/ravlink.h" ] && echo ok)" "header not installed"
check "$([ "$(readlink "$lib")" = "libravlink64.so.$major" ] &&
         [ "$(readlink "$libdir/libravlink64.so.$major")" = "libravlink64.so.${version%.*}" ] && echo ok)" \
      "library links: $(ls -l "$libdir" | grep ravlink64)"
dynamic=$(readelf -d "$libdir/libravlink64.so.$major")
check "$(grep -q "SONAME.*\[libravlink64.so.$major\]" <<<"$dynamic" && echo ok)" "SONAME: $(grep SONAME <<<"$dynamic")"
check "$(grep -qE 'RPATH|RUNPATH' <<<"$dynamic" || echo ok)" "installed library carries $(grep -E 'RPATH|RUNPATH' <<<"$dynamic")"
check "$(grep -rlsF -e "$src" -e "$build" --include='*.cmake' --include='*.pc' "$p" || echo ok)" \
      "package files name the build machine's folders"
export PKG_CONFIG_PATH=$libdir/pkgconfig
check "$([ "$(pkg-config --modversion ravlink)" = "$version" ] && echo ok)" "pkg-config version $(pkg-config --modversion ravlink), tool $version"

tool=$p/bin/ravlink
serve installed

runs() { # expected-line program...
  local out
  out=$("${@:2}" 127.0.0.1 "$port" 2>&1)
  check "$(grep -qxF "$1" <<<"$out" && echo ok)" "$(basename "$2"): expected '$1', got: $out"
}

# CMake package.
if cmake -S "$src/tests/consumer" -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$p" >"$work/cmake.log" 2>&1 &&
   cmake --build "$work/cmake" >>"$work/cmake.log" 2>&1; then
  check "$([ "$(cat "$work/cmake/package_version.txt")" = "$version" ] && echo ok)" \
        "CMake package version $(cat "$work/cmake/package_version.txt"), tool $version"
  runs "echo: hello from C" "$work/cmake/consumer_c"
  runs "version: $text" "$work/cmake/consumer_c"
  runs "echo: hello from C++" "$work/cmake/consumer_cpp"
else
  check fail "CMake consumer: $(tail -20 "$work/cmake.log")"
fi

# The README's C example, built with its own compile lines (pkg-config against the installed
# tree, and the build tree seen from a checkout), runs as it stands.
readme=$src/README.md
awk '/^```c$/{on=1; next} /^```$/{on=0} on' "$readme" | sed "s/\"7000\"/\"$port\"/" >"$work/example.c"
for pattern in '^    cc example.c .*pkg-config' '^    cc example.c .*build/bin'; do
  line=$(grep -m1 -E "$pattern" "$readme" | sed 's/^ *//')
  rm -rf "$work/tree" && mkdir -p "$work/tree/build" && cp "$work/example.c" "$work/tree/"
  ln -s "$src/include" "$work/tree/include" && ln -s "$build/bin" "$work/tree/build/bin"
  out=$(cd "$work/tree" && eval "$line" 2>&1 && ./example 2>&1)
  check "$([ -n "$line" ] && [ "$out" = hello ] && echo ok)" "README line '$line': $out"
done
exit $status
