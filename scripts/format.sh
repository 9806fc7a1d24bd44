#!/usr/bin/env bash
# Formats every tracked C++ file with the checked-in .clang-format, or with
# --check lists the files that differ from it and fails. The style is
# clang-format 14's (Debian 12); another version may wrap lines differently.
set -euo pipefail
cd "$(dirname "$0")/.."

format=clang-format-14
command -v "$format" >/dev/null || format=clang-format
# Tracked files and new ones not yet added (but not ignored ones).
files=()
while IFS= read -r file; do
  [ -f "$file" ] && files+=("$file")
done < <(git ls-files --cached --others --exclude-standard '*.cpp' '*.h' | sort -u)

if [ "${1:-}" != "--check" ]; then
  "$format" -i "${files[@]}"
  exit 0
fi

unformatted=()
for file in "${files[@]}"; do
  if ! "$format" --dry-run --Werror "$file" >/dev/null 2>&1; then
    unformatted+=("$file")
  fi
done
if [ ${#unformatted[@]} -gt 0 ]; then
  echo "format-check: ${#unformatted[@]} file(s) differ from .clang-format (make format rewrites them):"
  printf '  %s\n' "${unformatted[@]}"
  exit 1
fi
echo "format-check: ${#files[@]} files follow .clang-format"
