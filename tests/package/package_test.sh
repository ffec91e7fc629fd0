#!/bin/sh
# Makes the Debian package of a build, unpacks it into a folder of its own,
# and runs the programs from there. usage: package_test.sh BUILD_DIR EXPORT
# (EXPORT: a recorded registry export with adapter ports, for completion).
# Each step that fails ends the test; -x shows which one it was.
set -eux
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cpack --config "$1/CPackConfig.cmake" -B "$work" >"$work/cpack.log" || { cat "$work/cpack.log"; exit 1; }
# Debian's own checks: lintian finds no error and no warning (its info-level
# notes on hardening flags and the .comment section of binaries stripped by
# CPack stay), and the AppStream data and the desktop entry are valid.
lintian --fail-on error,warning "$work"/*.deb
dpkg-deb -x "$work"/*.deb "$work/root"
dpkg-deb -f "$work"/*.deb Depends | grep libqt6widgets6
cd "$work/root/usr"
ls bin/krx3-sim share/applications/krx3-upload.desktop share/icons/hicolor/256x256/apps/krx3-upload.png \
  share/man/man1/krx3.1.gz share/man/man1/krx3-upload.1.gz share/man/man1/krx3-sim.1.gz \
  share/doc/krx3-upload/copyright share/doc/krx3-upload/changelog.gz share/metainfo/org.krx3tool.Krx3Upload.metainfo.xml
desktop-file-validate share/applications/krx3-upload.desktop
appstreamcli validate --no-net share/metainfo/org.krx3tool.Krx3Upload.metainfo.xml
# The changelog and the AppStream releases begin with the package's version,
# and the manual pages and the programs name it: a new version is told in all.
version=$(dpkg-deb -f "$work"/*.deb Version)
[ "$(zcat share/doc/krx3-upload/changelog.gz | head -1)" = "krx3-upload ($version) unstable; urgency=medium" ]
grep -m1 '<release ' share/metainfo/org.krx3tool.Krx3Upload.metainfo.xml | grep -F "version=\"$version\""
zcat share/man/man1/krx3.1.gz | head -1 | grep -F "\"krx3 $version\""
[ "$(bin/krx3 --version)" = "krx3 $version" ]
# The programs look for no library in the build tree, and run.
readelf -d bin/krx3 bin/krx3-upload | grep -E 'RPATH|RUNPATH' && exit 1
bin/krx3 --help | grep "Exit status"

# The udev rule where udev reads packages' rules (udev(7): /usr/lib/udev/rules.d),
# before the seat rules that apply uaccess (73-seat-late.rules).
rules=lib/udev/rules.d/70-krx3-upload.rules
# Every rule names the adapter (0403:6015) and no other device, and gives the
# seat access and keeps ModemManager away.
grep -v -e '^#' -e '^$' -e '^ACTION=="remove", GOTO=' -e '^LABEL=' "$rules" |
  grep -v 'ATTRS\?{idVendor}=="0403", ATTRS\?{idProduct}=="6015", ' && exit 1
[ "$(grep -o 'idVendor' "$rules" | wc -l)" -eq "$(grep -o 'idVendor}=="0403"' "$rules" | wc -l)" ]
[ "$(grep -o 'idProduct' "$rules" | wc -l)" -eq "$(grep -o 'idProduct}=="6015"' "$rules" | wc -l)" ]
grep -q 'SUBSYSTEM=="tty", .*TAG+="uaccess", ENV{ID_MM_DEVICE_IGNORE}="1"' "$rules"

# bash completion where bash-completion looks for it, by the command's name;
# it offers the commands, each command's options, and the ports krx3 finds.
[ "$(pkg-config --variable=completionsdir bash-completion)" = /usr/share/bash-completion/completions ]
complete() { PATH="$PWD/bin:$PATH" KRX3_REGISTRY="$2" bash -c '. share/bash-completion/completions/krx3
    read -ra COMP_WORDS <<<"$1"; [ "${1% }" = "$1" ] || COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _krx3; echo "${COMPREPLY[*]}"' _ "$1"; }
[ "$(complete "krx3 w" "$2")" = watch ]
[ "$(complete "krx3 watch --d" "$2")" = --delete-verified ]
[ "$(complete "krx3 pull --b" "$2")" = --by-serial ]
[ "$(complete "krx3 list --port " "$2")" = "COM10 COM3" ]
# A port's name is offered as it is and never run as a command.
mkdir "$work/fake"
printf '#!/bin/sh\necho "\\$(date>%s/ran)  X"\n' "$work" >"$work/fake/krx3"
chmod +x "$work/fake/krx3"
offered=$(PATH="$work/fake:$PATH" bash -c '. share/bash-completion/completions/krx3
    COMP_WORDS=(krx3 list --port ""); COMP_CWORD=3; _krx3; printf "%s\n" "${COMPREPLY[@]}"')
[ "$offered" = "\$(date>$work/ran)" ]
[ ! -e "$work/ran" ]
# An installed window that cannot start (a missing library or platform
# plugin) ends at once; one that started runs until timeout stops it (124).
QT_QPA_PLATFORM=offscreen timeout 5 bin/krx3-upload && exit 1 || [ $? -eq 124 ]
