#!/usr/bin/env bash
# The main job: builds the library and the ravlink tool, then shows them at work.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target ravlink >/dev/null
tool=build/bin/ravlink
echo "== version"
"$tool" version
echo "== a connection context on a local socket pair (trace on standard error)"
"$tool" wrap
