#!/usr/bin/env bash
# Installs what building, testing and running the tool need on Debian 12,
# skipping what is already there. With --windows, also what the Windows
# build and its tests under Wine need.
set -euo pipefail

packages=(
  cmake make g++            # the build
  qt6-base-dev libgl-dev    # Qt 6 Widgets (its CMake files want the OpenGL headers)
  libgtest-dev libgmock-dev # the tests
  fonts-liberation          # a face with Tahoma's metrics where Tahoma is missing
  fonts-dejavu-core
  xvfb xauth                # the tool on a virtual display, for machines without one
  desktop-file-utils dpkg-dev # the package: its desktop entry checked, its library dependencies found
  bash-completion pkg-config  # where the package's completion goes, asked of bash-completion
  lintian appstream         # the package checked as Debian checks one; its AppStream data
  clang-format clang-tidy   # the house rules: one format, the checks on the libraries
)
if [ "${1:-}" = "--windows" ]; then
  packages+=(
    g++-mingw-w64-x86-64-posix  # MinGW-w64 with std::thread (the -posix compilers)
    googletest                  # GoogleTest's sources, built for Windows
    wine wine64                 # runs the Windows test programs
    xdotool                     # drives the Windows program in its smoke test
  )
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
