#!/usr/bin/env bash
# Builds the program, the libraries and all their tests for 64-bit Windows
# with MinGW-w64 and a static Qt built from Debian's source (cached outside
# the clone, see build-qt-windows.sh), and runs the tests under Wine, in a
# fresh Wine prefix under build/windows. Arguments are passed to CTest.
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

# Qt for Windows: built once, then taken from the cache. Its last line of
# output is its prefix.
mkdir -p build
scripts/build-qt-windows.sh | tee build/qt-windows.log
KRX3_QT_WINDOWS=$(tail -n 1 build/qt-windows.log)
export KRX3_QT_WINDOWS

# The Linux simulator, from the normal build (up to date, or built now).
sim=build/ci/sim/krx3-sim
cmake --preset ci >/dev/null
cmake --build --preset ci --target krx3-sim grab_window

export WINEPREFIX="$PWD/build/windows/wine"
export WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and Wine would offer to fetch them.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine passes WINEQT_x on to the program as QT_x (it drops QT_x itself).
# The window's tests run headless; QtTest then logs to stderr, not to the
# debugger.
export WINEQT_QPA_PLATFORM=offscreen WINEQT_FORCE_STDERR_LOGGING=1

sim_pid=""
xvfb_pid=""
server_pid=""
step_pid=""
cleanup() {
  if [ -n "$step_pid" ]; then
    kill "$step_pid" 2>/dev/null || true
  fi
  # Ends every Windows program too, then the server itself.
  wineserver -k 2>/dev/null || true
  if [ -n "$server_pid" ]; then
    wait "$server_pid" 2>/dev/null || true
  fi
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Runs a step in the background so that an interrupt ends it at once
# (bash runs a trap only after a foreground command has finished).
step() {
  "$@" &
  step_pid=$!
  wait "$step_pid"
  step_pid=""
}

# The build needs no Wine prefix (the test programs are listed when CTest
# starts).
step cmake --preset windows
step cmake --build --preset windows
echo "Windows build done in $(( $(date +%s) - start )) s."

# A server left from an earlier run is found through the prefix folder, so
# it is stopped before that folder goes.
if [ -d "$WINEPREFIX" ]; then
  wineserver -k 2>/dev/null || true
fi
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"

# A virtual display for the whole Wine session: the desktop process started
# with the session's first window decides whether windows can be shown at
# all. The tests themselves run on Qt's offscreen platform; the smoke test
# shows the program on this display.
display_file=build/windows/xvfb-display
rm -f "$display_file"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" 2>build/windows/xvfb.log &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$display_file" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || { cat build/windows/xvfb.log >&2; echo "Xvfb did not start" >&2; exit 1; }
  sleep 0.1
done
[ -s "$display_file" ] || { echo "Xvfb did not start" >&2; exit 1; }
DISPLAY=":$(cat "$display_file")"
export DISPLAY
# In the foreground of this script's session: a daemon server leads a
# session of its own, takes the first pseudo-terminal it opens as its
# controlling terminal, and dumps all its objects when that one hangs up.
wineserver -f -p 2>build/windows/wineserver.log &
server_pid=$!
# Its socket lives in a folder named after the prefix's device and inode.
server_id=$(printf 'server-%x-%x' $(stat -c '%d %i' "$WINEPREFIX"))
for _ in $(seq 100); do
  compgen -G "/tmp/wine-*/$server_id/socket" >/dev/null && break
  compgen -G "/tmp/.wine-$(id -u)/$server_id/socket" >/dev/null && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
if ! wineboot -i >build/windows/wineboot.log 2>&1; then
  cat build/windows/wineboot.log >&2
  echo "wineboot could not make the prefix" >&2
  exit 1
fi
# The tests need this server to stay up: Wine's services, the registry's
# HARDWARE keys and the COM port links last only as long as it does.
if ! kill -0 "$server_pid" 2>/dev/null; then
  cat build/windows/wineserver.log >&2
  echo "the persistent Wine server did not start (another one ran first?)" >&2
  exit 1
fi
# The desktop process of this Wine session, started now with its output
# going to a log, so that no test's output pipe is held by it.
wine build/windows/tests/support/hold_desktop.exe >build/windows/hold_desktop.log 2>&1 &
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

# Arguments go to CTest, e.g. --repeat until-fail:10 or -R link_.
step ctest --preset windows "$@"
# The real program on the display, driven as a user does; its picture goes
# beside the build (docs/screenshot-windows.png is a copy).
step tests/smoke/smoke_windows.sh build/windows/app/krx3-upload.exe "$sim" \
  build/ci/tests/smoke/grab_window build/windows/screenshot-windows.png
echo "Windows build and tests under Wine passed in $(( $(date +%s) - start )) s."
