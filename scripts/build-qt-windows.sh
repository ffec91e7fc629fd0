#!/usr/bin/env bash
# Builds a static, release Qt for 64-bit Windows from Debian's own qt6-base
# source package, with the MinGW-w64 -posix compilers: Core, Gui and Widgets,
# the "windows" and "offscreen" platform plugins and the Windows styles,
# nothing else. Host tools come from Debian's qt6-base-dev, which must be the
# same 6.4.x.
#
# The result is installed into a cache outside the clone, keyed by the Qt
# version, the compiler's version and a hash of the patches, the flags and
# this script; when that cache is already there, nothing is done. The last
# line printed is the install prefix. Runs under nice, so that a machine
# stays usable meanwhile.
#
#   KRX_CACHE   the cache folder (default /var/cache/krx3)
#   KRX_JOBS    parallel compile jobs (default: the number of cores)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
start=$(date +%s)

cache=${KRX_CACHE:-/var/cache/krx3}
jobs=${KRX_JOBS:-$(nproc)}
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

"$top/scripts/install-deps.sh" --windows
need=()
for p in dpkg-dev ninja-build qt6-base-dev qt6-base-dev-tools; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${need[@]}"
fi

host_version=$(dpkg-query -W -f='${Version}' qt6-base-dev)  # such as 6.4.2+dfsg-10
qt_version=${host_version%%+*}
qt_version=${qt_version%%-*}
gcc_version=$(x86_64-w64-mingw32-g++-posix -dumpfullversion)

# Only what the program uses. OpenGL is off as an input (a plain feature
# switch leaves dynamic GL on, and the Windows plugin then fails to compile);
# Direct2D 1.1 is off (turning Direct2D itself off breaks DirectWrite in
# 6.4); tablet events are off (wintab is not in Debian's source).
flags=(
  -DCMAKE_BUILD_TYPE=Release
  -DBUILD_SHARED_LIBS=OFF
  -DFEATURE_static_runtime=ON
  -DQT_BUILD_EXAMPLES=OFF
  -DQT_BUILD_TESTS=OFF
  -DQT_BUILD_BENCHMARKS=OFF
  -DINPUT_opengl=no
  -DFEATURE_direct2d1_1=OFF
  -DFEATURE_tabletevent=OFF
  -DFEATURE_sql=OFF
  -DFEATURE_network=OFF
  -DFEATURE_dbus=OFF
  -DFEATURE_printsupport=OFF
  -DFEATURE_concurrent=OFF
  -DFEATURE_xml=OFF
  -DFEATURE_testlib=ON
  -DFEATURE_vulkan=OFF
  -DFEATURE_zstd=OFF
  -DFEATURE_icu=OFF
  -DFEATURE_system_zlib=OFF
  -DFEATURE_system_pcre2=OFF
  -DFEATURE_system_png=OFF
  -DFEATURE_system_jpeg=OFF
  -DFEATURE_system_freetype=OFF
  -DFEATURE_system_harfbuzz=OFF
  -DFEATURE_system_doubleconversion=OFF
)
patches=("$top"/scripts/qt-windows/*.patch)
[ -e "${patches[0]}" ] || patches=()

key=$( {
  printf '%s\n' "$host_version" "$gcc_version" "${flags[@]}"
  cat "$0" "$top/cmake/mingw-w64-x86_64.cmake"
  [ ${#patches[@]} -eq 0 ] || cat "${patches[@]}"
} | sha256sum | cut -c1-16)
prefix="$cache/qt-$qt_version-mingw-$gcc_version-$key"
if [ -f "$prefix/.complete" ]; then
  echo "Qt for Windows is cached."
  echo "$prefix"
  exit 0
fi

work="$cache/work-$key"
rm -rf "$work" "$prefix"
mkdir -p "$work" "$prefix"

# The source of exactly the host's version, with Debian's patches applied
# (dpkg-source does that as it unpacks). The deb-src entries are the
# machine's own deb entries, so the same mirror and release are used.
if ! apt-get source --print-uris "qt6-base=$host_version" >/dev/null 2>&1; then
  src_list=/etc/apt/sources.list.d/krx3-deb-src.sources
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources | $sudo tee "$src_list" >/dev/null
  else
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | $sudo tee "${src_list%.sources}.list" >/dev/null
  fi
  $sudo apt-get update
fi
(cd "$work" && apt-get source "qt6-base=$host_version")
src=$(find "$work" -mindepth 1 -maxdepth 1 -type d \( -name "qtbase*" -o -name "qt6-base*" \) | head -n 1)
[ -n "$src" ] || { echo "build-qt-windows: the unpacked source was not found in $work" >&2; exit 1; }
for p in "${patches[@]}"; do
  echo "Applying $(basename "$p")"
  patch -d "$src" -p1 --forward < "$p"
done

# The toolchain file goes with the installation: Qt's own toolchain file
# (lib/cmake/Qt6/qt.toolchain.cmake) loads it from there later.
cp "$top/cmake/mingw-w64-x86_64.cmake" "$prefix/mingw-w64-x86_64.cmake"

nice -n 19 cmake -S "$src" -B "$work/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$prefix/mingw-w64-x86_64.cmake" \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DQT_HOST_PATH=/usr \
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  "${flags[@]}"
nice -n 19 cmake --build "$work/build" --parallel "$jobs"
nice -n 19 cmake --install "$work/build"
rm -rf "$work"
touch "$prefix/.complete"
echo "Qt $qt_version for Windows built in $(( $(date +%s) - start )) s."
echo "$prefix"
