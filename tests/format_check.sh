#!/usr/bin/env bash
# Fails when a C++ file of the project is not laid out as .clang-format says.
set -euo pipefail
root="$1"
cd "$root"
mapfile -t files < <(find src apps tests bench -name '*.cpp' -o -name '*.h' | sort)
clang-format --dry-run --Werror "${files[@]}"
echo "format_check: ${#files[@]} files follow .clang-format"
