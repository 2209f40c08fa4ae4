#!/usr/bin/env bash
# ravlink64.dll may import only Windows system DLLs; wtsapi32 and OpenSSL are loaded at run time,
# and the compiler's runtimes are linked in.
set -euo pipefail
allowed='^(kernel32|msvcrt|ws2_32|secur32|advapi32)\.dll$'
status=0
while read -r dll; do
  if ! tr '[:upper:]' '[:lower:]' <<<"$dll" | grep -Eq "$allowed"; then echo "UNEXPECTED IMPORT: $dll"; status=1; fi
done < <(x86_64-w64-mingw32-objdump -p "$1" | awk '/DLL Name:/{print $3}')
exit $status
