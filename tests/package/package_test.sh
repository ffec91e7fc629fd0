#!/bin/sh
# Makes the Debian package of a build, unpacks it into a folder of its own,
# and runs the programs from there. usage: package_test.sh BUILD_DIR
# Each step that fails ends the test; -x shows which one it was.
set -eux
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cpack --config "$1/CPackConfig.cmake" -B "$work" >"$work/cpack.log" || { cat "$work/cpack.log"; exit 1; }
dpkg-deb -x "$work"/*.deb "$work/root"
dpkg-deb -f "$work"/*.deb Depends | grep libqt6widgets6
cd "$work/root/usr"
ls bin/krx3-sim share/applications/krx3-upload.desktop share/icons/hicolor/256x256/apps/krx3-upload.png share/man/man1/krx3.1
# The programs look for no library in the build tree, and run.
readelf -d bin/krx3 bin/krx3-upload | grep -E 'RPATH|RUNPATH' && exit 1
bin/krx3 --help | grep "Exit status"
# An installed window that cannot start (a missing library or platform
# plugin) ends at once; one that started runs until timeout stops it (124).
QT_QPA_PLATFORM=offscreen timeout 5 bin/krx3-upload && exit 1 || [ $? -eq 124 ]
