#!/usr/bin/env bash
# Installs what is missing, builds the tool and the device simulator, starts
# a simulated KRX3 and then the tool. The simulator writes a registry export
# naming its port, which the tool scans (KRX3_REGISTRY): the tool's first
# scan finds the simulated logger, and "List Logs" lists its logs. Options go
# to the simulator. The simulator stops with the tool. Without a display the
# tool runs on a virtual one (xvfb-run).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target krx3-upload krx3-sim
build=build/default

work=$(mktemp -d)
export KRX3_REGISTRY="$work/simulated-ports.reg"
"$build/sim/krx3-sim" --registry "$KRX3_REGISTRY" "$@" &
sim=$!
trap 'kill $sim 2>/dev/null || true; wait $sim 2>/dev/null || true; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
# The window scans once as it opens: the export must be there by then.
for _ in $(seq 100); do
  [ -e "$KRX3_REGISTRY" ] && break
  kill -0 $sim 2>/dev/null || { echo "krx3-sim did not start" >&2; exit 1; }
  sleep 0.1
done
[ -e "$KRX3_REGISTRY" ] || { echo "krx3-sim wrote no registry export" >&2; exit 1; }

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  "$build/app/krx3-upload"
else
  xvfb-run -a "$build/app/krx3-upload"
fi
