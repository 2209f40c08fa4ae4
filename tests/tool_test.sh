#!/usr/bin/env bash
# The ravlink tool end to end: `serve` echoes to many clients at once, `connect` copies both
# ways like nc, and failures print the library's text with a non-zero exit.
set -uo pipefail
tool=$1
. "$(dirname "$0")/fixtures/await_port.sh"
work=$(mktemp -d)
"$tool" serve --port 0 >"$work/serve.out" &
server=$!
trap 'kill $server 2>/dev/null; rm -rf "$work"' EXIT
port=$(await_port "$work/serve.out") || { echo "serve did not start"; exit 1; }
status=0
check() { [ "$1" = ok ] || { echo "FAIL: $2"; status=1; }; }

# Ten clients at once, each with its own random bytes: 1 MB in VREAD, 20 kB in FREAD (byte by byte).
pids=()
for i in $(seq 10); do
  size=20000 mode=""
  [ $((i % 2)) -eq 0 ] && size=1000000 mode=--vread
  head -c $size /dev/urandom >"$work/in$i"
  "$tool" connect 127.0.0.1 "$port" $mode <"$work/in$i" >"$work/out$i" 2>"$work/err$i" &
  pids+=($!)
done
for i in $(seq 10); do
  wait "${pids[$((i - 1))]}"; rc=$?
  check "$([ $rc -eq 0 ] && cmp -s "$work/in$i" "$work/out$i" && echo ok)" "client $i (rc $rc): $(cat "$work/err$i")"
done

# A refused connection and an invalid level: the library's text, exit status 1; a bad option: 2.
"$tool" connect 127.0.0.1 1 --timeout 2 </dev/null >/dev/null 2>"$work/refused"; rc=$?
check "$([ $rc -eq 1 ] && grep -q 'Reason: (10061, 0x274d)' "$work/refused" && echo ok)" "refused: rc $rc, $(cat "$work/refused")"
"$tool" connect 127.0.0.1 "$port" --level 7 </dev/null 2>"$work/level"; rc=$?
check "$([ $rc -eq 1 ] && grep -q 'Invalid Security Level requested.' "$work/level" && echo ok)" "level 7: rc $rc"
"$tool" connect 127.0.0.1 "$port" --frobnicate </dev/null 2>/dev/null; rc=$?
check "$([ $rc -eq 2 ] && echo ok)" "unknown option: rc $rc"

# In an SSH session the client's address is the connection's client name.
out=$(SSH_CONNECTION='192.0.2.77 50000 192.0.2.1 22' "$tool" connect 127.0.0.1 "$port" --verbose </dev/null 2>&1)
check "$([[ $out == *$'connected: security level 0, plain\nclient name: 192.0.2.77'* ]] && echo ok)" "client name: $out"

# The trace shows the data that went out.
echo "traced line" | "$tool" connect 127.0.0.1 "$port" --trace 1 >/dev/null 2>"$work/trace"
check "$(grep -q 'RavlinkSend(' "$work/trace" && grep -q 'traced line' "$work/trace" && echo ok)" "trace"
exit $status
