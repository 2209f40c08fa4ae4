#!/usr/bin/env bash
# The main job: builds the library and the ravlink tool, then shows them at work: an echo server
# on a free loopback port, and a line sent through a plain connection with the library's trace.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target ravlink >/dev/null
tool=build/bin/ravlink

echo "== version"
"$tool" version

echo "== an echo server on a free loopback port"
out=$(mktemp)
"$tool" serve --port 0 --bind 127.0.0.1 >"$out" &
server=$!
trap 'kill "$server" 2>/dev/null || true; rm -f "$out"' EXIT
port=""
for _ in $(seq 50); do
  port=$(awk '/^listening on/ {print $NF}' "$out")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "the server did not start"; exit 1; }
cat "$out"

echo "== a line through 'ravlink connect 127.0.0.1 $port --vread --trace 2' (trace on standard error)"
echo "hello through ravlink" | "$tool" connect 127.0.0.1 "$port" --vread --trace 2 2> >(sed 's/^/    trace| /' >&2)
sleep 0.2

echo "== a refused connection: the library's error text"
"$tool" connect 127.0.0.1 1 --timeout 2 </dev/null || echo "(exit status $?)"

echo "== stopping the server"
kill "$server"
wait "$server" 2>/dev/null || true
# Kerberos levels 1, 2 and 3 against a throwaway realm.
scripts/demo_kerberos.sh "$tool"

echo "done"
