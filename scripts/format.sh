#!/usr/bin/env bash
# Checks (default) or applies (--fix) the project's clang-format style on our own sources.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
mapfile -t files < <(git ls-files -- '*.h' '*.cpp' | grep -E '^(instrument|engine|control|persistence|effects|analysis|dsp|editor|host|tools|tests|bench|fuzz)/')
[[ ${#files[@]} -eq 0 ]] && exit 0
if [[ "${1:-}" == "--fix" ]]; then
  clang-format -i "${files[@]}"
else
  clang-format --dry-run --Werror "${files[@]}"
fi
