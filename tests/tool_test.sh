#!/usr/bin/env bash
# The ravlink tool end to end: `serve` echoes to many clients at once, `connect` copies both
# ways like nc, and failures print the library's text with a non-zero exit.
set -uo pipefail
tool=$1
. "$(dirname "$0")/fixtures/checks.sh"
serve echo

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

# A refused connection (at the lowest port) and an invalid level: the library's text, exit
# status 1; a bad option: 2.
"$tool" connect 127.0.0.1 1 --timeout 2 </dev/null >/dev/null 2>"$work/refused"; rc=$?
check "$([ $rc -eq 1 ] && grep -q 'Reason: (10061, 0x274d)' "$work/refused" && echo ok)" "refused: rc $rc, $(cat "$work/refused")"
"$tool" connect 127.0.0.1 "$port" --level 7 </dev/null 2>"$work/level"; rc=$?
check "$([ $rc -eq 1 ] && grep -q 'Invalid Security Level requested.' "$work/level" && echo ok)" "level 7: rc $rc"
"$tool" connect 127.0.0.1 "$port" --frobnicate </dev/null 2>/dev/null; rc=$?
check "$([ $rc -eq 2 ] && echo ok)" "unknown option: rc $rc"

# Refused before anything starts, with exit status 2: ports out of range and options that the
# level asked for would not use.
refused() { # expected-text tool-arguments...
  "$tool" "${@:2}" </dev/null >/dev/null 2>"$work/refusal"; local rc=$?
  check "$([ $rc -eq 2 ] && grep -qF -- "$1" "$work/refusal" && echo ok)" "${*:2}: rc $rc, $(cat "$work/refusal")"
}
refused "port 99999 is out of range (1-65535)" connect 127.0.0.1 99999
refused "port 0 is out of range (1-65535)" connect 127.0.0.1 0
refused "port -7 is out of range" connect 127.0.0.1 -7
refused "port 65536 is out of range (0-65535, 0 for any free port)" serve --port 65536
refused "--ca-file is a TLS option of level 11; level 0 would not use it" connect 127.0.0.1 "$port" --ca-file ca.pem
refused "--cert is a TLS option of level 11; level 10 would not use it" connect 127.0.0.1 "$port" --level 10 --cert c.pem
refused "--user is a Kerberos option of levels 1-3; level 11 would not use it" connect 127.0.0.1 "$port" --level 11 --user u
refused "--cert is an option of --tls" serve --port 0 --cert c.pem

# In an SSH session the client's address is the connection's client name.
out=$(SSH_CONNECTION='192.0.2.77 50000 192.0.2.1 22' "$tool" connect 127.0.0.1 "$port" --verbose </dev/null 2>&1)
check "$([[ $out == *$'connected: security level 0, plain\nclient name: 192.0.2.77'* ]] && echo ok)" "client name: $out"

# The trace shows the data that went out.
echo "traced line" | "$tool" connect 127.0.0.1 "$port" --trace 1 >/dev/null 2>"$work/trace"
check "$(grep -q 'RavlinkSend(' "$work/trace" && grep -q 'traced line' "$work/trace" && echo ok)" "trace"
exit $status
