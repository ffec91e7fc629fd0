#!/usr/bin/env bash
# Drives the real Windows program under Wine on an X display, as a user
# does: the port scan finds a simulated adapter on a COM port, "List Logs"
# lists its log, "Upload Log" uploads it and the save dialog (Wine's own)
# saves it into .\log. Checks the window's client size and that the saved file
# holds the device's log byte for byte, and keeps a picture of the window.
#
#   smoke_windows.sh EXE SIMULATOR GRAB_WINDOW PICTURE.png
#
# Runs inside scripts/run-windows-tests.sh: WINEPREFIX, the Wine server and
# DISPLAY (an Xvfb) are set up there.
set -euo pipefail
exe=$(realpath "$1") sim=$(realpath "$2") grab=$(realpath "$3") picture=$(realpath -m "$4")
: "${WINEPREFIX:?}" "${DISPLAY:?}"
# The real "windows" platform, not the tests' offscreen one.
unset WINEQT_QPA_PLATFORM

work=$(mktemp -d)
sim_pid="" app_pid=""
port=COM9
link="$WINEPREFIX/dosdevices/${port,,}"
map='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'
adapter='HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS\VID_0403+PID_6015+KRXSMOKE'
finish() {
  [ -z "$app_pid" ] || kill "$app_pid" 2>/dev/null || true
  [ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null || true
  rm -f "$link"
  wine reg delete "$map" /v '\Device\KrxSmoke' /f >/dev/null 2>&1 || true
  wine reg delete "$adapter" /f >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap finish EXIT
fail() { echo "smoke test: $*" >&2; exit 1; }

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  local deadline=$(( $(date +%s) + $1 )); shift
  until "$@"; do
    [ "$(date +%s)" -lt "$deadline" ] || return 1
    sleep 0.2
  done
}

# The device: one log of 400 lines, served from a folder, so that the saved
# file can be compared with it.
name=2017_06_15_10_30_20.log
mkdir -p "$work/device" "$work/run/log"
for i in $(seq 0 399); do
  t=$(( 10 * 3600 + 30 * 60 + 20 + i * 10 ))
  printf '2017-06-15 %02d:%02d:%02d;ch1=%d.%02d;ch2=3.%02d\r\n' \
    $(( t / 3600 )) $(( t / 60 % 60 )) $(( t % 60 )) $(( 12 + i % 4 )) $(( i % 100 )) $(( i * 7 % 100 ))
done > "$work/device/$name"
"$sim" --folder "$work/device" > "$work/sim.log" 2>&1 &
sim_pid=$!
wait_for 10 grep -q "ready on" "$work/sim.log" || fail "the simulator did not start"
pty=$(sed -n 's/.*ready on \(.*\)$/\1/p' "$work/sim.log" | head -n 1)
ln -sfn "$pty" "$link"

# What the FTDI driver writes for an adapter on that port.
wine reg add "$map" /v '\Device\KrxSmoke' /t REG_SZ /d "$port" /f >/dev/null
wine reg add "$adapter\\0000\\Device Parameters" /v PortName /t REG_SZ /d "$port" /f >/dev/null
wine reg add "$adapter\\0000\\Device Parameters" /v LatencyTimer /t REG_DWORD /d 16 /f >/dev/null

# The program starts in a folder with a "log" folder, where the save dialog
# opens.
(cd "$work/run" && exec wine "$exe") > "$work/app.log" 2>&1 &
app_pid=$!
title="KRX3-V01 LogFile Upload Tool v1.0 (64-bit Windows)"
wait_for 60 xdotool search --name "^${title//(/\\(}$" >/dev/null 2>&1 || fail "no window titled \"$title\""
window=$(xdotool search --name "^${title//(/\\(}$" | head -n 1)
size=$(xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: //p')
echo "window $window, client area $size"
[ "$size" = "664x434" ] || fail "the client area is $size, not 664x434"

click() { xdotool mousemove --window "$window" "$1" "$2" click 1; }
dialog() { xdotool search --name '^Save KRX3 Logfile \(\.log\)$' 2>/dev/null | tail -n 1; }

# "List Logs", then "Upload Log" until it is enabled (the listing has ended)
# and the save dialog shows.
click 84 88
uploaded() { [ -n "$(dialog)" ] || { click 84 399; wait_for 2 test -n "$(dialog)"; }; }
wait_for 30 uploaded || fail "no save dialog after List Logs and Upload Log"
# The proposed name is the log's own; the dialog opened in .\log.
save=$(dialog)
xdotool windowfocus "$save"
xdotool key --window "$save" Return
saved="$work/run/log/$name"
same() { [ -f "$saved" ] && cmp -s "$saved" "$work/device/$name"; }
wait_for 30 same || fail "$saved does not hold the device's log (got $(wc -c < "$saved" 2>/dev/null || echo no) bytes)"
echo "saved $name: $(wc -c < "$saved") bytes, the same as the device's"

# The window once the save has ended: every button usable again.
wait_for 10 test -z "$(dialog)" || fail "the save dialog stayed open"
# The picture once two grabs in a row agree (the last repaint has landed).
"$grab" "$window" "$work/a.png" >/dev/null 2>&1
steady() { "$grab" "$window" "$work/b.png" >/dev/null 2>&1 && cmp -s "$work/a.png" "$work/b.png" || { mv "$work/b.png" "$work/a.png"; false; }; }
wait_for 10 steady || fail "the window kept changing"
mv "$work/a.png" "$picture"
echo "picture of the window: $picture"
