#!/usr/bin/env bash
# layers_check.bash - fails, naming the include, when a folder of the program
# (or its tests) includes a header of a folder above it.  The layers, lowest
# first:
#   platform < session < input < data < screen < settle < history < app
# and the demo data generator (generator/) above them all: the program's
# folders never include it, the tests of settle/ and history/ may.
# recman/ stands apart: it includes only itself and the header-only
# platform/le.h (it links nothing of platform), and the layers from data/
# up may include it.
set -uo pipefail
cd "$(dirname "$0")/.."
layers=(platform session input data screen settle history app generator)
declare -A rank
for i in "${!layers[@]}"; do rank[${layers[$i]}]=$i; done

bad=0
check() {  # check FILE FOLDER: every "X/..." include of FILE must be allowed for FOLDER
  local file="$1" folder="$2" path target
  while IFS= read -r path; do
    [ -n "$path" ] || continue
    target="${path%%/*}"
    if [ "$target" = tests ]; then
      continue  # test helpers: below
    elif [ "$target" = generator ] && [[ "$file" == tests/* ]] && [ "${rank[$folder]}" -ge "${rank[settle]}" ]; then
      continue  # tests make their suites with the generator
    elif [ "$folder" = recman ]; then
      [ "$target" = recman ] || [ "$path" = platform/le.h ] && continue
    elif [ "$target" = recman ]; then
      [ "${rank[$folder]}" -ge "${rank[data]}" ] && continue
    elif [ -n "${rank[$target]+x}" ] && [ "${rank[$target]}" -le "${rank[$folder]}" ]; then
      continue
    fi
    echo "$file includes $path (above or beside $folder/)"
    bad=1
  done < <(sed -n 's|^#include "\([a-z_]*/[^"]*\)".*|\1|p' "$file")
}

for folder in recman "${layers[@]}"; do
  for f in "$folder"/*.cpp "$folder"/*.h "tests/$folder"/*.cpp "tests/$folder"/*.h; do
    [ -f "$f" ] && check "$f" "$folder"
  done
done
# A test helper used by a folder's tests belongs to that folder or one below.
for folder in recman "${layers[@]}"; do
  for f in "tests/$folder"/*.cpp "tests/$folder"/*.h; do
    [ -f "$f" ] || continue
    while IFS= read -r helper; do
      [ -n "$helper" ] || continue
      [ "$helper" = "$folder" ] && continue
      if [ "$folder" = recman ] || [ -z "${rank[$helper]+x}" ] || [ "${rank[$helper]}" -gt "${rank[$folder]}" ]; then
        [ "$helper" = recman ] && [ "$folder" != recman ] && [ "${rank[$folder]}" -ge "${rank[data]}" ] && continue
        echo "$f includes tests/$helper/ (above or beside $folder/)"
        bad=1
      fi
    done < <(sed -n 's|^#include "tests/\([a-z_]*\)/.*|\1|p' "$f")
  done
done
[ $bad -eq 0 ] && echo "every include points down the layers"
exit $bad
