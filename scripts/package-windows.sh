#!/usr/bin/env bash
# Builds the Windows program (see build-qt-windows.sh and the "windows"
# preset) and packs it for users:
#
#   dist/krx3-upload-<version>-win64.zip
#       krx3-upload.exe       the window; statically linked: it imports only system DLLs
#       krx3.exe              the command line, linked the same way
#       README.txt            for Windows users: install, use, licences
#       licenses/             the licence texts of what is linked in
#   dist/krx3-upload-<version>-win64-relink.zip
#       the programs' own object code and a script that links them again
#       with a Qt of the user's choice, as the LGPL asks of a program linked
#       statically with Qt
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

mkdir -p build dist
scripts/build-qt-windows.sh | tee build/qt-windows.log
KRX3_QT_WINDOWS=$(tail -n 1 build/qt-windows.log)
export KRX3_QT_WINDOWS
cmake --preset windows >/dev/null
cmake --build --preset windows --target krx3-upload krx3

build=build/windows
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
qt_version=$(dpkg-query -W -f='${Version}' qt6-base-dev)
name=krx3-upload-$version-win64
stage=$build/package/$name
relink=$build/package/$name-relink
rm -rf "$build/package"
mkdir -p "$stage/licenses" "$relink/objects" "$relink/lib"

imports=""
for program in app/krx3-upload cli/krx3; do
  exe=$(basename "$program").exe
  x86_64-w64-mingw32-strip -o "$stage/$exe" "$build/$program.exe"
  own=$(x86_64-w64-mingw32-objdump -p "$stage/$exe" | sed -n 's/^\s*DLL Name: //p')
  if grep -qiE '^(Qt|lib|mingw)' <<<"$own"; then
    echo "package-windows: $exe needs DLLs that are not the system's:" >&2
    grep -iE '^(Qt|lib|mingw)' <<<"$own" >&2
    exit 1
  fi
  imports+="$exe: $(tr '\n' ' ' <<<"$own")"$'\n'
done

# Licence texts: Qt is LGPL-3 (which builds on the GPL-3); Debian's record of
# the qt6-base source names the licence of every part of it, the bundled
# libraries linked in here (zlib, libpng, libjpeg, FreeType, HarfBuzz, PCRE2,
# double-conversion, ...) among them. The MinGW-w64 runtime and GCC's
# runtime libraries are linked in too.
cp "$top/LICENSE" "$stage/licenses/krx3-upload-MIT.txt"
cp /usr/share/common-licenses/LGPL-3 "$stage/licenses/LGPL-3.txt"
cp /usr/share/common-licenses/GPL-3 "$stage/licenses/GPL-3.txt"
cp /usr/share/doc/libqt6core6/copyright "$stage/licenses/Qt-$qt_version.txt"
cp /usr/share/doc/mingw-w64-common/copyright "$stage/licenses/MinGW-w64-runtime.txt"
cp /usr/share/doc/gcc-mingw-w64-base/copyright "$stage/licenses/GCC-runtime.txt"

# The relink kit: each program's objects and the project's own libraries,
# and the link commands with the Qt prefix left to the user.
relink_commands() {  # $1: the program's build folder, $2: its name
  local link_dir=$build/$1 program=$2 o token
  mkdir -p "$relink/objects/$program"
  for o in $(cat "$link_dir/CMakeFiles/$program.dir/objects1"); do
    o=${o//\"/}
    cp "$link_dir/$o" "$relink/objects/$program/"
  done
  local libs=()
  for token in $(cat "$link_dir/CMakeFiles/$program.dir/linkLibs.rsp"); do
    token=${token//\"/}
    case "$token" in
      "$KRX3_QT_WINDOWS"/*) libs+=("\"\$QT${token#"$KRX3_QT_WINDOWS"}\"") ;;
      -*) libs+=("$token") ;;
      *.a)
        cp "$link_dir/$token" "$relink/lib/"
        libs+=("lib/$(basename "$token")")
        ;;
      *) echo "package-windows: unexpected item in the link of $program: $token" >&2; exit 1 ;;
    esac
  done
  local flags
  flags=$(sed -n 's/.*x86_64-w64-mingw32-g++-posix \(.*\) -Wl,--whole-archive.*/\1/p' \
    "$link_dir/CMakeFiles/$program.dir/link.txt")
  echo "\${CXX:-x86_64-w64-mingw32-g++-posix} $flags -Wl,--whole-archive objects/$program/* -Wl,--no-whole-archive \\"
  echo "  ${libs[*]} \\"
  echo "  -o $program.exe"
}
{
  echo '#!/bin/sh'
  echo '# Links krx3-upload.exe and krx3.exe again from their objects, with the'
  echo '# static Qt for Windows installed at $QT (a Qt 6.4 built with the options'
  echo '# of build-qt-windows.sh, changed as you like). Needs MinGW-w64 g++ (-posix).'
  echo 'set -e'
  echo ': "${QT:?set QT to the prefix of your Qt for Windows}"'
  echo 'cd "$(dirname "$0")"'
  relink_commands app krx3-upload
  relink_commands cli krx3
} > "$relink/relink.sh"
chmod +x "$relink/relink.sh"
cp "$stage/licenses/LGPL-3.txt" "$stage/licenses/GPL-3.txt" "$relink/"

# The read-me, with Windows line ends.
sed "s/@VERSION@/$version/g; s/@QT_VERSION@/$qt_version/g; s/\$/\r/" docs/README-windows.txt > "$stage/README.txt"

rm -f "dist/$name.zip" "dist/$name-relink.zip"
(cd "$build/package" &&
  cmake -E tar cf "$top/dist/$name.zip" --format=zip "$name" &&
  cmake -E tar cf "$top/dist/$name-relink.zip" --format=zip "$name-relink")
printf 'Imports:\n%s' "$imports"
ls -l "dist/$name.zip" "dist/$name-relink.zip"
