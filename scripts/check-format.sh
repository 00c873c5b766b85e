#!/usr/bin/env bash
# Fails unless every tracked C++ file is formatted as `make format` leaves it.
#   scripts/check-format.sh
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.hpp')
echo "format: clang-format on ${#files[@]} files"
clang-format --dry-run -Werror "${files[@]}"
