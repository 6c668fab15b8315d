#!/usr/bin/env bash
# Formats every tracked C++ source with .clang-format (Debian's clang-format 14).
#   scripts/format.sh           rewrite the files in place
#   scripts/format.sh --check   change nothing; list the files that the formatter
#                               would change and fail if there are any
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
formatter=clang-format-14
mapfile -t files < <(git ls-files -- 'src/*' 'tests/*' 'bench/*' 'fuzz/*' | grep -E '\.(cpp|h)$')

if [ "${1:-}" != --check ]; then
  "$formatter" -i --style=file "${files[@]}"
  exit 0
fi
unformatted=()
for f in "${files[@]}"; do
  "$formatter" --style=file --dry-run -Werror "$f" >/dev/null 2>&1 || unformatted+=("$f")
done
if [ ${#unformatted[@]} -gt 0 ]; then
  echo "format: ${#unformatted[@]} file(s) differ from .clang-format (run scripts/format.sh):"
  printf '  %s\n' "${unformatted[@]}"
  exit 1
fi
echo "format: ${#files[@]} files as .clang-format wants them"
