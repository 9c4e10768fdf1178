#!/usr/bin/env bash
# Checks that C/C++ files are formatted as .clang-format says; lists those that are not.
# With no arguments it checks every tracked C/C++ file under inbox/, service/, bench/ and fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."

format=${CLANG_FORMAT:-clang-format}
if [ "$#" -gt 0 ]; then
  files=("$@")
else
  mapfile -t files < <(git ls-files -- 'inbox/*.cpp' 'inbox/*.h' 'service/*.cpp' 'service/*.h' \
    'bench/*.cpp' 'bench/*.h' 'fuzz/*.cpp' 'fuzz/*.h')
fi

unformatted=0
for file in "${files[@]}"; do
  case "$file" in
    *.c|*.cc|*.cpp|*.h|*.hpp) ;;
    *) continue ;;
  esac
  [ -f "$file" ] || continue
  if ! "$format" --dry-run --Werror "$file" >/dev/null 2>&1; then
    echo "not formatted: $file"
    unformatted=$((unformatted + 1))
  fi
done
if [ "$unformatted" -gt 0 ]; then
  echo "check-format: $unformatted file(s) need clang-format -i"
  exit 1
fi
echo "check-format: ${#files[@]} file(s) checked"
