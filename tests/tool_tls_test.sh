#!/usr/bin/env bash
# The ravlink tool over TLS: `serve --tls` with the throwaway PKI, `connect --level 11` with the
# record's options (trust, client certificate, pass phrase from the environment or a file), and
# the library's text when the server refuses the client.
set -uo pipefail
tool=$1 source=$2 pki=$3
. "$source/tests/fixtures/checks.sh"
"$source/tests/fixtures/make_pki.sh" "$pki" || { echo "cannot make the PKI"; exit 1; }
fail() { echo "FAIL: $1 (rc $2): $(cat "$work/err")"; status=1; }
# echoed NAME TEXT connect-options...: TEXT comes back, exit status 0.
echoed() {
  local name=$1 text=$2; shift 2
  echo "$text" | "$tool" connect 127.0.0.1 "$@" >"$work/out" 2>"$work/err"; local rc=$?
  [ $rc -eq 0 ] && [ "$(cat "$work/out")" = "$text" ] || fail "$name" $rc
}

serve plain --tls --cert "$pki/server.pem" --key "$pki/server.key"
plain=$port
serve mutual --tls --cert "$pki/server.pem" --key "$pki/server.key" --ca "$pki/ca.pem" --require-client-cert
mutual=$port

# 200 kB of random bytes there and back.
head -c 200000 /dev/urandom >"$work/in"
"$tool" connect 127.0.0.1 "$plain" --level 11 --ca-file "$pki/ca.pem" --timeout 2 --vread \
  <"$work/in" >"$work/out" 2>"$work/err"; rc=$?
[ $rc -eq 0 ] && cmp -s "$work/in" "$work/out" || fail "round trip" $rc

# A client certificate with an encrypted key: the pass phrase from a variable, then from a file
# (the time-out, which also bounds the handshake, leaves room for slow sanitizer builds).
export PHRASE="$(cat "$pki/passphrase.txt")"
client=(--level 11 --cert "$pki/client.pem" --key "$pki/client-enc.key" --timeout 3)
echoed "pass phrase from a variable" mutual "$mutual" "${client[@]}" --ca-file "$pki/ca.pem" --pass-env PHRASE
echoed "pass phrase from a file, CApath" mutual "$mutual" "${client[@]}" --ca-path "$pki/capath" \
  --pass-file "$pki/passphrase.txt"
# Without a client certificate the mutual server refuses: exit status 1 and the library's text.
echo x | "$tool" connect 127.0.0.1 "$mutual" --level 11 --ca-file "$pki/ca.pem" --timeout 1 >/dev/null 2>"$work/err"
rc=$?; [ $rc -eq 1 ] && grep -q 'SSL/TLS error in SSL_' "$work/err" || fail "no client certificate" $rc
# Verification off: any server will do, and a missing CA file is no failure.
echoed "verify 0" unverified "$plain" --level 11 --verify 0 --ca-file "$work/none.pem" --timeout 1
exit $status
