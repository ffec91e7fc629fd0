#!/bin/sh
# Makes the Debian package of a build, unpacks it into a folder of its own,
# and runs the programs from there. usage: package_test.sh BUILD_DIR
set -eu
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log" || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/pkg/*.deb)
dpkg-deb -x "$deb" "$work/root"
root=$work/root/usr

for f in bin/krx3 bin/krx3-upload bin/krx3-sim share/applications/krx3-upload.desktop \
         share/icons/hicolor/16x16/apps/krx3-upload.png share/icons/hicolor/256x256/apps/krx3-upload.png \
         share/man/man1/krx3.1; do
  [ -e "$root/$f" ] || { echo "missing from the package: /usr/$f"; exit 1; }
done
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || { echo "the package does not depend on Qt Widgets"; exit 1; }
desktop-file-validate "$root/share/applications/krx3-upload.desktop"
for p in krx3 krx3-upload krx3-sim; do
  if readelf -d "$root/bin/$p" | grep -Eq 'RPATH|RUNPATH'; then echo "$p looks for libraries in the build tree"; exit 1; fi
done

version=$("$root/bin/krx3" --version)
[ "$version" = "krx3 1.0" ] || { echo "krx3 --version said: $version"; exit 1; }
"$root/bin/krx3" --help | grep -q "Exit status" || { echo "krx3 --help lacks the exit statuses"; exit 1; }

# The window: an installed program that cannot start (a missing library or
# platform plugin) ends at once; one that started runs until it is stopped.
cd "$work"
status=0
QT_QPA_PLATFORM=offscreen timeout 5 "$root/bin/krx3-upload" >"$work/window.log" 2>&1 || status=$?
if [ "$status" -ne 124 ]; then
  echo "the installed window ended with status $status:"; cat "$work/window.log"; exit 1
fi
echo "package $(basename "$deb"): files present, programs run"
