#!/usr/bin/env bash
# The main job: builds the library and the ravlink tool, then shows them at work: an echo server
# on a free loopback port, and a line sent through a plain connection with the library's trace.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target ravlink >/dev/null
tool=build/bin/ravlink
. tests/fixtures/await_port.sh

echo "== version"
"$tool" version

echo "== an echo server on a free loopback port"
out=$(mktemp)
"$tool" serve --port 0 --bind 127.0.0.1 >"$out" &
server=$!
trap 'kill "$server" 2>/dev/null || true; rm -f "$out"' EXIT
port=$(await_port "$out") || { echo "the server did not start"; exit 1; }
cat "$out"

echo "== a line through 'ravlink connect 127.0.0.1 $port --vread --trace 2' (trace on standard error)"
echo "hello through ravlink" | "$tool" connect 127.0.0.1 "$port" --vread --trace 2 2> >(sed 's/^/    trace| /' >&2)
sleep 0.2

echo "== TLS: a throwaway PKI, 'ravlink serve --tls' and a level-11 connection that trusts its CA"
pki=build/demo-pki
tests/fixtures/make_pki.sh "$pki"
"$tool" serve --port 0 --tls --cert "$pki/server.pem" --key "$pki/server.key" >"$out.tls" &
tls_server=$!
trap 'kill "$server" "$tls_server" 2>/dev/null || true; rm -f "$out" "$out.tls"' EXIT
tls_port=$(await_port "$out.tls") || { echo "the TLS server did not start"; exit 1; }
echo "hello over TLS" | "$tool" connect 127.0.0.1 "$tls_port" --level 11 --ca-file "$pki/ca.pem" \
  --vread --timeout 1 --trace 1 2> >(tr -d '\r' | grep -a -E '^(SSL/TLS|Cipher list|Trusted|Peer verification)' |
                                     sed 's/^/    trace| /' >&2)
sleep 0.2
echo "== the same server, a client that trusts nobody: the verification failure in words"
echo "x" | "$tool" connect 127.0.0.1 "$tls_port" --level 11 --timeout 1 || echo "(exit status $?)"
kill "$tls_server"

echo "== a refused connection: the library's error text"
"$tool" connect 127.0.0.1 1 --timeout 2 </dev/null || echo "(exit status $?)"

echo "== stopping the server"
kill "$server"
wait "$server" 2>/dev/null || true
# Kerberos levels 1, 2 and 3 against a throwaway realm.
scripts/demo_kerberos.sh "$tool"

echo "done"
