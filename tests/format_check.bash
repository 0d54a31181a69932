#!/usr/bin/env bash
# format_check.bash CLANG_FORMAT - fails, naming the files, when a C++ source
# of the repository is not formatted as .clang-format says.
set -uo pipefail
formatter="$1"
mapfile -t files < <(git ls-files '*.cpp' '*.h' 2>/dev/null || find . -name '*.cpp' -o -name '*.h' | grep -v '^./build')
bad=()
for f in "${files[@]}"; do
  [ -f "$f" ] || continue
  "$formatter" --dry-run -Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
  echo "not formatted (run: $formatter -i FILE):"
  printf '  %s\n' "${bad[@]}"
  exit 1
fi
echo "${#files[@]} files formatted"
