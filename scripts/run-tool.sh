#!/usr/bin/env bash
# Installs what is missing, builds the tool and the device simulator, starts
# a simulated KRX3 and then the tool. Type the port the simulator prints into
# the tool's port box (then "List Logs"). The simulator stops with the tool.
# Without a display the tool runs on a virtual one (xvfb-run).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target krx3-upload krx3-sim
build=build/default

"$build/sim/krx3-sim" "$@" &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
trap 'exit 130' INT TERM
sleep 1  # let the simulator print its port before the window appears

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  "$build/app/krx3-upload"
else
  xvfb-run -a "$build/app/krx3-upload"
fi
