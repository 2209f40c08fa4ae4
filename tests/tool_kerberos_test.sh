#!/usr/bin/env bash
# The ravlink tool at Kerberos level 3 against the test realm: serve and connect echo 200 kB of
# random bytes (many token pieces) with the caller's tickets, a user with a password from the
# environment signs on, and a missing password variable fails with its text. (The library's own
# cases, wrong passwords among them, are the Kerberos integration tests'.)
set -uo pipefail
tool=$1
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/tests/fixtures/checks.sh"
trap 'kill $(jobs -p) 2>/dev/null; "$top/tests/fixtures/krb5_realm.sh" stop "$work/realm" >/dev/null 2>&1; rm -rf "$work"' EXIT
command -v krb5kdc >/dev/null || [ -x /usr/sbin/krb5kdc ] || { echo "no krb5kdc: skipped"; exit 0; }
while IFS='=' read -r name value; do export "$name=$value"; done < <("$top/tests/fixtures/krb5_realm.sh" start "$work/realm")
[ -n "${KRB5_CONFIG:-}" ] || { echo "the realm did not start"; exit 1; }
fail() { echo "FAIL: $*"; status=1; }
connect() { "$tool" connect 127.0.0.1 "$port" --timeout 10 "$@" 2>"$work/err"; } # errors in $work/err
serve kerberos --level 3 --keytab "${KRB5_KTNAME#FILE:}"

head -c 200000 /dev/urandom >"$work/data"
connect --level 3 --principal sedrin/localhost --vread <"$work/data" >"$work/back" || fail "tickets: $(cat "$work/err")"
cmp -s "$work/data" "$work/back" || fail "tickets: the echo differs"
alice=(--level 3 --user alice --authority ravlink.test)
back=$(echo "from alice" | RAVLINK_PW=$(cat "$RAVLINK_REALM_PASSWORD_FILE") connect "${alice[@]}" --password-env RAVLINK_PW --vread) ||
  fail "password: $(cat "$work/err")"
[ "$back" = "from alice" ] || fail "password: got '$back'"
connect "${alice[@]}" --password-env RAVLINK_UNSET_VARIABLE </dev/null >/dev/null && fail "a missing password variable connected"
grep -q "RAVLINK_UNSET_VARIABLE is not set" "$work/err" || fail "missing variable: $(cat "$work/err")"
exit $status
