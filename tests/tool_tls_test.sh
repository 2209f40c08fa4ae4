#!/usr/bin/env bash
# The ravlink tool over TLS: `serve --tls` with the throwaway PKI, `connect --level 11` with the
# record's options (trust, client certificate, pass phrase from the environment or a file), and
# the library's verification text when the server is not trusted.
set -uo pipefail
tool=$1 source=$2 pki=$3
"$source/tests/fixtures/make_pki.sh" "$pki" || { echo "cannot make the PKI"; exit 1; }
work=$(mktemp -d)
servers=()
trap 'kill "${servers[@]}" 2>/dev/null; rm -rf "$work"' EXIT
start() { # name, serve options...
  local name=$1; shift
  "$tool" serve --port 0 "$@" >"$work/$name.out" 2>"$work/$name.err" &
  servers+=($!)
  for _ in $(seq 50); do
    port=$(awk '/^listening on/ {print $NF}' "$work/$name.out")
    [ -n "$port" ] && return 0
    sleep 0.1
  done
  echo "serve $name did not start: $(cat "$work/$name.err")"; exit 1
}
status=0
check() { if [ "$1" = ok ]; then :; else echo "FAIL: $2"; status=1; fi; }

start plain --tls --cert "$pki/server.pem" --key "$pki/server.key"
plain=$port
start mutual --tls --cert "$pki/server.pem" --key "$pki/server.key" --ca "$pki/ca.pem" --require-client-cert
mutual=$port

# 200 kB of random bytes there and back.
head -c 200000 /dev/urandom >"$work/in"
"$tool" connect 127.0.0.1 "$plain" --level 11 --ca-file "$pki/ca.pem" --timeout 2 --vread \
  <"$work/in" >"$work/out" 2>"$work/err"; rc=$?
check "$([ $rc -eq 0 ] && cmp -s "$work/in" "$work/out" && echo ok)" "round trip (rc $rc): $(cat "$work/err")"

# A client certificate with an encrypted key: the pass phrase from a variable, then from a file
# (the time-out, which also bounds the handshake, leaves room for slow sanitizer builds).
echo "mutual" | PHRASE="$(cat "$pki/passphrase.txt")" "$tool" connect 127.0.0.1 "$mutual" --level 11 \
  --ca-file "$pki/ca.pem" --cert "$pki/client.pem" --key "$pki/client-enc.key" --pass-env PHRASE \
  --timeout 3 >"$work/out" 2>"$work/err"; rc=$?
check "$([ $rc -eq 0 ] && [ "$(cat "$work/out")" = mutual ] && echo ok)" "pass phrase from a variable (rc $rc): $(cat "$work/err")"
echo "mutual" | "$tool" connect 127.0.0.1 "$mutual" --level 11 --ca-path "$pki/capath" \
  --cert "$pki/client.pem" --key "$pki/client-enc.key" --pass-file "$pki/passphrase.txt" \
  --timeout 3 >"$work/out" 2>"$work/err"; rc=$?
check "$([ $rc -eq 0 ] && [ "$(cat "$work/out")" = mutual ] && echo ok)" "pass phrase from a file, CApath (rc $rc): $(cat "$work/err")"

# Without a client certificate the mutual server refuses the handshake.
echo "x" | "$tool" connect 127.0.0.1 "$mutual" --level 11 --ca-file "$pki/ca.pem" --timeout 1 \
  >/dev/null 2>"$work/err"; rc=$?
check "$([ $rc -eq 1 ] && grep -q 'SSL/TLS error in SSL_' "$work/err" && echo ok)" "no client certificate: rc $rc, $(cat "$work/err")"

# A client that trusts nobody: the verification failure in words.
echo "x" | "$tool" connect 127.0.0.1 "$plain" --level 11 --timeout 1 >/dev/null 2>"$work/err"; rc=$?
check "$([ $rc -eq 1 ] && grep -q 'certificate verify failed' "$work/err" && echo ok)" "untrusted: rc $rc, $(cat "$work/err")"

# Verification switched off.
echo "unverified" | "$tool" connect 127.0.0.1 "$plain" --level 11 --verify 0 --timeout 1 >"$work/out" 2>"$work/err"; rc=$?
check "$([ $rc -eq 0 ] && [ "$(cat "$work/out")" = unverified ] && echo ok)" "verify 0 (rc $rc): $(cat "$work/err")"
exit $status
