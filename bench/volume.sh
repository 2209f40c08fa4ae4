#!/usr/bin/env bash
# 100 MB each way at levels 0, 2, 3 and 11 against real peers on loopback, byte-exact (a
# checksum at both ends): the integration suite's volume test at full size. Usage:
#   bench/volume.sh [BUILD-DIR] [BYTES]      (defaults: build, 100000000)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
RAVLINK_VOLUME_BYTES=${2:-100000000} "$build/bin/ravlink_integration_tests" \
  --gtest_filter='Levels/Bulk.VolumeBothWaysArrivesWhole/*' | grep -E '^level|OK|FAILED|SKIPPED'
