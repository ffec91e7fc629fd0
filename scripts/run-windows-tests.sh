#!/usr/bin/env bash
# Builds the libraries and their tests for 64-bit Windows with MinGW-w64 and
# runs them under Wine, in a fresh Wine prefix under build/windows.
# Arguments are passed to CTest.
#
# The serial tests talk to the device simulator, a Linux program: it runs
# beside Wine as a control server (krx3-sim --control), and each simulated
# device's pseudo-terminal is linked into the prefix as a COM port. The Wine
# server runs for the whole test run (the registry's HARDWARE keys live only
# as long as it does) and is stopped before the simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --windows
start=$(date +%s)

# The Linux simulator, from the normal build.
sim=build/ci/sim/krx3-sim
if [ ! -x "$sim" ]; then
  cmake --preset ci >/dev/null
  cmake --build --preset ci --target krx3-sim
fi

export WINEPREFIX="$PWD/build/windows/wine"
export WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and Wine would offer to fetch them.
export WINEDLLOVERRIDES="mscoree,mshtml="

sim_pid=""
server_pid=""
cleanup() {
  wineserver -k 2>/dev/null || true
  if [ -n "$server_pid" ]; then
    wait "$server_pid" 2>/dev/null || true
  fi
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
wineserver -k 2>/dev/null || true
# In the foreground of this script's session: a daemon server leads a
# session of its own, takes the first pseudo-terminal it opens as its
# controlling terminal, and dumps all its objects when that one hangs up.
wineserver -f -p 2>build/windows/wineserver.log &
server_pid=$!
wineboot -i >/dev/null 2>&1
echo "Wine prefix ready in $(( $(date +%s) - start )) s: $WINEPREFIX"

address_file=build/windows/sim-control
rm -f "$address_file"
"$sim" --control "$address_file" --com-links "$WINEPREFIX/dosdevices" &
sim_pid=$!
for _ in $(seq 100); do
  [ -s "$address_file" ] && break
  kill -0 "$sim_pid" 2>/dev/null || { echo "krx3-sim --control failed" >&2; exit 1; }
  sleep 0.1
done
[ -s "$address_file" ] || { echo "krx3-sim --control did not start" >&2; exit 1; }
KRX3_SIM_CONTROL=$(cat "$address_file")
export KRX3_SIM_CONTROL

cmake --preset windows
cmake --build --preset windows
# Arguments go to CTest, e.g. --repeat until-fail:10 or -R link_.
ctest --preset windows "$@"
echo "Windows build and tests under Wine passed in $(( $(date +%s) - start )) s."
