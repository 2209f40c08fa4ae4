#!/usr/bin/env bash
# The ravlink tool at Kerberos levels against the test realm: `serve --level N --keytab` and
# `connect --level N` echo 200 kB of random bytes at levels 1, 2 and 3 (many pieces of a token
# each at levels 2 and 3), a user with a password from the environment signs on, and a wrong
# password fails with the library's text.
set -uo pipefail
tool=$1
top=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
server=""
trap '[ -n "$server" ] && kill $server 2>/dev/null; "$top/tests/fixtures/krb5_realm.sh" stop "$work/realm" >/dev/null 2>&1; rm -rf "$work"' EXIT
command -v krb5kdc >/dev/null || [ -x /usr/sbin/krb5kdc ] || { echo "no krb5kdc: skipped"; exit 0; }
while IFS='=' read -r name value; do export "$name=$value"; done < <("$top/tests/fixtures/krb5_realm.sh" start "$work/realm")
[ -n "${KRB5_CONFIG:-}" ] || { echo "the realm did not start"; exit 1; }
status=0
fail() { echo "FAIL: $*"; status=1; }

start_server() {
  "$tool" serve --port 0 --level "$1" --keytab "${KRB5_KTNAME#FILE:}" >"$work/serve.out" 2>"$work/serve.err" &
  server=$!
  port=""
  for _ in $(seq 50); do
    port=$(awk '/^listening on/ {print $NF}' "$work/serve.out")
    [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || { echo "serve did not start"; exit 1; }
}
stop_server() { kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; server=""; }

head -c 200000 /dev/urandom >"$work/data"
for level in 1 2 3; do
  start_server "$level"
  "$tool" connect 127.0.0.1 "$port" --level "$level" --principal sedrin/localhost --vread --timeout 10 \
    <"$work/data" >"$work/back" 2>"$work/connect.err" || fail "level $level: $(cat "$work/connect.err")"
  cmp -s "$work/data" "$work/back" || fail "level $level: the echo differs"
  stop_server
done

start_server 3
pw=$(cat "$RAVLINK_REALM_PASSWORD_FILE")
echo "from alice" | RAVLINK_PW=$pw "$tool" connect 127.0.0.1 "$port" --level 3 --user alice --authority ravlink.test \
  --password-env RAVLINK_PW --vread --timeout 10 >"$work/back" 2>"$work/connect.err" || fail "password: $(cat "$work/connect.err")"
[ "$(cat "$work/back")" = "from alice" ] || fail "password: got '$(cat "$work/back")'"
echo "x" | RAVLINK_PW=wrong "$tool" connect 127.0.0.1 "$port" --level 3 --user alice --authority ravlink.test \
  --password-env RAVLINK_PW --timeout 10 >/dev/null 2>"$work/connect.err" && fail "a wrong password connected"
grep -q "Unable to acquire credential handle." "$work/connect.err" || fail "wrong password: $(cat "$work/connect.err")"
"$tool" connect 127.0.0.1 "$port" --level 3 --user alice --password-env RAVLINK_UNSET_VARIABLE </dev/null \
  >/dev/null 2>"$work/connect.err" && fail "a missing password variable connected"
grep -q "RAVLINK_UNSET_VARIABLE is not set" "$work/connect.err" || fail "missing variable: $(cat "$work/connect.err")"
stop_server
exit $status
