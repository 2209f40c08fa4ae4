#!/usr/bin/env bash
# The ravlink tool with definitions: `server NAME` connects by a server definition (a .reg file
# standing in for the registry), and `connect` at level 0 runs over TLS to an address and port
# that the SSL definitions file lists, against `openssl s_server`.
set -uo pipefail
tool=$1
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
status=0
check() { if [ "$1" = ok ]; then :; else echo "FAIL: $2"; status=1; fi; }
. "$(dirname "$0")/fixtures/await_port.sh"
unset QXN_SSLconfigurations CommonProgramFiles 'CommonProgramFiles(x86)' 2>/dev/null

# An echo server, and a definition of it by name.
"$tool" serve --port 0 >"$work/serve.out" &
port=$(await_port "$work/serve.out") || { echo "serve did not start"; exit 1; }
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Brannoc\\Sedrin\\Servers\\echo]\r\n"Address"="127.0.0.1"\r\n"Port"="%s"\r\n"ConnectionSecurityLevel"="0"\r\n' \
  "$port" >"$work/registry.reg"
export QXN_ravlink_registry_machine=$work/registry.reg QXN_ravlink_registry_user=$work/none.reg
out=$(echo "by name" | "$tool" server echo 2>"$work/err"); rc=$?
check "$([ $rc -eq 0 ] && [ "$out" = "by name" ] && echo ok)" "server echo: rc $rc, '$out', $(cat "$work/err")"
"$tool" server nothere </dev/null >/dev/null 2>"$work/err"; rc=$?
check "$([ $rc -eq 1 ] && grep -q "server defined as 'nothere'" "$work/err" && echo ok)" "unknown server: rc $rc"
"$tool" server echo --user u --password-env RAVLINK_NO_SUCH_VARIABLE </dev/null 2>/dev/null; rc=$?
check "$([ $rc -eq 2 ] && echo ok)" "missing password variable: rc $rc"

# A TLS server that sends back each line reversed, listed in the SSL definitions file.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/tls.key" -out "$work/tls.pem" -days 2 -subj /CN=localhost \
  -addext subjectAltName=IP:127.0.0.1 >/dev/null 2>&1
openssl s_server -accept 127.0.0.1:0 -cert "$work/tls.pem" -key "$work/tls.key" -rev >"$work/tls.out" 2>&1 </dev/null &
tls=$(await_port "$work/tls.out" '^ACCEPT') || { echo "s_server did not start"; exit 1; }
printf '[tls-echo]\naddress=127.0.0.1\nport=%s\nSSLConfig=verified\nConnectionSecurityLevel=0\n[verified]\nVerifyPeer=yes\nCAfile=%s\n' \
  "$tls" "$work/tls.pem" >"$work/SSLdefs.ini"
out=$(echo "over tls" | QXN_SSLconfigurations=$work/SSLdefs.ini "$tool" connect 127.0.0.1 "$tls" --timeout 2 --trace 4 2>"$work/err"); rc=$?
check "$([ $rc -eq 0 ] && [ "$out" = "slt revo" ] && grep -q 'SSL definition obtained from SSL definition file.' "$work/err" && echo ok)" \
  "connect over TLS: rc $rc, '$out', $(grep -v '^$' "$work/err" | tail -3)"
exit $status
