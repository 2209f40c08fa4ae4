#!/usr/bin/env bash
# Installs the Debian packages the builds, tests, demo and benchmarks need (only what is missing).
set -euo pipefail
packages=(cmake ninja-build ccache g++ pkg-config make googletest libgtest-dev
          libssl-dev openssl libkrb5-dev krb5-kdc krb5-admin-server krb5-user
          mingw-w64 binutils-mingw-w64-x86-64 wine wine64 procps iproute2 util-linux perl
          clang-14 libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${missing[@]}" >/dev/null
