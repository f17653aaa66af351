#!/usr/bin/env bash
# Every C++ source and header that git tracks must be as clang-format writes it with the tree's
# .clang-format; prints each difference. Usage: check_format.sh CLANG_FORMAT
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -d '' files < <(git ls-files -z -- '*.cpp' '*.h')
if [ ${#files[@]} -eq 0 ]; then
    echo "no C++ files tracked by git in $PWD: nothing to check"
    exit 1
fi
"$1" --dry-run -Werror "${files[@]}"
echo "${#files[@]} files formatted as .clang-format asks ($("$1" --version))"
