#!/usr/bin/env bash
# Compares the exported names of libravlink64.so (nm -D) or ravlink64.dll (objdump -p) with the
# expected list: nothing missing (unless pending) and nothing extra.
set -euo pipefail
lib=$1 list=$2
case "$lib" in
  *.dll) names=$(x86_64-w64-mingw32-objdump -p "$lib" |
                 awk '/Ordinal\/Name Pointer\] Table/{t=1;next} t && /^[ \t]*\[/{print $NF} t && /^[ \t]*$/{t=0}') ;;
  *) names=$(nm -D --defined-only "$lib" | awk '{print $3}') ;;
esac
names=$(printf '%s\n' "$names" | c++filt | sed -E 's/\(.*$//' | sort -u)
status=0
while read -r name mark; do
  [[ -z "$name" || "$name" == \#* ]] && continue
  if [[ "$name" == *:: ]]; then
    grep -q "^$name" <<<"$names" && continue
  else
    grep -qx -- "$name" <<<"$names" && continue
  fi
  if [[ "$mark" == pending ]]; then echo "pending (not yet built): $name"; else echo "MISSING: $name"; status=1; fi
done < "$list"
expected=$(awk '!/^#/ && NF {print $1}' "$list")
while read -r name; do
  [[ -z "$name" ]] && continue
  if grep -qx -- "$name" <<<"$expected"; then continue; fi
  if [[ "$name" == Ravlink::* ]] && grep -qx 'Ravlink::' <<<"$expected"; then continue; fi
  echo "UNEXPECTED EXPORT: $name"; status=1
done <<<"$names"
exit $status
