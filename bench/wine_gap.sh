#!/usr/bin/env bash
# The Windows DLL under Wine beside the Linux library, in one run against the same Linux servers:
# echo_timing (bench/echo_timing.cpp) at level 11 (TLS) and level 1 (Kerberos) from build/ and
# from build-win/ (which needs OpenSSL's DLLs beside ravlink64.dll; scripts/test.sh puts them
# there). Levels 2 and 3 do not run under Wine (see the README). Run after scripts/test.sh:
#
#   bench/wine_gap.sh
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
linux=$top/build/bin windows=$top/build-win/bin
for f in "$linux/echo_timing" "$linux/ravlink" "$windows/echo_timing.exe" "$windows/libssl-3-x64.dll"; do
  [ -e "$f" ] || { echo "wine_gap.sh: $f is missing (run scripts/test.sh first)" >&2; exit 1; }
done
. "$top/tests/fixtures/await_port.sh"
export WINEPREFIX=${WINEPREFIX:-$top/build-win/wineprefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; "$top/tests/fixtures/krb5_realm.sh" stop "$work/realm" >/dev/null 2>&1; rm -rf "$work"' EXIT

"$top/tests/fixtures/make_pki.sh" "$work/pki" >/dev/null
"$linux/ravlink" serve --port 0 --tls --cert "$work/pki/server.pem" --key "$work/pki/server.key" >"$work/tls.out" &
tls=$(await_port "$work/tls.out")
while IFS='=' read -r name value; do export "$name=$value"; done < <("$top/tests/fixtures/krb5_realm.sh" start "$work/realm")
"$linux/ravlink" serve --port 0 --level 1 --keytab "${KRB5_KTNAME#FILE:}" >"$work/krb.out" &
krb=$(await_port "$work/krb.out")

run() { # label, echo_timing arguments (the CA file last, as a Unix path)
  local label=$1; shift
  printf '%-8s linux  %s\n' "$label" "$("$linux/echo_timing" "$@")"
  local args=("$@")
  [ "${args[2]}" = 11 ] && args[3]="Z:${args[3]}"
  printf '%-8s wine   %s\n' "$label" "$(wine "$windows/echo_timing.exe" "${args[@]}" | tr -d '\r')"
}
run TLS 127.0.0.1 "$tls" 11 "$work/pki/ca.pem"
run Kerberos 127.0.0.1 "$krb" 1 sedrin/localhost
