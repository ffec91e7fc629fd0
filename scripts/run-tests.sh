#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test three times: a
# normal build (warnings are errors), AddressSanitizer with
# UndefinedBehaviorSanitizer, and ThreadSanitizer (everything without Qt:
# the libraries, the worker pattern and the device simulator).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
start=$(date +%s)
for preset in ci asan tsan; do
  echo "=== $preset ==="
  cmake --workflow --preset "$preset"
done
echo "All test runs passed in $(( $(date +%s) - start )) s."
