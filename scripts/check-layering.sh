#!/usr/bin/env bash
# The layering check. Reads the rules from the table of the parts in
# docs/architecture.md, and fails, naming the file, the line and the rule,
# on each
#  - include of a part's header ("link/serial.h") or of Qt (<QWidget>) that
#    the including file's part may not use ("may use");
#  - mention of a name that the part never uses ("never uses", in backticks);
#  - link of a target of a part to a target or Qt that the part may not use;
#  - include, in a target's source file, of a part that is neither the
#    file's own nor one that the target links or compiles.
# Folders that are not in the table (tests/, bench/, docs/) are not checked.
#
# usage: check-layering.sh SOURCE_DIR TARGETS_FILE QT_INCLUDE_DIR
#   TARGETS_FILE: targets.txt, which CMake writes into the build folder
#   (cmake/targets.cmake); QT_INCLUDE_DIR: Qt's headers, whose folders
#   (QtCore, QtGui, QtWidgets) tell which module a header belongs to.
set -euo pipefail
src=$1 targets=$2 qt=$3
cd "$src"
doc=docs/architecture.md

declare -A part_of  # folder -> the part it belongs to (the first folder of its row)
declare -A may      # part -> " folder ... Qt:Core Qt:Widgets "
declare -A never    # part -> the names its code never mentions
while IFS='|' read -r _ folders _ allowed forbidden _; do
  [[ $folders == *'`'*'/`'* ]] || continue
  part=""
  for f in $(grep -o '`[a-z]*/`' <<<"$folders" | tr -d '`/'); do
    part=${part:-$f}
    part_of[$f]=$part
  done
  rule=" $( (grep -o '`[a-z]*/`' <<<"$allowed" || true) | tr -d '`/' | tr '\n' ' ')"
  [[ $allowed == *"Qt Core"* ]] && rule+="Qt:Core "
  [[ $allowed == *"Qt Widgets"* ]] && rule+="Qt:Core Qt:Widgets "
  may[$part]=$rule
  never[$part]=$( (grep -o '`[A-Za-z_][A-Za-z_0-9]*`' <<<"$forbidden" || true) | tr -d '`' | tr '\n' ' ')
done <"$doc"
[ ${#part_of[@]} -ge 8 ] || { echo "$doc: the table of the parts was not found" >&2; exit 2; }

breaks=0
report() { echo "$1"; breaks=$((breaks + 1)); }
allowed_list() {
  local out="" w
  for w in ${may[$1]}; do
    case $w in Qt:*) out+=" Qt ${w#Qt:}" ;; *) out+=" $w/" ;; esac
  done
  echo "${out:- nothing of the project}"
}

# The part a header or library belongs to: a part's folder, Qt:Core or
# Qt:Widgets; empty for the C++ library and the OS.
qt_module() {
  local h=${1#Qt*/}
  if [ -e "$qt/QtWidgets/$h" ] || [ -e "$qt/QtGui/$h" ]; then echo Qt:Widgets
  elif [ -e "$qt/QtCore/$h" ]; then echo Qt:Core
  else echo Qt:Widgets  # another module (QtTest, QtNetwork): no part may use it
  fi
}

# Prints "LINE WHAT" for each include of FILE that names a part or Qt.
uses_of() {
  grep -n '^[[:space:]]*#[[:space:]]*include' "$1" | while IFS= read -r line; do
    local no=${line%%:*} inc
    if [[ $line =~ \"([a-z]+)/[^\"]+\" ]]; then
      [ -n "${part_of[${BASH_REMATCH[1]}]:-}" ] && echo "$no ${part_of[${BASH_REMATCH[1]}]} ${line#*#include }"
    elif [[ $line =~ \<(Q[A-Za-z/]*)\> ]]; then
      inc=${BASH_REMATCH[1]}
      echo "$no $(qt_module "$inc") <$inc>"
    fi
  done
}

for folder in "${!part_of[@]}"; do
  part=${part_of[$folder]}
  [ -d "$folder" ] || continue
  while IFS= read -r -d '' file; do
    while read -r no used what; do
      [ "$used" = "$part" ] && continue
      [[ ${may[$part]} == *" $used "* ]] && continue
      report "$file:$no: includes $what, but $folder/ may use only:$(allowed_list "$part")"
    done < <(uses_of "$file")
    for name in ${never[$part]}; do
      while IFS= read -r hit; do
        report "$file:${hit%%:*}: names $name, which $folder/ never uses"
      done < <(grep -nw -- "$name" "$file" | grep -v '^[0-9]*:[[:space:]]*//' || true)
    done
  done < <(find "$folder" -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)
done

# What each target links, and what its sources include against it.
declare -A part_of_target
while IFS=$'\t' read -r name folder _; do
  top=${folder%%/*}
  part_of_target[$name]=${part_of[$top]:-}
done <"$targets"
while IFS=$'\t' read -r name folder links sources; do
  part=${part_of[${folder%%/*}]:-}
  [ -n "$part" ] || continue
  reach=" $part "
  IFS=';' read -ra link_list <<<"$links"
  for l in "${link_list[@]}"; do
    case $l in
      Qt6::Core) used=Qt:Core ;;
      Qt6::*) used=Qt:Widgets ;;
      *) used=${part_of_target[$l]:-} ;;
    esac
    [ -n "$used" ] || continue
    reach+="$used "
    [ "$used" = "$part" ] || [[ ${may[$part]} == *" $used "* ]] ||
      report "$folder/CMakeLists.txt: $name links $l, but $folder/ may use only:$(allowed_list "$part")"
  done
  IFS=';' read -ra source_list <<<"$sources"
  for s in "${source_list[@]}"; do
    [[ $s == /* ]] || s="$src/$folder/$s"
    s=$(realpath -m --relative-to="$src" "$s")
    [[ $s == *.cpp && $s != ../* && -f $s ]] || continue
    reach+="${part_of[${s%%/*}]:-} "
  done
  for s in "${source_list[@]}"; do
    [[ $s == /* ]] || s="$src/$folder/$s"
    s=$(realpath -m --relative-to="$src" "$s")
    [[ $s == *.cpp && $s != ../* && -f $s ]] || continue
    while read -r no used what; do
      [[ $used == Qt:* || $reach == *" $used "* ]] && continue
      report "$s:$no: includes $what, but its target $name neither links nor compiles anything of $used/"
    done < <(uses_of "$s")
  done
done <"$targets"

if [ "$breaks" -gt 0 ]; then
  echo "The layering of docs/architecture.md is broken ($breaks). Move the header to the part that owns the fact, or change the rule in the table with its reason."
  exit 1
fi
echo "The layering of docs/architecture.md holds: ${#part_of[@]} folders, $(wc -l <"$targets") targets."
