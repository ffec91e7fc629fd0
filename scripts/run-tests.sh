#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test three times: a
# normal build (warnings are errors), AddressSanitizer with
# UndefinedBehaviorSanitizer, and ThreadSanitizer (everything without Qt:
# the libraries, the worker pattern and the device simulator). Last,
# everything is built for Windows (with a Qt for Windows built from Debian's
# source the first time, then cached) and tested under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --windows
export QT_QPA_PLATFORM=offscreen
start=$(date +%s)
for preset in ci asan tsan; do
  echo "=== $preset ==="
  cmake --workflow --preset "$preset"
done
echo "=== windows ==="
scripts/run-windows-tests.sh
echo "All test runs passed in $(( $(date +%s) - start )) s."
