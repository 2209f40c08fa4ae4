#!/usr/bin/env bash
# Runs a Windows test program under Wine with its peers on the Linux side of loopback, and stops
# them afterwards. The program finds them through its environment.
#
#   wine_peers.sh GROUP TOOL SOURCE WORK EMULATOR PROGRAM [ARGS...]
#
#   GROUP     tls: the throwaway PKI (in WORK/pki), `TOOL serve --tls` as the echo, mutual and
#               untrusted servers and `openssl s_server -rev` as the closing one
#               (RAVLINK_TLS_PEER_ECHO / _MUTUAL / _UNTRUSTED / _CLOSING, RAVLINK_TEST_PKI_DIR)
#             kerberos: the throwaway realm (in WORK/realm) with the user's ticket, and
#               `TOOL serve --level N` for N = 1, 2, 3 (RAVLINK_KERBEROS_PEER_N; KRB5_CONFIG and
#               KRB5CCNAME for Wine's Kerberos package; RAVLINK_REALM...)
#   TOOL      the Linux build's ravlink tool
#   SOURCE    the source tree (for the fixtures)
#   EMULATOR  wine
# Paths that the Windows program opens are given as Windows paths (drive Z: is the Unix root).
set -uo pipefail
group=$1 tool=$2 source=$3 work=$4 emulator=$5
shift 5
. "$source/tests/fixtures/await_port.sh"

fail() { echo "wine_peers.sh: $*" >&2; exit 1; }
[ -x "$tool" ] || fail "no Linux ravlink tool at '$tool' (configure the Windows build with -DRAVLINK_LINUX_TOOL=...)"
mkdir -p "$work"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  [ "$group" = kerberos ] && "$source/tests/fixtures/krb5_realm.sh" stop "$work/realm" >/dev/null 2>&1
}
trap cleanup EXIT

# start NAME VARIABLE COMMAND...: a server printing "listening on ... PORT" (or s_server's ACCEPT).
start() {
  local name=$1 var=$2; shift 2
  "$@" >"$work/$name.out" 2>"$work/$name.err" &
  pids+=($!)
  local port
  port=$(await_port "$work/$name.out") || fail "$name did not start: $(cat "$work/$name.err")"
  export "$var=$port"
}

case $group in
tls)
  pki=$work/pki
  "$source/tests/fixtures/make_pki.sh" "$pki" || fail "cannot make the PKI"
  export RAVLINK_TEST_PKI_DIR="Z:$pki"
  serve=("$tool" serve --port 0 --tls)
  start echo RAVLINK_TLS_PEER_ECHO "${serve[@]}" --cert "$pki/server.pem" --key "$pki/server.key"
  start mutual RAVLINK_TLS_PEER_MUTUAL "${serve[@]}" --cert "$pki/server.pem" --key "$pki/server.key" \
    --ca "$pki/ca.pem" --require-client-cert
  start untrusted RAVLINK_TLS_PEER_UNTRUSTED "${serve[@]}" --cert "$pki/untrusted-server.pem" \
    --key "$pki/untrusted-server.key"
  # s_server takes a port of its own choosing: one below the ephemeral range that is free now.
  for _ in $(seq 20); do
    port=$((20000 + RANDOM % 12000))
    ss -Hlnt "sport = :$port" | grep -q . && continue
    openssl s_server -accept "127.0.0.1:$port" -cert "$pki/server.pem" -key "$pki/server.key" -rev -quiet \
      >"$work/closing.out" 2>&1 </dev/null &
    pids+=($!)
    for _ in $(seq 100); do ss -Hlnt "sport = :$port" | grep -q . && break 2; sleep 0.1; done
  done
  ss -Hlnt "sport = :$port" | grep -q . || fail "openssl s_server did not start: $(cat "$work/closing.out")"
  export RAVLINK_TLS_PEER_CLOSING=$port
  ;;
kerberos)
  "$source/tests/fixtures/krb5_realm.sh" stop "$work/realm" >/dev/null 2>&1
  vars=$("$source/tests/fixtures/krb5_realm.sh" start "$work/realm") || fail "the realm did not start"
  while IFS='=' read -r name value; do export "$name=$value"; done <<<"$vars"
  # The password file is read by the Windows program; the rest by Wine's Kerberos (Unix side).
  export RAVLINK_REALM_PASSWORD_FILE="Z:$RAVLINK_REALM_PASSWORD_FILE"
  keytab=${KRB5_KTNAME#FILE:}
  start kerberos1 RAVLINK_KERBEROS_PEER_1 "$tool" serve --port 0 --level 1 --keytab "$keytab"
  start kerberos2 RAVLINK_KERBEROS_PEER_2 "$tool" serve --port 0 --level 2 --keytab "$keytab"
  start kerberos3 RAVLINK_KERBEROS_PEER_3 "$tool" serve --port 0 --level 3 --keytab "$work/realm/sedrin.keytab"
  ;;
*) fail "unknown group '$group'" ;;
esac

"$emulator" "$@"
status=$?
exit $status
