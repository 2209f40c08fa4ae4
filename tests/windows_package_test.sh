#!/usr/bin/env bash
# The Windows archive as a user unpacks it: every exported name is in the .def and in both import
# libraries; a C program linked against the MinGW import library runs under Wine against a Linux
# echo server and reads the DLL's version resource, whose version is the archive's, the tool's
# and RavlinkGetVersion's.
set -uo pipefail
zip=$1 src=$2 tool=$3
. "$src/tests/fixtures/checks.sh"
[ -x "$tool" ] || { echo "the echo server is the Linux build's tool, not found at $tool (build it, or set RAVLINK_LINUX_TOOL)"; exit 1; }

name=$(basename "$zip" .zip)
version=${name#ravlink-}
version=${version%-win64}
(cd "$work" && cmake -E tar xf "$zip") || { echo "cannot unpack $zip"; exit 1; }
root=$work/$name
for f in bin/ravlink64.dll bin/ravlink.exe lib/libravlink64.dll.a lib/ravlink64.lib lib/ravlink64.def \
         include/ravlink.h README-windows.md; do
  check "$([ -s "$root/$f" ] && echo ok)" "$f is not in the archive"
done
check "$(head -1 "$root/README-windows.md" | grep -q '^## Windows' && echo ok)" "README-windows.md: $(head -1 "$root/README-windows.md")"

# The .def lists exactly what the DLL exports (the exports test holds the DLL to tests/exports.txt);
# each name is in both import libraries.
dll_names=$(x86_64-w64-mingw32-objdump -p "$root/bin/ravlink64.dll" |
            awk '/Ordinal\/Name Pointer\] Table/{t=1;next} t && /^[ \t]*\[/{print $NF} t && /^[ \t]*$/{t=0}' | sort)
def_names=$(awk '/^EXPORTS/{e=1;next} e && NF {print $1}' "$root/lib/ravlink64.def" | sed 's/@.*//' | sort)
check "$([ -n "$dll_names" ] && [ "$dll_names" = "$def_names" ] && echo ok)" \
      "the .def and the DLL differ: $(diff <(echo "$dll_names") <(echo "$def_names") | head -5)"
for lib in libravlink64.dll.a ravlink64.lib; do
  imports=$(x86_64-w64-mingw32-nm "$root/lib/$lib" 2>/dev/null | awk '{print $NF}' | grep '^__imp_' | sed 's/^__imp_//' | sort -u)
  missing=$(comm -23 <(echo "$def_names") <(echo "$imports"))
  check "$([ -z "$missing" ] && echo ok)" "$lib lacks: $(head -5 <<<"$missing" | tr '\n' ' ')"
done

# A caller built against each import library; the MinGW one runs.
cc=x86_64-w64-mingw32-gcc
for lib in libravlink64.dll.a ravlink64.lib; do
  $cc "$src/tests/consumer/consumer.c" -o "$root/bin/consumer-${lib%%.*}.exe" -I"$root/include" \
      "$root/lib/$lib" -lversion 2>"$work/cc.log"
  check "$([ $? -eq 0 ] && echo ok)" "linking against $lib: $(cat "$work/cc.log")"
done

serve echo
out=$(cd "$root/bin" && wine ./consumer-libravlink64.exe 127.0.0.1 "$port" 2>&1 | tr -d '\r')
exe=$(cd "$root/bin" && wine ./ravlink.exe version 2>&1 | tr -d '\r' | awk '{print $2}')
tool_version=$(awk -F. '{printf "%d.%d.%d.%d", $1, $2, $3, $4}' <<<"$exe")
for line in "echo: hello from C" "version: $exe" "resource file version: $version" \
            "resource product version: $version" "resource product name: ravlink"; do
  check "$(grep -qxF "$line" <<<"$out" && echo ok)" "expected '$line' from the caller under Wine, got: $out"
done
check "$(grep -q '^resource description: ravlink client connection library' <<<"$out" && echo ok)" "description: $out"
check "$([ "$tool_version" = "$version" ] && echo ok)" "ravlink.exe version '$exe' against the archive's $version"
exit $status
