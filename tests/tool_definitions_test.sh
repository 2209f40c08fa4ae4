#!/usr/bin/env bash
# The ravlink tool with definitions: `server NAME` connects by a server definition (a .reg file
# standing in for the registry), and `connect` at level 0 runs over TLS to an address and port
# that the SSL definitions file lists, against `openssl s_server`.
set -uo pipefail
tool=$1
. "$(dirname "$0")/fixtures/checks.sh"
unset QXN_SSLconfigurations CommonProgramFiles 'CommonProgramFiles(x86)' 2>/dev/null

# An echo server, and a definition of it by name.
serve echo
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
check "$(grep -q warning "$work/err" || echo ok)" "warning for a defined configuration: $(cat "$work/err")"

# What the library leaves unsaid, the tool warns of: an entry whose configuration section is
# missing (the connection stays plain) and a level-10 name that nothing defines.
printf '[broken]\naddress=127.0.0.1\nport=%s\nSSLConfig=nothere\nConnectionSecurityLevel=0\n[verified]\n' \
  "$port" >"$work/broken.ini"
out=$(echo "still plain" | QXN_SSLconfigurations=$work/broken.ini "$tool" connect 127.0.0.1 "$port" 2>"$work/err"); rc=$?
check "$([ $rc -eq 0 ] && [ "$out" = "still plain" ] &&
         grep -q "section \[broken\], whose SSL configuration 'nothere' is not in the file: the connection stays plain" "$work/err" &&
         echo ok)" "missing section: rc $rc, '$out', $(cat "$work/err")"
echo x | QXN_SSLconfigurations=$work/broken.ini "$tool" connect 127.0.0.1 "$tls" --level 10 --principal nosuch \
  --timeout 2 >/dev/null 2>"$work/err"; rc=$?
check "$([ $rc -eq 1 ] && grep -q "warning: no TLS configuration is named 'nosuch'" "$work/err" && echo ok)" \
  "unknown level-10 name: rc $rc, $(cat "$work/err")"
printf 'REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Brannoc\\Sedrin\\SSLConfigurations\\named]\n"VerifyPeer"="0"\n' >"$work/user.reg"
out=$(echo "named" | QXN_ravlink_registry_user=$work/user.reg "$tool" connect 127.0.0.1 "$tls" --level 10 --principal named \
  --timeout 2 2>"$work/err"); rc=$?
check "$([ $rc -eq 0 ] && [ "$out" = "deman" ] && ! grep -q warning "$work/err" && echo ok)" \
  "level-10 name in the registry: rc $rc, '$out', $(cat "$work/err")"
exit $status
