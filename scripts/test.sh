#!/usr/bin/env bash
# Builds everything and runs every test: the native suite, the same suite under AddressSanitizer
# and UndefinedBehaviorSanitizer, a bounded fuzz run of the registry reader, and the Windows
# program with its suite and checks under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs=$(nproc)
for preset in native native-asan fuzz windows; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset"
done
