#!/usr/bin/env bash
# Builds and tests everything: Linux, Linux with AddressSanitizer and UBSan, the many-thread
# tests under ThreadSanitizer, the fuzz targets (libFuzzer, briefly), and the Windows
# DLL cross-built with mingw-w64 with its tests under Wine. Exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
"$top/scripts/install-deps.sh" || { echo "dependency installation failed"; exit 1; }

jobs=$(nproc)
status=0
summary=()
stage() { # name, command...
  local name=$1; shift
  local start=$SECONDS
  echo "=== $name"
  if "$@"; then summary+=("$name: ok ($((SECONDS - start)) s)")
  else summary+=("$name: FAILED ($((SECONDS - start)) s)"); status=1; fi
}

build() { # dir, cmake args...
  local dir=$1; shift
  cmake -S "$top" -B "$dir" -G Ninja "$@" >/dev/null && cmake --build "$dir" -j "$jobs"
}

# OpenSSL for the Windows DLL's TLS tests: cross-built once into a cache outside the checkout (about
# 12 minutes the first time); it builds at low priority while the Linux stages run.
openssl_log=$(mktemp)
nice -n 19 "$top/scripts/openssl-mingw.sh" >"$openssl_log.dir" 2>"$openssl_log" &
openssl_job=$!

export CTEST_OUTPUT_ON_FAILURE=1
stage "linux build" build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
stage "linux tests" ctest --test-dir build -j "$jobs" --timeout 300

stage "sanitizer build" build build-asan -DCMAKE_BUILD_TYPE=Debug -DRAVLINK_SANITIZE=ON -DRAVLINK_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1 stage "sanitizer tests" ctest --test-dir build-asan -j "$jobs" --timeout 300

# ThreadSanitizer: the many-thread tests (any data race fails them).
# Only what those tests need: the integration tests and the tool (their Kerberos peer).
tsan_build() {
  cmake -S "$top" -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAVLINK_TSAN=ON -DRAVLINK_BENCH=OFF \
    >/dev/null && cmake --build build-tsan -j "$jobs" --target ravlink_integration_tests ravlink
}
stage "thread sanitizer build" tsan_build
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$top/tests/tsan.supp" stage "thread sanitizer tests" \
  build-tsan/bin/ravlink_integration_tests --gtest_filter='ThreadStress.*:TlsThreads.*'

# Each fuzz target briefly from its seeds (scripts/fuzz.sh runs them for longer).
stage "fuzzing (10 s per target)" scripts/fuzz.sh 10

# Wine: a throwaway prefix, no display, no debug chatter.
export WINEPREFIX=${WINEPREFIX:-$top/build-win/wineprefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
# A failed OpenSSL build fails its stage, and the Windows build goes on without the DLLs: the TLS
# cases under Wine then fail too, rather than being left out.
openssl_built() {
  wait "$openssl_job" || { cat "$openssl_log"; return 1; }
  openssl_dir=$(tail -1 "$openssl_log.dir")
}
openssl_dir=""
stage "openssl for windows" openssl_built
rm -f "$openssl_log" "$openssl_log.dir"
# The Windows tests' peers (TLS and Kerberos servers) are the Linux tool's.
stage "windows build" build build-win -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAVLINK_OPENSSL_DLL_DIR="$openssl_dir" \
  -DRAVLINK_LINUX_TOOL="$top/build/bin/ravlink"
stage "wine start" wineboot -i
stage "windows tests (wine)" ctest --test-dir build-win --timeout 600
wineserver -k 2>/dev/null || true

printf '\n'; printf '%s\n' "${summary[@]}"
exit $status
