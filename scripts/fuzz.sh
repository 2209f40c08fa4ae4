#!/usr/bin/env bash
# Runs the libFuzzer targets of fuzz/ (AddressSanitizer and UBSan, built with clang-14 in
# build-fuzz), one after the other, each from its seed corpus in fuzz/corpus/:
#
#   scripts/fuzz.sh SECONDS [TARGET...]    each target for SECONDS
#   scripts/fuzz.sh --runs N [TARGET...]   each target for N executions
#
# Targets: token_frame reg_file ssl_definitions server_definitions protected_receive (default all).
# New inputs go to build-fuzz/corpus/TARGET (the seeds stay as they are), crashes to
# build-fuzz/crashes/. The Kerberos target gets a throwaway realm. Exits non-zero when a target
# finds a crash; prints one line per target with its executions.
set -uo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
limit=(-max_total_time="${1:?usage: $0 SECONDS|--runs N [TARGET...]}")
shift
if [ "${limit[0]}" = "-max_total_time=--runs" ]; then limit=(-runs="${1:?--runs needs a count}"); shift; fi
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(token_frame reg_file ssl_definitions server_definitions protected_receive)

export CCACHE_BASEDIR=$top
CC=clang-14 CXX=clang++-14 cmake -S "$top" -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DRAVLINK_FUZZ=ON -DRAVLINK_TESTS=OFF -DRAVLINK_BENCH=OFF >/dev/null || exit 1
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]/#/fuzz_}" >/dev/null || { echo "fuzz build failed"; exit 1; }

realm=""
cleanup() { [ -z "$realm" ] || tests/fixtures/krb5_realm.sh stop "$realm"; }
trap cleanup EXIT
# A small quarantine for freed blocks: the default 256 MB makes nearly every allocation touch
# fresh pages, which costs most of a run's time; use-after-free is still caught within it.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16}
status=0
summary=()
mkdir -p build-fuzz/crashes
for t in "${targets[@]}"; do
  if [ "$t" = protected_receive ] && [ -z "$realm" ]; then
    realm=$(mktemp -d /tmp/ravlink-fuzz-realm-XXXXXX) && rmdir "$realm"
    vars=$(tests/fixtures/krb5_realm.sh start "$realm") || { echo "the realm did not start"; status=1; continue; }
    while IFS='=' read -r k v; do case $k in KRB5_CONFIG|KRB5CCNAME|KRB5_KTNAME) export "$k=$v";; esac; done <<<"$vars"
  fi
  work=build-fuzz/corpus/$t
  mkdir -p "$work"
  log=build-fuzz/$t.log
  # One input must not hold a run for long; leaks and sanitizer findings are crashes.
  build-fuzz/bin/fuzz_$t "${limit[@]}" -timeout=25 -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1 \
    -artifact_prefix=build-fuzz/crashes/$t- "$work" "fuzz/corpus/$t" >"$log" 2>&1
  rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  secs=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)
  if [ $rc -ne 0 ]; then status=1; summary+=("$t: FAILED after ${runs:-?} executions (see $log)")
  else summary+=("$t: ${runs:-?} executions in ${secs:-?} s, nothing found"); fi
done
printf '%s\n' "${summary[@]}"
exit $status
