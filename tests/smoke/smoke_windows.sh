#!/usr/bin/env bash
# Drives the real Windows program under Wine on an X display, as a user
# does: the port scan finds a simulated adapter on a COM port, "List Logs"
# lists its log, "Upload Log" uploads it and the save dialog (Wine's own)
# saves it into .\log. Checks that the saved file holds the device's log byte
# for byte, and keeps a picture of the window.
#
#   smoke_windows.sh EXE SIMULATOR GRAB_WINDOW PICTURE.png
#
# Runs inside scripts/run-windows-tests.sh: WINEPREFIX (made afresh for each
# run), the Wine server and DISPLAY (an Xvfb) are set up there.
set -euo pipefail
exe=$(realpath "$1") sim=$(realpath "$2") grab=$(realpath "$3") picture=$(realpath -m "$4")
unset WINEQT_QPA_PLATFORM  # the real "windows" platform, not the tests' offscreen one
work=$(mktemp -d) link="$WINEPREFIX/dosdevices/com9" pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$work" "$link"' EXIT
fail() { echo "smoke test: $*" >&2; exit 1; }
# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  local deadline=$(($(date +%s) + $1)); shift
  until "$@"; do [ "$(date +%s)" -lt "$deadline" ] || return 1; sleep 0.2; done
}

# The device: one log of 400 lines, served from a folder, so that the saved
# file can be compared with it. Its port is linked as COM9, and registered as
# the FTDI driver registers an adapter's port.
name=2017_06_15_10_30_20.log
mkdir -p "$work/device" "$work/run/log"
seq 0 399 | sed 's/.*/record &;ch1=12.&;ch2=3.7\r/' >"$work/device/$name"
"$sim" --folder "$work/device" >"$work/sim.log" 2>&1 & pids+=($!)
wait_for 10 grep -q "ready on" "$work/sim.log" || fail "the simulator did not start"
ln -sfn "$(sed -n 's/.*ready on \(.*\)$/\1/p' "$work/sim.log" | head -n 1)" "$link"
wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\KrxSmoke' /t REG_SZ /d COM9 /f >/dev/null
adapter='HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS\VID_0403+PID_6015+KRX\0000\Device Parameters'
wine reg add "$adapter" /v PortName /t REG_SZ /d COM9 /f >/dev/null
wine reg add "$adapter" /v LatencyTimer /t REG_DWORD /d 16 /f >/dev/null

# The program starts in a folder with a "log" folder, where the save dialog
# opens. "List Logs", then "Upload Log" until it is enabled (the listing has
# ended) and the save dialog shows, proposing the log's own name.
(cd "$work/run" && exec wine "$exe") >"$work/app.log" 2>&1 & pids+=($!)
title='^KRX3-V01 LogFile Upload Tool v1\.0 \(64-bit Windows\)$'
wait_for 60 xdotool search --name "$title" >/dev/null || fail "no window; the program said: $(cat "$work/app.log")"
window=$(xdotool search --name "$title" | head -n 1)
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; }
dialog() { xdotool search --name '^Save KRX3 Logfile \(\.log\)$' 2>/dev/null | tail -n 1; }
click 84 88
uploaded() { [ -n "$(dialog)" ] || { click 84 399; wait_for 2 test -n "$(dialog)"; }; }
wait_for 30 uploaded || fail "no save dialog after List Logs and Upload Log"
xdotool windowfocus "$(dialog)" key --window "$(dialog)" Return
wait_for 30 cmp -s "$work/run/log/$name" "$work/device/$name" || fail "the saved log differs from the device's"

# The picture once the save dialog is gone.
wait_for 10 test -z "$(dialog)" || fail "the save dialog stayed open"
"$grab" "$window" "$picture" || fail "no picture of the window"
echo "smoke test: saved $name, the same as the device's; picture in $picture"
