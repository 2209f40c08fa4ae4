#!/usr/bin/env bash
# Part of the demo: a throwaway Kerberos realm on loopback, `ravlink serve` at levels 1, 2 and 3
# with the service's keytab, and a round trip through `ravlink connect` at each level (the
# user's tickets), then one with a user name and a password file. Argument: the ravlink tool.
set -euo pipefail
tool=$1
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/tests/fixtures/await_port.sh"
realm_dir=$(mktemp -d /tmp/ravlink-demo-realm-XXXXXX)
server=""
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null || true
  "$top/tests/fixtures/krb5_realm.sh" stop "$realm_dir" >/dev/null 2>&1 || true
}
trap cleanup EXIT

echo "== a throwaway Kerberos realm (KDC on loopback, user alice, service sedrin/localhost)"
while IFS='=' read -r name value; do
  export "$name=$value"
done < <("$top/tests/fixtures/krb5_realm.sh" start "$realm_dir")
echo "   realm $RAVLINK_REALM, KDC on 127.0.0.1:$RAVLINK_REALM_KDC_PORT, KRB5_CONFIG=$KRB5_CONFIG"
keytab=${KRB5_KTNAME#FILE:}

start_server() { # level
  local out
  out=$(mktemp)
  "$tool" serve --port 0 --level "$1" --keytab "$keytab" --verbose >"$out" 2> >(sed 's/^/    server| /' >&2) &
  server=$!
  port=$(await_port "$out") || port=""
  rm -f "$out"
  [ -n "$port" ] || { echo "the server did not start"; exit 1; }
}
stop_server() {
  kill "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
  server=""
}

for level in 1 2 3; do
  start_server "$level"
  echo "== level $level: 'ravlink connect 127.0.0.1 $port --level $level --principal sedrin/localhost'"
  echo "hello at level $level" |
    "$tool" connect 127.0.0.1 "$port" --level "$level" --principal sedrin/localhost --vread --timeout 5
  sleep 0.2
  stop_server
done

start_server 3
echo "== level 3 as alice with a password file: --user alice --authority ravlink.test --password-file FILE"
echo "hello from alice" |
  "$tool" connect 127.0.0.1 "$port" --level 3 --principal sedrin/localhost --user alice --authority ravlink.test \
    --password-file "$RAVLINK_REALM_PASSWORD_FILE" --vread --timeout 5
sleep 0.2
echo "== a wrong password: the library's error text"
echo wrong > "$realm_dir/wrong.password"
echo "x" | "$tool" connect 127.0.0.1 "$port" --level 3 --user alice --authority ravlink.test \
  --password-file "$realm_dir/wrong.password" --timeout 5 || echo "(exit status $?)"
stop_server
