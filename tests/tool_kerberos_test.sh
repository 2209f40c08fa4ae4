#!/usr/bin/env bash
# The ravlink tool at Kerberos levels against the test realm: serve and connect echo 200 kB of
# random bytes at levels 1 to 3 (many token pieces at 2 and 3), a user with a password from the
# environment signs on, and a wrong or missing password fails with its text.
set -uo pipefail
tool=$1
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/tests/fixtures/await_port.sh"
work=$(mktemp -d)
server=""
trap '[ -n "$server" ] && kill $server 2>/dev/null; "$top/tests/fixtures/krb5_realm.sh" stop "$work/realm" >/dev/null 2>&1; rm -rf "$work"' EXIT
command -v krb5kdc >/dev/null || [ -x /usr/sbin/krb5kdc ] || { echo "no krb5kdc: skipped"; exit 0; }
while IFS='=' read -r name value; do export "$name=$value"; done < <("$top/tests/fixtures/krb5_realm.sh" start "$work/realm")
[ -n "${KRB5_CONFIG:-}" ] || { echo "the realm did not start"; exit 1; }
status=0
fail() { echo "FAIL: $*"; status=1; }
connect() { "$tool" connect 127.0.0.1 "$port" --timeout 10 "$@" 2>"$work/err"; } # errors in $work/err
start_server() {
  [ -n "$server" ] && { kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; }
  "$tool" serve --port 0 --level "$1" --keytab "${KRB5_KTNAME#FILE:}" >"$work/serve.out" 2>/dev/null &
  server=$!
  port=$(await_port "$work/serve.out") || { echo "serve did not start"; exit 1; }
}

head -c 200000 /dev/urandom >"$work/data"
for level in 1 2 3; do
  start_server "$level"
  connect --level "$level" --principal sedrin/localhost --vread <"$work/data" >"$work/back" || fail "level $level: $(cat "$work/err")"
  cmp -s "$work/data" "$work/back" || fail "level $level: the echo differs"
done

alice=(--level 3 --user alice --authority ravlink.test --password-env RAVLINK_PW)
back=$(echo "from alice" | RAVLINK_PW=$(cat "$RAVLINK_REALM_PASSWORD_FILE") connect "${alice[@]}" --vread) || fail "password: $(cat "$work/err")"
[ "$back" = "from alice" ] || fail "password: got '$back'"
echo x | RAVLINK_PW=wrong connect "${alice[@]}" >/dev/null && fail "a wrong password connected"
grep -q "Unable to acquire credential handle." "$work/err" || fail "wrong password: $(cat "$work/err")"
connect --level 3 --user alice --password-env RAVLINK_UNSET_VARIABLE </dev/null >/dev/null && fail "a missing password variable connected"
grep -q "RAVLINK_UNSET_VARIABLE is not set" "$work/err" || fail "missing variable: $(cat "$work/err")"
exit $status
