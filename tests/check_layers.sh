#!/usr/bin/env bash
# Every include in src/ points down the layers (or stays in its own folder): a file may include
# only folders at or below its own in this order, and the public header.
set -euo pipefail
cd "$(dirname "$0")/../src"
grep -rn '^#include "' --include='*.h' --include='*.cpp' -- * | awk -F'"' '
  BEGIN { n = split("platform core diag config net tls kerberos api", order, " "); for (i = 1; i <= n; i++) rank[order[i]] = i }
  $2 == "ravlink.h" { next }
  {
    split($1, from, "/"); split($2, to, "/")
    if (!(from[1] in rank) || !(to[1] in rank) || rank[to[1]] > rank[from[1]]) {
      sub(/:.*/, "", $1); print "UPWARD INCLUDE: " $1 " -> " $2; bad = 1
    }
  }
  END { exit bad }'
