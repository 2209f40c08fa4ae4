#!/usr/bin/env bash
# Every include in src/ points down the layers (or stays in its own folder): a file may include
# only folders at or below its own in this order, and the public header.
set -euo pipefail
cd "$(dirname "$0")/../src"
order=(platform core diag config net tls kerberos api)
rank() { local i; for i in "${!order[@]}"; do [[ ${order[$i]} == "$1" ]] && { echo "$i"; return; }; done; echo -1; }
status=0
while IFS=: read -r file _ include; do
  from=$(rank "${file%%/*}")
  target=$(sed -E 's/.*#include "([^"]+)".*/\1/' <<<"$include")
  [[ $target == ravlink.h ]] && continue
  to=$(rank "${target%%/*}")
  if (( from < 0 || to < 0 || to > from )); then echo "UPWARD INCLUDE: $file -> $target"; status=1; fi
done < <(grep -rn '^#include "' --include='*.h' --include='*.cpp' -- *)
exit $status
