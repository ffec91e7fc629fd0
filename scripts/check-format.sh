#!/usr/bin/env bash
# Fails on each C++ file of the tree that differs from what clang-format
# makes of it (.clang-format), naming the file and the first lines that
# differ. To format the tree: clang-format -i $(git ls-files '*.cpp' '*.h')
# usage: check-format.sh [SOURCE_DIR]
set -euo pipefail
cd "${1:-.}"
if [ -d .git ]; then
  mapfile -t files < <(git ls-files '*.cpp' '*.h')
else
  mapfile -t files < <(find . -path ./build -prune -o -type f \( -name '*.cpp' -o -name '*.h' \) -print | sed 's#^\./##')
fi
differ=0
for f in "${files[@]}"; do
  if ! out=$(clang-format --style=file "$f" | diff -u --label "$f" --label "$f (formatted)" "$f" -); then
    head -12 <<<"$out"
    differ=$((differ + 1))
  fi
done
if [ "$differ" -gt 0 ]; then
  echo "$differ of ${#files[@]} files differ from their format (.clang-format)."
  exit 1
fi
echo "All ${#files[@]} files keep the format of .clang-format."
