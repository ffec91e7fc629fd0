#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy: its checks find real faults) on the sources
# of one library, with the flags of a build; fails on any finding.
# usage: check-tidy.sh BUILD_DIR PART   (PART: base, link, session, ...)
set -euo pipefail
build=$(realpath "$1") part=$2
src=$(cd "$(dirname "$0")/.." && pwd)
mapfile -t files < <(grep -o "\"file\": \"$src/$part/[^\"/]*\.cpp\"" "$build/compile_commands.json" |
  sed 's/^"file": "//; s/"$//' | sort -u)
[ ${#files[@]} -gt 0 ] || { echo "no sources of $part/ in $build/compile_commands.json" >&2; exit 2; }
clang-tidy -p "$build" --quiet "${files[@]}" 2>/dev/null
echo "clang-tidy: ${#files[@]} files of $part/, no finding."
